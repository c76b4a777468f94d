#pragma once
// The popover's sensor list: a table that reports the pointer moving over its
// visible part and leaving it, without any click, to its tracking delegate.
#include <QPointer>

#include "NSTableView.h"

class KLTrackingTableView;

// Each call takes the pointer's place in global coordinates.
class KLTrackingTableViewDelegate {
public:
    virtual ~KLTrackingTableViewDelegate() = default;
    virtual void trackingTableViewMouseEntered(const QPoint& /*globalPosition*/) {}
    virtual void trackingTableViewMouseMoved(const QPoint& /*globalPosition*/) {}
    virtual void trackingTableViewMouseExited(const QPoint& /*globalPosition*/) {}
};

class KLTrackingTableView : public NSTableView {
    Q_OBJECT
public:
    explicit KLTrackingTableView(QWidget* parent = nullptr);
    ~KLTrackingTableView() override;

    KLTrackingTableViewDelegate* trackingDelegate() const { return m_trackingDelegate; }
    void setTrackingDelegate(KLTrackingTableViewDelegate* delegate) { m_trackingDelegate = delegate; }

    void mouseEntered(const QPoint& globalPosition);
    void mouseMoved(const QPoint& globalPosition);
    void mouseExited(const QPoint& globalPosition);

protected:
    // The pointer over the rows reaches the cells first; the table hears it on
    // its way there, and its leaving the visible part from the window.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    KLTrackingTableViewDelegate* m_trackingDelegate = nullptr;
    bool m_inside = false;
    bool m_filtering = false;
};
