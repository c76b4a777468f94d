#include "KLSensorCellView.h"

#include <QEvent>
#include <QLayout>
#include <QPainter>
#include <cfloat>
#include <cmath>

#include "KLCategory.h"
#include "KLLevelIndicator.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSColor+KLExtension.h"
#include "NSImage.h"
#include "ui_KLSensorCellView.h"

namespace {

const QString kNone = QStringLiteral("--");

void setTextColor(QLabel* label, const QColor* color)
{
    if (!color) {
        // Back to the window's own text colour, following the palette.
        label->setPalette(QPalette());
        return;
    }
    QPalette palette;
    palette.setColor(QPalette::WindowText, *color);
    label->setPalette(palette);
}

}  // namespace

KLSensorCellView::KLSensorCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLSensorCellView>())
{
    ui->setupUi(this);
    setMinimumHeight(kRowHeight);
    QFont title = font();
    title.setPixelSize(13);
    ui->titleField->setFont(title);
    ui->valueField->setFont(title);
    ui->iconImageView->installEventFilter(this);
    ui->titleField->installEventFilter(this);
    awakeFromNib();
}

KLSensorCellView::~KLSensorCellView() = default;

void KLSensorCellView::awakeFromNib()
{
    ui->indicator->setFillColor(KLExtension::appGreenColor());
    ui->indicator->setWarningFillColor(KLExtension::appOrangeColor());
    ui->indicator->setCriticalFillColor(KLExtension::appRedColor());
}

void KLSensorCellView::prepareForReuse()
{
    NSTableCellView::prepareForReuse();
    ui->indicator->setWarningValue(FLT_MAX);
    ui->indicator->setCriticalValue(FLT_MAX);
}

void KLSensorCellView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

QString KLSensorCellView::iconNameForGroup(int group)
{
    switch (group) {
    case KLSensorGroupCPU: return QStringLiteral("ico_cpu");
    case KLSensorGroupGPU: return QStringLiteral("ico_gpu");
    case KLSensorGroupMemory: return QStringLiteral("ico_ram");
    case KLSensorGroupMainboard: return QStringLiteral("ico_motherboard");
    case KLSensorGroupNetwork: return QStringLiteral("ico_router");
    case KLSensorGroupSSD: return QStringLiteral("ico_ssd");
    case KLSensorGroupHardDisk: return QStringLiteral("ico_hdd");
    case KLSensorGroupBattery: return QStringLiteral("ico_battery");
    case KLSensorGroupPowerSupply: return QStringLiteral("ico_power2");
    case KLSensorGroupDisplay: return QStringLiteral("ico_monitor");
    case KLSensorGroupFan: return QStringLiteral("ico_fan2");
    default: return {};
    }
}

void KLSensorCellView::updateUI()
{
    // Refilled on every poll: the same icon stays, with the renderings it
    // cached, until the sensor or the appearance changes.
    const QString iconName = m_sensor ? iconNameForGroup(m_sensor->group()) : QString();
    const bool dark = KLUtils::isDarkMode();
    if (iconName != m_iconName || dark != m_iconDark || (m_icon.isNull() && !iconName.isEmpty())) {
        m_iconName = iconName;
        m_iconDark = dark;
        m_icon = m_iconName.isEmpty() ? QIcon() : NSImage::imageNamed(m_iconName);
        ui->iconImageView->update();
    }

    const QString name = m_sensor ? m_sensor->name() : QString();
    m_title = name.isEmpty() ? kNone : name;
    showTitle();
    const int status = m_sensor ? m_sensor->statusEnum() : 0;
    const QColor red = KLExtension::appRedColor();
    setTextColor(ui->titleField, status >= 0 && status <= 9 ? nullptr : &red);

    const QString value = m_sensor ? m_sensor->fullStringValue() : QString();
    ui->valueField->setText(value.isEmpty() ? kNone : value);
    setTextColor(ui->valueField, nullptr);
    updateIndicator();
}

void KLSensorCellView::updateIndicator()
{
    KLLevelIndicator* indicator = ui->indicator;
    if (!m_sensor) {
        indicator->setWarningValue(FLT_MAX);
        indicator->setCriticalValue(FLT_MAX);
        indicator->setDoubleValue(std::nan(""));
        return;
    }
    indicator->setMinValue(m_sensor->convertedMinValue());
    indicator->setMaxValue(m_sensor->convertedMaxValue());
    switch (m_sensor->categoryType()) {
    case KLCategoryTypeTemperature:
        indicator->setWarningValue(KLSensor::convertedTemp(m_sensor->isCPUProximitySensor() ? KLCPUProximityHighTemp
                                                                                             : KLHighTemp));
        indicator->setCriticalValue(KLSensor::convertedTemp(KLVeryHighTemp));
        break;
    case KLCategoryTypeFan: {
        const double min = m_sensor->minValue();
        const double range = std::abs(m_sensor->maxValue() - min);
        indicator->setWarningValue(min + 75 * range / 100);
        indicator->setCriticalValue(min + range * 90 / 100);
        break;
    }
    default:
        indicator->setWarningValue(FLT_MAX);
        indicator->setCriticalValue(FLT_MAX);
        break;
    }
    indicator->setDoubleValue(m_sensor->convertedValue());
}

int KLSensorCellView::wholeNameWidth() const
{
    return widthForName(QString(kWholeNameLength, QLatin1Char('x')));
}

int KLSensorCellView::widthForName(const QString& name) const
{
    // The name takes no room of its own in the row's layout (it gives way first).
    // Whole points up: the name is cut once its exact width passes the field's.
    const QFontMetricsF metrics(ui->titleField->font());
    return layout()->minimumSize().width() + int(std::ceil(metrics.horizontalAdvance(name)));
}

QLabel* KLSensorCellView::titleField() const { return ui->titleField; }
QLabel* KLSensorCellView::valueField() const { return ui->valueField; }
KLLevelIndicator* KLSensorCellView::indicator() const { return ui->indicator; }
QLabel* KLSensorCellView::iconImageView() const { return ui->iconImageView; }

void KLSensorCellView::showTitle()
{
    // The name gives way to the bar and the value; the whole of it is the tip.
    const QFontMetrics metrics(ui->titleField->font());
    const int width = ui->titleField->width();
    const QString shown = width > 0 ? metrics.elidedText(m_title, Qt::ElideRight, width) : m_title;
    ui->titleField->setText(shown);
    ui->titleField->setToolTip(shown == m_title ? QString() : m_title);
}

bool KLSensorCellView::eventFilter(QObject* watched, QEvent* event)
{
    // The icon is painted from its vector image at the screen's scale.
    if (watched == ui->iconImageView && event->type() == QEvent::Paint) {
        if (!m_icon.isNull()) {
            QPainter painter(ui->iconImageView);
            m_icon.paint(&painter, ui->iconImageView->rect());
        }
        return true;
    }
    if (watched == ui->titleField && event->type() == QEvent::Resize)
        showTitle();
    return NSTableCellView::eventFilter(watched, event);
}

void KLSensorCellView::changeEvent(QEvent* event)
{
    NSTableCellView::changeEvent(event);
    // The dark appearance may have its own variant of the icon.
    if (event->type() == QEvent::PaletteChange && !m_iconName.isEmpty()) {
        m_iconDark = KLUtils::isDarkMode();
        m_icon = NSImage::imageNamed(m_iconName);
        ui->iconImageView->update();
    } else if (event->type() == QEvent::FontChange) {
        showTitle();
    }
}
