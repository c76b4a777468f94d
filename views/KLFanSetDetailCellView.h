#pragma once
// The fan-speed editor row: the fan's name, a slider over its speed range and
// a field showing "rpm (percent)" that takes a typed speed.
#include <memory>

#include "KLTextField.h"
#include "NSTableCellView.h"

class KLFanSet;
class KLSensor;
class QLabel;
class QSlider;
namespace Ui {
class KLFanSetDetailCellView;
}

class KLFanSetDetailCellDelegate {
public:
    virtual ~KLFanSetDetailCellDelegate() = default;
    // A speed (rpm) the user chose for the fan, from the slider or typed in.
    virtual void fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider) = 0;
};

class KLFanSetDetailCellView : public NSTableCellView, public KLTextFieldDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 31;

    explicit KLFanSetDetailCellView(QWidget* parent = nullptr);
    ~KLFanSetDetailCellView() override;

    int forcedValue() const { return m_forcedValue; }
    KLFanSet* fanSet() const { return m_fanSet; }
    // Before setSensor, which reads the set's speed for the fan.
    void setFanSet(KLFanSet* fanSet) { m_fanSet = fanSet; }
    KLSensor* sensor() const { return m_sensor; }
    void setSensor(KLSensor* sensor);
    KLFanSetDetailCellDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLFanSetDetailCellDelegate* delegate) { m_delegate = delegate; }

    void updateUI();

    QLabel* nameTextField() const;
    QSlider* speedSlider() const;
    KLTextField* speedTextField() const;

    // Share of the fan's range, truncated toward zero, or the next whole share
    // when that is the one whose speed this is. A fan whose range has
    // no width is at 100 once the speed reaches its maximum, else at 0.
    static int percentage(int speed, double minValue, double maxValue);
    // The leading integer of the text as a number reader takes it: blanks, a
    // sign, digits; 0 when there is none.
    static long long integerValue(const QString& text);

    bool textFieldDidBecomeFirstResponder(KLTextField* textField) override;

private:
    void speedSliderValueChanged(int value);
    void speedSliderReleased();
    void controlTextDidEndEditing();
    void tellSpeed(int speed, bool viaSlider);

    std::unique_ptr<Ui::KLFanSetDetailCellView> ui;
    int m_forcedValue = 0;
    KLFanSet* m_fanSet = nullptr;
    KLSensor* m_sensor = nullptr;
    KLFanSetDetailCellDelegate* m_delegate = nullptr;
};
