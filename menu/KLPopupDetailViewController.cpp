#include "KLPopupDetailViewController.h"

#include <QLabel>
#include <cmath>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLCompactTile.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLSegmentedControl.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSAppearance.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSString+KLExtension.h"
#include "RZLineGraphView.h"
#include "TSSwitch.h"
#include "ui_KLPopupDetailViewController.h"

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

struct TimeRange {
    const char* labelKey;
    double step;
    const char* analyticsValue;
};
// By KLGraphTimeRange; any other value reads as a week.
const TimeRange kTimeRanges[] = {
    {"detail-screen-graph-1hour-label", 600, "1 Hour"},
    {"detail-screen-graph-1day-label", 14400, "1 Day"},
    {"detail-screen-graph-1week-label", 86400, "1 Week"},
};
const TimeRange& timeRange(unsigned range)
{
    return kTimeRanges[std::min<unsigned>(range, 2)];
}

}  // namespace

KLPopupDetailViewController::KLPopupDetailViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLPopupDetailViewController>())
{
    ui->setupUi(this);
    ui->graphSegmentedControl->setSegmentCount(3);
    KLCompactTile::apply(ui->statusTempView);
    connect(ui->menuBarSwitch, &TSSwitch::action, this, [this] { menuBarSwitchValueChanged(); });
    connect(ui->graphSegmentedControl, &KLSegmentedControl::action, this, [this] { graphSegmentedControlValueChanged(); });
}

KLPopupDetailViewController::~KLPopupDetailViewController()
{
    ui->graphView->setDelegate(nullptr);
}

void KLPopupDetailViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    updateUI();
}

void KLPopupDetailViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, NSAppearance::themeChangedNotification(), [this](const NSNotification&) {
            configureUI();
            updateUI();
        });
}

void KLPopupDetailViewController::configureUI()
{
    const bool dark = KLUtils::isDarkMode();
    ui->graphView->setDelegate(this);
    RZGraphLayout& layout = ui->graphView->graphLayout();
    const RZGraphLayout defaults;
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    layout.setMovementLineColor(withAlpha(KLExtension::appLightBlueColor(), 0.95));
    // Labels and grid lines readable on either background.
    layout.setXAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.xAxisLabelColor());
    layout.setYAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.yAxisLabelColor());
    layout.setYAxisUnitLabelColor(dark ? QColor(150, 150, 150) : defaults.yAxisUnitLabelColor());
    layout.setXAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.xAxisLinesStrokeColor());
    layout.setYAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.yAxisLinesStrokeColor());
    for (QLabel* section : {ui->graphSectionField, ui->descriptionSectionField, ui->menuBarSectionField}) {
        QFont font = section->font();
        font.setPixelSize(13);
        font.setWeight(QFont::DemiBold);
        section->setFont(font);
    }
    QFont description = ui->descriptionValueTextField->font();
    description.setPixelSize(12);
    ui->descriptionValueTextField->setFont(description);
    ui->graphView->update();
}

void KLPopupDetailViewController::localizeUI()
{
    ui->graphSectionField->setText(localized("detail-screen-graph-section-field"));
    ui->descriptionSectionField->setText(localized("detail-screen-description-section-field"));
    ui->menuBarSectionField->setText(localized("detail-screen-menu-bar-section-field"));
    for (int segment = 0; segment < 3; ++segment)
        ui->graphSegmentedControl->setLabel(localized(kTimeRanges[segment].labelKey), segment);
}

void KLPopupDetailViewController::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

void KLPopupDetailViewController::updateUI()
{
    if (!m_sensor)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    ui->statusTempView->setSensor(m_sensor);
    ui->menuBarSwitch->setEnabled(!m_sensor->fullStringValue().isEmpty());
    ui->menuBarSwitch->setChecked(settings.menuSensors().value_or(QStringList{}).contains(m_sensor->key()));
    ui->graphSegmentedControl->setSelectedSegment(int(std::min<unsigned>(settings.graphTimeRange(), 2)));
    updateGraphUI();
    const QString description = m_sensor->sensorDescription();
    ui->descriptionValueTextField->setText(description.isEmpty() ? QStringLiteral("--") : description);
}

