#include "KLPopupViewController.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>

#include "Dispatch.h"
#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLCompactTile.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanControlCellView.h"
#include "KLFanControlBox.h"
#include "KLFanControlCells.h"
#include "KLFanControlLogic.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLMenuBarController.h"
#include "KLMenuStoryboard.h"
#include "KLPopupDetailViewController.h"
#include "KLPopupHeaderCellView.h"
#include "KLPopupSensorCellView.h"
#include "KLSensor.h"
#include "KLShadowBox.h"
#include "KLSystemFiles.h"
#include "KLTableRowView.h"
#include "KLTempView.h"
#include "KLUtils.h"
#include "NSAppearance.h"
#include "NSApplication.h"
#include "NSDistributedNotificationCenter.h"
#include "NSImage.h"
#include "NSNotificationCenter.h"
#include "NSPopover.h"
#include "NSRunningApplication.h"
#include "NSScreen.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "NSWorkspace.h"
#include "SMCServices.h"
#include "ui_KLPopupViewController.h"

namespace {

const QString kKelvara = QStringLiteral("com.orvane.kelvara");
const QString kTableRow = QStringLiteral("tableRow");
constexpr int kListRowHeight = 20;

QString localized(const char* key)
{
    return KLExtension::localizedStringForKey(QString::fromLatin1(key));
}

// Without the kernel's SMC driver the readings come from the simulated Mac.
bool readingsAreSimulated()
{
    return !KLSystemFiles::exists(QString::fromLatin1(smc::kApplesmcDevicePath));
}

// The dropdown layout's entry at index: its one section name and whether it is shown.
std::pair<QString, bool> dropdownEntry(const QVariantList& items, qsizetype index)
{
    const QVariantMap entry = items.value(index).toMap();
    if (entry.isEmpty())
        return {QString(), false};
    return {entry.firstKey(), entry.first().toBool()};
}

// Where the detail popover points: the row's cell, in global coordinates.
QRect anchorOf(const QWidget* cellView)
{
    return cellView ? QRect(cellView->mapToGlobal(QPoint(0, 0)), cellView->size()) : QRect();
}

}  // namespace

KLPopupViewController::KLPopupViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLPopupViewController>())
    , m_toolInstalled([] { return KLFanController::sharedInstance().isSMCBinaryInstalled(); })
{
    ui->setupUi(this);
    for (NSTableView* table : {static_cast<NSTableView*>(ui->tableView), ui->fanControlTableView}) {
        table->setStoryboard(&KLMenuStoryboard::storyboard());
        table->setDataSource(this);
        table->setDelegate(this);
    }
    ui->tableView->setRowHeight(kListRowHeight);
    ui->fanControlTableView->setRowHeight(KLFanControlCellView::kRowHeight);
    KLCompactTile::apply(ui->cpuTempView);

    KLFanControlBox::connectActions(this, ui.get());
    connect(ui->settingsButton, &QPushButton::clicked, this, [this] { openAppButtonTapped(); });
    connect(ui->quitButton, &QPushButton::clicked, this, [this] { quitButtonTapped(); });
}

KLPopupViewController::~KLPopupViewController()
{
    ui->tableView->setTrackingDelegate(nullptr);
    m_eventMonitor.stop();
}

// Derived values

bool KLPopupViewController::mainSensorEnabled()
{
    return dropdownEntry(KLDataManager::sharedInstance().dropdownItems(), 0).second;
}

bool KLPopupViewController::fanControlEnabled()
{
    const QVariantList items = KLDataManager::sharedInstance().dropdownItems();
    if (items.size() < 2)
        return false;
    return dropdownEntry(items, 1).second && !KLSensor::fanSensors().value_or(QList<KLSensor*>{}).isEmpty();
}

double KLPopupViewController::fanControlHeight()
{
    double height = KLDataManager::sharedInstance().fanControlMode() == KLFanControlModeFanSet ? 190 : 144;
    if (KLSensor::fanSensors().value_or(QList<KLSensor*>{}).size() == 1)
        height -= 31;
    return height;
}

KLFanSet* KLPopupViewController::selectedFanSet() const
{
    return KLFanControlLogic::selectedFanSet();
}

// Life cycle

void KLPopupViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    m_dataDicts.clear();
    m_fanSensors = KLSensor::fanSensors().value_or(QList<KLSensor*>{});
    m_selectedFan = m_fanSensors.isEmpty() ? nullptr : m_fanSensors.first();
    NSStoryboard* board = storyboard();
    if (!board || !board->hasController(QStringLiteral("detailPopoverViewController")))
        board = &KLMenuStoryboard::storyboard();
    m_detailViewController = dynamic_cast<KLPopupDetailViewController*>(
        board->instantiateControllerWithIdentifier(QStringLiteral("detailPopoverViewController")));
    m_detailPopover = std::make_unique<NSPopover>();
    m_detailPopover->setAnimates(false);
    m_detailPopover->setContentViewController(m_detailViewController);
    m_eventMonitor.setMask(NSEventMaskLeftMouseDown | NSEventMaskRightMouseDown);
    m_eventMonitor.setHandler([this](const NSEvent&) {
        if (m_detailPopover && m_detailPopover->isShown())
            closeDetailPopover();
    });
}

void KLPopupViewController::configureUI()
{
    ui->tableView->setTrackingDelegate(this);
    QFont section = ui->fanControlSectionField->font();
    section.setPixelSize(13);
    section.setWeight(QFont::DemiBold);
    ui->fanControlSectionField->setFont(section);
    QFont note = ui->simulatedField->font();
    note.setPixelSize(11);
    ui->simulatedField->setFont(note);
    QPalette palette = ui->simulatedField->palette();
    palette.setColor(QPalette::WindowText, KLUtils::isDarkMode() ? QColor(160, 160, 164) : QColor(110, 110, 115));
    ui->simulatedField->setPalette(palette);
    // The list draws on its box; no second background behind the rows.
    for (NSTableView* table : {static_cast<NSTableView*>(ui->tableView), ui->fanControlTableView}) {
        table->viewport()->setAutoFillBackground(false);
        table->setAutoFillBackground(false);
    }
}

void KLPopupViewController::localizeUI()
{
    ui->fanManualUtilLinkButton->setToolTip(QStringLiteral("Link button"));
    ui->quitButton->setText(localized("dropdown-screen-quit-button"));
    ui->fanControlSectionField->setText(localized("detail-screen-fan-control-section-field"));
    ui->fanControlEditButton->setText(localized("detail-screen-fan-control-edit-button"));
    ui->simulatedField->setText(localized("dropdown-screen-simulated-readings"));
}

void KLPopupViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    // Behind the data manager's refresh of the store context at each tick.
    NSNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLDataManagerReadingsDidRefreshNotification), [this](const NSNotification&) {
            if (isVisible())
                kelvaraTempDidChangeNotification();
        });
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, NSAppearance::themeChangedNotification(), [this](const NSNotification&) { configureUI(); });
    reloadData();
}

void KLPopupViewController::viewWillDisappear()
{
    KLViewController::viewWillDisappear();
    // The detail belongs to a row of this screen; it never outlives it on screen.
    closeDetailPopover();
}

// Content

void KLPopupViewController::reloadData()
{
    m_dataDicts.clear();
    const QVariantList items = KLDataManager::sharedInstance().dropdownItems();
    for (qsizetype index = 2; index < items.size(); ++index) {
        const auto [name, shown] = dropdownEntry(items, index);
        if (!shown)
            continue;
        KLCategory* category = KLCategory::getCategoryWithName(name);
        if (!category)
            continue;
        const QList<KLSensor*> sensors = category->sensors();
        if (sensors.isEmpty())
            continue;
        const QString title = category->localizedName();
        m_dataDicts.append(Row{true, title.isEmpty() ? QStringLiteral("--") : title.toUpper(), nullptr});
        for (KLSensor* sensor : sensors)
            m_dataDicts.append(Row{false, QString(), sensor});
    }
    updateUI();
}

void KLPopupViewController::updateUI()
{
    updateContentUI();
    updateFanControlUI();
    const bool fanControl = fanControlEnabled();
    ui->fanControlBox->setVisible(fanControl);
    m_fanControlBoxTopConstraint = fanControl ? 10 : -int(fanControlHeight());
    ui->fanControlBox->setFixedHeight(int(fanControlHeight()));
    fitWidthToFanControlHeader();
    ui->settingsButton->setText(QStringLiteral("Kelvara"));
    ui->simulatedField->setVisible(readingsAreSimulated());
}

