#pragma once
// Administrator authorizations for the launchd control library: the right to
// change system daemons (or a right named after a job label), and the right to
// install a privileged helper tool. The caller owns the reference it gets and
// frees it with authorizationFree.
#include <QString>

#include "Authorization.h"

class LDAuthorizer {
public:
    // Interaction allowed, extend rights, pre-authorize: 19.
    static AuthorizationFlags defaultFlags();

    // An empty prompt becomes "<process> is trying to perform a privileged operation.".
    static OSStatus authorizeSystemDaemonWithLabel(const QString& label, const QString& prompt, AuthorizationRef* authRef);
    static OSStatus authorizeSMJobBlessWithPrompt(const QString& prompt, AuthorizationRef* authRef);
    // Asks for the one right named by the item, with the prompt (when not empty) in the environment.
    static OSStatus authorizePrompt(const QString& prompt, AuthorizationItem authItems, AuthorizationRef* authRef);
    static void authorizationFree(AuthorizationRef authRef);

    static QString processName();
};
