#pragma once
// A rounded box in the control background colour. In the light appearance it
// casts a soft shadow a little downwards; in the dark one none. The shadow is
// drawn in a thin margin the box keeps around itself (children are laid out
// inside the box), and the appearance is read at every paint.
#include <QFrame>
#include <optional>

class KLShadowBox : public QFrame {
    Q_OBJECT
    // Set by interface files where a box wants another corner radius than 5.
    Q_PROPERTY(double customCornerRadius READ customCornerRadius WRITE setCustomCornerRadius RESET
                   resetCustomCornerRadius)
public:
    explicit KLShadowBox(QWidget* parent = nullptr);

    double customCornerRadius() const { return m_customCornerRadius.value_or(kDefaultCornerRadius); }
    void setCustomCornerRadius(double radius);
    void resetCustomCornerRadius();

    // The painted box within the widget, in widget coordinates.
    QRectF boxRect() const;

    static constexpr double kDefaultCornerRadius = 5;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> m_customCornerRadius;
};
