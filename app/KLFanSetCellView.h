#pragma once
// A row of the fan-set list: the set's name, editable in place, and a button
// that removes the set.
#include <memory>

#include "NSTableCellView.h"

class KLFanSet;
class QLineEdit;
class QToolButton;
namespace Ui {
class KLFanSetCellView;
}

class KLFanSetCellDelegate {
public:
    virtual ~KLFanSetCellDelegate() = default;
    // The whole text of the name field when its editing ended, changed or not.
    virtual void fanSetCellViewShouldChangeName(const QString& name, KLFanSet* fanSet) = 0;
    virtual void fanSetCellViewShouldRemoveFanSet(KLFanSet* fanSet) = 0;
};

class KLFanSetCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFanSetCellView(QWidget* parent = nullptr);
    ~KLFanSetCellView() override;

    KLFanSet* fanSet() const { return m_fanSet; }
    void setFanSet(KLFanSet* fanSet);
    KLFanSetCellDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLFanSetCellDelegate* delegate) { m_delegate = delegate; }

    void updateUI();
    void prepareForReuse() override;

    QLineEdit* nameTextField() const;
    QToolButton* removeButton() const;

private:
    void controlTextDidEndEditing();
    void removeButtonTapped();

    std::unique_ptr<Ui::KLFanSetCellView> ui;
    KLFanSet* m_fanSet = nullptr;
    KLFanSetCellDelegate* m_delegate = nullptr;
};
