#pragma once
// The on/off switch: a pill-shaped track with a white knob that slides from
// the left (off) to the right (on). Clicked, dragged, toggled with the space
// bar or the arrow keys; reports user changes through the action signal and
// pushes every change of "checked" to the object bound to it. Accessibility
// clients see a check box with a press action.
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <memory>
#include <optional>

class QVariantAnimation;

// Turns a model value into a shown value and, when allowed, back.
class TSValueTransformer {
public:
    virtual ~TSValueTransformer() = default;
    virtual bool allowsReverseTransformation() const { return false; }
    virtual QVariant transformedValue(const QVariant& value) const { return value; }
    virtual QVariant reverseTransformedValue(const QVariant& value) const { return value; }

    // Process-wide registry of named transformers; null removes the name.
    static void setValueTransformer(std::shared_ptr<TSValueTransformer> transformer, const QString& name);
    static std::shared_ptr<TSValueTransformer> valueTransformerForName(const QString& name);
};

// What a binding was made with. A null observed object or an empty key path
// counts as missing; the transformer object wins over the transformer name.
struct TSBindingInfo {
    QPointer<QObject> observedObject;
    QString observedKeyPath;  // property names joined by '.'
    std::shared_ptr<TSValueTransformer> valueTransformer;
    QString valueTransformerName;
};

// The knob's geometry in the system's coordinates (origin bottom-left, y up)
// within a track of the given size.
namespace TSSwitchGeometry {
inline constexpr double kGoldenRatio = 1.6180340051651;
inline constexpr double kPressedRatio = 1.38;

double knobHeightForSize(QSizeF size);
// onSide: the knob sits on the right. active: the mouse is down (wider knob).
QRectF rectForKnob(QSizeF track, bool active, bool onSide);
}  // namespace TSSwitchGeometry

class TSSwitch : public QWidget {
    Q_OBJECT
public:
    // Room around the track for the knob's shadow and the focus ring: the
    // widget is the track grown by this on every side.
    static constexpr int kOutset = 4;
    static constexpr int kAnimationMilliseconds = 400;

    // What is shown at one moment; animations move between two of these.
    struct Look {
        QRectF knob;  // system coordinates within the track
        QColor border;
        QColor background;
        double opacity = 1;
    };

    explicit TSSwitch(QWidget* parent = nullptr);
    ~TSSwitch() override;

    bool isChecked() const { return m_checked; }
    // Pushes a change to the "checked" binding; never sends the action.
    void setChecked(bool checked);

    // Track colour when on; a green unless set.
    QColor tintColor() const;
    void setTintColor(const QColor& color);
    // Track border when off: the set colour, else black at 20 % in the light
    // appearance and white in the dark one.
    QColor disabledBorderColor() const;
    void setDisabledBorderColor(const QColor& color);

    // The track's size (the "bounds"); the widget is larger by kOutset.
    QSizeF trackSize() const;
    QRectF trackRect() const;  // in widget coordinates
    static QSize sizeForTrack(QSizeF track);

    double knobHeightForSize(QSizeF size) const { return TSSwitchGeometry::knobHeightForSize(size); }
    // The knob's place for the current state, in the track's system coordinates.
    QRectF rectForKnob() const;
    // What is on screen now, possibly mid-animation.
    const Look& presentedLook() const { return m_look; }

    // Bindings: "checked" is the one this control pushes.
    void bind(const QString& binding, const TSBindingInfo& info);
    void unbind(const QString& binding);
    std::optional<TSBindingInfo> infoForBinding(const QString& binding) const;
    void propagateValue(const QVariant& value, const QString& binding);

    // The user paths, also used by the keys and accessibility.
    void moveLeft();
    void moveRight();
    void toggleByUser();

    QSize sizeHint() const override;

signals:
    // A user changed the state (mouse, keys, accessibility). Nobody connected
    // means no action is set: the state still changes.
    void action(TSSwitch* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool onLook() const { return m_dragged ? m_draggingTowardsOn : m_checked; }
    Look targetLook() const;
    void reloadLayer();
    void reloadLayerSize();
    void invokeTargetAction();
    void setLook(const Look& look);
    void announceState();
    bool keyboardFocusShown() const;
    void paintSwitch(QPainter& painter, qreal dpr);
    const QImage& knobShadow(QSizeF knobSize, qreal dpr);

    bool m_checked = false;
    bool m_active = false;
    bool m_dragged = false;
    bool m_draggingTowardsOn = false;
    std::optional<QColor> m_tintColor;
    std::optional<QColor> m_disabledBorderColor;
    QHash<QString, TSBindingInfo> m_bindings;

    Look m_look;
    Look m_from;
    Look m_to;
    QVariantAnimation* m_animation = nullptr;

    // The knob's blurred shape, kept while the knob's size stays the same.
    QImage m_shadow;
    QSizeF m_shadowKnobSize;
    qreal m_shadowScale = 0;
};
