#include "SecBase.h"

QString SecCopyErrorMessageString(OSStatus status, void*)
{
    switch (status) {
    case errSecSuccess:
        return QStringLiteral("No error.");
    case errAuthorizationInvalidSet:
        return QStringLiteral("The authorization rights are invalid.");
    case errAuthorizationInvalidRef:
        return QStringLiteral("The authorization reference is invalid.");
    case errAuthorizationInvalidTag:
        return QStringLiteral("The authorization tag is invalid.");
    case errAuthorizationInvalidPointer:
        return QStringLiteral("The returned authorization is invalid.");
    case errAuthorizationDenied:
        return QStringLiteral("The authorization was denied.");
    case errAuthorizationCanceled:
        return QStringLiteral("The authorization was canceled by the user.");
    case errAuthorizationInteractionNotAllowed:
        return QStringLiteral("The authorization was denied since no user interaction was possible.");
    case errAuthorizationInternal:
        return QStringLiteral("An unrecognized internal error occurred.");
    case errAuthorizationExternalizeNotAllowed:
        return QStringLiteral("The authorization is not allowed to be converted to an external format.");
    case errAuthorizationInternalizeNotAllowed:
        return QStringLiteral("The authorization is not allowed to be created from an external format.");
    case errAuthorizationInvalidFlags:
        return QStringLiteral("The provided option flag(s) are invalid for this authorization operation.");
    case errAuthorizationToolExecuteFailure:
        return QStringLiteral("The specified program could not be executed.");
    case errAuthorizationToolEnvironmentError:
        return QStringLiteral("An invalid status was returned during execution of a privileged tool.");
    case errAuthorizationBadAddress:
        return QStringLiteral("The requested socket address is invalid (must be 0-1023 inclusive).");
    default:
        return {};
    }
}
