#include "KLFileLoggingCategoryEnabledCellView.h"

#include "KLCategory.h"
#include "KLSensor.h"
#include "ui_KLFileLoggingCategoryEnabledCellView.h"

KLFileLoggingCategoryEnabledCellView::KLFileLoggingCategoryEnabledCellView(QWidget* parent)
    : KLFileLoggingEnabledCellView(parent)
    , ui(std::make_unique<Ui::KLFileLoggingCategoryEnabledCellView>())
{
    ui->setupUi(this);
    setCheckButton(ui->checkButton);
}

KLFileLoggingCategoryEnabledCellView::~KLFileLoggingCategoryEnabledCellView() = default;

void KLFileLoggingCategoryEnabledCellView::setCategory(KLCategory* category)
{
    m_category = category;
    updateUI();
}

std::optional<QStringList> KLFileLoggingCategoryEnabledCellView::sensorKeys() const
{
    if (!m_category)
        return std::nullopt;
    QStringList keys;
    for (KLSensor* sensor : m_category->sensors())
        keys.append(sensor->key());
    return keys;
}

bool KLFileLoggingCategoryEnabledCellView::isLogged(const QStringList& logged) const
{
    if (!m_category)
        return true;
    for (KLSensor* sensor : m_category->sensors())
        if (!logged.contains(sensor->key()))
            return false;
    return true;
}
