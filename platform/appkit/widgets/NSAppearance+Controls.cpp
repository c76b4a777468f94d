#include "NSAppearance+Controls.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace {

class ControlStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if ((element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton) || !outlinedHere(option))
            return;
        // Over Fusion's own outline, on the same lines.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(option->palette.color(QPalette::Mid), 1));
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (element == PE_IndicatorCheckBox) {
            painter->drawRect(box);
        } else {
            const QRect inner = option->rect.adjusted(0, 0, -1, -1);
            const QPointF center = QPointF(inner.center()) + QPointF(1, 1);
            const qreal radius = (inner.width() + (inner.width() + 1) % 2) / 2.0 - 1;
            painter->drawEllipse(center, radius, radius);
        }
        painter->restore();
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override
    {
        QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
        // Fusion leaves a text almost touching the button's frame: a little more room each side.
        if (type == CT_PushButton) {
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (button && !button->text.isEmpty())
                size.rwidth() += 2 * kPushButtonPadding;
        }
        return size;
    }

private:
    static constexpr int kPushButtonPadding = 4;

    bool outlinedHere(const QStyleOption* option) const
    {
        // Keyboard focus has its own outline; other styles draw other shapes.
        if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange))
            return false;
        if (baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
            return false;
        const QColor window = option->palette.color(QPalette::Window);
        return window.lightness() < 128 && option->palette.color(QPalette::Mid).lightness() > window.lightness();
    }
};

}  // namespace

namespace NSAppearanceControls {

void install()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || dynamic_cast<ControlStyle*>(QApplication::style()))
        return;
    // Without a base style the proxy takes the one the desktop would have given.
    QApplication::setStyle(new ControlStyle);
}

}  // namespace NSAppearanceControls
