#include "KLNotificationsViewController.h"

#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "KLAnalyticsHelper.h"
#include "KLDataManager.h"
#include "KLNotiActiveCellView.h"
#include "KLNotiCurrentValueCellView.h"
#include "KLNotiDeleteCellView.h"
#include "KLNotiRepeatCellView.h"
#include "KLNotiSensorCellView.h"
#include "KLSensor.h"
#include "KLTableRowView.h"
#include "KLTranslationWidth.h"
#include "NSAlert.h"
#include "NSDistributedNotificationCenter.h"
#include "NSString+KLExtension.h"
#include "ui_KLNotificationsViewController.h"

namespace {

enum Column { ActiveColumn, SensorColumn, CurrentValueColumn, ThresholdColumn, RepeatColumn, DeleteColumn };

const char* const kHeaderKeys[] = {
    "notifications-screen-active-header",        "notifications-screen-sensor-header",
    "notifications-screen-current-value-header", "notifications-screen-threshold-header",
    "notifications-screen-repeat-header",
};

constexpr int kColumnWidths[] = {76, 250, 130, 110, 76, 44};

// Wide enough for the header and the sensor pop-up in every language, so
// neither is cut and the columns keep their places across languages.
int columnWidth(const QWidget* screen, int column)
{
    int width = kColumnWidths[column];
    if (column < int(std::size(kHeaderKeys)))
        width = std::max(width, KLTranslationWidth::headerWidth(screen, QString::fromLatin1(kHeaderKeys[column])));
    if (column == SensorColumn) {
        const QComboBox popUp;
        const int any = KLTranslationWidth::widest(popUp.fontMetrics(), QStringLiteral("sensor-any-title"));
        // The cell keeps 4 points before the pop-up and 8 after it.
        width = std::max(width, KLTranslationWidth::popUpWidth(&popUp, any) + 12);
    }
    return width;
}

template <class Cell>
Cell* makeCell(NSTableView* table, const char* identifier)
{
    return table->makeView<Cell>(QString::fromLatin1(identifier));
}

}  // namespace

KLNotificationsViewController::KLNotificationsViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLNotificationsViewController>())
{
    ui->setupUi(this);
}

KLNotificationsViewController::~KLNotificationsViewController() = default;

QList<KLNotification> KLNotificationsViewController::notifications() const
{
    return KLDataManager::sharedInstance().overheatNotifications().value_or(QList<KLNotification>());
}

void KLNotificationsViewController::configureUI()
{
    QFont title = font();
    title.setPixelSize(15);
    title.setBold(true);
    ui->notificationsSectionField->setFont(title);
    NSTableView* table = ui->tableView;
    table->setStoryboard(storyboard());
    table->setHeaderVisible(true);
    const auto& columns = table->tableColumns();
    for (int i = 0; i < int(columns.size()) && i < int(std::size(kColumnWidths)); ++i)
        columns[i]->setWidth(columnWidth(this, i));
    table->setDataSource(this);
    table->setDelegate(this);
    connect(ui->addButton, &QToolButton::clicked, this, &KLNotificationsViewController::addButtonTapped);
}

void KLNotificationsViewController::localizeUI()
{
    ui->notificationsSectionField->setText(
        KLExtension::localizedStringForKey(QStringLiteral("notifications-screen-notifications-section-field")));
    ui->addButton->setToolTip(KLExtension::localizedStringForKey(QStringLiteral("notifications-screen-add-button-tool-tip")));
    const auto& columns = ui->tableView->tableColumns();
    for (int i = 0; i < int(columns.size()) && i < int(std::size(kHeaderKeys)); ++i)
        columns[i]->setTitle(KLExtension::localizedStringForKey(QString::fromLatin1(kHeaderKeys[i])));
}

void KLNotificationsViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    updateUI();
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
                       [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
    center.addObserver(this, QString::fromLatin1(KLDataManagerOverheatListDidChangeNotification),
                       [this](const NSNotification&) { dataManagerOverheatListDidChangeNotification(); });
}

void KLNotificationsViewController::updateUI()
{
    m_reloadAfterEditing = false;
    m_rules = notifications();
    m_sensors = KLSensor::sensorsByKey();
    ui->tableView->reloadData();
}

void KLNotificationsViewController::kelvaraTempDidChangeNotification()
{
    if (m_editing)
        return;
    // The poll's refresh may have let go of sensors that are gone.
    m_sensors = KLSensor::sensorsByKey();
    QList<int> rows;
    for (int row = 0; row < ui->tableView->numberOfRows(); ++row)
        rows << row;
    ui->tableView->reloadDataForRowIndexes(rows, {CurrentValueColumn});
}