void KLPopupViewController::fitWidthToFanControlHeader()
{
    // The section title and the mode pop-up share one line: a longer
    // translation widens the popover rather than cut either. The line's
    // layout still measures the texts it last laid out (a language changed
    // while the popover was closed): measured anew.
    ui->fanControlHeaderLayout->invalidate();
    const QMargins root = layout()->contentsMargins();
    const QMargins box = ui->fanControlBoxLayout->contentsMargins();
    const int header = ui->fanControlHeaderLayout->minimumSize().width() + root.left() + root.right() + box.left()
                       + box.right();
    setFixedWidth(std::max(kWidth, header));
}

void KLPopupViewController::updateContentUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    ui->cpuTempView->setSensor(settings.mainSensor());
    double reserved = 82;
    if (mainSensorEnabled()) {
        ui->cpuTempView->show();
        m_cpuTempViewTopConstraint = 10;
    } else {
        ui->cpuTempView->hide();
        m_cpuTempViewTopConstraint = -ui->cpuTempView->height();
        reserved = -10;
    }

    ui->tableView->reloadData();
    handleTableViewSelection();

    if (!m_dataDicts.isEmpty()) {
        ui->tableBox->show();
        m_tableBoxTopConstraint = 10;
        const double fanControl = fanControlEnabled() ? fanControlHeight() : -10;
        m_tableBoxHeightConstraint =
            tableBoxHeight(int(m_dataDicts.size()), NSScreen::mainScreenVisibleHeight(), reserved, fanControl);
        ui->tableBox->setFixedHeight(m_tableBoxHeightConstraint);
    } else {
        ui->tableBox->hide();
        m_tableBoxTopConstraint = -ui->tableBox->height();
    }
}

int KLPopupViewController::tableBoxHeight(int rows, double screenHeight, double tileReserve, double fanControl)
{
    const double wanted = double(rows) * kListRowHeight + 20;
    const double room = screenHeight - 50 - tileReserve - fanControl - 32 - 21;
    // However small the screen, one row stays in view; the list scrolls to the others.
    return int(std::max(std::min(wanted, room), double(kListRowHeight + 20)));
}

void KLPopupViewController::updateFanControlUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const unsigned mode = settings.fanControlMode();
    const bool fanSetMode = mode == KLFanControlModeFanSet;
    ui->fanManualUtilBox->setVisible(fanSetMode);
    m_fanControlTableViewTopConstraint = fanSetMode ? 56 : 10;

    KLFanControlCells::showLink(ui->fanManualUtilLinkButton, settings.manualLinkEnabled());

    m_fanControlTableViewHeightConstraint = m_fanSensors.size() == 1 ? 31 : 62;
    ui->fanControlTableView->setFixedHeight(m_fanControlTableViewHeightConstraint);
    ui->fanControlTableView->reloadData();
    KLFanControlCells::selectFan(ui->fanControlTableView, m_fanSensors, m_selectedFan);

    m_fanSetNames = KLFanControlCells::fillModeButton(ui->fanControlModeButton, mode, settings.fanSetName());
}

void KLPopupViewController::kelvaraTempDidChangeNotification()
{
    updateContentUI();
    if (m_detailViewController)
        m_detailViewController->setSensor(m_selectedSensor);
}

// Fan control

