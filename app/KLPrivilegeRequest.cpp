#include "KLPrivilegeRequest.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <utility>

#include "KLFanController.h"
#include "NSAlert.h"
#include "NSString+KLExtension.h"

namespace KLPrivilegeRequest {

namespace {

struct Pending {
    bool active = false;
    QList<std::function<void(bool)>> handlers;
    QPointer<QWidget> window;
};

Pending& pending()
{
    static Pending state;
    return state;
}

void finish(bool granted)
{
    Pending& state = pending();
    const QList<std::function<void(bool)>> handlers = std::exchange(state.handlers, {});
    state.active = false;
    state.window = nullptr;
    for (const auto& handler : handlers) {
        if (handler)
            handler(granted);
    }
}

void answer(bool granted)
{
    if (granted) {
        finish(true);
        return;
    }
    Pending& state = pending();
    for (const auto& handler : std::exchange(state.handlers, {})) {
        if (handler)
            handler(false);
    }
    // Links and clicks keep coming while the alert's loop runs; they join
    // this refusal instead of asking again or stacking alerts.
    NSAlert alert;
    alert.setMessageText(KLExtension::localizedStringForKey(QStringLiteral("fan-control-authorization-failed-alert-title")));
    alert.setInformativeText(
        KLExtension::localizedStringForKey(QStringLiteral("fan-control-authorization-failed-alert-message")));
    alert.setAlertStyle(NSAlertStyleCritical);
    alert.runModal(state.window ? state.window->window() : nullptr);
    finish(false);
}

}  // namespace

void request(QWidget* window, std::function<void(bool granted)> handler)
{
    Pending& state = pending();
    state.handlers.append(std::move(handler));
    if (!state.window)
        state.window = window;
    if (state.active)
        return;
    state.active = true;
    KLFanController::sharedInstance().requestPrivilegePermissionWithCompletionHandler(answer);
}

bool isPending()
{
    return pending().active;
}

}  // namespace KLPrivilegeRequest
