#pragma once
// A fan row showing the program-wide fan-control mode (the same on every fan).
#include <memory>

#include "KLTextField.h"
#include "NSTableCellView.h"

class KLSensor;
class QLabel;
namespace Ui {
class KLFanControlCellView;
}

class KLFanControlCellView : public NSTableCellView, public KLTextFieldDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 31;

    explicit KLFanControlCellView(QWidget* parent = nullptr);
    ~KLFanControlCellView() override;

    KLSensor* sensor() const { return m_sensor; }
    void setSensor(KLSensor* sensor);
    void updateUI();

    QLabel* nameTextField() const;
    QLabel* modeTextField() const;

private:
    std::unique_ptr<Ui::KLFanControlCellView> ui;
    KLSensor* m_sensor = nullptr;
};
