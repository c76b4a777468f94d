#pragma once
// The overheat rule's threshold, shown with its unit and edited as a bare
// whole number. Text that holds no number is refused: the stored threshold
// comes back.
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "KLTextField.h"
#include "NSTableCellView.h"

namespace Ui {
class KLNotiThresholdCellView;
}

class KLNotiThresholdCellViewDelegate {
public:
    virtual ~KLNotiThresholdCellViewDelegate() = default;
    virtual void notiThresholdCellViewDidBeginEditing() = 0;
    virtual void notiThresholdCellViewDidEndEditing() = 0;
};

class KLNotiThresholdCellView : public NSTableCellView, public KLTextFieldDelegate {
    Q_OBJECT
public:
    explicit KLNotiThresholdCellView(QWidget* parent = nullptr);
    ~KLNotiThresholdCellView() override;

    const std::optional<KLNotification>& notification() const { return m_notification; }
    void setNotification(const KLNotification& notification);
    KLNotiThresholdCellViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLNotiThresholdCellViewDelegate* delegate) { m_delegate = delegate; }

    KLTextField* thresholdTextField() const;

    bool textFieldDidBecomeFirstResponder(KLTextField* textField) override;
    // The whole number a typed text starts with (after blanks, with an
    // optional sign), so "72 °C" gives 72; nothing when it starts with no digit.
    static std::optional<int> thresholdFromText(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateUI();
    void controlTextDidEndEditing();

    std::unique_ptr<Ui::KLNotiThresholdCellView> ui;
    std::optional<KLNotification> m_notification;
    KLNotiThresholdCellViewDelegate* m_delegate = nullptr;
    bool m_editing = false;
};
