#pragma once
// The fan rules sheet: the fan sets with their speeds per fan, and the
// auto-boost conditions that pick a set by temperature and power state. All
// edits happen in a child context of the store made afresh for each opening:
// Cancel drops it, Save writes it through to the store before anyone is told.
#include <QList>
#include <memory>

#include "KLFanConCellViews.h"
#include "KLFanSetCellView.h"
#include "KLFanSetDetailCellView.h"
#include "KLFanControlSheet.h"
#include "KLViewController.h"
#include "NSTableView.h"

class KLFanCondition;
class KLFanControlViewController;
class KLFanSet;
class KLSensor;
class NSManagedObjectContext;
namespace Ui {
class KLFanControlViewController;
}

class KLFanControlViewController : public KLViewController,
                                   public NSTableViewDataSource,
                                   public NSTableViewDelegate,
                                   public KLFanSetDetailCellDelegate,
                                   public KLFanSetCellDelegate,
                                   public KLFanConDeleteCellViewDelegate,
                                   public KLFanControlSheet {
    Q_OBJECT
public:
    explicit KLFanControlViewController(QWidget* parent = nullptr);
    ~KLFanControlViewController() override;

    // The mode the presenter applies after a save; Save reads it for its check.
    unsigned preferredMode() const override { return m_preferredMode; }
    void setPreferredMode(unsigned mode) override;
    KLFanControlViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KLFanControlViewDelegate* delegate) { m_delegate = delegate; }
    void setFanControlDelegate(KLFanControlViewDelegate* delegate) override { m_delegate = delegate; }

    NSManagedObjectContext* context() const { return m_context.get(); }
    const QList<KLFanSet*>& fanSets() const { return m_fanSets; }
    const QList<KLFanCondition*>& fanConditions() const { return m_fanConditions; }
    const QList<KLSensor*>& fanSensors() const { return m_fanSensors; }
    KLFanSet* selectedFanSet() const { return m_selectedFanSet; }
    KLSensor* selectedFan() const { return m_selectedFan; }

    void reloadData();
    void updateUI();

    // Actions.
    void addFanSetButtonTapped();
    void fanSetTableViewSelected();
    void fanControlTableViewSelected();
    void fanManualUtil25ButtonTapped() { handleChangeFanSpeedViaButtonWithPercent(0.25); }
    void fanManualUtil50ButtonTapped() { handleChangeFanSpeedViaButtonWithPercent(0.5); }
    void fanManualUtil75ButtonTapped() { handleChangeFanSpeedViaButtonWithPercent(0.75); }
    void fanManualUtil100ButtonTapped() { handleChangeFanSpeedViaButtonWithPercent(1.0); }
    void fanManualUtilLinkButtonTapped();
    void autoBoostNotiSwitchValueChanged();
    void addFanConditionButtonTapped();
    void cancelButtonTapped();
    void saveButtonTapped();
    // Escape: Cancel.
    void cancelOperation() override { cancelButtonTapped(); }

    void handleChangeFanSpeedWithPercent(double percent);
    void handleChangeFanSpeedViaButtonWithPercent(double percent);

    // Rows.
    void fanSetCellViewShouldChangeName(const QString& name, KLFanSet* fanSet) override;
    void fanSetCellViewShouldRemoveFanSet(KLFanSet* fanSet) override;
    void fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider) override;
    void fanConDeleteCellViewShouldDeleteFanCondition(KLFanCondition* condition) override;

    // Tables.
    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    NSTableRowView* rowViewForRow(NSTableView* tableView, int row) override;

    // The first of "Untitled Set", "Untitled Set 1", "Untitled Set 2", ... that no name in the list equals.
    static QString untitledFanSetName(const QStringList& takenNames);

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void keyUp(QKeyEvent* event) override;
    void configureUI() override;
    void localizeUI() override;

private:
    void makeFreshContext();
    bool writeThroughToStore();
    bool isAppliedFanSet(KLFanSet* fanSet);
    void showAlertLater(const QString& messageKey);
    template <class T>
    T* makeCell(NSTableView* tableView, const QString& identifier);

    std::unique_ptr<Ui::KLFanControlViewController> ui;
    unsigned m_preferredMode = 0;
    KLFanControlViewDelegate* m_delegate = nullptr;
    std::shared_ptr<NSManagedObjectContext> m_context;
    // The context of the last opening, kept until the rows have been refilled
    // so no row is left holding one of its objects.
    std::shared_ptr<NSManagedObjectContext> m_retiredContext;
    QList<KLFanSet*> m_fanSets;
    QList<KLFanCondition*> m_fanConditions;
    QList<KLSensor*> m_fanSensors;
    KLFanSet* m_selectedFanSet = nullptr;
    KLSensor* m_selectedFan = nullptr;
    bool m_updating = false;
    // A name typed in a row was refused (taken or blank) and its alert has not been seen yet.
    bool m_refusedNameUnseen = false;
};
