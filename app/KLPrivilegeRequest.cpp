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

using Handler = std::function<void(bool)>;

struct Pending {
    bool active = false;
    QList<Handler> handlers;
    QPointer<QWidget> window;
};

Pending& pending()
{
    static Pending state;
    return state;
}

void tell(const QList<Handler>& handlers, bool granted)
{
    for (const Handler& handler : handlers) {
        if (handler)
            handler(granted);
    }
}

void answer(bool granted)
{
    Pending& state = pending();
    if (!granted) {
        tell(std::exchange(state.handlers, {}), false);
        // Links and clicks keep coming while the alert's loop runs; they join
        // this refusal instead of asking again or stacking alerts.
        NSAlert alert;
        alert.setMessageText(
            KLExtension::localizedStringForKey(QStringLiteral("fan-control-authorization-failed-alert-title")));
        alert.setInformativeText(
            KLExtension::localizedStringForKey(QStringLiteral("fan-control-authorization-failed-alert-message")));
        alert.setAlertStyle(NSAlertStyleCritical);
        alert.runModal(state.window ? state.window->window() : nullptr);
    }
    // Over before the handlers run, so one that asks again asks anew.
    const QList<Handler> handlers = std::exchange(state.handlers, {});
    state.active = false;
    state.window = nullptr;
    tell(handlers, granted);
}

}  // namespace

void request(QWidget* window, Handler handler)
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

}  // namespace KLPrivilegeRequest
