#pragma once
// The console user: the user of the active login session as logind reports it
// ("loginwindow" while a greeter holds the seat), or the current user where
// logind cannot be asked. A null string when no session is active.
#include <QString>
#include <optional>
#include <sys/types.h>

struct SCDynamicStore;
using SCDynamicStoreRef = SCDynamicStore*;

QString SCDynamicStoreCopyConsoleUser(SCDynamicStoreRef store, uid_t* uid, gid_t* gid);

// Tests fix the answer (a null string: nobody logged in); nullopt asks the system again.
void setConsoleUserForTesting(std::optional<QString> user);
