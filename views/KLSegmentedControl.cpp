#include "KLSegmentedControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "KLUtils.h"
#include "NSColor+KLExtension.h"

KLSegmentedControl::KLSegmentedControl(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
}

void KLSegmentedControl::setSegmentCount(int count)
{
    m_labels.resize(std::max(0, count));
    if (m_selected >= segmentCount())
        m_selected = -1;
    updateGeometry();
    update();
}

void KLSegmentedControl::setLabel(const QString& label, int segment)
{
    if (segment < 0 || segment >= segmentCount() || m_labels[segment] == label)
        return;
    m_labels[segment] = label;
    updateGeometry();
    update();
}

void KLSegmentedControl::setSelectedSegment(int segment)
{
    const int selected = segment >= 0 && segment < segmentCount() ? segment : -1;
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

int KLSegmentedControl::segmentWidth() const
{
    int widest = 0;
    for (const QString& label : m_labels)
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    return widest + 20;
}

QSize KLSegmentedControl::sizeHint() const
{
    return {segmentWidth() * std::max(1, segmentCount()) + 2, fontMetrics().height() + 8};
}

QRect KLSegmentedControl::rectForSegment(int segment) const
{
    if (segment < 0 || segment >= segmentCount())
        return {};
    const double width = (rect().width() - 2) / double(segmentCount());
    const int left = 1 + int(std::lround(width * segment));
    const int right = 1 + int(std::lround(width * (segment + 1)));
    return QRect(left, 1, right - left, height() - 2);
}

void KLSegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = KLUtils::isDarkMode();
    const QColor border = dark ? QColor(90, 90, 90) : QColor(200, 200, 200);
    const QColor base = dark ? QColor(60, 60, 60) : Qt::white;
    const QColor text = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(outline, 5, 5);
    painter.fillPath(shape, base);
    if (m_selected >= 0) {
        painter.save();
        painter.setClipPath(shape);
        painter.fillRect(rectForSegment(m_selected).adjusted(-1, -1, 1, 1), KLExtension::appDeepBlueColor());
        painter.restore();
    }
    painter.setPen(QPen(border, 1));
    painter.drawPath(shape);
    for (int segment = 1; segment < segmentCount(); ++segment) {
        if (segment == m_selected || segment == m_selected + 1)
            continue;
        const double x = rectForSegment(segment).left() - 0.5;
        painter.drawLine(QPointF(x, 4), QPointF(x, height() - 4));
    }
    for (int segment = 0; segment < segmentCount(); ++segment) {
        painter.setPen(segment == m_selected ? QColor(Qt::white) : text);
        painter.drawText(rectForSegment(segment), Qt::AlignCenter, m_labels[segment]);
    }
}

void KLSegmentedControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    for (int segment = 0; segment < segmentCount(); ++segment) {
        if (rectForSegment(segment).contains(event->position().toPoint())) {
            setSelectedSegment(segment);
            emit action(this);
            return;
        }
    }
}

void KLSegmentedControl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
