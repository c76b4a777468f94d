#pragma once
// The row of a view-based table: holds the row's cells and paints the
// selection behind them. Subclasses change the selection look by overriding
// drawSelectionInRect.
#include <QString>
#include <QWidget>

#include "NSTableCellView.h"

enum NSTableViewSelectionHighlightStyle {
    NSTableViewSelectionHighlightStyleNone = -1,
    NSTableViewSelectionHighlightStyleRegular = 0,
    NSTableViewSelectionHighlightStyleSourceList = 1,
};

class NSTableRowView : public QWidget {
    Q_OBJECT
public:
    explicit NSTableRowView(QWidget* parent = nullptr);

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString& identifier) { m_identifier = identifier; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    NSTableViewSelectionHighlightStyle selectionHighlightStyle() const { return m_highlightStyle; }
    void setSelectionHighlightStyle(NSTableViewSelectionHighlightStyle style);

    // Emphasized while selected with a visible highlight: the row's texts
    // switch to the highlighted text colour.
    virtual NSBackgroundStyle interiorBackgroundStyle() const;

protected:
    // Paints the selection of a selected row; rect is the row's bounds.
    virtual void drawSelectionInRect(QPainter& painter, const QRectF& rect);
    void paintEvent(QPaintEvent* event) override;

private:
    void updateInteriorPalette();

    QString m_identifier;
    bool m_selected = false;
    NSTableViewSelectionHighlightStyle m_highlightStyle = NSTableViewSelectionHighlightStyleRegular;
};
