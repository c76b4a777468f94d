#include "KLDeepLink.h"

namespace KLDeepLink {

namespace {

const QString kFanRule = QStringLiteral("fan_rule");
const QString kPrivilege = QStringLiteral("/request_privilege_permission");
constexpr int kLastMode = 2;

}  // namespace

QString pathFromURL(const QString& url)
{
    if (url.size() > kMaxLinkLength)
        return {};
    return QString(url).replace(QStringLiteral("kelvara://"), QStringLiteral("/"));
}

QStringList components(const QString& path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

namespace {

// A fan-rule link's path components, split once; empty for any other path.
QStringList fanRuleComponents(const QString& path)
{
    if (path.size() > kMaxLinkLength || !path.startsWith(QLatin1Char('/')))
        return {};
    QStringList parts = components(path);
    if (parts.isEmpty() || parts.first() != kFanRule)
        return {};
    return parts;
}

}  // namespace

bool isFanRuleLink(const QString& path)
{
    return !fanRuleComponents(path).isEmpty();
}

std::optional<int> fanRuleMode(const QString& path)
{
    const QStringList parts = fanRuleComponents(path);
    if (parts.isEmpty())
        return std::nullopt;
    if (parts.size() == 1)
        return 0;
    if (parts.size() != 2 || parts.at(1).size() != 1)
        return std::nullopt;
    // ASCII digits only: other scripts' digits are no mode number.
    const char16_t digit = parts.at(1).front().unicode();
    if (digit < u'0' || digit > u'0' + kLastMode)
        return std::nullopt;
    return int(digit - u'0');
}

bool isPrivilegeLink(const QString& path)
{
    return path == kPrivilege;
}

}  // namespace KLDeepLink
