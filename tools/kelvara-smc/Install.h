#pragma once
// The tool's install mode: Kelvara runs the bundle's copy as root (through the
// authorization layer) to put that very copy at the installed path.

// Writes a copy of the running executable next to destination under a fresh
// name, gives it to root and the group with mode 6555 through its own
// descriptor, and renames it over whatever lies at destination. Nothing at the
// destination or the fresh name is followed or changed in place, so a link or
// a file the user put there is replaced, never made set-id. Only a process
// whose real user is root may do this: the installed copy is setuid root, and
// must not install anything for whoever runs it. Returns the exit status.
int installSelf(const char* destination, const char* groupName);
