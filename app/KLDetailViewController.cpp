#include "KLDetailViewController.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <cmath>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanControlBox.h"
#include "KLFanControlCells.h"
#include "KLFanController.h"
#include "KLFlowLayout.h"
#include "KLGraphPoint.h"
#include "KLMenuBarSensors.h"
#include "KLMenuCollectionViewItem.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "KLSensorHistoryGraph.h"
#include "KLTableRowView.h"
#include "KLUtils.h"
#include "NSAppearance.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSImage.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "RZLineGraphView.h"
#include "TSSwitch.h"
#include "ui_KLDetailViewController.h"

namespace {

QString localized(const char* key)
{
    return KLExtension::localizedStringForKey(QString::fromLatin1(key));
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

using KLSensorHistoryGraph::timeRange;

// Room for the y labels and a readable run of time labels.
constexpr int kGraphMinimumWidth = 280;
// The left column's share of the width, in twentieths.
constexpr int kLeftColumnShare = 9;

// The least width at which a wrapping label keeps its text to two lines.
int twoLineWidth(const QLabel* label)
{
    const QFontMetricsF metrics(label->font());
    const QString text = label->text();
    qreal widest = metrics.horizontalAdvance(text);
    const QChar blank = QLatin1Char(' ');
    for (qsizetype space = text.indexOf(blank); space >= 0; space = text.indexOf(blank, space + 1))
        widest = std::min(widest, std::max(metrics.horizontalAdvance(text.left(space)),
                                           metrics.horizontalAdvance(text.mid(space + 1))));
    return int(std::ceil(widest)) + 2 * label->margin() + 1;
}

int horizontalMargins(const QLayout* layout)
{
    const QMargins margins = layout->contentsMargins();
    return margins.left() + margins.right();
}

// What a box's frame and margins take of its width.
int horizontalFrame(const QWidget* box)
{
    return box->width() - box->contentsRect().width();
}

QString sectionStyleText(QLabel* label)
{
    QFont font = label->font();
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label->text();
}

}  // namespace

KLDetailViewController::KLDetailViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLDetailViewController>())
{
    ui->setupUi(this);
    ui->tableView->setDataSource(this);
    ui->tableView->setDelegate(this);
    ui->tableView->setRowHeight(KLSensorCellView::kRowHeight);
    ui->fanControlTableView->setDataSource(this);
    ui->fanControlTableView->setDelegate(this);
    ui->fanControlTableView->setRowHeight(KLFanSetDetailCellView::kRowHeight);
    ui->graphSegmentedControl->setSegmentCount(3);

    connect(ui->tableView, &NSTableView::action, this, [this] { tableViewSelected(); });
    ui->menuBarSwitch->setFixedSize(TSSwitch::sizeForTrack(KLMenuBarSensors::kSwitchTrackSize));
    connect(ui->menuBarSwitch, &TSSwitch::action, this, [this] { menuBarSwitchValueChanged(); });
    connect(ui->graphSegmentedControl, &KLSegmentedControl::action, this, [this] { graphSegmentedControlValueChanged(); });
    KLFanControlBox::connectActions(this, ui.get());
    // The speed buttons may narrow to their text, so they do not widen the column.
    for (QPushButton* speed : {ui->fanManualUtil25Button, ui->fanManualUtil50Button, ui->fanManualUtil75Button,
                               ui->fanManualUtil100Button}) {
        speed->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        speed->setMinimumWidth(speed->fontMetrics().horizontalAdvance(speed->text()) + 24);
    }

    m_menuBarLayout = new KLFlowLayout(ui->menuBarCollectionView, 6);
    m_menuBarLayout->setContentsMargins(0, 0, 0, 0);
    ui->rightColumnView->installEventFilter(this);
    // Sees a new width before the layout spreads it over the columns.
    installEventFilter(this);
}

KLDetailViewController::~KLDetailViewController()
{
    ui->graphView->setDelegate(nullptr);
    if (KLFanControlSheet* sheet = fanControlSheet())
        sheet->setFanControlDelegate(nullptr);
}

