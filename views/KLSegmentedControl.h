#pragma once
// A row of segments of which one is selected, like the graph's time-range
// control: a click selects a segment and sends the action; setting the
// selection from code sends nothing.
#include <QStringList>
#include <QWidget>

class KLSegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit KLSegmentedControl(QWidget* parent = nullptr);

    int segmentCount() const { return int(m_labels.size()); }
    void setSegmentCount(int count);
    QString labelForSegment(int segment) const { return m_labels.value(segment); }
    void setLabel(const QString& label, int segment);
    // -1 when none is selected; out-of-range values select none.
    int selectedSegment() const { return m_selected; }
    void setSelectedSegment(int segment);
    QRect rectForSegment(int segment) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void action(KLSegmentedControl* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int segmentWidth() const;
    QStringList m_labels;
    int m_selected = -1;
};
