#include "TSSwitch.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "KLAnimation.h"
#include "NSColor+KLExtension.h"

namespace {

const char* const kPropagateName = "-[TSSwitch propagateValue:forBinding:]";
const QString kCheckedBinding = QStringLiteral("checked");

QHash<QString, std::shared_ptr<TSValueTransformer>>& transformerRegistry()
{
    static QHash<QString, std::shared_ptr<TSValueTransformer>> registry;
    return registry;
}

// Colours blend premultiplied, so a fade from clear does not pass through grey.
QColor blend(const QColor& from, const QColor& to, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    const double alpha = a.alphaF() + (b.alphaF() - a.alphaF()) * t;
    if (alpha <= 0)
        return QColor(0, 0, 0, 0);
    auto channel = [&](double x, double y) {
        const double premultiplied = x * a.alphaF() + (y * b.alphaF() - x * a.alphaF()) * t;
        return std::clamp(premultiplied / alpha, 0.0, 1.0);
    };
    return QColor::fromRgbF(static_cast<float>(channel(a.redF(), b.redF())),
                            static_cast<float>(channel(a.greenF(), b.greenF())),
                            static_cast<float>(channel(a.blueF(), b.blueF())), static_cast<float>(alpha));
}

// The knob follows the curve past its end (the overshoot); colours and
// opacity stop at the end value.
TSSwitch::Look blend(const TSSwitch::Look& from, const TSSwitch::Look& to, double t)
{
    auto lerp = [t](double a, double b) { return a + (b - a) * t; };
    TSSwitch::Look look;
    look.knob = QRectF(lerp(from.knob.x(), to.knob.x()), lerp(from.knob.y(), to.knob.y()),
                       lerp(from.knob.width(), to.knob.width()), lerp(from.knob.height(), to.knob.height()));
    look.border = blend(from.border, to.border, t);
    look.background = blend(from.background, to.background, t);
    look.opacity = from.opacity + (to.opacity - from.opacity) * std::clamp(t, 0.0, 1.0);
    return look;
}

void setValueForKeyPath(QObject* object, const QString& keyPath, const QVariant& value)
{
    const QStringList keys = keyPath.split(QLatin1Char('.'));
    for (qsizetype i = 0; object && i + 1 < keys.size(); ++i)
        object = object->property(keys[i].toUtf8().constData()).value<QObject*>();
    if (object)
        object->setProperty(keys.last().toUtf8().constData(), value);
}

// Accessibility clients see a check box: checked state, value 1 or 0, a
// press action. A disabled switch refuses both, as Qt's own controls do.
class TSSwitchAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TSSwitchAccessible(TSSwitch* control)
        : QAccessibleWidget(control, QAccessible::CheckBox)
    {
    }

    TSSwitch* control() const { return static_cast<TSSwitch*>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = control()->isChecked();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (control()->isEnabled())
            names << pressAction();
        return names;
    }

    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            if (control()->isEnabled())
                control()->toggleByUser();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

    QVariant currentValue() const override { return control()->isChecked() ? 1 : 0; }

    void setCurrentValue(const QVariant& value) override
    {
        TSSwitch* control = this->control();
        if (!control->isEnabled())
            return;
        const bool before = control->isChecked();
        const bool checked = value.toBool();
        control->setChecked(checked);
        if (checked != before)
            emit control->action(control);
    }

    QVariant maximumValue() const override { return 1; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* switchAccessibleFactory(const QString& key, QObject* object)
{
    if (key == QLatin1String("TSSwitch") && object && object->isWidgetType())
        return new TSSwitchAccessible(static_cast<TSSwitch*>(object));
    return nullptr;
}

}  // namespace

void TSValueTransformer::setValueTransformer(std::shared_ptr<TSValueTransformer> transformer, const QString& name)
{
    if (transformer)
        transformerRegistry().insert(name, std::move(transformer));
    else
        transformerRegistry().remove(name);
}

std::shared_ptr<TSValueTransformer> TSValueTransformer::valueTransformerForName(const QString& name)
{
    return transformerRegistry().value(name);
}

namespace TSSwitchGeometry {

double knobHeightForSize(QSizeF size)
{
    return size.height() - 2;
}

QRectF rectForKnob(QSizeF track, bool active, bool onSide)
{
    const double height = knobHeightForSize(track);
    const double width = (track.width() - 2) / (active ? kPressedRatio : kGoldenRatio);
    const double x = onSide ? track.width() - width - 1 : 1;
    return QRectF(x, 1, width, height);
}

}  // namespace TSSwitchGeometry

TSSwitch::TSSwitch(QWidget* parent)
    : QWidget(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(switchAccessibleFactory), true);
    Q_UNUSED(factoryInstalled);

    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(kAnimationMilliseconds);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setLook(blend(m_from, m_to, value.toDouble())); });

    m_look = m_from = m_to = targetLook();
}

