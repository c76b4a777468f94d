#include "KLFileLoggingCategoryEnabledCellView.h"

#include <QCheckBox>
#include <QEvent>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLSensor.h"
#include "ui_KLFileLoggingCategoryEnabledCellView.h"

KLFileLoggingCategoryEnabledCellView::KLFileLoggingCategoryEnabledCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFileLoggingCategoryEnabledCellView>())
{
    ui->setupUi(this);
    connect(ui->checkButton, &QCheckBox::clicked, this, &KLFileLoggingCategoryEnabledCellView::checkButtonValueChanged);
    fitCheckBoxToAppearance();
}

void KLFileLoggingCategoryEnabledCellView::changeEvent(QEvent* event)
{
    NSTableCellView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        fitCheckBoxToAppearance();
}

void KLFileLoggingCategoryEnabledCellView::fitCheckBoxToAppearance()
{
    // A dark window's base colour is as dark as the box behind the check box,
    // which would hide an empty box: lift it a little.
    QPalette shade = palette();
    const QColor window = shade.color(QPalette::Window);
    if (window.lightness() < 128)
        shade.setColor(QPalette::Base, window.lighter(190));
    ui->checkButton->setPalette(shade);
}

KLFileLoggingCategoryEnabledCellView::~KLFileLoggingCategoryEnabledCellView() = default;

QCheckBox* KLFileLoggingCategoryEnabledCellView::checkButton() const
{
    return ui->checkButton;
}

void KLFileLoggingCategoryEnabledCellView::setCategory(KLCategory* category)
{
    m_category = category;
    updateUI();
}

void KLFileLoggingCategoryEnabledCellView::updateUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    bool all = true;
    if (m_category) {
        const QStringList logged = settings.fileLoggingSensorKeys();
        for (KLSensor* sensor : m_category->sensors())
            all = all && logged.contains(sensor->key());
    }
    ui->checkButton->setChecked(all);
    ui->checkButton->setEnabled(settings.fileLoggingEnabled());
}

void KLFileLoggingCategoryEnabledCellView::checkButtonValueChanged()
{
    if (!m_category)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    // The stored list as it is now, not as the outline last showed it: another
    // program or screen may have changed it since.
    const QStringList stored = settings.fileLoggingSensorKeys();
    QStringList keys = stored;
    const bool on = ui->checkButton->isChecked();
    for (KLSensor* sensor : m_category->sensors()) {
        const QString key = sensor->key();
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
