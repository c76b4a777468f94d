#include "NSEvent.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <map>

#include "NSPopover.h"

namespace {

// Watches the application while at least one monitor is installed.
class GlobalMonitors : public QObject {
public:
    static GlobalMonitors& shared()
    {
        static auto* monitors = new GlobalMonitors;
        return *monitors;
    }

    int add(NSEventMask mask, NSEvent::Handler handler)
    {
        if (m_handlers.empty())
            watch(true);
        const int token = ++m_lastToken;
        m_handlers.emplace(token, Entry{mask, std::move(handler)});
        return token;
    }

    void remove(int token)
    {
        if (m_handlers.erase(token) && m_handlers.empty())
            watch(false);
    }

    int count() const { return int(m_handlers.size()); }

    void fire(const NSEvent& event)
    {
        constexpr NSEventMask anyMouseDown = NSEventMaskLeftMouseDown | NSEventMaskRightMouseDown;
        const NSEventMask wanted =
            event.type == NSEventTypeAppKitDefined ? anyMouseDown : NSEventMask(1) << event.type;
        // A handler may remove monitors (its own included): walk a copy of the tokens.
        std::vector<int> tokens;
        for (const auto& [token, entry] : m_handlers)
            tokens.push_back(token);
        for (int token : tokens) {
            const auto found = m_handlers.find(token);
            if (found == m_handlers.end() || !(found->second.mask & wanted))
                continue;
            const NSEvent::Handler handler = found->second.handler;
            handler(event);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Each press reaches its window once before the widgets inside it.
        if (event->type() == QEvent::MouseButtonPress) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && !insidePopover(window)) {
                const auto* press = static_cast<QMouseEvent*>(event);
                const NSEventType type = press->button() == Qt::RightButton ? NSEventTypeRightMouseDown
                                         : press->button() == Qt::LeftButton ? NSEventTypeLeftMouseDown
                                                                             : NSEventTypeAppKitDefined;
                if (type != NSEventTypeAppKitDefined)
                    fire({type, press->globalPosition().toPoint()});
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    struct Entry {
        NSEventMask mask;
        NSEvent::Handler handler;
    };

    static bool insidePopover(const QWindow* window)
    {
        // Pop-up lists and menus belong to the control that opened them.
        if (window->type() == Qt::Popup || window->property(NSStatusItemWindowProperty).toBool())
            return true;
        for (const QWindow* at = window; at; at = at->transientParent()) {
            if (NSPopover::isPopoverWindow(at))
                return true;
        }
        return false;
    }

    void watch(bool on)
    {
        auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!application)
            return;
        if (on) {
            application->installEventFilter(this);
            m_stateConnection = connect(application, &QGuiApplication::applicationStateChanged, this,
                                        [this](Qt::ApplicationState state) {
                                            if (state != Qt::ApplicationActive)
                                                deactivatedSoon();
                                        });
        } else {
            application->removeEventFilter(this);
            disconnect(m_stateConnection);
        }
    }

    void deactivatedSoon()
    {
        // Focus passing between two of our own windows can report a short
        // inactive spell; only a lasting one means another program is in front.
        QTimer::singleShot(0, this, [this] {
            if (QGuiApplication::applicationState() != Qt::ApplicationActive)
                fire({NSEventTypeAppKitDefined, {}});
        });
    }

    std::map<int, Entry> m_handlers;
    int m_lastToken = 0;
    QMetaObject::Connection m_stateConnection;
};

}  // namespace

int NSEvent::addGlobalMonitorForEventsMatchingMask(NSEventMask mask, Handler handler)
{
    return GlobalMonitors::shared().add(mask, std::move(handler));
}

void NSEvent::removeMonitor(int monitor)
{
    GlobalMonitors::shared().remove(monitor);
}

int NSEvent::globalMonitorCountForTesting()
{
    return GlobalMonitors::shared().count();
}

void NSEvent::deactivateApplicationForTesting()
{
    GlobalMonitors::shared().fire({NSEventTypeAppKitDefined, {}});
}
