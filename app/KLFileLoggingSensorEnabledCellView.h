#pragma once
// The check box of one sensor in the file-logging outline: on while its key is
// in the stored list of logged sensors.
#include <memory>

#include "KLFileLoggingEnabledCellView.h"

class KLSensor;
namespace Ui {
class KLFileLoggingSensorEnabledCellView;
}

class KLFileLoggingSensorEnabledCellView : public KLFileLoggingEnabledCellView {
    Q_OBJECT
public:
    explicit KLFileLoggingSensorEnabledCellView(QWidget* parent = nullptr);
    ~KLFileLoggingSensorEnabledCellView() override;

    KLSensor* sensor() const { return m_sensor; }
    void setSensor(KLSensor* sensor);

protected:
    std::optional<QStringList> sensorKeys() const override;
    bool isLogged(const QStringList& logged) const override;

private:
    std::unique_ptr<Ui::KLFileLoggingSensorEnabledCellView> ui;
    KLSensor* m_sensor = nullptr;
};