// Loading

void KLDetailViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    // The sheet is optional: a storyboard without it leaves the edit button inert.
    if (NSStoryboard* board = storyboard())
        m_fanControlViewController.reset(board->instantiateControllerWithIdentifier(QStringLiteral("fanControlViewController")));
    if (KLFanControlSheet* sheet = fanControlSheet())
        sheet->setFanControlDelegate(this);
}

void KLDetailViewController::configureUI()
{
    const bool dark = KLUtils::isDarkMode();
    const QColor container = dark ? QColor(30, 30, 30) : withAlpha(KLExtension::appBlueColor(), 0.35);
    const QColor strip = dark ? QColor(86, 86, 86) : withAlpha(Qt::white, 0.8);
    ui->menuBarContainerView->setAttribute(Qt::WA_StyledBackground);
    ui->menuBarCollectionContainerView->setAttribute(Qt::WA_StyledBackground);
    ui->menuBarContainerView->setStyleSheet(
        QStringLiteral("#menuBarContainerView { background: %1; border-radius: 4px; }").arg(container.name(QColor::HexArgb)));
    ui->menuBarCollectionContainerView->setStyleSheet(
        QStringLiteral("#menuBarCollectionContainerView { background: %1; border-radius: 4px; }")
            .arg(strip.name(QColor::HexArgb)));

    ui->graphView->setDelegate(this);
    KLSensorHistoryGraph::configure(*ui->graphView, dark);
    // The least that shows both axes: the unit's row, a label's height for
    // each segment, and the time labels.
    const RZGraphLayout& graph = ui->graphView->graphLayout();
    ui->graphView->setMinimumHeight(
        int(std::ceil(graph.xAxisLabelHeight() + graph.yAxisLabelHeight() * (graph.yAxisSegmentCount() + 1))));
    ui->graphView->update();

    for (QLabel* section : {ui->sensorsSectionField, ui->graphSectionField, ui->descriptionSectionField,
                            ui->menuBarSectionField, ui->fanControlSectionField})
        sectionStyleText(section);
    ui->fanManualUtilLinkButton->setToolTip(QStringLiteral("Link button"));
    // Beside the mode pop-up and the edit button a long title takes two lines, no more.
    ui->fanControlSectionField->setWordWrap(true);
    updateColumnWidths();
}

void KLDetailViewController::localizeUI()
{
    ui->fanManualUtilLinkButton->setToolTip(QStringLiteral("Link button"));
    ui->menuBarField->setText(localized("detail-screen-menu-bar-field"));
    ui->sensorsSectionField->setText(localized("detail-screen-sensors-section-field"));
    ui->graphSectionField->setText(localized("detail-screen-graph-section-field"));
    ui->descriptionSectionField->setText(localized("detail-screen-description-section-field"));
    ui->menuBarSectionField->setText(localized("detail-screen-menu-bar-section-field"));
    ui->fanControlSectionField->setText(localized("detail-screen-fan-control-section-field"));
    ui->fanControlEditButton->setText(localized("detail-screen-fan-control-edit-button"));
    for (int segment = 0; segment < 3; ++segment)
        ui->graphSegmentedControl->setLabel(localized(timeRange(unsigned(segment)).labelKey), segment);
    updateColumnWidths();
}

void KLDetailViewController::updateColumnWidths()
{
    // The columns share the width by their stretch, from least widths that
    // hold in every fan mode, so the boundary between them stays put when
    // the mode shows or hides the speed buttons.
    const KLSensorCellView row;
    const int table = horizontalFrame(ui->tableBox) + horizontalMargins(ui->tableBoxLayout)
                      + horizontalFrame(ui->tableView)
                      + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ui->tableView);
    m_tableLeastWidth = table + row.wholeNameWidth();
    m_tableWidthBesideNames = table + row.widthForName(QString());
    m_nameFont = row.titleField()->font();
    ui->rightColumnView->setMinimumWidth(std::max(ui->rightColumnLayout->minimumSize().width(), kGraphMinimumWidth));
    updateWholeNamesWidth();
    updateLeftColumnWidth();
    updateRightColumnHeight();
}