void KLPopupViewController::fanControlModeButtonTapped()
{
    const int index = ui->fanControlModeButton->currentIndex();
    const KLFanControlLogic::PopUpChoice choice = KLFanControlLogic::choiceForPopUpIndex(index, int(m_fanSetNames.size()));
    // Installing the tool asks for an administrator: Kelvara does that, not the popover.
    if (!m_toolInstalled || !m_toolInstalled()) {
        // The pop-up reports a choice of the item already in force too: that asks nobody.
        KLDataManager& settings = KLDataManager::sharedInstance();
        if (choice.mode == settings.fanControlMode() &&
            (choice.mode != KLFanControlModeFanSet ||
             (choice.fanSetIndex >= 0 && m_fanSetNames[choice.fanSetIndex] == settings.fanSetName())))
            return;
        updateFanControlUI();
        handleFireDeepLink(QStringLiteral("kelvara://request_privilege_permission"));
        return;
    }
    QString value;
    if (choice.mode == KLFanControlModeSystem) {
        handleChangeFanControlMode(KLFanControlModeSystem, nullptr);
        value = QStringLiteral("System");
    } else if (choice.mode == KLFanControlModeAutoBoost) {
        value = QStringLiteral("Auto Boost");
        if (!KLFanCondition::allObjects().isEmpty()) {
            handleChangeFanControlMode(KLFanControlModeAutoBoost, nullptr);
        } else {
            updateFanControlUI();
            handleFireDeepLink(QStringLiteral("kelvara://fan_rule/%1").arg(int(KLFanControlModeAutoBoost)));
        }
    } else {
        // By the name the item showed: a set deleted since is not replaced by its neighbour.
        KLFanSet* set = choice.fanSetIndex >= 0 ? KLFanControlLogic::fanSetNamed(m_fanSetNames[choice.fanSetIndex]) : nullptr;
        handleChangeFanControlMode(KLFanControlModeFanSet, set);
        value = QStringLiteral("Manual");
    }
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlChangeMode), {{QStringLiteral("value"), value}});
}

void KLPopupViewController::handleChangeFanControlMode(unsigned mode, KLFanSet* fanSet)
{
    KLFanControlLogic::storeFanControlMode(mode, fanSet);
    updateUI();
}

void KLPopupViewController::handleChangeFanSpeedViaButtonWithPercent(double percent)
{
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, QStringLiteral("button"));
}

void KLPopupViewController::handleChangeFanSpeedWithPercent(double percent)
{
    KLFanControlLogic::applySpeedFraction(m_fanSensors, m_selectedFan, percent);
    updateUI();
}

void KLPopupViewController::fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider)
{
    if (!sensor)
        return;
    m_selectedFan = sensor;
    const double percent = KLFanControlLogic::fractionForSpeed(speed, sensor->minValue(), sensor->maxValue());
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, viaSlider ? QStringLiteral("slider") : QStringLiteral("textfield"));
}

void KLPopupViewController::fanManualUtilLinkButtonTapped()
{
    KLFanControlLogic::storeManualLink(ui->fanManualUtilLinkButton->isChecked());
    updateFanControlUI();
}

void KLPopupViewController::editFanRulesButtonTapped()
{
    handleFireDeepLink(QStringLiteral("kelvara://fan_rule/%1").arg(KLDataManager::sharedInstance().fanControlMode()));
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlTapEditFanRules));
}

void KLPopupViewController::fanControlTableViewSelected()
{
    m_selectedFan = KLFanControlCells::selectedFan(ui->fanControlTableView, m_fanSensors, m_selectedFan);
}

void KLPopupViewController::keyUp(QKeyEvent*)
{
    QWidget* focus = window() ? window()->focusWidget() : nullptr;
    if (focus && (focus == ui->fanControlTableView || ui->fanControlTableView->isAncestorOf(focus)))
        fanControlTableViewSelected();
}

// Other actions

void KLPopupViewController::openAppButtonTapped()
{
    KLUtils::loadMainApp();
    NSNotificationCenter::defaultCenter().postNotificationName(QString::fromLatin1(KLMenuBarControllerShouldClosePopupNotification));
}

void KLPopupViewController::quitButtonTapped()
{
    NSApplication::sharedApplication().terminate();
}

void KLPopupViewController::handleFireDeepLink(const QString& url)
{
    // A running Kelvara takes the link over the bus; else it is started with it.
    const QList<NSRunningApplication> running = NSRunningApplication::runningApplicationsWithBundleIdentifier(kKelvara);
    if (!running.isEmpty() && running.first().openURL(url))
        running.first().activate();
    else
        NSWorkspace::sharedWorkspace().launchApplicationWithBundleIdentifier(kKelvara, {url});
    NSNotificationCenter::defaultCenter().postNotificationName(QString::fromLatin1(KLMenuBarControllerShouldClosePopupNotification));
}

// Hover

