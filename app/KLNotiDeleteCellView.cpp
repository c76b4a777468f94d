#include "KLNotiDeleteCellView.h"

#include <QToolButton>

#include "KLDataManager.h"
#include "KLNotiRuleStore.h"
#include "NSString+KLExtension.h"
#include "ui_KLNotiDeleteCellView.h"

KLNotiDeleteCellView::KLNotiDeleteCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLNotiDeleteCellView>())
{
    ui->setupUi(this);
    connect(ui->deleteButton, &QToolButton::clicked, this, &KLNotiDeleteCellView::deleteButtonTapped);
}

KLNotiDeleteCellView::~KLNotiDeleteCellView() = default;

void KLNotiDeleteCellView::setNotification(const KLNotification& notification)
{
    m_notification = notification;
    ui->deleteButton->setToolTip(KLExtension::localizedStringForKey(QStringLiteral("notifications-screen-delete-button-tool-tip")));
}

void KLNotiDeleteCellView::deleteButtonTapped()
{
    if (!m_notification)
        return;
    QList<KLNotification> list = KLNotiRuleStore::rules();
    list.removeAll(*m_notification);
    KLDataManager::sharedInstance().setOverheatNotifications(list);
    if (m_delegate)
        m_delegate->notiDeleteCellViewShouldDeleteNotification(*m_notification);
}

QToolButton* KLNotiDeleteCellView::deleteButton() const { return ui->deleteButton; }
