#pragma once
// Whether the overheat rule's notice comes again while the sensor stays hot.
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "NSTableCellView.h"

class QCheckBox;
namespace Ui {
class KLNotiRepeatCellView;
}

class KLNotiRepeatCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLNotiRepeatCellView(QWidget* parent = nullptr);
    ~KLNotiRepeatCellView() override;

    const std::optional<KLNotification>& notification() const { return m_notification; }
    void setNotification(const KLNotification& notification);

    QCheckBox* checkButton() const;
    void checkButtonTapped(bool checked);

private:
    std::unique_ptr<Ui::KLNotiRepeatCellView> ui;
    std::optional<KLNotification> m_notification;
};
