#pragma once
// The sheet that arranges Kelvara Menu's popover: the main-sensor tile and
// the fan control (always first, in that order) and one section per category
// in an order chosen by dragging, each switched on or off. Every change is
// stored at once; the sheet keeps no list of its own.
#include <QVariantList>
#include <memory>

#include "KLViewController.h"
#include "NSTableView.h"

namespace Ui {
class KLDropdownSettingsViewController;
}

inline constexpr const char* KLDropdownCategoryDragType = "kelvara.dropdowncategory";

class KLDropdownSettingsViewController : public KLViewController,
                                         public NSTableViewDataSource,
                                         public NSTableViewDelegate {
    Q_OBJECT
public:
    // The rows share this height between them...
    static constexpr double kRowsHeight = 350;
    // ...but none gets less; a longer layout scrolls.
    static constexpr double kMinimumRowHeight = 40;

    explicit KLDropdownSettingsViewController(QWidget* parent = nullptr);
    ~KLDropdownSettingsViewController() override;

    // The stored layout, read anew at every use.
    QVariantList dropdownItems() const;
    NSTableView* dropDownItemsTableView() const;

    void updateUI();

    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    bool shouldSelectRow(NSTableView*, int) override { return false; }
    std::unique_ptr<QMimeData> pasteboardWriterForRow(NSTableView* tableView, int row) override;
    NSDragOperation validateDrop(NSTableView* tableView, const NSDraggingInfo& info, int proposedRow,
                                 NSTableViewDropOperation operation) override;
    bool acceptDrop(NSTableView* tableView, const NSDraggingInfo& info, int row,
                    NSTableViewDropOperation operation) override;

protected:
    void configureUI() override;
    void localizeUI() override;
    void viewDidAppear() override;

private:
    std::unique_ptr<Ui::KLDropdownSettingsViewController> ui;
};
