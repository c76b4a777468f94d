#pragma once
// The overheat rule's on/off switch.
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "NSTableCellView.h"

class TSSwitch;
namespace Ui {
class KLNotiActiveCellView;
}

class KLNotiActiveCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLNotiActiveCellView(QWidget* parent = nullptr);
    ~KLNotiActiveCellView() override;

    const std::optional<KLNotification>& notification() const { return m_notification; }
    void setNotification(const KLNotification& notification);

    TSSwitch* switchControl() const;
    void switchControlValueChanged(TSSwitch* sender);

private:
    std::unique_ptr<Ui::KLNotiActiveCellView> ui;
    std::optional<KLNotification> m_notification;
};