void KLPopupViewController::trackingTableViewMouseMoved(const QPoint& globalPosition)
{
    KLTrackingTableView* table = ui->tableView;
    const QPoint inView = table->viewport()->mapFromGlobal(globalPosition);
    // Ten points below the pointer: the row whose lower part it is on is taken as the next one.
    const int row = table->rowAtPoint(QPointF(inView.x(), inView.y() + table->verticalScrollBar()->value() + 10));
    KLSensor* sensor = row >= 0 && row < m_dataDicts.size() ? m_dataDicts[row].sensor : nullptr;
    QWidget* cell = sensor ? table->viewAtColumn(0, row, true) : nullptr;
    // Most moves stay within a row: the detail already shows that sensor there, and
    // setting it again would redraw its graph and place and raise its window anew.
    const bool shown = m_detailPopover && m_detailPopover->isShown();
    if (sensor == m_selectedSensor && shown == (sensor != nullptr) && (!sensor || anchorOf(cell) == m_detailAnchor))
        return;
    m_selectedSensor = sensor;
    if (m_selectedSensor)
        showDetailPopoverAtCellView(cell);
    else
        closeDetailPopover();
    handleTableViewSelection();
}

void KLPopupViewController::trackingTableViewMouseExited(const QPoint& globalPosition)
{
    KLTrackingTableView* table = ui->tableView;
    const QPoint inView = table->viewport()->mapFromGlobal(globalPosition);
    const int fromTop = inView.y();
    const bool close = inView.x() > table->width() + 10 || fromTop < 10 || fromTop > table->visibleRect().height() - 20;
    // Out through the left side, between the margins, is the way into the detail popover.
    if (!close)
        return;
    m_selectedSensor = nullptr;
    closeDetailPopover();
    handleTableViewSelection();
}

void KLPopupViewController::showDetailPopoverAtCellView(QWidget* cellView)
{
    if (!m_detailPopover)
        return;
    if (m_detailViewController)
        m_detailViewController->setSensor(m_selectedSensor);
    m_detailAnchor = anchorOf(cellView);
    // Tied to this popover where the compositor places windows: beside it, not over its list.
    m_detailPopover->showRelativeToRect(m_detailAnchor, NSRectEdgeMinX, this);
    m_eventMonitor.start();
}

void KLPopupViewController::closeDetailPopover()
{
    m_selectedSensor = nullptr;
    if (m_detailPopover)
        m_detailPopover->performClose();
    m_eventMonitor.stop();
}

void KLPopupViewController::handleTableViewSelection()
{
    int row = -1;
    for (qsizetype index = 0; m_selectedSensor && index < m_dataDicts.size(); ++index) {
        if (m_dataDicts[index].sensor == m_selectedSensor) {
            row = int(index);
            break;
        }
    }
    if (row >= 0)
        ui->tableView->selectRowIndexes({row}, false);
    else
        ui->tableView->deselectAll();
}

// Tables

int KLPopupViewController::numberOfRowsInTableView(NSTableView* tableView)
{
    return tableView == ui->fanControlTableView ? int(m_fanSensors.size()) : int(m_dataDicts.size());
}

QWidget* KLPopupViewController::viewForTableColumn(NSTableView* tableView, NSTableColumn*, int row)
{
    if (tableView == ui->fanControlTableView) {
        if (row < 0 || row >= m_fanSensors.size())
            return nullptr;
        return KLFanControlCells::viewForFan(tableView, m_fanSensors[row], this, this);
    }
    if (row < 0 || row >= m_dataDicts.size())
        return nullptr;
    const Row& entry = m_dataDicts[row];
    if (entry.header) {
        auto* cell = tableView->makeView<KLPopupHeaderCellView>(QStringLiteral("headerCell"), this);
        if (cell)
            cell->textField()->setText(entry.title);
        return cell;
    }
    auto* cell = tableView->makeView<KLPopupSensorCellView>(QStringLiteral("sensorCell"), this);
    if (cell)
        cell->setSensor(entry.sensor);
    return cell;
}

NSTableRowView* KLPopupViewController::rowViewForRow(NSTableView* tableView, int)
{
    if (auto* made = dynamic_cast<NSTableRowView*>(tableView->makeViewWithIdentifier(kTableRow, this)))
        return made;
    // With its identifier, the table keeps it for the next reload instead of deleting it.
    auto* row = new KLTableRowView;
    row->setIdentifier(kTableRow);
    row->setDetailMode(true);
    return row;
}

double KLPopupViewController::heightOfRow(NSTableView* tableView, int)
{
    return tableView->rowHeight();
}

bool KLPopupViewController::shouldSelectRow(NSTableView* tableView, int)
{
    return tableView == ui->fanControlTableView;
}
