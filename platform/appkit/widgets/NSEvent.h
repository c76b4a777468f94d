#pragma once
// Global event monitors. No Linux desktop lets a program see clicks in other
// programs' windows, so a monitor fires when this application stops being the
// active one (another program's window took the focus) and on mouse-downs in
// this program's own windows that lie outside every popover. A click inside a
// popover, or in a pop-up list or menu it opened, never fires it.
#include <QPoint>
#include <QtGlobal>
#include <functional>

enum NSEventType : unsigned {
    NSEventTypeLeftMouseDown = 1,
    NSEventTypeRightMouseDown = 3,
    // Another program became the active one.
    NSEventTypeAppKitDefined = 13,
};

// Set (true) on windows of ours that are the status item itself (an XEmbed tray
// icon): a click there is the item's own click, never one outside a popover.
inline constexpr const char* NSStatusItemWindowProperty = "NSStatusItemWindow";

using NSEventMask = quint64;
inline constexpr NSEventMask NSEventMaskLeftMouseDown = NSEventMask(1) << NSEventTypeLeftMouseDown;
inline constexpr NSEventMask NSEventMaskRightMouseDown = NSEventMask(1) << NSEventTypeRightMouseDown;

struct NSEvent {
    NSEventType type = NSEventTypeLeftMouseDown;
    QPoint locationInScreen;  // Qt's global coordinates; none for a deactivation

    using Handler = std::function<void(const NSEvent&)>;

    // A token (> 0) that removeMonitor takes back. A deactivation reaches every
    // monitor whose mask holds a mouse-down.
    static int addGlobalMonitorForEventsMatchingMask(NSEventMask mask, Handler handler);
    static void removeMonitor(int monitor);

    static int globalMonitorCountForTesting();
    // As if another program had taken the focus.
    static void deactivateApplicationForTesting();
};
