#include "NSString+LDVersion.h"

#include <QStringList>

namespace LDVersion {

namespace {

// Runs of digits compare by their value, everything else character by character.
int compareNumerically(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a.at(endA).isDigit())
                ++endA;
            while (endB < b.size() && b.at(endB).isDigit())
                ++endB;
            // Leading zeros do not change a number's value.
            QString digitsA = a.mid(i, endA - i);
            QString digitsB = b.mid(j, endB - j);
            while (digitsA.size() > 1 && digitsA.front() == QLatin1Char('0'))
                digitsA.remove(0, 1);
            while (digitsB.size() > 1 && digitsB.front() == QLatin1Char('0'))
                digitsB.remove(0, 1);
            if (digitsA.size() != digitsB.size())
                return digitsA.size() < digitsB.size() ? -1 : 1;
            if (const int order = digitsA.compare(digitsB); order != 0)
                return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

}  // namespace

NSComparisonResult ld_compareToVersion(const QString& version, const QString& other)
{
    QStringList parts = version.split(QLatin1Char('.'));
    QStringList otherParts = other.split(QLatin1Char('.'));
    while (parts.size() < otherParts.size())
        parts.append(QStringLiteral("0"));
    while (otherParts.size() < parts.size())
        otherParts.append(QStringLiteral("0"));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const int order = compareNumerically(parts.at(i), otherParts.at(i));
        if (order != 0)
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

}  // namespace LDVersion
