#pragma once
// Removes the overheat rule from the stored list.
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "NSTableCellView.h"

class QToolButton;
namespace Ui {
class KLNotiDeleteCellView;
}

class KLNotiDeleteCellViewDelegate {
public:
    virtual ~KLNotiDeleteCellViewDelegate() = default;
    // After the rule was removed from the stored list.
    virtual void notiDeleteCellViewShouldDeleteNotification(const KLNotification& /*notification*/) {}
};

class KLNotiDeleteCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLNotiDeleteCellView(QWidget* parent = nullptr);
    ~KLNotiDeleteCellView() override;

    const std::optional<KLNotification>& notification() const { return m_notification; }
    void setNotification(const KLNotification& notification);
    KLNotiDeleteCellViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLNotiDeleteCellViewDelegate* delegate) { m_delegate = delegate; }

    QToolButton* deleteButton() const;
    void deleteButtonTapped();

private:
    std::unique_ptr<Ui::KLNotiDeleteCellView> ui;
    std::optional<KLNotification> m_notification;
    KLNotiDeleteCellViewDelegate* m_delegate = nullptr;
};
