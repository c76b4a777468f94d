#include "NSPopover.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

#include "NSAppearance.h"
#include "NSScreen.h"
#include "NSViewController.h"

namespace {

constexpr const char* kPopoverProperty = "NSPopoverWindow";
constexpr int kBorder = 1;
constexpr Qt::WindowFlags kToolWindow = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
// A popup of another of our windows (Wayland): Qt makes a tool tip an
// xdg_popup of its transient parent without grabbing input, which Qt::Popup
// would do (and a grab needs a click: a hover-opened one would be dismissed).
constexpr Qt::WindowFlags kPopupWindow = Qt::ToolTip | Qt::FramelessWindowHint;

std::optional<bool> programPlacesWindowsForTesting;

bool isVertical(NSRectEdge edge)
{
    return edge == NSRectEdgeMinY || edge == NSRectEdgeMaxY;
}

NSRectEdge opposite(NSRectEdge edge)
{
    switch (edge) {
    case NSRectEdgeMinX: return NSRectEdgeMaxX;
    case NSRectEdgeMaxX: return NSRectEdgeMinX;
    case NSRectEdgeMinY: return NSRectEdgeMaxY;
    case NSRectEdgeMaxY: return NSRectEdgeMinY;
    }
    return NSRectEdgeMinY;
}

// Room between the anchor and the available area's border on that side.
int roomOn(NSRectEdge edge, const QRect& anchor, const QRect& available)
{
    switch (edge) {
    case NSRectEdgeMinY: return available.bottom() - anchor.bottom();
    case NSRectEdgeMaxY: return anchor.top() - available.top();
    case NSRectEdgeMinX: return anchor.left() - available.left();
    case NSRectEdgeMaxX: return available.right() - anchor.right();
    }
    return 0;
}

// On X11 a frameless tool window without a parent is still a window of its own
// to taskbars and pagers (LXQt lists it): say it is not one. Set while unmapped,
// before each show; window managers drop the state when a window is withdrawn.
void keepOffTaskbars(QWindow* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window)
        return;
    const auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    };
    static const xcb_atom_t state = atom("_NET_WM_STATE");
    static const xcb_atom_t skipped[] = {atom("_NET_WM_STATE_SKIP_TASKBAR"), atom("_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), state, XCB_ATOM_ATOM, 32, 2,
                        skipped);
    xcb_flush(connection);
}

int clampInto(int start, int length, int low, int high)
{
    // Too long for the area: keep the start visible.
    return std::max(low, std::min(start, high - length + 1));
}

}  // namespace

// The window: a rounded body with the arrow on the side facing the anchor.
class NSPopover::Frame : public QWidget {
public:
    explicit Frame(NSPopover* owner)
        : QWidget(nullptr, kToolWindow)
        , m_owner(owner)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setObjectName(QStringLiteral("popoverWindow"));
        auto* layout = new QVBoxLayout(this);
        layout->setSpacing(0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        setEdge(NSRectEdgeMinY, 0);
    }

    // parent: the window this one is a popup of, or null for a window of its own.
    void attachTo(QWindow* parent)
    {
        if ((parent != nullptr) != isPopup()) {
            // Changing the kind hides a shown window; callers show it again.
            setWindowFlags(parent ? kPopupWindow : kToolWindow);
            setAttribute(Qt::WA_TranslucentBackground);
        }
        winId();
        if (windowHandle())
            windowHandle()->setTransientParent(parent);
    }

    bool isPopup() const { return windowType() == Qt::ToolTip; }

    void setEdge(NSRectEdge edge, int arrowCenter)
    {
        m_edge = edge;
        m_arrowCenter = arrowCenter;
        const int arrow = kArrowHeight + kBorder;
        QMargins margins(kBorder, kBorder, kBorder, kBorder);
        switch (edge) {
        case NSRectEdgeMinY: margins.setTop(arrow); break;
        case NSRectEdgeMaxY: margins.setBottom(arrow); break;
        case NSRectEdgeMinX: margins.setRight(arrow); break;
        case NSRectEdgeMaxX: margins.setLeft(arrow); break;
        }
        layout()->setContentsMargins(margins);
        update();
    }

