#include "KLFanControlViewController.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "Dispatch.h"
#include "KLAnalyticsHelper.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "KLSensor.h"
#include "KLShadowBox.h"
#include "KLTableRowView.h"
#include "KLTranslationWidth.h"
#include "NSAlert.h"
#include "NSImage.h"
#include "NSKeyedArchiver.h"
#include "NSString+KLExtension.h"
#include "TSSwitch.h"
#include "ui_KLFanControlViewController.h"

using KLExtension::localizedStringForKey;

namespace {

const QString kTableRowId = QStringLiteral("tableRow");
const QString kFanSetCellId = QStringLiteral("fanSetCellId");
const QString kFanSetDetailCellId = QStringLiteral("fanSetDetailCellId");
const QString kConditionCellIds[] = {QStringLiteral("fanConSensorCellId"), QStringLiteral("fanConThresholdCellId"),
                                     QStringLiteral("fanConBatteryStateCellId"), QStringLiteral("fanConFanSetCellId"),
                                     QStringLiteral("fanConDeleteCellId")};
const char* const kConditionHeaderKeys[] = {
    "fan-control-screen-condition-sensor-header", "fan-control-screen-condition-threshold-header",
    "fan-control-screen-condition-battery-state-header", "fan-control-screen-condition-fan-set-header"};
constexpr int kConditionColumnWidths[] = {224, 92, 178, 136, 34};

// Wide enough for the header and, in the sensor and power state columns, for
// every title of the pop-up in every language: nothing is cut and the columns
// keep their places across languages.
int conditionColumnWidth(const QWidget* screen, int column)
{
    int width = kConditionColumnWidths[column];
    if (column < int(std::size(kConditionHeaderKeys)))
        width = std::max(width, KLTranslationWidth::headerWidth(screen, QString::fromLatin1(kConditionHeaderKeys[column])));
    if (column != 0 && column != 2)
        return width;
    // As the cells make it: a 12-point pop-up with 6 points on each side.
    QComboBox popUp;
    QFont font = popUp.font();
    font.setPixelSize(12);
    popUp.setFont(font);
    const QFontMetrics metrics = popUp.fontMetrics();
    int text = 0;
    if (column == 0) {
        text = KLTranslationWidth::widest(metrics, QStringLiteral("sensor-any-title"));
        for (KLSensor* sensor : KLSensor::tempSensors().value_or(QList<KLSensor*>()))
            text = std::max(text, metrics.horizontalAdvance(QStringLiteral("%1 (%2)").arg(sensor->name(), sensor->key())));
    } else {
        for (const char* key : {"battery-state-any-title", "battery-state-charging-title",
                                "battery-state-discharging-title", "battery-state-ac-title"})
            text = std::max(text, KLTranslationWidth::widest(metrics, QString::fromLatin1(key)));
    }
    return std::max(width, KLTranslationWidth::popUpWidth(&popUp, text) + 12);
}

}  // namespace

KLFanControlViewController::KLFanControlViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLFanControlViewController>())
{
}

KLFanControlViewController::~KLFanControlViewController() = default;

void KLFanControlViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    makeFreshContext();
}

void KLFanControlViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    if (!m_context)
        makeFreshContext();
}

void KLFanControlViewController::viewDidAppear()
{
    KLViewController::viewDidAppear();
    reloadData();
    m_retiredContext.reset();
}

void KLFanControlViewController::makeFreshContext()
{
    KLCoreDataHelper& helper = KLCoreDataHelper::sharedInstance();
    // What other programs saved since the last read (a fan set's speeds
    // changed in Kelvara Menu) is what this opening edits.
    if (NSManagedObjectContext* master = helper.masterContext())
        master->refreshAllObjects();
    m_context = helper.newContext();
}