void KLNotificationsViewController::dataManagerOverheatListDidChangeNotification()
{
    if (m_editing)
        m_reloadAfterEditing = true;
    else
        updateUI();
}

void KLNotificationsViewController::notiThresholdCellViewDidBeginEditing()
{
    m_editing = true;
}

void KLNotificationsViewController::notiThresholdCellViewDidEndEditing()
{
    m_editing = false;
    // The field's own write posts the list's notice, which remakes the table;
    // a notice that came while typing is caught up here.
    if (m_reloadAfterEditing)
        updateUI();
}

void KLNotificationsViewController::addButtonTapped()
{
    // A threshold being typed is written before the list is read.
    commitEditing();
    const QList<KLNotification> stored = notifications();
    KLSensor* free = nullptr;
    for (KLSensor* sensor : KLSensor::tempSensors().value_or(QList<KLSensor*>())) {
        const QString key = sensor->key();
        if (std::none_of(stored.cbegin(), stored.cend(), [&key](const KLNotification& rule) { return rule.sensorKey == key; })) {
            free = sensor;
            break;
        }
    }
    if (free) {
        KLNotification rule;
        rule.sensorKey = free->key();
        rule.sensorName = free->name();
        rule.threshold = std::min(free->convertedValue() * 1.5, free->convertedMaxValue());
        rule.active = true;
        rule.repeat = true;
        QList<KLNotification> list = stored;
        list.append(rule);
        KLDataManager::sharedInstance().setOverheatNotifications(list);
    } else {
        NSAlert alert;
        alert.setMessageText(QString::fromLatin1(kTooManyAlertMessage));
        alert.addButtonWithTitle(QStringLiteral("OK"));
        alert.setAlertStyle(NSAlertStyleInformational);
        alert.runModal(window());
    }
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventNotificationsTapAddButton));
}

int KLNotificationsViewController::numberOfRowsInTableView(NSTableView*)
{
    return int(m_rules.size());
}

QWidget* KLNotificationsViewController::viewForTableColumn(NSTableView* table, NSTableColumn* column, int row)
{
    if (row < 0 || row >= m_rules.size())
        return nullptr;
    const KLNotification& rule = m_rules.at(row);
    const auto& columns = table->tableColumns();
    const auto at = std::find_if(columns.cbegin(), columns.cend(), [column](const auto& c) { return c.get() == column; });
    switch (int(at - columns.cbegin())) {
    case ActiveColumn:
        if (auto* cell = makeCell<KLNotiActiveCellView>(table, "activeCellId")) {
            cell->setNotification(rule);
            return cell;
        }
        break;
    case SensorColumn:
        if (auto* cell = makeCell<KLNotiSensorCellView>(table, "notiSensorCellId")) {
            cell->setNotification(rule);
            return cell;
        }
        break;
    case CurrentValueColumn:
        if (auto* cell = makeCell<KLNotiCurrentValueCellView>(table, "notiCurrentValueCellId")) {
            KLSensor* sensor = rule.sensor(m_sensors);
            cell->textField()->setText(sensor ? sensor->fullStringValue() : QStringLiteral("--"));
            return cell;
        }
        break;
    case ThresholdColumn:
        if (auto* cell = makeCell<KLNotiThresholdCellView>(table, "notiThresholdCellId")) {
            cell->setNotification(rule);
            cell->setDelegate(this);
            return cell;
        }
        break;
    case RepeatColumn:
        if (auto* cell = makeCell<KLNotiRepeatCellView>(table, "repeatCellId")) {
            cell->setNotification(rule);
            return cell;
        }
        break;
    case DeleteColumn:
        if (auto* cell = makeCell<KLNotiDeleteCellView>(table, "notiDeleteCellId")) {
            cell->setNotification(rule);
            return cell;
        }
        break;
    default:
        break;
    }
    return nullptr;
}

NSTableRowView* KLNotificationsViewController::rowViewForRow(NSTableView* table, int)
{
    if (auto* row = table->makeView<KLTableRowView>(QStringLiteral("tableRow")))
        return row;
    auto* row = new KLTableRowView;
    row->setIdentifier(QStringLiteral("tableRow"));
    row->setDetailMode(true);
    return row;
}

QLabel* KLNotificationsViewController::notificationsSectionField() const { return ui->notificationsSectionField; }
NSTableView* KLNotificationsViewController::tableView() const { return ui->tableView; }
QAbstractScrollArea* KLNotificationsViewController::scrollView() const { return ui->tableView; }
QToolButton* KLNotificationsViewController::addButton() const { return ui->addButton; }
