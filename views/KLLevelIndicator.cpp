#include "KLLevelIndicator.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "NSColor+KLExtension.h"

namespace {

double snap(double x, double dpr) { return std::round(x * dpr) / dpr; }

// Read out as a progress bar: screen readers know how to speak its value.
class LevelIndicatorAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelIndicatorAccessible(KLLevelIndicator* indicator)
        : QAccessibleWidget(indicator, QAccessible::ProgressBar)
    {
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(indicator()->doubleValue());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return indicator()->doubleValue(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return indicator()->maxValue(); }
    QVariant minimumValue() const override { return indicator()->minValue(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    KLLevelIndicator* indicator() const { return static_cast<KLLevelIndicator*>(widget()); }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("KLLevelIndicator") && object && object->isWidgetType())
        return new LevelIndicatorAccessible(static_cast<KLLevelIndicator*>(object));
    return nullptr;
}

}  // namespace

double KLLevelIndicatorGeometry::fraction(double value, double min, double max)
{
    if (std::isnan(value) || std::isnan(min) || std::isnan(max))
        return 0;
    if (!(max > min))
        return value >= max ? 1 : 0;
    return std::clamp((value - min) / (max - min), 0.0, 1.0);
}

double KLLevelIndicatorGeometry::markFraction(double mark, double min, double max)
{
    // FLT_MAX is how callers say "no mark"; it never lands on the bar.
    if (!std::isfinite(mark) || mark >= FLT_MAX || !(max > min) || !std::isfinite(max - min))
        return -1;
    if (mark < min || mark > max)
        return -1;
    return (mark - min) / (max - min);
}

KLLevel KLLevelIndicatorGeometry::levelOf(double value, double warning, double critical)
{
    if (std::isnan(value))
        return KLLevel::Normal;
    if (warning > critical) {  // lower is worse
        if (value <= critical)
            return KLLevel::Critical;
        return value <= warning ? KLLevel::Warning : KLLevel::Normal;
    }
    if (value >= critical)
        return KLLevel::Critical;
    return value >= warning ? KLLevel::Warning : KLLevel::Normal;
}

KLLevelIndicatorGeometry KLLevelIndicatorGeometry::make(const QSizeF& size, double dpr, double min, double max,
                                                        double value, double warning, double critical)
{
    KLLevelIndicatorGeometry g;
    dpr = dpr > 0 ? dpr : 1;
    // One point at each end, so a mark at either end is drawn whole.
    const double left = 1;
    const double width = std::max(0.0, size.width() - 2);
    const double height = std::min(kTrackHeight, size.height());
    const double bottom = snap((size.height() - height) / 2, dpr);
    g.track = QRectF(left, bottom, width, height);
    const double filled = snap(width * fraction(value, min, max), dpr);
    if (filled > 0)
        g.fill = QRectF(left, bottom, filled, height);
    for (const double mark : {warning, critical}) {
        const double at = markFraction(mark, min, max);
        if (at >= 0)
            g.marks.push_back(left + snap(width * at, dpr));
    }
    g.level = levelOf(value, warning, critical);
    return g;
}

KLLevelIndicator::KLLevelIndicator(QWidget* parent)
    : QWidget(parent)
    , m_warning(FLT_MAX)
    , m_critical(FLT_MAX)
    , m_fill(KLExtension::appGreenColor())
    , m_warningFill(KLExtension::appOrangeColor())
    , m_criticalFill(KLExtension::appRedColor())
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void KLLevelIndicator::setMinValue(double value) { m_min = value; changed(); }
void KLLevelIndicator::setMaxValue(double value) { m_max = value; changed(); }
void KLLevelIndicator::setWarningValue(double value) { m_warning = value; changed(); }
void KLLevelIndicator::setCriticalValue(double value) { m_critical = value; changed(); }
void KLLevelIndicator::setFillColor(const QColor& color) { m_fill = color; update(); }
void KLLevelIndicator::setWarningFillColor(const QColor& color) { m_warningFill = color; update(); }
void KLLevelIndicator::setCriticalFillColor(const QColor& color) { m_criticalFill = color; update(); }

void KLLevelIndicator::setDoubleValue(double value)
{
    m_value = value;
    changed();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, value);
        QAccessible::updateAccessibility(&event);
    }
}

void KLLevelIndicator::changed() { update(); }

KLLevelIndicatorGeometry KLLevelIndicator::levelGeometry() const
{
    return KLLevelIndicatorGeometry::make(size(), devicePixelRatioF(), m_min, m_max, m_value, m_warning, m_critical);
}

QColor KLLevelIndicator::currentFillColor() const
{
    switch (KLLevelIndicatorGeometry::levelOf(m_value, m_warning, m_critical)) {
    case KLLevel::Critical:
        return m_criticalFill;
    case KLLevel::Warning:
        return m_warningFill;
    case KLLevel::Normal:
        break;
    }
    return m_fill;
}

QSize KLLevelIndicator::sizeHint() const
{
    return QSize(100, static_cast<int>(KLLevelIndicatorGeometry::kTrackHeight + 2 * KLLevelIndicatorGeometry::kMarkOverhang) + 2);
}

void KLLevelIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double dpr = painter.device()->devicePixelRatioF();
    const KLLevelIndicatorGeometry g =
        KLLevelIndicatorGeometry::make(size(), dpr, m_min, m_max, m_value, m_warning, m_critical);
    // The geometry has y up from the bottom; Qt paints from the top.
    const auto flip = [this](const QRectF& r) { return QRectF(r.x(), height() - r.bottom(), r.width(), r.height()); };
    const QRectF track = flip(g.track);
    const double radius = track.height() / 2;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const QColor ink = palette().color(QPalette::WindowText);
    QColor trackColor = ink;
    // A light ink means a dark window: a touch more, or the track vanishes.
    trackColor.setAlphaF(ink.lightnessF() > 0.5 ? 0.16f : 0.10f);
    QPainterPath trackPath;
    trackPath.addRoundedRect(track, radius, radius);
    painter.fillPath(trackPath, trackColor);

    if (!g.fill.isEmpty()) {
        painter.save();
        painter.setClipPath(trackPath);
        const QRectF fill = flip(g.fill);
        const double r = std::min(radius, fill.width() / 2);
        painter.setBrush(currentFillColor());
        painter.drawRoundedRect(fill, r, r);
        painter.restore();
    }

    QColor markColor = ink;
    markColor.setAlphaF(0.55f);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double overhang = std::min(KLLevelIndicatorGeometry::kMarkOverhang, track.top());
    const double markWidth = 1.0;
    for (const double x : g.marks) {
        const double left = std::round((x - markWidth / 2) * dpr) / dpr;
        painter.fillRect(QRectF(left, track.top() - overhang, markWidth, track.height() + 2 * overhang), markColor);
    }
}
