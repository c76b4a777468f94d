#include "KLFileLoggingSensorEnabledCellView.h"

#include <QCheckBox>
#include <QEvent>

#include "KLDataManager.h"
#include "KLSensor.h"
#include "ui_KLFileLoggingSensorEnabledCellView.h"

KLFileLoggingSensorEnabledCellView::KLFileLoggingSensorEnabledCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFileLoggingSensorEnabledCellView>())
{
    ui->setupUi(this);
    connect(ui->checkButton, &QCheckBox::clicked, this, &KLFileLoggingSensorEnabledCellView::checkButtonValueChanged);
    fitCheckBoxToAppearance();
}

void KLFileLoggingSensorEnabledCellView::changeEvent(QEvent* event)
{
    NSTableCellView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        fitCheckBoxToAppearance();
}

void KLFileLoggingSensorEnabledCellView::fitCheckBoxToAppearance()
{
    // A dark window's base colour is as dark as the box behind the check box,
    // which would hide an empty box: lift it a little.
    QPalette shade = palette();
    const QColor window = shade.color(QPalette::Window);
    if (window.lightness() < 128)
        shade.setColor(QPalette::Base, window.lighter(190));
    ui->checkButton->setPalette(shade);
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
