#include "KLNotiRepeatCellView.h"

#include <QCheckBox>

#include "KLNotiRuleStore.h"
#include "NSColor+KLExtension.h"
#include "ui_KLNotiRepeatCellView.h"

KLNotiRepeatCellView::KLNotiRepeatCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLNotiRepeatCellView>())
{
    ui->setupUi(this);
    connect(ui->checkButton, &QCheckBox::clicked, this, &KLNotiRepeatCellView::checkButtonTapped);
}

KLNotiRepeatCellView::~KLNotiRepeatCellView() = default;

void KLNotiRepeatCellView::setNotification(const KLNotification& notification)
{
    m_notification = notification;
    ui->checkButton->setChecked(notification.repeat.value_or(false));
    KLExtension::setTableFieldColors(ui->checkButton);
}

void KLNotiRepeatCellView::checkButtonTapped(bool checked)
{
    if (!m_notification)
        return;
    m_notification->repeat = checked;
    KLNotiRuleStore::edit(*m_notification, [checked](KLNotification& stored) { stored.repeat = checked; });
}

QCheckBox* KLNotiRepeatCellView::checkButton() const { return ui->checkButton; }
