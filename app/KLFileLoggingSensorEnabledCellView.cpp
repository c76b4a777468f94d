#include "KLFileLoggingSensorEnabledCellView.h"

#include "KLSensor.h"
#include "ui_KLFileLoggingSensorEnabledCellView.h"

KLFileLoggingSensorEnabledCellView::KLFileLoggingSensorEnabledCellView(QWidget* parent)
    : KLFileLoggingEnabledCellView(parent)
    , ui(std::make_unique<Ui::KLFileLoggingSensorEnabledCellView>())
{
    ui->setupUi(this);
    setCheckButton(ui->checkButton);
}

KLFileLoggingSensorEnabledCellView::~KLFileLoggingSensorEnabledCellView() = default;

void KLFileLoggingSensorEnabledCellView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

std::optional<QStringList> KLFileLoggingSensorEnabledCellView::sensorKeys() const
{
    if (!m_sensor)
        return std::nullopt;
    return QStringList{m_sensor->key()};
}

bool KLFileLoggingSensorEnabledCellView::isLogged(const QStringList& logged) const
{
    return m_sensor && logged.contains(m_sensor->key());
}