void KLFanControlViewController::configureUI()
{
    ui->setupUi(this);
    QFont text = font();
    text.setPixelSize(13);
    QFont title = text;
    title.setBold(true);
    ui->fanSetsField->setFont(title);
    ui->autoBoostConditionField->setFont(title);
    ui->autoBoostNotiField->setFont(text);

    for (NSTableView* table : {ui->fanSetsTableView, ui->fanControlTableView, ui->autoBoostConditionTableView}) {
        table->setDataSource(this);
        table->setDelegate(this);
    }
    const auto& columns = ui->autoBoostConditionTableView->tableColumns();
    int grown = 0;
    for (int i = 0; i < int(columns.size()) && i < int(std::size(kConditionColumnWidths)); ++i) {
        columns[i]->setWidth(conditionColumnWidth(this, i));
        grown += columns[i]->width() - kConditionColumnWidths[i];
    }
    // The table, and with it the sheet, widens by what the columns need beyond their usual widths.
    ui->autoBoostConditionTableView->setMinimumWidth(ui->autoBoostConditionTableView->minimumWidth() + grown);
    ui->fanManualUtilLinkButton->setIconSize(QSize(16, 16));

    connect(ui->addFanSetButton, &QToolButton::clicked, this, &KLFanControlViewController::addFanSetButtonTapped);
    connect(ui->fanSetsTableView, &NSTableView::action, this, &KLFanControlViewController::fanSetTableViewSelected);
    connect(ui->fanControlTableView, &NSTableView::action, this,
            &KLFanControlViewController::fanControlTableViewSelected);
    connect(ui->fanManualUtil25Button, &QPushButton::clicked, this,
            &KLFanControlViewController::fanManualUtil25ButtonTapped);
    connect(ui->fanManualUtil50Button, &QPushButton::clicked, this,
            &KLFanControlViewController::fanManualUtil50ButtonTapped);
    connect(ui->fanManualUtil75Button, &QPushButton::clicked, this,
            &KLFanControlViewController::fanManualUtil75ButtonTapped);
    connect(ui->fanManualUtil100Button, &QPushButton::clicked, this,
            &KLFanControlViewController::fanManualUtil100ButtonTapped);
    connect(ui->fanManualUtilLinkButton, &QToolButton::clicked, this,
            &KLFanControlViewController::fanManualUtilLinkButtonTapped);
    connect(ui->autoBoostNotiSwitch, &TSSwitch::action, this,
            &KLFanControlViewController::autoBoostNotiSwitchValueChanged);
    connect(ui->addFanConditionButton, &QToolButton::clicked, this,
            &KLFanControlViewController::addFanConditionButtonTapped);
    connect(ui->cancelButton, &QPushButton::clicked, this, &KLFanControlViewController::cancelButtonTapped);
    connect(ui->saveButton, &QPushButton::clicked, this, &KLFanControlViewController::saveButtonTapped);
}

void KLFanControlViewController::localizeUI()
{
    ui->fanManualUtilLinkButton->setToolTip(QStringLiteral("Link button"));
    ui->fanSetsField->setText(localizedStringForKey(QStringLiteral("fan-control-screen-fan-sets-field")));
    ui->autoBoostNotiField->setText(localizedStringForKey(QStringLiteral("fan-control-screen-auto-boost-noti-field")));
    ui->autoBoostConditionField->setText(localizedStringForKey(QStringLiteral("fan-control-screen-condition-field")));
    const auto& columns = ui->autoBoostConditionTableView->tableColumns();
    for (size_t i = 0; i < columns.size() && i < std::size(kConditionHeaderKeys); ++i)
        columns[i]->setTitle(localizedStringForKey(QString::fromLatin1(kConditionHeaderKeys[i])));
    ui->cancelButton->setText(localizedStringForKey(QStringLiteral("fan-control-screen-cancel-button")));
    ui->saveButton->setText(localizedStringForKey(QStringLiteral("fan-control-screen-save-button")));
}

