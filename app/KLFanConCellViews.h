#pragma once
// The five cells of an auto-boost condition row: the watched sensor, the
// threshold, the power state, the fan set to apply and a delete button. Each
// edits its condition in place; the sheet saves or throws away the edits.
#include <QList>
#include <memory>
#include <optional>

#include "KLTextField.h"
#include "NSTableCellView.h"

class KLFanCondition;
class KLFanSet;
class KLSensor;
class QComboBox;
class QToolButton;
namespace Ui {
class KLFanConSensorCellView;
class KLFanConThresholdCellView;
class KLFanConBatteryStateCellView;
class KLFanConFanSetCellView;
class KLFanConDeleteCellView;
}

class KLFanConSensorCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFanConSensorCellView(QWidget* parent = nullptr);
    ~KLFanConSensorCellView() override;

    KLFanCondition* fanCondition() const { return m_fanCondition; }
    void setFanCondition(KLFanCondition* condition);
    // The temperature sensors, read once when the cell is made.
    const QList<KLSensor*>& sensors() const { return m_sensors; }
    void updateUI();
    void prepareForReuse() override { m_fanCondition = nullptr; }
    QComboBox* namePopUpButton() const;

private:
    void namePopUpButtonTapped(int index);

    std::unique_ptr<Ui::KLFanConSensorCellView> ui;
    KLFanCondition* m_fanCondition = nullptr;
    QList<KLSensor*> m_sensors;
};

class KLFanConThresholdCellView : public NSTableCellView, public KLTextFieldDelegate {
    Q_OBJECT
public:
    explicit KLFanConThresholdCellView(QWidget* parent = nullptr);
    ~KLFanConThresholdCellView() override;

    KLFanCondition* fanCondition() const { return m_fanCondition; }
    void setFanCondition(KLFanCondition* condition);
    void updateUI();
    void prepareForReuse() override { m_fanCondition = nullptr; }
    KLTextField* thresholdTextField() const;

    bool textFieldDidBecomeFirstResponder(KLTextField* textField) override;
    // A typed threshold: a finite number, optionally followed by the unit shown.
    static std::optional<double> thresholdFromText(const QString& text);

private:
    void controlTextDidEndEditing();

    std::unique_ptr<Ui::KLFanConThresholdCellView> ui;
    KLFanCondition* m_fanCondition = nullptr;
};

class KLFanConBatteryStateCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFanConBatteryStateCellView(QWidget* parent = nullptr);
    ~KLFanConBatteryStateCellView() override;

    KLFanCondition* fanCondition() const { return m_fanCondition; }
    void setFanCondition(KLFanCondition* condition);
    void updateUI();
    void prepareForReuse() override { m_fanCondition = nullptr; }
    QComboBox* namePopUpButton() const;

private:
    void namePopUpButtonTapped(int index);

    std::unique_ptr<Ui::KLFanConBatteryStateCellView> ui;
    KLFanCondition* m_fanCondition = nullptr;
};

class KLFanConFanSetCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFanConFanSetCellView(QWidget* parent = nullptr);
    ~KLFanConFanSetCellView() override;

    KLFanCondition* fanCondition() const { return m_fanCondition; }
    // After setFanSets, which the items are made from.
    void setFanCondition(KLFanCondition* condition);
    const QList<KLFanSet*>& fanSets() const { return m_fanSets; }
    void setFanSets(const QList<KLFanSet*>& fanSets) { m_fanSets = fanSets; }
    void updateUI();
    void prepareForReuse() override;
    QComboBox* namePopUpButton() const;

private:
    void namePopUpButtonTapped(int index);

    std::unique_ptr<Ui::KLFanConFanSetCellView> ui;
    KLFanCondition* m_fanCondition = nullptr;
    QList<KLFanSet*> m_fanSets;
};

class KLFanConDeleteCellViewDelegate {
public:
    virtual ~KLFanConDeleteCellViewDelegate() = default;
    virtual void fanConDeleteCellViewShouldDeleteFanCondition(KLFanCondition* condition) = 0;
};

class KLFanConDeleteCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLFanConDeleteCellView(QWidget* parent = nullptr);
    ~KLFanConDeleteCellView() override;

    KLFanCondition* fanCondition() const { return m_fanCondition; }
    // Only kept: the button shows nothing of the condition.
    void setFanCondition(KLFanCondition* condition) { m_fanCondition = condition; }
    KLFanConDeleteCellViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLFanConDeleteCellViewDelegate* delegate) { m_delegate = delegate; }
    void prepareForReuse() override;
    QToolButton* deleteButton() const;

private:
    void deleteButtonTapped();

    std::unique_ptr<Ui::KLFanConDeleteCellView> ui;
    KLFanCondition* m_fanCondition = nullptr;
    KLFanConDeleteCellViewDelegate* m_delegate = nullptr;
};
