#pragma once
// The check box of one sensor in the file-logging outline: on while its key is
// in the stored list of logged sensors.
#include <memory>

#include "NSTableCellView.h"

class KLSensor;
class QCheckBox;
namespace Ui {
class KLFileLoggingSensorEnabledCellView;
}

class KLFileLoggingSensorEnabledCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFileLoggingSensorEnabledCellView(QWidget* parent = nullptr);
    ~KLFileLoggingSensorEnabledCellView() override;

    KLSensor* sensor() const { return m_sensor; }
    void setSensor(KLSensor* sensor);
    QCheckBox* checkButton() const;

    void updateUI();
    void checkButtonValueChanged();

protected:
    void changeEvent(QEvent* event) override;

private:
    void fitCheckBoxToAppearance();

    std::unique_ptr<Ui::KLFileLoggingSensorEnabledCellView> ui;
    KLSensor* m_sensor = nullptr;
};