TSSwitch::~TSSwitch() = default;

void TSSwitch::setChecked(bool checked)
{
    if (checked != m_checked) {
        m_checked = checked;
        propagateValue(QVariant(checked), kCheckedBinding);
        announceState();
    }
    reloadLayer();
}

QColor TSSwitch::tintColor() const
{
    return m_tintColor.value_or(QColor::fromRgbF(0.27f, 0.86f, 0.36f, 1.0f));
}

void TSSwitch::setTintColor(const QColor& color)
{
    m_tintColor = color;
    reloadLayer();
}

QColor TSSwitch::disabledBorderColor() const
{
    if (m_disabledBorderColor)
        return *m_disabledBorderColor;
    return KLExtension::colorFromLightStyleColor(QColor::fromRgbF(0, 0, 0, 0.2f), QColor(Qt::white));
}

void TSSwitch::setDisabledBorderColor(const QColor& color)
{
    m_disabledBorderColor = color;
    reloadLayer();
}

QSizeF TSSwitch::trackSize() const
{
    return QSizeF(std::max(0, width() - 2 * kOutset), std::max(0, height() - 2 * kOutset));
}

QRectF TSSwitch::trackRect() const
{
    return QRectF(QPointF(kOutset, kOutset), trackSize());
}

QSize TSSwitch::sizeForTrack(QSizeF track)
{
    return QSize(static_cast<int>(std::ceil(track.width())) + 2 * kOutset,
                 static_cast<int>(std::ceil(track.height())) + 2 * kOutset);
}

QSize TSSwitch::sizeHint() const
{
    return sizeForTrack(QSizeF(50, 30));
}

QRectF TSSwitch::rectForKnob() const
{
    return TSSwitchGeometry::rectForKnob(trackSize(), m_active, onLook());
}

TSSwitch::Look TSSwitch::targetLook() const
{
    Look look;
    look.knob = rectForKnob();
    const bool on = onLook();
    look.border = on ? tintColor() : disabledBorderColor();
    look.background = on ? tintColor() : QColor(0, 0, 0, 0);
    look.opacity = isEnabled() ? 1.0 : 0.5;
    return look;
}

void TSSwitch::reloadLayer()
{
    m_animation->stop();
    m_from = m_look;
    m_to = targetLook();
    // Nobody sees a hidden switch move: it takes its place at once.
    if (!isVisible()) {
        setLook(m_to);
        return;
    }
    // Settling with an overshoot; a drag follows the pointer with the plain ease.
    m_animation->setEasingCurve(m_dragged ? KLAnimation::cubicBezier({0.25, 0.1}, {0.25, 1.0})
                                          : KLAnimation::cubicBezier({0.25, 1.5}, {0.5, 1.0}));
    KLAnimation::start(m_animation);
}

void TSSwitch::reloadLayerSize()
{
    // Size changes are not animated; colours already on their way go on.
    const QRectF knob = rectForKnob();
    m_from.knob = knob;
    m_to.knob = knob;
    m_look.knob = knob;
    update();
}

void TSSwitch::setLook(const Look& look)
{
    m_look = look;
    update();
}

void TSSwitch::invokeTargetAction()
{
    emit action(this);
}

void TSSwitch::toggleByUser()
{
    setChecked(!m_checked);
    invokeTargetAction();
}

void TSSwitch::moveLeft()
{
    if (!m_checked)
        return;
    setChecked(false);
    invokeTargetAction();
}

void TSSwitch::moveRight()
{
    if (m_checked)
        return;
    setChecked(true);
    invokeTargetAction();
}

