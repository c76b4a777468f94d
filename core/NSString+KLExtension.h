#pragma once
// Text utilities shared by the three programs: lookups in the language chosen
// in the settings, CSV cells and dotted versions.
#include <QString>

enum NSComparisonResult : int {
    NSOrderedAscending = -1,
    NSOrderedSame = 0,
    NSOrderedDescending = 1,
};

namespace KLExtension {

// In the settings' language; the key itself when there is no text for it.
QString localizedStringForKey(const QString& key);
// From "<code>.lproj" of the main bundle: the key itself when the table lacks
// it, a null string when there is no such language folder.
QString localizedStringForKey(const QString& key, const QString& languageCode);

QString formattedForCSVContent(const QString& text);

NSComparisonResult ld_compareToVersion(const QString& version, const QString& other);
bool ld_version_isGreaterThan(const QString& version, const QString& other);
bool ld_version_isGreaterThanOrEqualTo(const QString& version, const QString& other);
bool ld_version_isEqualTo(const QString& version, const QString& other);
bool ld_version_isLessThan(const QString& version, const QString& other);
bool ld_version_isLessThanOrEqualTo(const QString& version, const QString& other);

}  // namespace KLExtension