void KLPopupDetailViewController::updateGraphUI()
{
    if (!m_sensor)
        return;
    const unsigned range = KLDataManager::sharedInstance().graphTimeRange();
    const RZAxisValues axis = KLDataManager::xAxisWithCurrentDate(QDateTime::currentDateTime(), range);
    const double start = axis.isEmpty() ? 0 : axis.first().value;
    const QList<KLGraphPoint*> stored = range == KLGraphTimeRangeHour  ? m_sensor->hourGraphPoints()
                                        : range == KLGraphTimeRangeDay ? m_sensor->dayGraphPoints()
                                                                       : m_sensor->weekGraphPoints();
    RZLineGraphView* graph = ui->graphView;
    std::shared_ptr<RZGraphPlot> plot = graph->graphPlots().isEmpty() ? nullptr : graph->graphPlots().first();
    if (!plot) {
        plot = std::make_shared<RZGraphPlot>();
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setStrokeCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        plot->setStrokeColor(withAlpha(KLExtension::appBlueColor(), 0.9));
        plot->setFillColor(withAlpha(KLExtension::appBlueColor(), 0.5));
        plot->setGraphPointColor(Qt::white);
        plot->setGraphPointHighlightColor(plot->fillColor());
    }
    const bool temperature = m_sensor->categoryType() == KLCategoryTypeTemperature;
    QList<RZGraphPoint> points;
    points.reserve(stored.size());
    for (KLGraphPoint* point : stored) {
        if (point->pointX() < start)
            continue;
        RZGraphPoint graphPoint;
        graphPoint.setPoint({point->pointX(), temperature ? KLSensor::convertedTemp(point->pointY()) : point->pointY()});
        graphPoint.setTitle(point->title());
        graphPoint.setValueString(point->valueString());
        points.append(graphPoint);
    }
    plot->setGraphPoints(points);
    graph->setYAxisMaxValue(std::trunc(m_sensor->convertedMaxValue()));
    graph->setYAxisMinValue(std::trunc(m_sensor->convertedMinValue()));
    graph->setYAxisUnit(QStringLiteral("(%1)").arg(m_sensor->unitString()));
    graph->setXAxisValues(axis);
    graph->setXAxisStartGraphPoint(start);
    graph->setXAxisInterval(timeRange(range).step);
    graph->setGraphPlots({plot});
    graph->layoutGraph();
}

std::optional<QString> KLPopupDetailViewController::lineGraphView(RZLineGraphView*, double value, int)
{
    if (!m_sensor)
        return std::nullopt;
    return KLSensor::stringFromValue(value, m_sensor->categoryType());
}

void KLPopupDetailViewController::menuBarSwitchValueChanged()
{
    if (!m_sensor)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    QStringList keys = settings.menuSensors().value_or(QStringList{});
    const QString key = m_sensor->key();
    const bool on = ui->menuBarSwitch->isChecked();
    if (on && !keys.contains(key))
        keys.append(key);
    else if (!on)
        keys.removeAll(key);
    settings.setMenuSensors(keys);
    if (on)
        KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSensorShowInMenu),
                                    {{QStringLiteral("sensor"), key.isEmpty() ? QStringLiteral("--") : key}});
}

void KLPopupDetailViewController::graphSegmentedControlValueChanged()
{
    const int segment = std::max(ui->graphSegmentedControl->selectedSegment(), 0);
    KLDataManager::sharedInstance().setGraphTimeRange(unsigned(segment));
    ui->graphView->reDrawXYPart();
    updateGraphUI();
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSensorChangeGraphTimeRange),
                                {{QStringLiteral("value"), QString::fromLatin1(timeRange(unsigned(segment)).analyticsValue)}});
}
