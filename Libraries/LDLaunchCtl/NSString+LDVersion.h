#pragma once
// Dotted version texts compared part by part, numbers as numbers ("1.10" is
// later than "1.9"); a missing part counts as "0", so "1.2" equals "1.2.0".
#include <QString>

namespace LDVersion {

enum NSComparisonResult { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };

NSComparisonResult ld_compareToVersion(const QString& version, const QString& other);
bool ld_version_isGreaterThan(const QString& version, const QString& other);
bool ld_version_isGreaterThanOrEqualTo(const QString& version, const QString& other);
bool ld_version_isEqualTo(const QString& version, const QString& other);
bool ld_version_isLessThan(const QString& version, const QString& other);
bool ld_version_isLessThanOrEqualTo(const QString& version, const QString& other);

}  // namespace LDVersion
