#pragma once
// The privileged tool's installation and its installed-state test.
#include <functional>

class KLFanController {
public:
    static KLFanController& sharedController();

    // The tool in the container is owned by root and the administrators' group,
    // with permissions exactly 6555.
    bool isSMCBinaryInstalled() const;
    // Copies the tool into the container when missing and, unless it is already
    // installed, asks an administrator to give it to root with mode 6555. Returns
    // at once; the handler runs later on the main queue with the outcome.
    void requestPrivilegePermissionWithCompletionHandler(std::function<void(bool granted)> handler);
};