    void setContent(QWidget* content)
    {
        if (m_placeholder) {
            delete m_placeholder;
            m_placeholder = nullptr;
        }
        if (content) {
            layout()->addWidget(content);
        } else {
            m_placeholder = new QWidget(this);
            m_placeholder->setFixedSize(NSPopover::kEmptyContentSize);
            layout()->addWidget(m_placeholder);
        }
    }

    QPainterPath outline() const
    {
        QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double arrow = kArrowHeight;
        switch (m_edge) {
        case NSRectEdgeMinY: body.setTop(body.top() + arrow); break;
        case NSRectEdgeMaxY: body.setBottom(body.bottom() - arrow); break;
        case NSRectEdgeMinX: body.setRight(body.right() - arrow); break;
        case NSRectEdgeMaxX: body.setLeft(body.left() + arrow); break;
        }
        QPainterPath path;
        path.addRoundedRect(body, kCornerRadius, kCornerRadius);
        const double half = kArrowWidth / 2.0;
        const double at = m_arrowCenter + 0.5;
        QPolygonF tip;
        switch (m_edge) {
        case NSRectEdgeMinY:
            tip << QPointF(at - half, body.top() + 1) << QPointF(at, body.top() - arrow) << QPointF(at + half, body.top() + 1);
            break;
        case NSRectEdgeMaxY:
            tip << QPointF(at - half, body.bottom() - 1) << QPointF(at, body.bottom() + arrow)
                << QPointF(at + half, body.bottom() - 1);
            break;
        case NSRectEdgeMinX:
            tip << QPointF(body.right() - 1, at - half) << QPointF(body.right() + arrow, at)
                << QPointF(body.right() - 1, at + half);
            break;
        case NSRectEdgeMaxX:
            tip << QPointF(body.left() + 1, at - half) << QPointF(body.left() - arrow, at)
                << QPointF(body.left() + 1, at + half);
            break;
        }
        QPainterPath arrowPath;
        arrowPath.addPolygon(tip);
        arrowPath.closeSubpath();
        return path.united(arrowPath).simplified();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const bool dark = NSAppearance::isDarkAqua();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 56), kBorder));
        painter.setBrush(dark ? QColor(0x2b, 0x2b, 0x2d) : QColor(0xf2, 0xf2, 0xf2));
        painter.drawPath(outline());
    }

    bool event(QEvent* event) override
    {
        const bool handled = QWidget::event(event);
        // The content changed its size: keep the arrow on the anchor.
        if (event->type() == QEvent::LayoutRequest && isVisible())
            m_owner->place();
        return handled;
    }

private:
    NSPopover* m_owner;
    QWidget* m_placeholder = nullptr;
    NSRectEdge m_edge = NSRectEdgeMinY;
    int m_arrowCenter = 0;
};

NSPopover::NSPopover(QObject* parent)
    : QObject(parent)
    , m_frame(std::make_unique<Frame>(this))
{
    m_frame->setContent(nullptr);
}

NSPopover::~NSPopover()
{
    if (m_content)
        delete m_content.data();
}

void NSPopover::setContentViewController(NSViewController* controller)
{
    if (m_content == controller)
        return;
    if (m_content)
        delete m_content.data();
    m_content = controller;
    m_frame->setContent(controller);
}

bool NSPopover::isShown() const
{
    return m_frame->isVisible();
}

QWidget* NSPopover::window() const
{
    return m_frame.get();
}

void NSPopover::showRelativeToRect(const QRect& anchor, NSRectEdge preferredEdge, QWidget* ofView)
{
    m_anchor = anchor;
    m_preferredEdge = preferredEdge;
    const bool wasShown = isShown();
    QWidget* parent = ofView && !programPlacesWindows() ? ofView->window() : nullptr;
    m_frame->attachTo(parent && parent != m_frame.get() ? parent->windowHandle() : nullptr);
    // The window must exist before it can be marked as a popover's.
    m_frame->winId();
    if (QWindow* window = m_frame->windowHandle())
        window->setProperty(kPopoverProperty, true);
    NSScreen::setMainScreen(NSScreen::screenAt(anchor.center()));
    if (!wasShown && !m_frame->isPopup())
        keepOffTaskbars(m_frame->windowHandle());
    place();
    m_frame->show();
    place();
    // A popup neither rises above its parent nor takes the focus from it.
    if (!m_frame->isPopup()) {
        m_frame->raise();
        m_frame->activateWindow();
    }
    if (!wasShown)
        emit didShow();
}