void KLFanControlViewController::reloadData()
{
    if (!m_context)
        makeFreshContext();
    m_fanSets = KLFanSet::allObjectsInContext(m_context.get());
    m_fanConditions = KLFanCondition::allObjectsInContext(m_context.get());
    m_fanSensors = KLSensor::fanSensors().value_or(QList<KLSensor*>());
    m_selectedFanSet = m_fanSets.isEmpty() ? nullptr : m_fanSets.last();
    m_selectedFan = m_fanSensors.isEmpty() ? nullptr : m_fanSensors.first();
    updateUI();
}

void KLFanControlViewController::updateUI()
{
    view();
    m_updating = true;
    const bool linked = KLDataManager::sharedInstance().manualLinkEnabled();
    ui->fanManualUtilLinkButton->setChecked(linked);
    ui->fanManualUtilLinkButton->setIcon(NSImage::imageNamed(linked ? QStringLiteral("ico_link_selected")
                                                                    : QStringLiteral("ico_link")));

    ui->fanControlTableView->reloadData();
    if (m_selectedFan) {
        const qsizetype at = m_fanSensors.indexOf(m_selectedFan);
        if (at >= 0)
            ui->fanControlTableView->selectRowIndexes({int(at)}, false);
    }
    ui->fanSetsTableView->reloadData();
    if (m_selectedFanSet) {
        const qsizetype at = m_fanSets.indexOf(m_selectedFanSet);
        if (at >= 0)
            ui->fanSetsTableView->selectRowIndexes({int(at)}, false);
    }
    ui->autoBoostNotiSwitch->setChecked(KLDataManager::sharedInstance().autoBoostNotificationEnabled());
    ui->autoBoostConditionTableView->reloadData();
    m_updating = false;
}

// Tables

int KLFanControlViewController::numberOfRowsInTableView(NSTableView* tableView)
{
    if (tableView == ui->fanSetsTableView)
        return int(m_fanSets.size());
    if (tableView == ui->autoBoostConditionTableView)
        return int(m_fanConditions.size());
    return int(m_fanSensors.size());
}

template <class T>
T* KLFanControlViewController::makeCell(NSTableView* tableView, const QString& identifier)
{
    if (T* cell = tableView->makeView<T>(identifier, this))
        return cell;
    auto* cell = new T;
    cell->setIdentifier(identifier);
    return cell;
}

QWidget* KLFanControlViewController::viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row)
{
    if (tableView == ui->fanSetsTableView) {
        if (row < 0 || row >= m_fanSets.size())
            return nullptr;
        auto* cell = makeCell<KLFanSetCellView>(tableView, kFanSetCellId);
        cell->setFanSet(m_fanSets[row]);
        cell->removeButton()->setEnabled(m_fanSets.size() > 1);
        cell->setDelegate(this);
        return cell;
    }
    if (tableView == ui->autoBoostConditionTableView) {
        if (row < 0 || row >= m_fanConditions.size())
            return nullptr;
        KLFanCondition* condition = m_fanConditions[row];
        const auto& columns = tableView->tableColumns();
        const auto at = std::find_if(columns.begin(), columns.end(), [column](const auto& c) { return c.get() == column; });
        switch (at - columns.begin()) {
        case 0: {
            auto* cell = makeCell<KLFanConSensorCellView>(tableView, kConditionCellIds[0]);
            cell->setFanCondition(condition);
            return cell;
        }
        case 1: {
            auto* cell = makeCell<KLFanConThresholdCellView>(tableView, kConditionCellIds[1]);
            cell->setFanCondition(condition);
            return cell;
        }
        case 2: {
            auto* cell = makeCell<KLFanConBatteryStateCellView>(tableView, kConditionCellIds[2]);
            cell->setFanCondition(condition);
            return cell;
        }
        case 3: {
            auto* cell = makeCell<KLFanConFanSetCellView>(tableView, kConditionCellIds[3]);
            cell->setFanSets(m_fanSets);
            cell->setFanCondition(condition);
            return cell;
        }
        case 4: {
            auto* cell = makeCell<KLFanConDeleteCellView>(tableView, kConditionCellIds[4]);
            cell->setFanCondition(condition);
            cell->deleteButton()->setEnabled(
                !(m_fanConditions.size() < 2 &&
                  KLDataManager::sharedInstance().fanControlMode() == KLFanControlModeAutoBoost));
            cell->setDelegate(this);
            return cell;
        }
        default:
            return nullptr;
        }
    }
    if (row < 0 || row >= m_fanSensors.size())
        return nullptr;
    auto* cell = makeCell<KLFanSetDetailCellView>(tableView, kFanSetDetailCellId);
    cell->setFanSet(m_selectedFanSet);
    cell->setSensor(m_fanSensors[row]);
    cell->setDelegate(this);
    return cell;
}