void TSSwitch::announceState()
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent stateEvent(this, changed);
    QAccessible::updateAccessibility(&stateEvent);
    QAccessibleValueChangeEvent valueEvent(this, m_checked ? 1 : 0);
    QAccessible::updateAccessibility(&valueEvent);
}

void TSSwitch::bind(const QString& binding, const TSBindingInfo& info)
{
    m_bindings.insert(binding, info);
}

void TSSwitch::unbind(const QString& binding)
{
    m_bindings.remove(binding);
}

std::optional<TSBindingInfo> TSSwitch::infoForBinding(const QString& binding) const
{
    const auto found = m_bindings.constFind(binding);
    if (found == m_bindings.constEnd())
        return std::nullopt;
    return *found;
}

void TSSwitch::propagateValue(const QVariant& value, const QString& binding)
{
    const std::optional<TSBindingInfo> info = infoForBinding(binding);
    if (!info)
        return;
    std::shared_ptr<TSValueTransformer> transformer = info->valueTransformer;
    if (!transformer && !info->valueTransformerName.isEmpty())
        transformer = TSValueTransformer::valueTransformerForName(info->valueTransformerName);

    QVariant shown = value;
    const QByteArray name = binding.toUtf8();
    if (transformer) {
        if (transformer->allowsReverseTransformation())
            shown = transformer->reverseTransformedValue(value);
        else
            std::fprintf(stderr,
                         "WARNING: binding \"%s\" has value transformer, but it doesn't allow reverse "
                         "transformations in %s\n",
                         name.constData(), kPropagateName);
    }

    QObject* observed = info->observedObject;
    if (observed && !info->observedKeyPath.isEmpty()) {
        setValueForKeyPath(observed, info->observedKeyPath, shown);
        return;
    }
    if (info->observedKeyPath.isEmpty())
        std::fprintf(stderr, "ERROR: NSObservedKeyPathKey was nil for binding \"%s\" in %s\n", name.constData(),
                     kPropagateName);
    if (!observed)
        std::fprintf(stderr, "ERROR: NSObservedObjectKey was nil for binding \"%s\" in %s\n", name.constData(),
                     kPropagateName);
}

void TSSwitch::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    reloadLayerSize();
}

void TSSwitch::mousePressEvent(QMouseEvent* event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_active = true;
    reloadLayer();
}

void TSSwitch::mouseMoveEvent(QMouseEvent* event)
{
    if (!isEnabled() || !m_active) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    m_dragged = true;
    m_draggingTowardsOn = event->position().x() - kOutset >= trackSize().width() / 2;
    reloadLayer();
}

void TSSwitch::mouseReleaseEvent(QMouseEvent* event)
{
    if (!isEnabled() || !m_active || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_active = false;
    const bool before = m_checked;
    setChecked(m_dragged ? m_draggingTowardsOn : !m_checked);
    if (m_checked != before) {
        // The receiver may close the screen that holds the switch.
        QPointer<TSSwitch> alive(this);
        invokeTargetAction();
        if (!alive)
            return;
    }
    m_dragged = false;
    m_draggingTowardsOn = false;
    reloadLayer();
}

void TSSwitch::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled() || event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        // Holding the bar down does not flicker the switch.
        if (!event->isAutoRepeat())
            toggleByUser();
        break;
    case Qt::Key_Left:
        moveLeft();
        break;
    case Qt::Key_Right:
        moveRight();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TSSwitch::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        // A press cut short by disabling never gets its release.
        m_active = false;
        m_dragged = false;
        m_draggingTowardsOn = false;
        reloadLayer();
        break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::StyleChange:
        // The appearance changed: new colours at once, no fade.
        m_animation->stop();
        m_from = m_to = targetLook();
        setLook(m_to);
        break;
    default:
        break;
    }
}

void TSSwitch::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void TSSwitch::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

