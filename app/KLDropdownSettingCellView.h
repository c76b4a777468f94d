#pragma once
// The rows of the dropdown layout sheet: a title and a switch that shows and
// stores whether the popover shows that part. Row 0 is the main sensor, row 1
// the fan control, the others one category each.
#include <QVariantMap>
#include <memory>

#include "NSTableCellView.h"

namespace Ui {
class KLDropdownSettingCellView;
}
class QLabel;
class TSSwitch;

class KLDropdownSettingCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLDropdownSettingCellView(QWidget* parent = nullptr);
    ~KLDropdownSettingCellView() override;

    // The row's one-entry map {section name: shown}; setting it refreshes the cell.
    QVariantMap dropdownItem() const { return m_dropdownItem; }
    void setDropdownItem(const QVariantMap& item);
    // The section name of the entry.
    QString itemKey() const;

    TSSwitch* switchControl() const;
    QLabel* nameTextField() const;

    virtual void updateUI();
    void switchControlValueChanged();

protected:
    // Whether the part can be shown on this machine at all.
    virtual bool switchEnabled() const { return true; }
    virtual QString title() const = 0;
    // Where the new entry goes in the stored layout; -1: nowhere.
    virtual int storedIndex(const QVariantList& items) const = 0;
    // Category rows can be dragged: they show a grip.
    void setDraggable(bool draggable);

private:
    std::unique_ptr<Ui::KLDropdownSettingCellView> ui;
    QVariantMap m_dropdownItem;
};

class KLDropdownSettingMainSensorCellView : public KLDropdownSettingCellView {
    Q_OBJECT
public:
    explicit KLDropdownSettingMainSensorCellView(QWidget* parent = nullptr);

protected:
    QString title() const override;
    int storedIndex(const QVariantList&) const override { return 0; }
};

class KLDropdownSettingFanControlCellView : public KLDropdownSettingCellView {
    Q_OBJECT
public:
    explicit KLDropdownSettingFanControlCellView(QWidget* parent = nullptr);

protected:
    bool switchEnabled() const override;
    QString title() const override;
    int storedIndex(const QVariantList&) const override { return 1; }
};

class KLDropdownSettingCategoryCellView : public KLDropdownSettingCellView {
    Q_OBJECT
public:
    explicit KLDropdownSettingCategoryCellView(QWidget* parent = nullptr);

protected:
    bool switchEnabled() const override;
    QString title() const override;
    int storedIndex(const QVariantList& items) const override;
};
