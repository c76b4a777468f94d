#pragma once
// The status tile of one sensor: its name, value and short status text in
// white over a background picture chosen by the status, and an info button
// with the status rule when there is one.
#include <QWidget>
#include <memory>

class KLSensor;
class QLabel;
class QSpacerItem;
class QToolButton;
namespace Ui {
class KLTempView;
}

// The tile's background: the named image at the view's size, drawn at the
// device's own resolution; a plain rounded fill while there is no such image.
class KLTempBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit KLTempBackgroundView(QWidget* parent = nullptr);
    QString imageName() const { return m_imageName; }
    void setImage(const QString& name, const QColor& fallback);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_imageName;
    QColor m_fallback;
    // The last rendering, kept while name, size, resolution and appearance hold.
    QPixmap m_cache;
    QString m_cacheKey;
};

class KLTempView : public QWidget {
    Q_OBJECT
public:
    explicit KLTempView(QWidget* parent = nullptr);
    ~KLTempView() override;

    KLSensor* sensor() const { return m_sensor; }
    // Called on every poll tick, with the same sensor or another.
    void setSensor(KLSensor* sensor);
    void updateUI();

    // "ico_normal", "ico_high", "ico_ok" or "ico_max".
    static QString backgroundImageNameForStatus(int status);
    QString backgroundImageName() const;
    // The room kept after the short status text: 34 with the info button, 15 without.
    int shortDescriptionFieldTrailingConstant() const;

    QLabel* cpuTempTitleField() const;
    QLabel* cpuTempValueField() const;
    QLabel* shortDescriptionField() const;
    QToolButton* infoButton() const;

public slots:
    void infoButtonTapped();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showTexts();

    std::unique_ptr<Ui::KLTempView> ui;
    KLSensor* m_sensor = nullptr;
    QString m_title;
    QString m_shortDescription;
};