bool TSSwitch::keyboardFocusShown() const
{
    // As the desktop's own controls: the ring marks focus reached by keyboard.
    return hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

const QImage& TSSwitch::knobShadow(QSizeF knobSize, qreal dpr)
{
    if (!m_shadow.isNull() && m_shadowKnobSize == knobSize && m_shadowScale == dpr)
        return m_shadow;
    // A layer shadow of radius 1 point: a gaussian blur of the knob's shape.
    const double sigma = 1.0 * dpr;
    const int pad = static_cast<int>(std::ceil(sigma * 3));
    const QSizeF shape = knobSize * dpr;
    QImage image(QSize(static_cast<int>(std::ceil(shape.width())), static_cast<int>(std::ceil(shape.height()))) +
                     QSize(2 * pad, 2 * pad),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        const QRectF rect(QPointF(pad, pad), shape);
        painter.drawRoundedRect(rect, rect.height() / 2, rect.height() / 2);
    }
    std::vector<double> kernel(static_cast<size_t>(2 * pad + 1));
    double sum = 0;
    for (int i = -pad; i <= pad; ++i)
        sum += kernel[static_cast<size_t>(i + pad)] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    const int w = image.width();
    const int h = image.height();
    std::vector<double> alpha(static_cast<size_t>(w * h));
    std::vector<double> pass(alpha.size());
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[static_cast<size_t>(y * w + x)] = qAlpha(line[x]);
    }
    auto blurPass = [&](const std::vector<double>& in, std::vector<double>& out, int dx, int dy) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double value = 0;
                for (int i = -pad; i <= pad; ++i) {
                    const int sx = x + i * dx;
                    const int sy = y + i * dy;
                    if (sx >= 0 && sx < w && sy >= 0 && sy < h)
                        value += kernel[static_cast<size_t>(i + pad)] * in[static_cast<size_t>(sy * w + sx)];
                }
                out[static_cast<size_t>(y * w + x)] = value;
            }
    };
    blurPass(alpha, pass, 1, 0);
    blurPass(pass, alpha, 0, 1);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba(0, 0, 0, std::clamp(static_cast<int>(std::lround(alpha[static_cast<size_t>(y * w + x)])), 0, 255));
    }
    image.setDevicePixelRatio(dpr);
    m_shadow = image;
    m_shadowKnobSize = knobSize;
    m_shadowScale = dpr;
    return m_shadow;
}

void TSSwitch::paintSwitch(QPainter& painter, qreal dpr)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF track = trackRect();
    const double radius = track.height() / 2;

    painter.setPen(Qt::NoPen);
    painter.setBrush(m_look.background);
    painter.drawRoundedRect(track, radius, radius);
    // The 1-point border lies inside the track, as a layer's border does.
    painter.setPen(QPen(m_look.border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    // System coordinates (y up) to the widget's (y down), within the track.
    const QRectF& k = m_look.knob;
    const QRectF knob(track.left() + k.x(), track.top() + track.height() - k.y() - k.height(), k.width(), k.height());
    if (knob.width() <= 0 || knob.height() <= 0)
        return;
    const QImage& shadow = knobShadow(knob.size(), dpr);
    const QPointF shadowOrigin = knob.topLeft() - QPointF(1, 1) * ((shadow.width() - std::ceil(knob.width() * dpr)) / 2 / dpr);
    // The knob's own shadow falls 2 points down; the inner knob's rings it.
    painter.setOpacity(0.3);
    painter.drawImage(shadowOrigin + QPointF(0, 2), shadow);
    painter.setOpacity(0.35);
    painter.drawImage(shadowOrigin, shadow);
    painter.setOpacity(1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(knob, knob.height() / 2, knob.height() / 2);
}

void TSSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPaintDevice* device = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    const qreal dpr = device ? device->devicePixelRatioF() : devicePixelRatioF();
    if (m_look.opacity < 1) {
        // The whole switch fades as one: the track does not show through the knob.
        QImage layer(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
        layer.fill(Qt::transparent);
        QPainter layerPainter(&layer);
        paintSwitch(layerPainter, dpr);
        layerPainter.end();
        painter.setOpacity(m_look.opacity);
        painter.drawImage(QPointF(0, 0), layer);
        painter.setOpacity(1);
    } else {
        paintSwitch(painter, dpr);
    }

    if (keyboardFocusShown()) {
        // The ring takes the track's rounded shape, just outside it.
        const QRectF track = trackRect();
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ring, 3));
        painter.setBrush(Qt::NoBrush);
        const double radius = track.height() / 2 + 1.5;
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), radius, radius);
    }
}
