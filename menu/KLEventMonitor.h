#pragma once
// One global event monitor that can be started and stopped: while it runs,
// its handler hears the mouse-downs of its mask that happen outside this
// program's popovers (see NSEvent).
#include "NSEvent.h"

class KLEventMonitor {
public:
    KLEventMonitor() = default;
    ~KLEventMonitor() { stop(); }
    KLEventMonitor(const KLEventMonitor&) = delete;
    KLEventMonitor& operator=(const KLEventMonitor&) = delete;

    // At most one monitor: starting a running one does nothing.
    void start();
    void stop();

    // The installed monitor's token; 0 while not monitoring.
    int monitor() const { return m_monitor; }
    NSEventMask mask() const { return m_mask; }
    void setMask(NSEventMask mask) { m_mask = mask; }
    const NSEvent::Handler& handler() const { return m_handler; }
    void setHandler(NSEvent::Handler handler) { m_handler = std::move(handler); }

private:
    int m_monitor = 0;
    NSEventMask m_mask = 0;
    NSEvent::Handler m_handler;
};
