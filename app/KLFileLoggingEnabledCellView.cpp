#include "KLFileLoggingEnabledCellView.h"

#include <QCheckBox>
#include <QEvent>

#include "KLDataManager.h"

void KLFileLoggingEnabledCellView::setCheckButton(QCheckBox* checkButton)
{
    m_checkButton = checkButton;
    connect(m_checkButton, &QCheckBox::clicked, this, &KLFileLoggingEnabledCellView::checkButtonValueChanged);
    fitCheckBoxToAppearance();
}

void KLFileLoggingEnabledCellView::changeEvent(QEvent* event)
{
    NSTableCellView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_checkButton)
        fitCheckBoxToAppearance();
}

void KLFileLoggingEnabledCellView::fitCheckBoxToAppearance()
{
    // A dark window's base colour is as dark as the box behind the check box,
    // which would hide an empty box: lift it a little.
    QPalette shade = palette();
    const QColor window = shade.color(QPalette::Window);
    if (window.lightness() < 128)
        shade.setColor(QPalette::Base, window.lighter(190));
    m_checkButton->setPalette(shade);
}

void KLFileLoggingEnabledCellView::updateUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    m_checkButton->setChecked(isLogged(settings.fileLoggingSensorKeys()));
    m_checkButton->setEnabled(settings.fileLoggingEnabled());
}

void KLFileLoggingEnabledCellView::checkButtonValueChanged()
{
    const std::optional<QStringList> mine = sensorKeys();
    if (!mine)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    // The stored list as it is now, not as the outline last showed it: another
    // program or screen may have changed it since. Keys of sensors missing now stay.
    const QStringList stored = settings.fileLoggingSensorKeysToKeep();
    QStringList keys = stored;
    const bool on = m_checkButton->isChecked();
    for (const QString& key : *mine) {
        if (!on)
            keys.removeAll(key);
        else if (!keys.contains(key))
            keys.append(key);
    }
    // Every write makes Kelvara Helper start its log afresh: only a real change is written.
    if (keys != stored)
        settings.setFileLoggingSensorKeys(keys);
    else
        updateUI();
}
