#include "KLDropdownSettingCellView.h"

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLSensor.h"
#include "NSString+KLExtension.h"
#include "TSSwitch.h"
#include "ui_KLDropdownSettingCellView.h"

KLDropdownSettingCellView::KLDropdownSettingCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLDropdownSettingCellView>())
{
    ui->setupUi(this);
    QFont name = font();
    name.setPixelSize(13);
    ui->nameTextField->setFont(name);
    QFont grip = font();
    grip.setPixelSize(16);
    ui->dragHandle->setFont(grip);
    ui->dragHandle->setForegroundRole(QPalette::PlaceholderText);
    ui->dragHandle->setFixedWidth(14);
    // Small enough for the shortest rows the sheet makes.
    ui->switchControl->setFixedSize(TSSwitch::sizeForTrack(QSizeF(40, 24)));
    setDraggable(false);
    connect(ui->switchControl, &TSSwitch::action, this, &KLDropdownSettingCellView::switchControlValueChanged);
}

KLDropdownSettingCellView::~KLDropdownSettingCellView() = default;

TSSwitch* KLDropdownSettingCellView::switchControl() const
{
    return ui->switchControl;
}

QLabel* KLDropdownSettingCellView::nameTextField() const
{
    return ui->nameTextField;
}

void KLDropdownSettingCellView::setDraggable(bool draggable)
{
    // The grip keeps its room on every row so the titles line up.
    QSizePolicy policy = ui->dragHandle->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    ui->dragHandle->setSizePolicy(policy);
    ui->dragHandle->setVisible(draggable);
}

void KLDropdownSettingCellView::setDropdownItem(const QVariantMap& item)
{
    m_dropdownItem = item;
    updateUI();
}

QString KLDropdownSettingCellView::itemKey() const
{
    return m_dropdownItem.isEmpty() ? QString() : m_dropdownItem.firstKey();
}

void KLDropdownSettingCellView::updateUI()
{
    const bool enabled = switchEnabled();
    ui->switchControl->setEnabled(enabled);
    // A part this machine cannot show is off here; its stored value stays.
    ui->switchControl->setChecked(enabled && m_dropdownItem.value(itemKey()).toBool());
    ui->nameTextField->setText(title());
}

void KLDropdownSettingCellView::switchControlValueChanged()
{
    const QString key = itemKey();
    setDropdownItem(QVariantMap{{key, ui->switchControl->isChecked()}});
    KLDataManager& data = KLDataManager::sharedInstance();
    QVariantList items = data.dropdownItems();
    const int index = storedIndex(items);
    if (index < 0 || index >= items.size())
        return;
    items[index] = m_dropdownItem;
    data.setDropdownItems(items);
}

KLDropdownSettingMainSensorCellView::KLDropdownSettingMainSensorCellView(QWidget* parent)
    : KLDropdownSettingCellView(parent)
{
}

QString KLDropdownSettingMainSensorCellView::title() const
{
    return KLExtension::localizedStringForKey(QStringLiteral("settings-screen-menu-dropdown-main-sensor-field"));
}

KLDropdownSettingFanControlCellView::KLDropdownSettingFanControlCellView(QWidget* parent)
    : KLDropdownSettingCellView(parent)
{
}

bool KLDropdownSettingFanControlCellView::switchEnabled() const
{
    const std::optional<QList<KLSensor*>> fans = KLSensor::fanSensors();
    return fans && !fans->isEmpty();
}

QString KLDropdownSettingFanControlCellView::title() const
{
    return KLExtension::localizedStringForKey(QStringLiteral("settings-screen-menu-dropdown-fan-control-field"));
}

KLDropdownSettingCategoryCellView::KLDropdownSettingCategoryCellView(QWidget* parent)
    : KLDropdownSettingCellView(parent)
{
    setDraggable(true);
}

bool KLDropdownSettingCategoryCellView::switchEnabled() const
{
    KLCategory* category = KLCategory::getCategoryWithName(itemKey());
    return category && !category->sensors().isEmpty();
}

QString KLDropdownSettingCategoryCellView::title() const
{
    KLCategory* category = KLCategory::getCategoryWithName(itemKey());
    return category ? category->localizedName() : QStringLiteral("--");
}

int KLDropdownSettingCategoryCellView::storedIndex(const QVariantList& items) const
{
    const QString key = itemKey();
    for (int i = 0; i < items.size(); ++i) {
        const QVariantMap entry = items[i].toMap();
        if (!entry.isEmpty() && entry.firstKey() == key)
            return i;
    }
    return -1;
}