NSTableRowView* KLFanControlViewController::rowViewForRow(NSTableView* tableView, int)
{
    if (auto* row = tableView->makeView<KLTableRowView>(kTableRowId, this))
        return row;
    auto* row = new KLTableRowView;
    row->setDetailMode(true);
    row->setIdentifier(kTableRowId);
    return row;
}

// Selection

void KLFanControlViewController::fanSetTableViewSelected()
{
    // The row chosen, before a finished edit redraws the table with the old selection.
    const int row = ui->fanSetsTableView->selectedRow();
    commitEditing();
    if (row < 0 || row >= m_fanSets.size())
        return;
    m_selectedFanSet = m_fanSets[row];
    updateUI();
}

void KLFanControlViewController::fanControlTableViewSelected()
{
    // Redraws nothing, and runs on every key typed into a speed row: no commit here.
    const int row = ui->fanControlTableView->selectedRow();
    if (row >= 0 && row < m_fanSensors.size())
        m_selectedFan = m_fanSensors[row];
}

void KLFanControlViewController::keyUp(QKeyEvent*)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return;
    if (focus == ui->fanControlTableView || ui->fanControlTableView->isAncestorOf(focus))
        fanControlTableViewSelected();
    else if (focus == ui->fanSetsTableView)
        fanSetTableViewSelected();
}

// Fan sets

QString KLFanControlViewController::untitledFanSetName(const QStringList& takenNames)
{
    QString candidate = QStringLiteral("Untitled Set");
    for (int n = 1; takenNames.contains(candidate); ++n)
        candidate = QStringLiteral("Untitled Set %1").arg(n);
    return candidate;
}

void KLFanControlViewController::addFanSetButtonTapped()
{
    commitEditing();
    if (!m_context)
        return;
    QStringList names;
    for (KLFanSet* fanSet : m_fanSets)
        names << fanSet->name();
    KLFanSpeeds speeds;
    for (KLSensor* fan : KLSensor::fanSensors().value_or(QList<KLSensor*>())) {
        if (KLFanControlLogic::hasSpeedRange(fan->minValue(), fan->maxValue()))
            speeds.insert(fan->key(), fan->minValue());
    }
    KLFanSet::fanSetWithName(untitledFanSetName(names), speeds, m_context.get());
    reloadData();
    KLAnalyticsHelper::logEvent(QStringLiteral("Fan Control Tap Add Fan Set"));
}

void KLFanControlViewController::showAlertLater(const QString& messageKey)
{
    dispatch_after_seconds(0.5, dispatch_get_main_queue(), [self = QPointer<KLFanControlViewController>(this), messageKey] {
        NSAlert alert;
        alert.setMessageText(localizedStringForKey(messageKey));
        alert.runModal(self ? self->window() : nullptr);
        if (self)
            self->m_refusedNameUnseen = false;
    });
}

