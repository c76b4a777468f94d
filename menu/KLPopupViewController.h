#pragma once
// The screen of Kelvara Menu's popover: the main-sensor tile, the fan control
// box, the sensors by category in the order of the dropdown layout, and the
// buttons to Kelvara and to quit. Its heights come from the screen's
// available area, so the popover always fits; the list then scrolls. A sensor
// row under the pointer opens the detail popover beside it.
#include <QPointer>
#include <QRect>
#include <QVariant>
#include <functional>
#include <memory>

#include "KLEventMonitor.h"
#include "KLFanSetDetailCellView.h"
#include "KLTrackingTableView.h"
#include "KLViewController.h"
#include "NSTableView.h"

class KLFanSet;
class KLPopupDetailViewController;
class KLSensor;
class NSPopover;
namespace Ui {
class KLPopupViewController;
}

class KLPopupViewController : public KLViewController,
                              public NSTableViewDataSource,
                              public NSTableViewDelegate,
                              public KLFanSetDetailCellDelegate,
                              public KLTrackingTableViewDelegate {
    Q_OBJECT
public:
    // A row of the sensor list: a category's header or one of its sensors.
    struct Row {
        bool header = false;
        QString title;              // the header's upper-cased category name
        KLSensor* sensor = nullptr; // a cell's sensor
    };

    explicit KLPopupViewController(QWidget* parent = nullptr);
    ~KLPopupViewController() override;

    const QList<Row>& dataDicts() const { return m_dataDicts; }
    KLSensor* selectedSensor() const { return m_selectedSensor; }
    KLSensor* selectedFan() const { return m_selectedFan; }
    const QList<KLSensor*>& fanSensors() const { return m_fanSensors; }
    KLFanSet* selectedFanSet() const;
    NSPopover* detailPopover() const { return m_detailPopover.get(); }
    KLPopupDetailViewController* detailViewController() const { return m_detailViewController; }
    KLEventMonitor& eventMonitor() { return m_eventMonitor; }
    Ui::KLPopupViewController& outlets() const { return *ui; }

    bool mainSensorEnabled();
    bool fanControlEnabled();
    double fanControlHeight();

    // The layout's figures, in points: gaps above the boxes (minus a box's
    // height while it is hidden), and the heights of the fan table and the list.
    int cpuTempViewTopConstraint() const { return m_cpuTempViewTopConstraint; }
    int fanControlBoxTopConstraint() const { return m_fanControlBoxTopConstraint; }
    int fanControlTableViewTopConstraint() const { return m_fanControlTableViewTopConstraint; }
    int fanControlTableViewHeightConstraint() const { return m_fanControlTableViewHeightConstraint; }
    int tableBoxTopConstraint() const { return m_tableBoxTopConstraint; }
    int tableBoxHeightConstraint() const { return m_tableBoxHeightConstraint; }

    // The list box's height for that many rows: 20 a row and 10 above and
    // below, up to what the screen's available height leaves beside the tile's
    // reserve and the fan box; never less than one row.
    static int tableBoxHeight(int rows, double screenHeight, double tileReserve, double fanControl);

    void reloadData();
    void updateUI();
    void updateContentUI();
    void updateFanControlUI();
    void kelvaraTempDidChangeNotification();

    // Fan control.
    void fanControlModeButtonTapped();
    void handleChangeFanControlMode(unsigned mode, KLFanSet* fanSet);
    void handleChangeFanSpeedViaButtonWithPercent(double percent);
    void handleChangeFanSpeedWithPercent(double percent);
    void fanManualUtilLinkButtonTapped();
    void editFanRulesButtonTapped();
    void fanControlTableViewSelected();
    void fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider) override;

    void openAppButtonTapped();
    void quitButtonTapped();
    // Hands a "kelvara://" link to Kelvara (started with it when it does not
    // run), then closes the popover.
    void handleFireDeepLink(const QString& url);

    // Hover.
    void trackingTableViewMouseMoved(const QPoint& globalPosition) override;
    void trackingTableViewMouseExited(const QPoint& globalPosition) override;
    void showDetailPopoverAtCellView(QWidget* cellView);
    void closeDetailPopover();
    void handleTableViewSelection();

    // Tables.
    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    NSTableRowView* rowViewForRow(NSTableView* tableView, int row) override;
    double heightOfRow(NSTableView* tableView, int row) override;
    bool shouldSelectRow(NSTableView* tableView, int row) override;

    // Whether the privileged tool is installed; tests answer it themselves.
    void setToolInstalledCheck(std::function<bool()> check) { m_toolInstalled = std::move(check); }

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;
    void configureUI() override;
    void localizeUI() override;
    void appearanceDidChange() override { configureUI(); }
    void keyUp(QKeyEvent* event) override;

private:
    // The popover's width when its texts leave room.
    static constexpr int kWidth = 320;
    void fitWidthToFanControlHeader();

    std::unique_ptr<Ui::KLPopupViewController> ui;
    QList<Row> m_dataDicts;
    KLSensor* m_selectedSensor = nullptr;
    QList<KLSensor*> m_fanSensors;
    KLSensor* m_selectedFan = nullptr;
    std::unique_ptr<NSPopover> m_detailPopover;
    QRect m_detailAnchor;  // the cell the shown detail points at
    QPointer<KLPopupDetailViewController> m_detailViewController;
    KLEventMonitor m_eventMonitor;
    std::function<bool()> m_toolInstalled;
    // The pop-up's fan-set names as last built, so a choice maps to the set it showed.
    QStringList m_fanSetNames;

    int m_cpuTempViewTopConstraint = 10;
    int m_fanControlBoxTopConstraint = 10;
    int m_fanControlTableViewTopConstraint = 10;
    int m_fanControlTableViewHeightConstraint = 62;
    int m_tableBoxTopConstraint = 10;
    int m_tableBoxHeightConstraint = 0;
};
