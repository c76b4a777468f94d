#pragma once
// The sensor an overheat rule watches: any temperature sensor, or one of them
// by name and key. A sensor that another rule already watches is refused.
#include <QList>
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "NSTableCellView.h"

class KLSensor;
class QComboBox;
namespace Ui {
class KLNotiSensorCellView;
}

inline constexpr const char* KLNotiAnySensorKey = "any-sensor";

class KLNotiSensorCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLNotiSensorCellView(QWidget* parent = nullptr);
    ~KLNotiSensorCellView() override;

    const std::optional<KLNotification>& notification() const { return m_notification; }
    void setNotification(const KLNotification& notification);
    // The temperature sensors offered, read once when the cell is made.
    const QList<KLSensor*>& sensors() const { return m_sensors; }

    QComboBox* namePopUpButton() const;
    void namePopUpButtonTapped(int index);

    static constexpr const char* kDuplicateAlertMessage = "This sensor is already in the notifications list";

private:
    void updateUI();
    void showDuplicateAlert();

    std::unique_ptr<Ui::KLNotiSensorCellView> ui;
    std::optional<KLNotification> m_notification;
    QList<KLSensor*> m_sensors;
};
