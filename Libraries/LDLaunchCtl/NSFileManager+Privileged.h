#pragma once
// Moving, copying, deleting and changing the attributes of files where the
// user cannot write, by running one-shot jobs as the administrator in the
// system launchd domain (5) after asking for an authorization. Each answers
// with the command's own result: a command that fails answers NO with an
// error that carries its exit status.
#include <QString>
#include <QVariantMap>

#include "CFError.h"
#include "LDLaunchJob.h"

namespace Privileged {

// The attribute keys setAttributes understands.
inline const QString kFilePosixPermissions = QStringLiteral("NSFilePosixPermissions");
inline const QString kFileOwnerAccountName = QStringLiteral("NSFileOwnerAccountName");
inline const QString kFileGroupOwnerAccountName = QStringLiteral("NSFileGroupOwnerAccountName");

// Into the destination folder; overwrite is not used (the commands replace).
bool moveItemAtPath(const QString& path, const QString& toPrivilegedLocation, bool overwrite, CFError* error);
bool copyItemAtPath(const QString& path, const QString& toPrivilegedLocation, bool overwrite, CFError* error);
bool deleteItemAtPrivilegedPath(const QString& path, CFError* error);
// Permissions (a number such as 420 for 0644), owner and group.
bool setAttributes(const QVariantMap& attributes, const QString& ofItemAtPrivilegedPath, CFError* error);

// The source must be an existing file, the destination an existing folder;
// otherwise code 1 with the reason.
bool testSource(const QString& source, const QString& andDest, CFError* error);
// A job that runs once at load.
LDLaunchJob FileManagerJob();

}  // namespace Privileged
