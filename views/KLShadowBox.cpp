#include "KLShadowBox.h"

#include <QPainter>
#include <QPainterPath>

#include "KLUtils.h"

namespace {

// The shadow's reach: a blur of 1 around the box, moved down by half a point.
constexpr int kSideMargin = 1;
constexpr int kTopMargin = 1;
constexpr int kBottomMargin = 2;
constexpr double kShadowOffset = 0.5;
constexpr double kShadowRadius = 1;
constexpr double kShadowOpacity = 0.5;
const QColor kShadowColor(85, 85, 85);  // dark grey, a third of white

QPainterPath roundedRect(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

}  // namespace

KLShadowBox::KLShadowBox(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setContentsMargins(kSideMargin, kTopMargin, kSideMargin, kBottomMargin);
}

void KLShadowBox::setCustomCornerRadius(double radius)
{
    m_customCornerRadius = radius;
    update();
}

void KLShadowBox::resetCustomCornerRadius()
{
    m_customCornerRadius.reset();
    update();
}

QRectF KLShadowBox::boxRect() const
{
    return QRectF(rect()).adjusted(kSideMargin, kTopMargin, -kSideMargin, -kBottomMargin);
}

void KLShadowBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF box = boxRect();
    const double radius = std::min(customCornerRadius(), std::min(box.width(), box.height()) / 2);
    if (!KLUtils::isDarkMode()) {
        // A blur of radius 1 as three steps fading outwards; the box covers
        // their middle, so only the fringe shows.
        const QRectF shadow = box.translated(0, kShadowOffset);
        const struct {
            double grow;
            double share;
        } steps[] = {{kShadowRadius, 0.3}, {kShadowRadius / 2, 0.35}, {0, 0.35}};
        for (const auto& step : steps) {
            QColor color = kShadowColor;
            color.setAlphaF(static_cast<float>(kShadowOpacity * step.share));
            painter.setBrush(color);
            painter.drawPath(roundedRect(shadow.adjusted(-step.grow, -step.grow, step.grow, step.grow),
                                         radius + step.grow));
        }
    }
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawPath(roundedRect(box, radius));
}
