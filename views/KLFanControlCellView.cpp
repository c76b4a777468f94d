#include "KLFanControlCellView.h"

#include "KLDataManager.h"
#include "KLSensor.h"
#include "NSString+KLExtension.h"
#include "ui_KLFanControlCellView.h"

KLFanControlCellView::KLFanControlCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanControlCellView>())
{
    ui->setupUi(this);
    setMinimumHeight(kRowHeight);
    QFont text = font();
    text.setPixelSize(13);
    ui->nameTextField->setFont(text);
    ui->modeTextField->setFont(text);
}

KLFanControlCellView::~KLFanControlCellView() = default;

void KLFanControlCellView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

void KLFanControlCellView::updateUI()
{
    const QString name = m_sensor ? m_sensor->name() : QString();
    ui->nameTextField->setText(name.isEmpty() ? QStringLiteral("--") : name);
    KLDataManager& settings = KLDataManager::sharedInstance();
    QString mode;
    switch (settings.fanControlMode()) {
    case KLFanControlModeSystem:
        mode = KLExtension::localizedStringForKey(QStringLiteral("detail-screen-fan-control-system-title"));
        break;
    case KLFanControlModeAutoBoost:
        mode = KLExtension::localizedStringForKey(QStringLiteral("detail-screen-fan-control-auto-boost-title"));
        break;
    default:
        mode = settings.fanSetName();
        break;
    }
    ui->modeTextField->setText(mode.isEmpty() ? QStringLiteral("--") : mode);
}

QLabel* KLFanControlCellView::nameTextField() const { return ui->nameTextField; }
QLabel* KLFanControlCellView::modeTextField() const { return ui->modeTextField; }
