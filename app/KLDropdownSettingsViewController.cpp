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

// The first entry of that name; only entries past the two fixed ones move.
int indexOf(const QVariantList& items, const QString& name)
{
    for (int i = 0; i < items.size(); ++i) {
        if (keyOf(items[i]) == name)
            return i;
    }
    return -1;
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

NSDragOperation KLDropdownSettingsViewController::validateDrop(NSTableView*, const NSDraggingInfo& info, int proposedRow,
                                                               NSTableViewDropOperation operation)
{
    if (proposedRow <= 1 || operation != NSTableViewDropAbove)
        return NSDragOperationNone;
    // The popover reads rows 0 and 1 by place: a drag naming either (from
    // another window, say) never moves them.
    const QVariantList items = dropdownItems();
    const int source = indexOf(items, info.stringForType(QString::fromLatin1(KLDropdownCategoryDragType)));
    return source > 1 && proposedRow <= items.size() ? NSDragOperationMove : NSDragOperationNone;
}

bool KLDropdownSettingsViewController::acceptDrop(NSTableView* tableView, const NSDraggingInfo& info, int row,
                                                  NSTableViewDropOperation operation)
{
    QVariantList items = dropdownItems();
    const int source = indexOf(items, info.stringForType(QString::fromLatin1(KLDropdownCategoryDragType)));
    if (source <= 1 || row <= 1 || row > items.size() || operation != NSTableViewDropAbove)
        return false;
    const int target = source < row ? row - 1 : row;
    tableView->beginUpdates();
    tableView->moveRowAtIndex(source, target);
    tableView->endUpdates();
    items.move(source, target);
    KLDataManager::sharedInstance().setDropdownItems(items);
    return true;
}
