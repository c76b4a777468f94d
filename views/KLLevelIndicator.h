#pragma once
// A continuous level bar: the value's share of [minValue, maxValue] filled in
// the normal, warning or critical colour, with small marks at the warning and
// critical values. Higher is worse when warning <= critical, lower is worse
// when warning > critical.
#include <QColor>
#include <QRectF>
#include <QWidget>
#include <vector>

enum class KLLevel { Normal, Warning, Critical };

// The bar's shape for a size, in the system's coordinates (origin bottom-left,
// y up), computable without painting.
struct KLLevelIndicatorGeometry {
    QRectF track;
    QRectF fill;                // empty when nothing is filled
    std::vector<double> marks;  // x of each mark on the track, warning first
    KLLevel level = KLLevel::Normal;

    // Share of the range filled, 0 to 1. A value that is not a number fills
    // nothing; one outside the range is held at its ends. A range with no
    // width (min >= max) is full once the value reaches max, else empty.
    static double fraction(double value, double min, double max);
    // Share of the range where a mark sits; negative when it is not drawn
    // (no finite value in range, or a range with no width).
    static double markFraction(double mark, double min, double max);
    static KLLevel levelOf(double value, double warning, double critical);
    // Track height, and how far the marks stand out above and below it.
    static constexpr double kTrackHeight = 6;
    static constexpr double kMarkOverhang = 3;

    static KLLevelIndicatorGeometry make(const QSizeF& size, double devicePixelRatio, double min, double max,
                                         double value, double warning, double critical);
};

class KLLevelIndicator : public QWidget {
    Q_OBJECT
public:
    explicit KLLevelIndicator(QWidget* parent = nullptr);

    double minValue() const { return m_min; }
    void setMinValue(double value);
    double maxValue() const { return m_max; }
    void setMaxValue(double value);
    double warningValue() const { return m_warning; }
    void setWarningValue(double value);
    double criticalValue() const { return m_critical; }
    void setCriticalValue(double value);
    double doubleValue() const { return m_value; }
    void setDoubleValue(double value);

    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& color);
    QColor warningFillColor() const { return m_warningFill; }
    void setWarningFillColor(const QColor& color);
    QColor criticalFillColor() const { return m_criticalFill; }
    void setCriticalFillColor(const QColor& color);

    KLLevelIndicatorGeometry levelGeometry() const;
    QColor currentFillColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();

    double m_min = 0;
    double m_max = 1;
    double m_warning = 0;
    double m_critical = 0;
    double m_value = 0;
    QColor m_fill;
    QColor m_warningFill;
    QColor m_criticalFill;
};
