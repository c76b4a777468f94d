#pragma once
// The overheat rules as the notifications screen and its cells edit them: the
// list lives only in the settings store, so every edit reads it anew, changes
// the one thing the user touched on the stored rule and writes it all back.
// A rule switched off by Kelvara Helper a moment ago stays off when the user
// then changes its threshold.
#include <QList>
#include <functional>
#include <optional>

#include "KLNotification.h"

namespace KLNotiRuleStore {

// The stored list; empty when none is stored.
QList<KLNotification> rules();
// Applies change to the first stored rule equal to rule (same sensor key) and
// writes the list. A rule no longer stored changes nothing, but the stored list
// is still written, so every screen redraws from it. Answers the rule as stored.
std::optional<KLNotification> edit(const KLNotification& rule, const std::function<void(KLNotification&)>& change);

}  // namespace KLNotiRuleStore
