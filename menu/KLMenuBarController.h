#pragma once
// Kelvara Menu's status item and the popover it opens: the item's title shows
// the chosen sensors' readings; a click (or Kelvara's open-popover notice)
// toggles the popover; a click elsewhere or the close notice closes it.
#include <QElapsedTimer>
#include <QObject>
#include <memory>

#include "KLEventMonitor.h"

class NSPopover;
class NSStatusItem;

inline constexpr const char* KLMenuBarControllerShouldOpenPopupNotification =
    "KLMenuBarControllerShouldOpenPopupNotification";
// Local: the popover's screen posts it after handing over to Kelvara.
inline constexpr const char* KLMenuBarControllerShouldClosePopupNotification =
    "KLMenuBarControllerShouldClosePopupNotification";

class KLMenuBarController : public QObject {
    Q_OBJECT
public:
    explicit KLMenuBarController(QObject* parent = nullptr);
    ~KLMenuBarController() override;

    // Set-up, once: notices, the popover with the "popupViewController" screen
    // (an empty popover while the storyboard has none), the click monitor and
    // the status item (which may arrive a few seconds later, see NSStatusBar).
    void awakeFromNib();
    void updateUI();

    void statusBarButtonTapped();
    void showPopover();
    void closePopover();

    // Null until the tray gave an item, and for good when it has none.
    NSStatusItem* statusItem() const { return m_statusItem; }
    NSPopover* popover() const { return m_popover.get(); }
    KLEventMonitor& eventMonitor() { return m_eventMonitor; }

private:
    void kelvaraTempDidChangeNotification();
    void statusItemArrived(NSStatusItem* item);
    void statusItemClicked();

    NSStatusItem* m_statusItem = nullptr;
    std::unique_ptr<NSPopover> m_popover;
    KLEventMonitor m_eventMonitor;
    // Since the popover last closed because another window took the focus.
    QElapsedTimer m_deactivatedAt;
};
