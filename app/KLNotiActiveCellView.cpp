#include "KLNotiActiveCellView.h"

#include "KLNotiRuleStore.h"
#include "TSSwitch.h"
#include "ui_KLNotiActiveCellView.h"

KLNotiActiveCellView::KLNotiActiveCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLNotiActiveCellView>())
{
    ui->setupUi(this);
    ui->switchControl->setFixedSize(TSSwitch::sizeForTrack({36, 20}));
    connect(ui->switchControl, &TSSwitch::action, this, &KLNotiActiveCellView::switchControlValueChanged);
}

KLNotiActiveCellView::~KLNotiActiveCellView() = default;

void KLNotiActiveCellView::setNotification(const KLNotification& notification)
{
    m_notification = notification;
    ui->switchControl->setChecked(notification.active.value_or(false));
}

void KLNotiActiveCellView::switchControlValueChanged(TSSwitch* sender)
{
    if (!m_notification)
        return;
    const bool active = sender->isChecked();
    m_notification->active = active;
    KLNotiRuleStore::edit(*m_notification, [active](KLNotification& stored) { stored.active = active; });
}

TSSwitch* KLNotiActiveCellView::switchControl() const { return ui->switchControl; }
