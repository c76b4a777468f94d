#pragma once
// The privilege that fan control needs, as Kelvara's screens ask for it
// (KLFanController installs the tool). One question at a time: a screen that
// asks while a question, or the alert that tells of its refusal, is pending
// joins it and hears the same answer. A refusal shows the critical
// authorization-failed alert once, whoever asked.
#include <functional>

class QWidget;

namespace KLPrivilegeRequest {

// The handler runs on the main queue. Refused, the handlers waiting then hear
// NO first (so a screen can restore itself behind the alert), then the alert
// runs over `window`'s window; those that joined meanwhile hear NO after it.
void request(QWidget* window, std::function<void(bool granted)> handler);

}  // namespace KLPrivilegeRequest