void NSPopover::performClose()
{
    close();
}

void NSPopover::close()
{
    if (!isShown())
        return;
    m_frame->hide();
    emit didClose();
}

void NSPopover::place()
{
    m_frame->layout()->activate();
    const QMargins margins = m_frame->layout()->contentsMargins();
    const QSize content = m_frame->sizeHint().shrunkBy(margins);
    const QRect available = NSScreen::visibleFrame(NSScreen::screenAt(m_anchor.center()));
    m_placement = placement(content, m_anchor, available, m_preferredEdge);
    m_frame->setEdge(m_placement.edge, m_placement.arrowCenter);
    // The compositor places a popup where it was when it mapped.
    const bool remap = m_frame->isPopup() && m_frame->isVisible() && m_frame->geometry() != m_placement.frame;
    if (remap)
        m_frame->hide();
    m_frame->setGeometry(m_placement.frame);
    if (remap)
        m_frame->show();
}

NSPopoverPlacement NSPopover::placement(const QSize& contentSize, const QRect& anchor, const QRect& available,
                                        NSRectEdge preferredEdge)
{
    // An anchor in a side panel (beside the area, not above or below it): the
    // popover goes beside the panel, where its arrow can reach the anchor.
    if (isVertical(preferredEdge) && !available.isEmpty() && anchor.bottom() >= available.top() &&
        anchor.top() <= available.bottom()) {
        if (anchor.right() < available.left())
            preferredEdge = NSRectEdgeMaxX;
        else if (anchor.left() > available.right())
            preferredEdge = NSRectEdgeMinX;
    }
    const bool vertical = isVertical(preferredEdge);
    const int arrow = kArrowHeight;
    const QSize size = (contentSize + QSize(2 * kBorder, 2 * kBorder)) + (vertical ? QSize(0, arrow) : QSize(arrow, 0));
    const int needed = vertical ? size.height() : size.width();

    NSRectEdge edge = preferredEdge;
    const int preferredRoom = roomOn(preferredEdge, anchor, available);
    const int oppositeRoom = roomOn(opposite(preferredEdge), anchor, available);
    if (preferredRoom < needed && (oppositeRoom >= needed || oppositeRoom > preferredRoom))
        edge = opposite(preferredEdge);

    QPoint origin;
    switch (edge) {
    case NSRectEdgeMinY: origin = {anchor.center().x() - size.width() / 2, anchor.bottom() + 1}; break;
    case NSRectEdgeMaxY: origin = {anchor.center().x() - size.width() / 2, anchor.top() - size.height()}; break;
    case NSRectEdgeMinX: origin = {anchor.left() - size.width(), anchor.center().y() - size.height() / 2}; break;
    case NSRectEdgeMaxX: origin = {anchor.right() + 1, anchor.center().y() - size.height() / 2}; break;
    }
    if (!available.isEmpty()) {
        origin.setX(clampInto(origin.x(), size.width(), available.left(), available.right()));
        origin.setY(clampInto(origin.y(), size.height(), available.top(), available.bottom()));
    }
    const QRect frame(origin, size);
    // The arrow stays on the anchor as far as the rounded corners allow.
    const int inset = kCornerRadius + kArrowWidth / 2;
    const int along = vertical ? anchor.center().x() - frame.left() : anchor.center().y() - frame.top();
    const int length = vertical ? size.width() : size.height();
    return {frame, edge, std::clamp(along, inset, std::max(inset, length - inset))};
}

bool NSPopover::programPlacesWindows()
{
    if (programPlacesWindowsForTesting)
        return *programPlacesWindowsForTesting;
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void NSPopover::setProgramPlacesWindowsForTesting(std::optional<bool> places)
{
    programPlacesWindowsForTesting = places;
}

bool NSPopover::isPopoverWindow(const QWindow* window)
{
    return window && window->property(kPopoverProperty).toBool();
}
