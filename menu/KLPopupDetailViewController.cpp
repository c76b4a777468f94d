#include "KLPopupDetailViewController.h"

#include <QLabel>
#include <cmath>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLCompactTile.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLMenuBarSensors.h"
#include "KLSegmentedControl.h"
#include "KLSensor.h"
#include "KLSensorHistoryGraph.h"
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

using KLSensorHistoryGraph::timeRange;

}  // namespace

KLPopupDetailViewController::KLPopupDetailViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLPopupDetailViewController>())
{
    ui->setupUi(this);
    ui->graphSegmentedControl->setSegmentCount(3);
    KLCompactTile::apply(ui->statusTempView);
    ui->menuBarSwitch->setFixedSize(TSSwitch::sizeForTrack(KLMenuBarSensors::kSwitchTrackSize));
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
    KLSensorHistoryGraph::configure(*ui->graphView, dark);
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
        ui->graphSegmentedControl->setLabel(localized(timeRange(unsigned(segment)).labelKey), segment);
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
    KLSensorHistoryGraph::show(*ui->graphView, *m_sensor, range, QDateTime::currentDateTime());
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
    KLMenuBarSensors::setShown(m_sensor->key(), ui->menuBarSwitch->isChecked());
}

void KLPopupDetailViewController::graphSegmentedControlValueChanged()
{
    KLSensorHistoryGraph::storeTimeRange(ui->graphSegmentedControl->selectedSegment());
    ui->graphView->reDrawXYPart();
    updateGraphUI();
}
