#include "NSString+KLExtension.h"

#include <QDir>
#include <QStringList>

#include "KLDataManager.h"
#include "NSBundle.h"

namespace KLExtension {

QString localizedStringForKey(const QString& key)
{
    const QString language = KLDataManager::sharedInstance().currentLanguage();
    if (language.isEmpty())
        return NSBundle::mainBundle().localizedStringForKey(key, QString(), QString());
    const QString text = localizedStringForKey(key, language);
    // A language without its folder must still give a usable text.
    return text.isNull() ? key : text;
}

QString localizedStringForKey(const QString& key, const QString& languageCode)
{
    if (languageCode.isEmpty() || languageCode.contains(QLatin1Char('/')) || languageCode.contains(QLatin1String("..")))
        return {};
    const NSBundle language(NSBundle::mainBundle().resourcePath() + QLatin1Char('/') + languageCode +
                            QStringLiteral(".lproj"));
    if (!language.exists())
        return {};
    return language.localizedStringForKey(key, QString(), QString());
}

QString formattedForCSVContent(const QString& text)
{
    QString cell = text;
    return cell.replace(QLatin1Char(','), QLatin1Char(';'));
}

namespace {

// Runs of digits compare by value ("10" after "9"), everything else as text.
int numericCompare(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
                x.remove(0, 1);
            while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int order = x.compare(y))
                return order;
            i = ei;
            j = ej;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

}  // namespace

NSComparisonResult ld_compareToVersion(const QString& version, const QString& other)
{
    QStringList a = version.split(QLatin1Char('.'));
    QStringList b = other.split(QLatin1Char('.'));
    while (a.size() < b.size())
        a.append(QStringLiteral("0"));
    while (b.size() < a.size())
        b.append(QStringLiteral("0"));
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (const int order = numericCompare(a[i], b[i]))
            return order < 0 ? NSOrderedAscending : NSOrderedDescending;
    }
    return NSOrderedSame;
}

bool ld_version_isGreaterThan(const QString& version, const QString& other)
{
    return ld_compareToVersion(version, other) == NSOrderedDescending;
}

bool ld_version_isGreaterThanOrEqualTo(const QString& version, const QString& other)
{
    return ld_compareToVersion(version, other) != NSOrderedAscending;
}

bool ld_version_isEqualTo(const QString& version, const QString& other)
{
    return ld_compareToVersion(version, other) == NSOrderedSame;
}

bool ld_version_isLessThan(const QString& version, const QString& other)
{
    return ld_compareToVersion(version, other) == NSOrderedAscending;
}

bool ld_version_isLessThanOrEqualTo(const QString& version, const QString& other)
{
    return ld_compareToVersion(version, other) != NSOrderedDescending;
}

}  // namespace KLExtension
