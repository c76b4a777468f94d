#include "KLFanController.h"

#include <QFile>
#include <thread>

#include "Authorization.h"
#include "Dispatch.h"
#include "NSBundle.h"
#include "NSFileManager.h"
#include "RZSMC.h"

namespace {

// The tool is given to root with the administrators' group, set-id and read-only.
constexpr qulonglong kInstalledPermissions = 06555;  // 3437

bool grantAndInstall(const QString& tool)
{
    AuthorizationItem right;
    right.name = "system.privilege.admin";
    AuthorizationRights rights{1, &right};
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(&rights, nullptr, kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights,
                            &authorization) != errAuthorizationSuccess)
        return false;
    int exitStatus = -1;
    bool granted = AuthorizationExecuteWithPrivileges(authorization, QStringLiteral("/bin/chown"), 0,
                                                      {QStringLiteral("--"),
                                                       QStringLiteral("root:") + administratorsGroupName(), tool},
                                                      &exitStatus) == errAuthorizationSuccess &&
                   exitStatus == 0;
    if (granted)
        granted = AuthorizationExecuteWithPrivileges(authorization, QStringLiteral("/bin/chmod"), 0,
                                                     {QStringLiteral("--"), QStringLiteral("6555"), tool},
                                                     &exitStatus) == errAuthorizationSuccess &&
                  exitStatus == 0;
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return granted;
}

}  // namespace

KLFanController& KLFanController::sharedController()
{
    static KLFanController controller;
    return controller;
}

bool KLFanController::isSMCBinaryInstalled() const
{
    const QVariantMap attributes = NSFileManager::defaultManager().attributesOfItemAtPath(RZSMC::smcToolPath());
    return attributes.value(NSFileOwnerAccountName).toString() == QLatin1String("root") &&
           attributes.value(NSFileGroupOwnerAccountName).toString() == administratorsGroupName() &&
           attributes.value(NSFilePosixPermissions).toULongLong() == kInstalledPermissions;
}

void KLFanController::requestPrivilegePermissionWithCompletionHandler(std::function<void(bool granted)> handler)
{
    const QString tool = RZSMC::smcToolPath();
    const QString source = NSBundle::mainBundle().pathForResource(QStringLiteral("Kelvara SMC"), QString());
    // One serial queue per request ("Request Privilege"): a thread of its own.
    std::thread([this, tool, source, handler = std::move(handler)] {
        if (!QFile::exists(tool) && !source.isNull())
            QFile::copy(source, tool);
        const bool granted = isSMCBinaryInstalled() || grantAndInstall(tool);
        dispatch_async(dispatch_get_main_queue(), [handler, granted] {
            if (handler)
                handler(granted);
        });
    }).detach();
}
