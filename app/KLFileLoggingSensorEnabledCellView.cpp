#include "KLFileLoggingSensorEnabledCellView.h"

#include <QCheckBox>

#include "KLDataManager.h"
#include "KLSensor.h"
#include "ui_KLFileLoggingSensorEnabledCellView.h"

KLFileLoggingSensorEnabledCellView::KLFileLoggingSensorEnabledCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFileLoggingSensorEnabledCellView>())
{
    ui->setupUi(this);
    connect(ui->checkButton, &QCheckBox::clicked, this, &KLFileLoggingSensorEnabledCellView::checkButtonValueChanged);
}

KLFileLoggingSensorEnabledCellView::~KLFileLoggingSensorEnabledCellView() = default;

QCheckBox* KLFileLoggingSensorEnabledCellView::checkButton() const
{
    return ui->checkButton;
}

void KLFileLoggingSensorEnabledCellView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

void KLFileLoggingSensorEnabledCellView::updateUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    ui->checkButton->setChecked(m_sensor && settings.fileLoggingSensorKeys().contains(m_sensor->key()));
    ui->checkButton->setEnabled(settings.fileLoggingEnabled());
}

void KLFileLoggingSensorEnabledCellView::checkButtonValueChanged()
{
    if (!m_sensor)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    // Read anew: the list may have changed since the outline was drawn.
    const QStringList stored = settings.fileLoggingSensorKeys();
    QStringList keys = stored;
    const QString key = m_sensor->key();
    if (!ui->checkButton->isChecked())
        keys.removeAll(key);
    else if (!keys.contains(key))
        keys.append(key);
    // Every write makes Kelvara Helper start its log afresh: only a real change is written.
    if (keys != stored)
        settings.setFileLoggingSensorKeys(keys);
    else
        updateUI();
}
