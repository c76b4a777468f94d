#include "RZGraphPointView.h"

#include <QPainter>

namespace {
class Disc : public QWidget {
public:
    Disc(const QColor& color, QWidget* parent)
        : QWidget(parent)
        , m_color(color)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(QRectF(rect()));
    }

private:
    QColor m_color;
};
}  // namespace

RZGraphPointView::RZGraphPointView(const QRectF& frame, const RZGraphPoint& graphPoint, const QColor& color,
                                   const QColor& highlightColor, QWidget* parent)
    : QWidget(parent)
    , m_graphPoint(graphPoint)
    , m_frame(frame)
    , m_color(color)
    , m_highlightColor(highlightColor)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(qRound(frame.width()), qRound(frame.height()));
    m_innerView = new Disc(highlightColor, this);
    m_innerView->setGeometry(2, 2, qRound(frame.width()) - 4, qRound(frame.height()) - 4);
    m_innerView->hide();
}

void RZGraphPointView::setIsSelected(bool selected)
{
    m_isSelected = selected;
    m_innerView->setVisible(selected);
}

void RZGraphPointView::paintMarker(QPainter& painter, const QRectF& rect) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(rect);
    if (m_isSelected) {
        painter.setBrush(m_highlightColor);
        painter.drawEllipse(rect.adjusted(2, 2, -2, -2));
    }
    painter.restore();
}

void RZGraphPointView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}
