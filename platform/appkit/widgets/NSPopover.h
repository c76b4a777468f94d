#pragma once
// A popover: a frameless tool window with a small arrow toward its anchor,
// hosting one screen. Our code places it relative to an anchor rectangle and a
// preferred edge; when the screen's available area has no room on that side it
// goes to the opposite one (an anchor in a side panel gets it beside the
// panel), and it is always clamped into that area. It is
// never a Qt::Popup (which grabs input and closes on clicks in our own windows):
// it closes only when its owner closes it.
//
// On Wayland no program places its own windows: a popover shown from a view of
// another popover is made a popup of that popover's window (an xdg_popup,
// without an input grab), which the compositor puts where ours says relative to
// that window; a popup is placed once as it maps, so moving it maps it again.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <memory>
#include <optional>

#include "NSViewController.h"

class QWidget;
class QWindow;

// The side of the anchor the popover appears on, on screen: MinY below it,
// MaxY above it, MinX to its left, MaxX to its right.
enum NSRectEdge : unsigned { NSRectEdgeMinX = 0, NSRectEdgeMinY = 1, NSRectEdgeMaxX = 2, NSRectEdgeMaxY = 3 };

struct NSPopoverPlacement {
    QRect frame;      // the whole window, arrow included, in global coordinates
    NSRectEdge edge;  // the side actually used
    int arrowCenter;  // along the side facing the anchor, from the frame's left (or top) edge
};

class NSPopover : public QObject {
    Q_OBJECT
public:
    static constexpr int kArrowHeight = 9;
    static constexpr int kArrowWidth = 20;
    static constexpr int kCornerRadius = 6;
    // What an empty popover (no content) measures.
    static constexpr QSize kEmptyContentSize{300, 180};

    explicit NSPopover(QObject* parent = nullptr);
    ~NSPopover() override;

    // The popover takes the screen into its window and owns it from then on.
    void setContentViewController(NSViewController* controller);
    NSViewController* contentViewController() const { return m_content; }
    // Popovers here never animate; kept for the owners that say so.
    void setAnimates(bool animates) { m_animates = animates; }
    bool animates() const { return m_animates; }
    bool isShown() const;

    // anchor in global coordinates. Shown again at once when already shown.
    // The popover's window is raised and activated. ofView: the view the anchor
    // lies in, when it is in one of ours; on Wayland its window is the popup's parent.
    void showRelativeToRect(const QRect& anchor, NSRectEdge preferredEdge, QWidget* ofView = nullptr);
    void performClose();
    void close();

    // The window, for pictures and tests.
    QWidget* window() const;
    NSRectEdge shownEdge() const { return m_placement.edge; }

    // Pure placement: the content's size, the anchor and the available area of its screen.
    static NSPopoverPlacement placement(const QSize& contentSize, const QRect& anchor, const QRect& available,
                                        NSRectEdge preferredEdge);
    static bool isPopoverWindow(const QWindow* window);
    // False on Wayland, where the compositor places every top-level window.
    static bool programPlacesWindows();
    static void setProgramPlacesWindowsForTesting(std::optional<bool> places);

signals:
    void didShow();
    void didClose();

private:
    class Frame;
    void place();

    std::unique_ptr<Frame> m_frame;
    QPointer<NSViewController> m_content;
    QRect m_anchor;
    NSRectEdge m_preferredEdge = NSRectEdgeMinY;
    NSPopoverPlacement m_placement{{}, NSRectEdgeMinY, 0};
    bool m_animates = false;
};