void KLDetailViewController::updateWholeNamesWidth()
{
    // Every category's names, so the boundary stays put from one category to the next.
    const QFontMetricsF metrics(m_nameFont);
    qreal widest = 0;
    for (KLCategory* category : KLCategory::allObjects())
        for (KLSensor* sensor : category->sensors())
            widest = std::max(widest, metrics.horizontalAdvance(sensor->name()));
    m_wholeNamesWidth = m_tableWidthBesideNames + int(std::ceil(widest));
}

void KLDetailViewController::updateLeftColumnWidth()
{
    // The fan box's header: the title on two lines at most beside the whole
    // mode pop-up (its widest item) and the edit button. The title's own
    // least is its longest word; a least width set on a wrapping label would
    // become the width it wraps at.
    QLabel* title = ui->fanControlSectionField;
    ui->fanControlHeaderLayout->invalidate();
    const int header = ui->fanControlHeaderLayout->minimumSize().width() - title->minimumSizeHint().width()
                       + std::max(twoLineWidth(title), title->minimumSizeHint().width());
    const int fanBox = std::max(header, ui->fanManualUtilBox->minimumSizeHint().width())
                       + horizontalMargins(ui->fanControlLayout) + horizontalFrame(ui->fanControlBox);
    ui->leftColumnView->setMinimumWidth(
        std::max({m_tableLeastWidth, fanBox, ui->sensorsSectionField->minimumSizeHint().width()}));
    updateColumnShares();
}

void KLDetailViewController::updateColumnShares()
{
    // Nine twentieths of the width go left, more where that shows every
    // sensor name whole and leaves the right column its least width, so
    // names are cut only in windows narrower than the default.
    const QMargins margins = ui->rootLayout->contentsMargins();
    const int inner = std::max(0, width() - margins.left() - margins.right() - ui->rootLayout->spacing());
    const int share = inner * kLeftColumnShare / 20;
    const int left = std::max(share, std::min(m_wholeNamesWidth, inner - ui->rightColumnView->minimumWidth()));
    ui->rootLayout->setStretch(0, std::max(1, left));
    ui->rootLayout->setStretch(1, std::max(1, inner - left));
}

void KLDetailViewController::updateRightColumnHeight()
{
    // The chips and the description wrap at the column's least width; their
    // layouts count one row and one line only, which would leave the graph
    // less than its least height in a window at its least size.
    const QLayout* column = ui->rightColumnLayout;
    ui->rightColumnView->setMinimumHeight(std::max(column->minimumHeightForWidth(ui->rightColumnView->minimumWidth()),
                                                   column->minimumSize().height()));
}

bool KLDetailViewController::eventFilter(QObject* watched, QEvent* event)
{
    // New chips, another description or another font reach the column as a
    // layout request, once the boxes between have taken their new sizes.
    if (watched == ui->rightColumnView && event->type() == QEvent::LayoutRequest)
        updateRightColumnHeight();
    if (watched == this && event->type() == QEvent::Resize)
        updateColumnShares();
    return KLViewController::eventFilter(watched, event);
}

void KLDetailViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    updateUI();
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
                       [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
    center.addObserver(this, QString::fromLatin1(KLFanControllerShouldUpdateNotification),
                       [this](const NSNotification&) { fanControllerShouldUpdateNotification(); });
    center.addObserver(this, QString::fromLatin1(KLDataManagerSettingsDidChangeNotification),
                       [this](const NSNotification&) { dataManagerSettingsDidChangeNotification(); });
    center.addObserver(this, NSAppearance::themeChangedNotification(), [this](const NSNotification&) { configureUI(); });
}

// Content

void KLDetailViewController::setCategory(KLCategory* category)
{
    m_category = category;
    reloadData();
}

