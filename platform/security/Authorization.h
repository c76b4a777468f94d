#pragma once
// Authorization Services with their shapes: a reference stands for rights an
// administrator granted, and privileged tools run through it. Behind them an
// authority decides: a root process is authorized at once, anyone else asks
// polkit through pkexec. Tests put in an authority of their own.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "SecBase.h"

using AuthorizationFlags = uint32_t;

constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1 << 0;
constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 1 << 1;
constexpr AuthorizationFlags kAuthorizationFlagPartialRights = 1 << 2;
constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 1 << 3;
constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 1 << 4;

// The right to run tools as the administrator. A process that is not root is
// granted it without a dialog when interaction is allowed and pkexec is there:
// pkexec authenticates the administrator on each privileged run, so one run
// asks once.
inline constexpr const char* kAuthorizationRightExecute = "system.privilege.admin";

// The environment item that carries the text shown in the administrator dialog.
inline constexpr const char* kAuthorizationEnvironmentPrompt = "prompt";

struct AuthorizationItem {
    const char* name = nullptr;
    size_t valueLength = 0;
    void* value = nullptr;
    uint32_t flags = 0;
};

struct AuthorizationItemSet {
    uint32_t count = 0;
    AuthorizationItem* items = nullptr;
};
using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

// Asks the authority for the rights when some are given and the flags allow
// extending them; a reference is made only on success. authorization may be
// null to ask without keeping a reference.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization);
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

// Runs the tool (an absolute path) with the arguments as the administrator and
// waits for it. Unlike the Mac call, which returns at once, it reports the
// tool's exit status and what it wrote to standard error.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const QString& pathToTool,
                                            AuthorizationFlags options, const QStringList& arguments,
                                            int* exitStatus, QByteArray* standardError = nullptr);

// What stands behind the calls above.
class AuthorizationAuthority {
public:
    virtual ~AuthorizationAuthority() = default;
    // The rights and environment exactly as the caller passed them.
    virtual OSStatus authorize(const AuthorizationRights& rights, const AuthorizationEnvironment& environment,
                               AuthorizationFlags flags) = 0;
    // errAuthorizationToolExecuteFailure when the tool cannot be started.
    virtual OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus,
                             QByteArray* standardError) = 0;
};

// The authority of this system: root is authorized at once and runs tools
// directly; another user authenticates through pkexec.
class SystemAuthority : public AuthorizationAuthority {
public:
    OSStatus authorize(const AuthorizationRights& rights, const AuthorizationEnvironment& environment,
                       AuthorizationFlags flags) override;
    OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus,
                     QByteArray* standardError) override;

    static bool runsAsRoot();
    static QString pkexecPath();
};

// nullptr restores the system authority. The caller keeps ownership.
void setAuthorizationAuthorityForTesting(AuthorizationAuthority* authority);

// The group whose members administer this machine: the first of "admin",
// "sudo" and "wheel" that exists ("root" when none does).
QString administratorsGroupName();
