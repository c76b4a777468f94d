#pragma once
// The file manager's container lookup and file attributes, over the user's home.
#include <QString>
#include <QVariantMap>

inline constexpr const char* NSFileOwnerAccountName = "NSFileOwnerAccountName";
inline constexpr const char* NSFileGroupOwnerAccountName = "NSFileGroupOwnerAccountName";
inline constexpr const char* NSFilePosixPermissions = "NSFilePosixPermissions";
inline constexpr const char* NSFileSize = "NSFileSize";
inline constexpr const char* NSFileModificationDate = "NSFileModificationDate";

class NSFileManager {
public:
    static NSFileManager& defaultManager();

    // ~/Library/Group Containers/<group>, made when missing (as the system does
    // for an entitled program). A null string for a group name that is not a
    // plain name.
    QString containerURLForSecurityApplicationGroupIdentifier(const QString& groupIdentifier) const;
    bool fileExistsAtPath(const QString& path) const;
    // Owner, group, permissions, size and modification date; empty when the file is missing.
    QVariantMap attributesOfItemAtPath(const QString& path) const;
    static QString homeDirectory();
};
