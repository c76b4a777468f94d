#include "LDAuthorizer.h"

#include <QByteArray>
#include <cerrno>
#include <unistd.h>

AuthorizationFlags LDAuthorizer::defaultFlags()
{
    return kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;
}

QString LDAuthorizer::processName()
{
    return QString::fromLocal8Bit(program_invocation_short_name);
}

OSStatus LDAuthorizer::authorizeSystemDaemonWithLabel(const QString& label, const QString& prompt,
                                                      AuthorizationRef* authRef)
{
    const QString text = prompt.isEmpty()
                             ? QStringLiteral("%1 is trying to perform a privileged operation.").arg(processName())
                             : prompt;
    const QByteArray right = ::getuid() == 0 ? QByteArray("com.apple.ServiceManagement.daemons.modify") : label.toUtf8();
    AuthorizationItem item;
    item.name = right.constData();
    return authorizePrompt(text, item, authRef);
}

OSStatus LDAuthorizer::authorizeSMJobBlessWithPrompt(const QString& prompt, AuthorizationRef* authRef)
{
    AuthorizationItem item;
    item.name = "com.apple.ServiceManagement.blesshelper";
    return authorizePrompt(prompt, item, authRef);
}

OSStatus LDAuthorizer::authorizePrompt(const QString& prompt, AuthorizationItem authItems, AuthorizationRef* authRef)
{
    AuthorizationItem right{authItems.name, 0, nullptr, 0};
    const AuthorizationRights rights{1, &right};

    QByteArray text = prompt.toUtf8();
    AuthorizationItem promptItem{kAuthorizationEnvironmentPrompt, static_cast<size_t>(text.size()), text.data(), 0};
    AuthorizationEnvironment environment;
    if (!prompt.isEmpty())
        environment = AuthorizationEnvironment{1, &promptItem};

    return AuthorizationCreate(&rights, &environment, defaultFlags(), authRef);
}

void LDAuthorizer::authorizationFree(AuthorizationRef authRef)
{
    if (!authRef)
        return;
    [[maybe_unused]] const OSStatus junk = AuthorizationFree(authRef, kAuthorizationFlagDestroyRights);
    Q_ASSERT_X(junk == errAuthorizationSuccess, "Libraries/LDLaunchCtl/LDAuthorizer", "junk == errAuthorizationSuccess");
}
