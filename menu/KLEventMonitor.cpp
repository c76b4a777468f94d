#include "KLEventMonitor.h"

void KLEventMonitor::start()
{
    if (m_monitor)
        return;
    // The handler may be replaced while monitoring; the monitor calls the current one.
    m_monitor = NSEvent::addGlobalMonitorForEventsMatchingMask(m_mask, [this](const NSEvent& event) {
        if (m_handler)
            m_handler(event);
    });
}

void KLEventMonitor::stop()
{
    if (!m_monitor)
        return;
    NSEvent::removeMonitor(m_monitor);
    m_monitor = 0;
}
