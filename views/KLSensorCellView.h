#pragma once
// The sensor row of both windowed programs: group icon, name, a level bar with
// the warning and critical marks, and the value with its unit.
#include <QIcon>
#include <memory>

#include "NSTableCellView.h"

class KLLevelIndicator;
class KLSensor;
class QLabel;
namespace Ui {
class KLSensorCellView;
}

class KLSensorCellView : public NSTableCellView {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 34;
    // Names up to this many characters show whole in a row of wholeNameWidth().
    static constexpr int kWholeNameLength = 20;

    explicit KLSensorCellView(QWidget* parent = nullptr);
    ~KLSensorCellView() override;

    // Sets the bar's colours. Runs from the constructor; a subclass that
    // overrides it runs its own from its constructor, calling this one first.
    virtual void awakeFromNib();
    // No marks until the row is filled again.
    void prepareForReuse() override;

    KLSensor* sensor() const { return m_sensor; }
    // The least row width that shows a name of kWholeNameLength characters
    // whole beside the icon, the bar and the value.
    int wholeNameWidth() const;
    // The least row width that shows this name whole.
    int widthForName(const QString& name) const;
    virtual void setSensor(KLSensor* sensor);
    virtual void updateUI();
    virtual void updateIndicator();

    QLabel* titleField() const;
    QLabel* valueField() const;
    KLLevelIndicator* indicator() const;
    QLabel* iconImageView() const;
    // The icon shown; null for a group without one or while its image is missing.
    QIcon icon() const { return m_icon; }

    // "ico_cpu" ... "ico_fan2" for groups 1 to 11, empty for any other group.
    static QString iconNameForGroup(int group);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showTitle();

    std::unique_ptr<Ui::KLSensorCellView> ui;
    KLSensor* m_sensor = nullptr;
    QString m_iconName;
    QIcon m_icon;
    // The appearance m_icon was chosen for.
    bool m_iconDark = false;
    QString m_title;
};
