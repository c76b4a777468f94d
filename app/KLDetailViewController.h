#pragma once
// The pane of a sensor category: its sensors, the selected sensor's status
// tile, history graph, description and menu-bar switch with the strip of
// sensors shown in the menu-bar title, and, on the fan category, the fan
// control box (mode, fan speeds, the fan-rules sheet). Redrawn from the store
// on every poll notice of Kelvara Helper and on every settings notice.
#include <QFont>
#include <QPointer>
#include <memory>

#include "KLFanControlSheet.h"
#include "KLFanSetDetailCellView.h"
#include "KLViewController.h"
#include "NSTableView.h"
#include "RZLineGraphViewDelegate.h"

class KLCategory;
class KLFanSet;
class KLMenuCollectionViewItem;
class KLSensor;
class KLFlowLayout;
namespace Ui {
class KLDetailViewController;
}

class KLDetailViewController : public KLViewController,
                               public NSTableViewDataSource,
                               public NSTableViewDelegate,
                               public RZLineGraphViewDelegate,
                               public KLFanControlViewDelegate,
                               public KLFanSetDetailCellDelegate {
    Q_OBJECT
public:
    explicit KLDetailViewController(QWidget* parent = nullptr);
    ~KLDetailViewController() override;

    KLCategory* category() const { return m_category; }
    Q_INVOKABLE void setCategory(KLCategory* category);
    const QList<KLSensor*>& sensors() const { return m_sensors; }
    KLSensor* selectedSensor() const { return m_selectedSensor; }
    KLSensor* selectedFan() const { return m_selectedFan; }
    // Looked up anew at each call: the set the stored fan-set name selects.
    KLFanSet* selectedFanSet() const;
    NSViewController* fanControlViewController() const { return m_fanControlViewController.get(); }

    void reloadData();
    void updateUI();
    void updateContentUI();
    void updateSelectedSensorUI();
    void updateGraphUI();
    void updateFanControlUI();
    // The chips of the sensors shown in the menu-bar title, in their order.
    QList<KLMenuCollectionViewItem*> menuBarItems() const;
    // Where the fan box sits below the box above it (15), or minus its height while hidden.
    int fanControlBoxTopConstraint() const { return m_fanControlBoxTopConstraint; }
    int fanControlTableViewTopConstraint() const { return m_fanControlTableViewTopConstraint; }

    // A "kelvara://" link's path; "/fan_rule/<mode>" opens the fan-rules sheet.
    Q_INVOKABLE void handleDeepLink(const QString& path);
    void showFanControlViewControllerWithPreferredMode(unsigned mode);

    // Actions.
    void menuBarSwitchValueChanged();
    void graphSegmentedControlValueChanged();
    void tableViewSelected();
    void fanControlModeButtonTapped();
    void handleChangeFanControlMode(unsigned mode, KLFanSet* fanSet);
    void editFanRulesButtonTapped();
    void handleChangeFanSpeedViaButtonWithPercent(double percent);
    void handleChangeFanSpeedWithPercent(double percent);
    void fanManualUtilLinkButtonTapped();
    void fanControlTableViewSelected();

    // Notices.
    void kelvaraTempDidChangeNotification();
    void dataManagerSettingsDidChangeNotification();
    void fanControllerShouldUpdateNotification();

    // Table data source and delegate, for both tables.
    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    NSTableRowView* rowViewForRow(NSTableView* tableView, int row) override;
    double heightOfRow(NSTableView* tableView, int row) override;

    using RZLineGraphViewDelegate::lineGraphView;
    std::optional<QString> lineGraphView(RZLineGraphView* graphView, double value, int index) override;
    void fanControlViewControllerDidSaveData(KLFanControlSheet* sheet) override;
    void fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void configureUI() override;
    void localizeUI() override;
    void appearanceDidChange() override { configureUI(); }
    void keyUp(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reloadMenuBarItems();
    void reloadSensorTable();
    void applyChosenMode(bool granted);
    bool isFanControlSheetShown() const;
    void setFanControlBoxShown(bool shown);
    void updateColumnWidths();
    void updateWholeNamesWidth();
    void updateLeftColumnWidth();
    void updateColumnShares();
    void updateRightColumnHeight();
    KLFanControlSheet* fanControlSheet() const;
    void presentFanControlSheet(unsigned preferredMode);

    std::unique_ptr<Ui::KLDetailViewController> ui;
    KLCategory* m_category = nullptr;
    QList<KLSensor*> m_sensors;
    KLSensor* m_selectedSensor = nullptr;
    KLSensor* m_selectedFan = nullptr;
    std::unique_ptr<NSViewController> m_fanControlViewController;
    KLFlowLayout* m_menuBarLayout = nullptr;
    QList<KLMenuCollectionViewItem*> m_menuBarItems;
    int m_fanControlBoxTopConstraint = 15;
    int m_fanControlTableViewTopConstraint = 12;
    int m_shownGraphTimeRange = -1;
    // The left column's least width for the sensor table, what the table
    // takes beside a row's name in the row's font, and the width that shows
    // every sensor name of the catalogue whole.
    int m_tableLeastWidth = 0;
    int m_tableWidthBesideNames = 0;
    QFont m_nameFont;
    int m_wholeNamesWidth = 0;
    // The pop-up's fan-set names as last built, so a choice maps to the set it showed.
    QStringList m_fanSetNames;
    // The latest mode choice waiting for the privilege, with the names shown then.
    int m_chosenModeIndex = 0;
    QStringList m_chosenModeFanSetNames;
    bool m_modeChoicePending = false;
    bool m_fanControlSheetRequested = false;
};
