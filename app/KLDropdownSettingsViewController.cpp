#include "KLDropdownSettingsViewController.h"

#include <QPushButton>
#include <algorithm>

#include "KLDataManager.h"
#include "KLDropdownSettingCellView.h"
#include "NSString+KLExtension.h"
#include "NSStoryboard.h"
#include "ui_KLDropdownSettingsViewController.h"

namespace {

QString keyOf(const QVariant& entry)
{
    const QVariantMap map = entry.toMap();
    return map.isEmpty() ? QString() : map.firstKey();
}

}  // namespace

KLDropdownSettingsViewController::KLDropdownSettingsViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLDropdownSettingsViewController>())
{
    ui->setupUi(this);
}

KLDropdownSettingsViewController::~KLDropdownSettingsViewController() = default;

QVariantList KLDropdownSettingsViewController::dropdownItems() const
{
    return KLDataManager::sharedInstance().dropdownItems();
}

NSTableView* KLDropdownSettingsViewController::dropDownItemsTableView() const
{
    return ui->dropDownItemsTableView;
}

void KLDropdownSettingsViewController::configureUI()
{
    QFont title = font();
    title.setPixelSize(15);
    title.setBold(true);
    ui->dropDownSectionField->setFont(title);

    NSTableView* table = ui->dropDownItemsTableView;
    table->setStoryboard(storyboard());
    table->setDataSource(this);
    table->setDelegate(this);
    table->setFixedHeight(int(kRowsHeight) + 2 * table->frameWidth());
    table->registerForDraggedTypes({QString::fromLatin1(KLDropdownCategoryDragType)});
    connect(ui->closeButton, &QPushButton::clicked, this, [this] { dismissController(); });
}

void KLDropdownSettingsViewController::localizeUI()
{
    ui->dropDownSectionField->setText(
        KLExtension::localizedStringForKey(QStringLiteral("dropdown-settings-screen-section-field")));
    ui->closeButton->setText(KLExtension::localizedStringForKey(QStringLiteral("close-button")));
}

void KLDropdownSettingsViewController::viewDidAppear()
{
    KLViewController::viewDidAppear();
    updateUI();
}

void KLDropdownSettingsViewController::updateUI()
{
    NSTableView* table = ui->dropDownItemsTableView;
    table->reloadData();
    const int count = table->numberOfRows();
    if (count > 0)
        table->setRowHeight(std::max(kRowsHeight / count, kMinimumRowHeight));
}

int KLDropdownSettingsViewController::numberOfRowsInTableView(NSTableView*)
{
    return int(dropdownItems().size());
}

QWidget* KLDropdownSettingsViewController::viewForTableColumn(NSTableView* tableView, NSTableColumn*, int row)
{
    const QVariantList items = dropdownItems();
    if (row < 0 || row >= items.size())
        return nullptr;
    const QString identifier = row == 0   ? QStringLiteral("dropdownSettingMainSensorCellView")
                               : row == 1 ? QStringLiteral("dropdownSettingFanControlCellView")
                                          : QStringLiteral("dropdownSettingCategoryCellView");
    auto* cell = tableView->makeView<KLDropdownSettingCellView>(identifier, this);
    if (cell)
        cell->setDropdownItem(items[row].toMap());
    return cell;
}

std::unique_ptr<QMimeData> KLDropdownSettingsViewController::pasteboardWriterForRow(NSTableView*, int row)
{
    const QVariantList items = dropdownItems();
    // The main sensor and the fan control stay first.
    if (row <= 1 || row >= items.size())
        return nullptr;
    return NSTableView::pasteboardItem(QString::fromLatin1(KLDropdownCategoryDragType), keyOf(items[row]));
}

NSDragOperation KLDropdownSettingsViewController::validateDrop(NSTableView*, const NSDraggingInfo&, int proposedRow,
                                                               NSTableViewDropOperation operation)
{
    return proposedRow > 1 && operation == NSTableViewDropAbove ? NSDragOperationMove : NSDragOperationNone;
}

bool KLDropdownSettingsViewController::acceptDrop(NSTableView* tableView, const NSDraggingInfo& info, int row,
                                                  NSTableViewDropOperation)
{
    const QString name = info.stringForType(QString::fromLatin1(KLDropdownCategoryDragType));
    QVariantList items = dropdownItems();
    int source = -1;
    for (int i = 0; i < items.size(); ++i) {
        if (keyOf(items[i]) == name) {
            source = i;
            break;
        }
    }
    if (source < 0)
        return false;
    const int target = source < row ? row - 1 : row;
    tableView->beginUpdates();
    tableView->moveRowAtIndex(source, target);
    tableView->endUpdates();
    items.move(source, std::clamp(target, 0, int(items.size()) - 1));
    KLDataManager::sharedInstance().setDropdownItems(items);
    return true;
}
