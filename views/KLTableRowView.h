#pragma once
// The application's table row: a soft rounded selection inset from the row's
// edges, or, in detail mode, a full-width tint that follows light and dark.
// Cells keep their own text colours on a selected row.
#include "NSTableRowView.h"

class KLTableRowView : public NSTableRowView {
    Q_OBJECT
public:
    explicit KLTableRowView(QWidget* parent = nullptr);

    bool detailMode() const { return m_detailMode; }
    void setDetailMode(bool detailMode);

    NSBackgroundStyle interiorBackgroundStyle() const override { return NSBackgroundStyleNormal; }

    // Where the selection is filled within bounds, and its corner radius.
    static QRectF selectionRect(const QRectF& bounds, bool detailMode);
    static double selectionRadius(bool detailMode) { return detailMode ? 0 : 5; }
    // The fill for the current appearance.
    static QColor selectionColor(bool detailMode);

protected:
    void drawSelectionInRect(QPainter& painter, const QRectF& rect) override;

private:
    bool m_detailMode = false;
};