void KLDetailViewController::reloadData()
{
    m_sensors = m_category ? m_category->sensors() : QList<KLSensor*>{};
    // A new catalogue may bring longer names.
    if (isViewLoaded()) {
        updateWholeNamesWidth();
        updateColumnShares();
    }
    m_selectedSensor = m_selectedFan = m_sensors.isEmpty() ? nullptr : m_sensors.first();
    if (isVisible())
        updateUI();
}

void KLDetailViewController::updateUI()
{
    reloadMenuBarItems();
    updateContentUI();
    const bool fans = m_category && m_category->type() == KLCategoryTypeFan;
    setFanControlBoxShown(fans);
    if (fans)
        updateFanControlUI();
}

void KLDetailViewController::setFanControlBoxShown(bool shown)
{
    m_fanControlBoxTopConstraint = shown ? 15 : -ui->fanControlBox->height();
    // Hidden, the box and the gap above it leave the column, so the table takes its place.
    // The column's spacing counts once towards the 15 points above the box.
    if (QSpacerItem* gap = ui->fanControlBoxTopSpacer)
        gap->changeSize(0, shown ? std::max(0, 15 - ui->leftColumnLayout->spacing()) : 0, QSizePolicy::Minimum,
                        QSizePolicy::Fixed);
    ui->fanControlBox->setVisible(shown);
    ui->leftColumnLayout->invalidate();
}

void KLDetailViewController::reloadSensorTable()
{
    // Every poll redraws the table: while its rows still show the same sensors
    // their cells are refilled in place, which spares rebuilding every row.
    NSTableView* table = ui->tableView;
    bool same = table->numberOfRows() == m_sensors.size();
    QList<KLSensorCellView*> cells;
    for (int row = 0; same && row < table->numberOfRows(); ++row) {
        auto* cell = qobject_cast<KLSensorCellView*>(table->viewAtColumn(0, row, false));
        if (cell && cell->sensor() != m_sensors[row])
            same = false;
        cells.append(cell);
    }
    if (!same) {
        table->reloadData();
        return;
    }
    for (KLSensorCellView* cell : std::as_const(cells))
        if (cell)
            cell->updateUI();
}

void KLDetailViewController::updateContentUI()
{
    reloadSensorTable();
    const int row = int(m_sensors.indexOf(m_selectedSensor));
    if (m_selectedSensor && row >= 0)
        ui->tableView->selectRowIndexes({row}, false);
    updateSelectedSensorUI();
    ui->graphSegmentedControl->setSelectedSegment(int(std::min<unsigned>(KLDataManager::sharedInstance().graphTimeRange(), 2)));
    updateGraphUI();
}

void KLDetailViewController::updateSelectedSensorUI()
{
    if (!m_selectedSensor)
        return;
    const QString key = m_selectedSensor->key();
    // Set only when it changes: setting the switch redraws it through its animation.
    const bool enabled = !m_selectedSensor->fullStringValue().isEmpty();
    const bool shown = KLDataManager::sharedInstance().menuSensors().value_or(QStringList{}).contains(key);
    if (ui->menuBarSwitch->isEnabled() != enabled)
        ui->menuBarSwitch->setEnabled(enabled);
    if (ui->menuBarSwitch->isChecked() != shown)
        ui->menuBarSwitch->setChecked(shown);
    ui->statusTempView->setSensor(m_selectedSensor);
    const QString description = m_selectedSensor->sensorDescription();
    ui->descriptionValueTextField->setText(description.isEmpty() ? QStringLiteral("--") : description);
}

void KLDetailViewController::updateGraphUI()
{
    if (!m_selectedSensor)
        return;
    const unsigned range = KLDataManager::sharedInstance().graphTimeRange();
    // The axis labels are made for one range; another range needs them anew.
    if (m_shownGraphTimeRange >= 0 && unsigned(m_shownGraphTimeRange) != range)
        ui->graphView->reDrawXYPart();
    m_shownGraphTimeRange = int(range);
    KLSensorHistoryGraph::show(*ui->graphView, *m_selectedSensor, range, QDateTime::currentDateTime());
}

std::optional<QString> KLDetailViewController::lineGraphView(RZLineGraphView*, double value, int)
{
    if (!m_selectedSensor)
        return QString();
    return KLSensor::stringFromValue(value, m_selectedSensor->categoryType());
}

