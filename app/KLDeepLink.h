#pragma once
// The paths of `kelvara://` links, read on whole path components:
// "/fan_rule/<mode>" opens the fan rules with a preferred mode, and
// "/request_privilege_permission" installs the privileged tool. The one
// reading of links for every screen that handles them.
#include <QString>
#include <QStringList>
#include <optional>

inline constexpr const char* KLApplicationDidReceiveDeepLinkNotification =
    "KLApplicationDidReceiveDeepLinkNotification";

namespace KLDeepLink {

// Longer links are no link of ours: they are refused before anything is made of them.
inline constexpr qsizetype kMaxLinkLength = 4096;

// The link's path: every "kelvara://" replaced by "/"; null for a link
// longer than kMaxLinkLength.
QString pathFromURL(const QString& url);
// The path's components, empty ones (doubled or trailing slashes) dropped.
QStringList components(const QString& path);
// Whether the path is a fan-rule link: its first component is "fan_rule".
bool isFanRuleLink(const QString& path);
// The preferred mode of a fan-rule link: "/fan_rule" alone gives 0 (system),
// "/fan_rule/<n>" gives n for the modes 0, 1 and 2; nothing for any other path.
std::optional<int> fanRuleMode(const QString& path);
bool isPrivilegeLink(const QString& path);

}  // namespace KLDeepLink
