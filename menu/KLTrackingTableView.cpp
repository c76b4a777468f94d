#include "KLTrackingTableView.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>

KLTrackingTableView::KLTrackingTableView(QWidget* parent)
    : NSTableView(parent)
{
    viewport()->setMouseTracking(true);
}

KLTrackingTableView::~KLTrackingTableView()
{
    if (m_filtering)
        qApp->removeEventFilter(this);
}

void KLTrackingTableView::showEvent(QShowEvent* event)
{
    NSTableView::showEvent(event);
    // Only while shown: the filter looks at every pointer move of the program.
    if (!m_filtering) {
        qApp->installEventFilter(this);
        m_filtering = true;
    }
}

void KLTrackingTableView::hideEvent(QHideEvent* event)
{
    NSTableView::hideEvent(event);
    if (m_filtering) {
        qApp->removeEventFilter(this);
        m_filtering = false;
    }
    m_inside = false;
}

bool KLTrackingTableView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::Leave)
        return NSTableView::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window())
        return NSTableView::eventFilter(watched, event);
    const QPoint global = type == QEvent::MouseMove ? static_cast<QMouseEvent*>(event)->globalPosition().toPoint()
                                                    : QCursor::pos();
    // A leave of the whole window, or a move outside the visible rows, ends the stay.
    const bool inside = type == QEvent::MouseMove && viewport()->rect().contains(viewport()->mapFromGlobal(global));
    if (type == QEvent::Leave && widget != window())
        return NSTableView::eventFilter(watched, event);
    if (inside) {
        if (!m_inside)
            mouseEntered(global);
        mouseMoved(global);
    } else if (m_inside) {
        mouseExited(global);
    }
    return NSTableView::eventFilter(watched, event);
}

void KLTrackingTableView::mouseEntered(const QPoint& globalPosition)
{
    m_inside = true;
    if (m_trackingDelegate)
        m_trackingDelegate->trackingTableViewMouseEntered(globalPosition);
}

void KLTrackingTableView::mouseMoved(const QPoint& globalPosition)
{
    if (m_trackingDelegate)
        m_trackingDelegate->trackingTableViewMouseMoved(globalPosition);
}

void KLTrackingTableView::mouseExited(const QPoint& globalPosition)
{
    m_inside = false;
    if (m_trackingDelegate)
        m_trackingDelegate->trackingTableViewMouseExited(globalPosition);
}