void KLFanControlViewController::fanSetCellViewShouldChangeName(const QString& name, KLFanSet* fanSet)
{
    // After Cancel the field's editing may still end as the sheet closes: nothing is kept.
    if (!m_context || !m_fanSets.contains(fanSet))
        return;
    // Leaving the name as it was is no rename.
    if (name == fanSet->name())
        return;
    const bool blank = name.trimmed().isEmpty();
    const bool taken = std::any_of(m_fanSets.begin(), m_fanSets.end(), [&](KLFanSet* other) { return other->name() == name; });
    if (blank || taken) {
        m_refusedNameUnseen = true;
        if (m_updating)
            dispatch_async(dispatch_get_main_queue(), [self = QPointer<KLFanControlViewController>(this)] {
                if (self)
                    self->updateUI();
            });
        else
            updateUI();
        showAlertLater(blank ? QStringLiteral("empty-fan-set-name-alert-message")
                             : QStringLiteral("duplicated-fan-set-name-alert-message"));
        return;
    }
    fanSet->setName(name);
    if (m_updating)
        return;
    updateUI();
}

bool KLFanControlViewController::isAppliedFanSet(KLFanSet* fanSet)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    if (settings.fanControlMode() != KLFanControlModeFanSet)
        return false;
    const QString applied = settings.fanSetName();
    if (fanSet->name() == applied)
        return true;
    // Renamed here but not yet saved: the store still knows it by the applied name.
    if (fanSet->rowID() <= 0)
        return false;
    const QList<KLFanSet*> stored = KLFanSet::objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), applied));
    return std::any_of(stored.begin(), stored.end(), [fanSet](KLFanSet* set) { return set->rowID() == fanSet->rowID(); });
}

void KLFanControlViewController::fanSetCellViewShouldRemoveFanSet(KLFanSet* fanSet)
{
    commitEditing();
    if (!m_context || !m_fanSets.contains(fanSet))
        return;
    // The fans run at this set's speeds; without it nothing would hand them
    // back, so it stays until another mode or set is chosen.
    if (isAppliedFanSet(fanSet)) {
        NSAlert alert;
        alert.setMessageText(localizedStringForKey(QStringLiteral("fan-set-in-use-alert-message")));
        alert.runModal(window());
        return;
    }
    // Its conditions go with it (the store's rule cascades).
    m_context->deleteObject(fanSet);
    reloadData();
}

void KLFanControlViewController::setPreferredMode(unsigned mode)
{
    m_preferredMode = KLDataManager::fanControlModeMeaning(mode);
}

// Speeds

void KLFanControlViewController::fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider)
{
    if (!sensor)
        return;
    m_selectedFan = sensor;
    const double percent = KLFanControlLogic::fractionForSpeed(speed, sensor->minValue(), sensor->maxValue());
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, viaSlider ? QStringLiteral("slider") : QStringLiteral("textfield"));
}

void KLFanControlViewController::handleChangeFanSpeedViaButtonWithPercent(double percent)
{
    commitEditing();
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, QStringLiteral("button"));
}

void KLFanControlViewController::handleChangeFanSpeedWithPercent(double percent)
{
    if (!m_selectedFanSet)
        return;
    // The same speed rule as the fan boxes: each fan's speed stays within its own range.
    QList<KLFanControlLogic::Fan> fans;
    fans.reserve(m_fanSensors.size());
    for (KLSensor* fan : std::as_const(m_fanSensors))
        fans.append(KLFanControlLogic::fanOf(fan));
    const KLFanSpeeds speeds = KLFanControlLogic::speedsWithFraction(
        m_selectedFanSet->valueDict().value_or(KLFanSpeeds()), fans, m_selectedFan ? m_selectedFan->key() : QString(),
        percent, KLDataManager::sharedInstance().manualLinkEnabled());
    m_selectedFanSet->setValue(NSKeyedArchiver::archivedDataWithRootObject(speeds));
    updateUI();
}

void KLFanControlViewController::fanManualUtilLinkButtonTapped()
{
    commitEditing();
    const bool linked = ui->fanManualUtilLinkButton->isChecked();
    KLDataManager::sharedInstance().setManualLinkEnabled(linked);
    updateUI();
    KLAnalyticsHelper::logEvent(QStringLiteral("Fan Control Tap Manual Util Link"),
                                {{QStringLiteral("value"), linked ? QStringLiteral("1") : QStringLiteral("0")}});
}

