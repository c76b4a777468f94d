#pragma once
// Light or dark: read from the application palette (a dark window colour means
// a dark appearance). Tests force either answer.
#include <optional>

namespace NSAppearance {

bool isDarkAqua();
void forceDarkModeForTesting(std::optional<bool> dark);

}  // namespace NSAppearance