// The menu-bar chips

void KLDetailViewController::reloadMenuBarItems()
{
    const QStringList keys = KLDataManager::sharedInstance().menuSensors().value_or(QStringList{});
    while (m_menuBarItems.size() > keys.size())
        delete m_menuBarItems.takeLast();
    while (m_menuBarItems.size() < keys.size()) {
        auto* item = new KLMenuCollectionViewItem(ui->menuBarCollectionView);
        m_menuBarLayout->addWidget(item);
        m_menuBarItems.append(item);
    }
    for (qsizetype i = 0; i < keys.size(); ++i) {
        m_menuBarItems[i]->setRepresentedObject(keys[i]);
        m_menuBarItems[i]->show();
    }
    m_menuBarLayout->invalidate();
}

QList<KLMenuCollectionViewItem*> KLDetailViewController::menuBarItems() const
{
    return m_menuBarItems;
}

void KLDetailViewController::menuBarSwitchValueChanged()
{
    if (!m_selectedSensor)
        return;
    KLMenuBarSensors::setShown(m_selectedSensor->key(), ui->menuBarSwitch->isChecked());
    reloadMenuBarItems();
}

void KLDetailViewController::graphSegmentedControlValueChanged()
{
    KLSensorHistoryGraph::storeTimeRange(ui->graphSegmentedControl->selectedSegment());
    ui->graphView->reDrawXYPart();
    updateGraphUI();
}

// Tables

int KLDetailViewController::numberOfRowsInTableView(NSTableView*)
{
    return int(m_sensors.size());
}

QWidget* KLDetailViewController::viewForTableColumn(NSTableView* tableView, NSTableColumn*, int row)
{
    if (row < 0 || row >= m_sensors.size())
        return nullptr;
    KLSensor* sensor = m_sensors[row];
    if (tableView == ui->tableView) {
        auto* cell = tableView->makeView<KLSensorCellView>(QStringLiteral("sensorCellIdentifier"), this);
        if (cell)
            cell->setSensor(sensor);
        return cell;
    }
    return KLFanControlCells::viewForFan(tableView, sensor, this, this);
}

NSTableRowView* KLDetailViewController::rowViewForRow(NSTableView* tableView, int)
{
    if (auto* made = dynamic_cast<NSTableRowView*>(tableView->makeViewWithIdentifier(QStringLiteral("tableRow"), this)))
        return made;
    // With its identifier, the table keeps it for the next reload instead of deleting it.
    auto* row = new KLTableRowView;
    row->setIdentifier(QStringLiteral("tableRow"));
    row->setDetailMode(true);
    return row;
}

double KLDetailViewController::heightOfRow(NSTableView* tableView, int)
{
    return tableView->rowHeight();
}

void KLDetailViewController::tableViewSelected()
{
    const int row = ui->tableView->selectedRow();
    if (row >= 0 && row < m_sensors.size())
        m_selectedSensor = m_sensors[row];
    updateSelectedSensorUI();
    updateGraphUI();
    const QString key = m_selectedSensor ? m_selectedSensor->key() : QString();
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSensorViewDetail),
                                {{QStringLiteral("sensor"), key.isEmpty() ? QStringLiteral("--") : key}});
}

void KLDetailViewController::keyUp(QKeyEvent*)
{
    QWidget* focus = window() ? window()->focusWidget() : nullptr;
    if (focus && (focus == ui->tableView || ui->tableView->isAncestorOf(focus)))
        tableViewSelected();
    else if (focus && (focus == ui->fanControlTableView || ui->fanControlTableView->isAncestorOf(focus)))
        fanControlTableViewSelected();
}

// Notices

void KLDetailViewController::kelvaraTempDidChangeNotification()
{
    // What Kelvara Helper just saved, not what this context read before.
    if (NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext())
        context->refreshAllObjects();
    updateContentUI();
}

void KLDetailViewController::dataManagerSettingsDidChangeNotification()
{
    updateUI();
}