// Conditions

void KLFanControlViewController::addFanConditionButtonTapped()
{
    commitEditing();
    // Without a fan set or a temperature sensor nothing is added, but the
    // table is still reloaded and the press still counted.
    const QList<KLSensor*> sensors = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    if (m_context && !sensors.isEmpty() && !m_fanSets.isEmpty()) {
        QSet<QString> watched;
        for (KLFanCondition* condition : KLFanCondition::allObjectsInContext(m_context.get()))
            watched.insert(condition->sensorKey());
        KLSensor* sensor = sensors.first();
        for (KLSensor* candidate : sensors) {
            if (!watched.contains(candidate->key())) {
                sensor = candidate;
                break;
            }
        }
        const double threshold = std::min(sensor->convertedValue() * 1.5, sensor->convertedMaxValue());
        KLFanCondition::fanConditionWithFanSet(m_fanSets.first(), sensor, threshold, 0, m_context.get());
    }
    reloadData();
    KLAnalyticsHelper::logEvent(QStringLiteral("Fan Control Tap Add Fan Condition"));
}

void KLFanControlViewController::fanConDeleteCellViewShouldDeleteFanCondition(KLFanCondition* condition)
{
    commitEditing();
    if (!m_context || !m_fanConditions.contains(condition))
        return;
    m_context->deleteObject(condition);
    reloadData();
}

void KLFanControlViewController::autoBoostNotiSwitchValueChanged()
{
    commitEditing();
    KLDataManager::sharedInstance().setAutoBoostNotificationEnabled(ui->autoBoostNotiSwitch->isChecked());
}

// Cancel and Save

void KLFanControlViewController::cancelButtonTapped()
{
    // The edits go with the context; the next opening reads the store afresh.
    m_retiredContext = std::move(m_context);
    dismissController();
}

bool KLFanControlViewController::writeThroughToStore()
{
    KLCoreDataHelper& helper = KLCoreDataHelper::sharedInstance();
    NSManagedObjectContext* master = helper.masterContext();
    if (!master)
        return false;
    bool saved = true;
    if (m_context->hasChanges())
        m_context->performBlockAndWait([&] { saved = m_context->save(); });
    if (master->hasChanges())
        master->performBlockAndWait([&] { saved = master->save() && saved; });
    // A store held by another program gets the changes as soon as it can.
    if (!saved)
        helper.saveMasterContext();
    return saved;
}

void KLFanControlViewController::saveButtonTapped()
{
    if (!m_context)
        return;
    // The name being typed is saved too; one that was refused keeps the sheet
    // open until its alert has been seen.
    commitEditing();
    if (m_refusedNameUnseen)
        return;
    ui->autoBoostConditionTableView->reloadData();
    if (m_preferredMode == KLFanControlModeAutoBoost &&
        KLFanCondition::allObjectsInContext(m_context.get()).isEmpty()) {
        NSAlert alert;
        alert.setMessageText(localizedStringForKey(QStringLiteral("add-fan-condition-alert-message")));
        alert.runModal(window());
        return;
    }
    // The set the fans run at may have been renamed here: the mode follows it.
    KLFanSet* applied = nullptr;
    for (KLFanSet* fanSet : m_fanSets) {
        if (isAppliedFanSet(fanSet)) {
            applied = fanSet;
            break;
        }
    }
    // Written before anyone is told, so Kelvara Helper reads the saved rules
    // when the presenter asks it to apply them.
    writeThroughToStore();
    KLDataManager& settings = KLDataManager::sharedInstance();
    if (applied && applied->name() != settings.fanSetName())
        settings.setFanSetName(applied->name());
    if (m_delegate)
        m_delegate->fanControlViewControllerDidSaveData(this);
    m_retiredContext = std::move(m_context);
    dismissController();
}
