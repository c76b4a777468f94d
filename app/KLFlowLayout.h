#pragma once
// Lays its items out in rows, left to right, starting a new row when the next
// item would pass the right edge; each item at its size hint. The height
// follows the width, so a box holding it grows with the rows.
#include <QLayout>
#include <QList>

class KLFlowLayout : public QLayout {
public:
    explicit KLFlowLayout(QWidget* parent = nullptr, int spacing = 6);
    ~KLFlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    int doLayout(const QRect& rect, bool place) const;
    QList<QLayoutItem*> m_items;
};
