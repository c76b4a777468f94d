#include <QApplication>
#include <QDialog>
#include <QDropEvent>
#include <QImage>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "KLTableRowView.h"
#include "NSAlert.h"
#include "NSAppearance.h"
#include "NSOutlineView.h"
#include "NSStoryboard.h"
#include "NSTableView.h"
#include "NSViewController.h"

namespace {

class Cell : public NSTableCellView {
public:
    QLabel* label = new QLabel(this);
    int reuses = 0;
    void prepareForReuse() override { ++reuses; }
};

// A screen that lists names, reorders them by drag and drop as the dropdown
// sheet does (the first two rows stay put) and records what the table tells it.
class ListScreen : public NSViewController, public NSTableViewDataSource, public NSTableViewDelegate {
public:
    NSTableView* table = new NSTableView(this);
    QStringList names{"main", "fan", "temp", "fans", "volt", "amps", "power"};
    NSStoryboard storyboard;
    int cellsMade = 0;
    int selectionChanges = 0;
    QList<int> actionRows;
    QList<bool> keyUpsOnTable;
    QList<int> unselectable;

    ListScreen()
    {
        new QVBoxLayout(this);
        layout()->setContentsMargins(0, 0, 0, 0);
        layout()->addWidget(table);
        storyboard.registerView("nameCell", [this] {
            ++cellsMade;
            return new Cell;
        });
        table->setStoryboard(&storyboard);
        table->setDataSource(this);
        table->setDelegate(this);
        table->setRowHeight(20);
        table->registerForDraggedTypes({"kelvara.dropdowncategory"});
        QObject::connect(table, &NSTableView::action, this, [this](NSTableView* sender) {
            actionRows << sender->clickedRow();
        });
        resize(200, 100);
    }
    int numberOfRowsInTableView(NSTableView*) override { return int(names.size()); }
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn*, int row) override
    {
        auto* cell = tableView->makeView<Cell>("nameCell", this);
        cell->label->setText(names.value(row));
        return cell;
    }
    NSTableRowView* rowViewForRow(NSTableView* tableView, int) override
    {
        if (auto* reused = tableView->makeView<KLTableRowView>("tableRow", this))
            return reused;
        auto* row = new KLTableRowView;
        row->setIdentifier("tableRow");
        return row;
    }
    bool shouldSelectRow(NSTableView*, int row) override { return !unselectable.contains(row); }
    void tableViewSelectionDidChange(NSTableView*) override { ++selectionChanges; }
    std::unique_ptr<QMimeData> pasteboardWriterForRow(NSTableView*, int row) override
    {
        if (row <= 1 || row >= names.size())
            return nullptr;
        return NSTableView::pasteboardItem("kelvara.dropdowncategory", names[row]);
    }
    NSDragOperation validateDrop(NSTableView*, const NSDraggingInfo&, int row, NSTableViewDropOperation op) override
    {
        return row > 1 && op == NSTableViewDropAbove ? NSDragOperationMove : NSDragOperationNone;
    }
    bool acceptDrop(NSTableView* tableView, const NSDraggingInfo& info, int row, NSTableViewDropOperation) override
    {
        const int source = int(names.indexOf(info.stringForType("kelvara.dropdowncategory")));
        if (source < 0)
            return false;
        const int target = source < row ? row - 1 : row;
        tableView->beginUpdates();
        tableView->moveRowAtIndex(source, target);
        tableView->endUpdates();
        names.move(source, target);
        return true;
    }
    void keyUp(QKeyEvent*) override { keyUpsOnTable << (window()->focusWidget() == table); }

    Cell* cellAt(int row) { return static_cast<Cell*>(table->viewAtColumn(0, row, true)); }
    QPoint centreOf(int row) { return table->rectOfRow(row).center() - QPoint(0, table->visibleRect().top()); }
    bool drop(int dragged, QPoint at)
    {
        auto data = NSTableView::pasteboardItem("kelvara.dropdowncategory", names[dragged]);
        QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &enter);
        QDragMoveEvent move(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &move);
        if (!move.isAccepted())
            return false;
        QDropEvent dropEvent(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &dropEvent);
        return dropEvent.isAccepted();
    }
};

TEST(TableView, ReloadHandsBackTheSameCellsAfterPreparingThem)
{
    ListScreen screen;
    screen.show();
    screen.table->reloadData();
    QList<Cell*> first;
    for (int row = 0; row < 5; ++row)
        first << screen.cellAt(row);
    ASSERT_EQ(screen.cellsMade, 5);
    NSTableRowView* rowView = screen.table->rowViewAtRow(0, false);
    ASSERT_NE(qobject_cast<KLTableRowView*>(rowView), nullptr);

    screen.names[0] = "renamed";
    screen.table->reloadData();
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(screen.cellAt(row), first[row]) << row;
        EXPECT_EQ(first[row]->reuses, 1) << row;
    }
    EXPECT_EQ(screen.cellsMade, 5);
    EXPECT_EQ(screen.table->rowViewAtRow(0, false), rowView);
    EXPECT_EQ(first[0]->label->text(), "renamed");

    // Only the rows in view are built until asked for.
    EXPECT_EQ(screen.table->rowViewAtRow(6, false), nullptr);
    EXPECT_NE(screen.table->rowViewAtRow(6, true), nullptr);
}

TEST(TableView, ClicksAndArrowKeysSelectOnceEachAndKeyUpReachesTheScreen)
{
    ListScreen screen;
    screen.unselectable = {3};
    screen.show();
    screen.table->reloadData();
    QWidget* viewport = screen.table->viewport();

    QTest::mouseClick(viewport, Qt::LeftButton, {}, screen.centreOf(2));
    EXPECT_EQ(screen.table->selectedRow(), 2);
    EXPECT_EQ(screen.selectionChanges, 1);
    EXPECT_TRUE(screen.table->rowViewAtRow(2, false)->isSelected());
    // A second click on the same row changes nothing but still acts.
    QTest::mouseClick(screen.cellAt(2)->label, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(screen.selectionChanges, 1);
    EXPECT_EQ(screen.actionRows, (QList<int>{2, 2}));

    // Down skips the row the delegate refuses; the key release reaches the screen.
    QTest::keyClick(screen.table, Qt::Key_Down);
    EXPECT_EQ(screen.table->selectedRow(), 4);
    EXPECT_EQ(screen.selectionChanges, 2);
    EXPECT_FALSE(screen.table->rowViewAtRow(2, false)->isSelected());
    EXPECT_EQ(screen.keyUpsOnTable, QList<bool>{true});
    QTest::keyClick(screen.table, Qt::Key_Up);
    EXPECT_EQ(screen.table->selectedRow(), 2);

    // Below the last row: nothing selected, the action sees no row.
    screen.resize(200, 400);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(50, 390));
    EXPECT_EQ(screen.table->selectedRow(), -1);
    EXPECT_EQ(screen.actionRows.last(), -1);
    // Programmatic selection tells the delegate too, once.
    const int before = screen.selectionChanges;
    screen.table->selectRowIndexes({3}, false);
    screen.table->selectRowIndexes({3}, false);
    EXPECT_EQ(screen.selectionChanges, before + 1);
}

// Columns wider together than the table: it scrolls sideways, the header with
// the rows, until the last column is in view, and clicks still find their row.
TEST(TableView, ColumnsWiderThanTheTableScrollSidewaysWithTheHeader)
{
    ListScreen screen;
    screen.table->setColumnIdentifiers({"name", "value"});
    screen.table->tableColumns()[0]->setWidth(150);
    screen.table->tableColumns()[1]->setWidth(120);
    screen.table->setHeaderVisible(true);
    screen.show();
    QCoreApplication::processEvents();
    QScrollBar* sideways = screen.table->horizontalScrollBar();
    ASSERT_TRUE(sideways->isVisible());
    QWidget* viewport = screen.table->viewport();
    EXPECT_EQ(sideways->maximum(), 270 - viewport->width());

    sideways->setValue(sideways->maximum());
    QWidget* last = screen.table->viewAtColumn(1, 2, true);
    ASSERT_TRUE(last);
    EXPECT_TRUE(viewport->rect().contains(QRect(last->mapTo(viewport, QPoint()), last->size())));
    auto* header = screen.table->findChild<QHeaderView*>();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->sectionViewportPosition(1), last->mapTo(viewport, QPoint()).x());
    EXPECT_EQ(screen.table->visibleRect().left(), sideways->value());

    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(viewport->width() - 5, screen.centreOf(2).y()));
    EXPECT_EQ(screen.table->selectedRow(), 2);

    // Wide enough for both: no bar, and the last column takes the rest.
    screen.resize(400, 100);
    QCoreApplication::processEvents();  // the bar shows or hides on a queued call
    EXPECT_FALSE(sideways->isVisible());
    EXPECT_EQ(screen.table->viewAtColumn(1, 2, true)->geometry().right(), viewport->width() - 1);
}

TEST(TableView, DropsReorderTheRowsAsTheDataSourceMovesThem)
{
    ListScreen screen;
    screen.resize(200, 200);
    screen.show();
    screen.table->reloadData();
    QList<Cell*> cells;
    for (int row = 0; row < 7; ++row)
        cells << screen.cellAt(row);
    screen.table->selectRowIndexes({3}, false);

    // Row 2 dropped above row 5: rows 3 and 4 move up, it lands at 4.
    const QRect row5 = screen.table->rectOfRow(5);
    EXPECT_TRUE(screen.drop(2, QPoint(10, row5.top() + 1)));
    EXPECT_EQ(screen.names, (QStringList{"main", "fan", "fans", "volt", "temp", "amps", "power"}));
    const QList<int> order{0, 1, 3, 4, 2, 5, 6};
    for (int row = 0; row < 7; ++row) {
        EXPECT_EQ(screen.cellAt(row), cells[order[row]]) << row;
        EXPECT_EQ(screen.table->rowViewAtRow(row, false)->geometry(), screen.table->rectOfRow(row)) << row;
    }
    EXPECT_EQ(screen.table->selectedRow(), 2) << "the selection stays with its row";

    // Above rows 0 and 1 is refused; onto a row falls back to its nearer edge.
    EXPECT_FALSE(screen.drop(4, QPoint(10, screen.table->rectOfRow(1).top() + 1)));
    EXPECT_EQ(screen.table->dropTargetAt(screen.centreOf(5)), std::make_pair(5, NSTableViewDropOn));
    EXPECT_TRUE(screen.drop(6, screen.centreOf(5) - QPoint(0, 2)));
    EXPECT_EQ(screen.names, (QStringList{"main", "fan", "fans", "volt", "temp", "power", "amps"}));
}

// Categories with their sensors, as the file-logging outline shows them.
struct Tree : NSOutlineViewDataSource, NSOutlineViewDelegate {
    struct Node {
        QString name;
        std::vector<Node> children;
    };
    std::vector<Node> roots{{"temp", {{"cpu", {}}, {"gpu", {}}}}, {"volt", {}}, {"fan", {{"left", {}}}}};
    int numberOfChildrenOfItem(NSOutlineView*, void* item) override
    {
        return int(item ? static_cast<Node*>(item)->children.size() : roots.size());
    }
    void* child(NSOutlineView*, int index, void* item) override
    {
        return item ? &static_cast<Node*>(item)->children[index] : &roots[index];
    }
    bool isItemExpandable(NSOutlineView*, void* item) override { return !static_cast<Node*>(item)->children.empty(); }
    QWidget* viewForTableColumn(NSOutlineView*, NSTableColumn*, void* item) override
    {
        return new QLabel(static_cast<Node*>(item)->name);
    }
};

TEST(OutlineView, ExpandingTheRootOpensEveryItemWithChildren)
{
    Tree tree;
    NSOutlineView outline;
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    outline.resize(200, 300);
    outline.show();
    outline.reloadData();
    EXPECT_EQ(outline.numberOfRows(), 3);

    outline.expandItem(nullptr, true);
    ASSERT_EQ(outline.numberOfRows(), 6);
    QStringList names;
    for (int row = 0; row < 6; ++row)
        names << static_cast<Tree::Node*>(outline.itemAtRow(row))->name;
    EXPECT_EQ(names, (QStringList{"temp", "cpu", "gpu", "volt", "fan", "left"}));
    EXPECT_EQ(outline.levelForRow(1), 1);
    EXPECT_EQ(outline.parentForItem(outline.itemAtRow(5)), &tree.roots[2]);
    // Children are indented past their parent's arrow.
    EXPECT_GT(outline.viewAtColumn(0, 1, false)->x(), outline.viewAtColumn(0, 0, false)->x());

    outline.selectRowIndexes({5}, false);
    outline.collapseItem(&tree.roots[2]);
    EXPECT_EQ(outline.numberOfRows(), 5);
    EXPECT_EQ(outline.selectedRow(), -1) << "the selected child is hidden";
}

class SheetScreen : public NSViewController {
public:
    QList<bool> presentedWhenAppearing;
    int disappearances = 0;
    int cancels = 0;
    void cancelOperation() override { ++cancels; }

protected:
    // Its content exists only once it loaded, as a screen made from its interface file.
    void viewDidLoad() override
    {
        auto* layout = new QVBoxLayout(this);
        auto* content = new QLabel(QStringLiteral("content"));
        content->setMinimumSize(420, 260);
        layout->addWidget(content);
    }
    void viewWillAppear() override { presentedWhenAppearing << (presentingViewController() != nullptr); }
    void viewWillDisappear() override { ++disappearances; }
};

TEST(Sheet, IsWindowModalAtTheTopCentreAndKnowsItsPresenterWhileShown)
{
    NSViewController window;
    window.setGeometry(100, 100, 600, 400);
    window.show();
    SheetScreen sheet;
    sheet.setMinimumSize(200, 100);

    window.presentViewControllerAsSheet(&sheet);
    EXPECT_EQ(sheet.presentingViewController(), &window);
    EXPECT_EQ(window.presentedViewController(), &sheet);
    EXPECT_EQ(sheet.presentedWhenAppearing, QList<bool>{true});
    auto* dialog = qobject_cast<QDialog*>(sheet.window());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    // Sized from its loaded content and placed from the first presentation on.
    const QSize size = dialog->size();
    EXPECT_EQ(size, dialog->sizeHint());
    EXPECT_GE(size.width(), 420);
    EXPECT_GE(size.height(), 260);
    EXPECT_NEAR(dialog->frameGeometry().center().x(), window.geometry().center().x(), 1);
    EXPECT_EQ(dialog->frameGeometry().y(), window.geometry().y());
    // Escape asks the controller to cancel; only the controller closes the sheet.
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_EQ(sheet.cancels, 1);
    EXPECT_TRUE(dialog->isVisible());

    sheet.dismissController();
    EXPECT_EQ(sheet.presentingViewController(), nullptr);
    EXPECT_EQ(sheet.disappearances, 1);
    EXPECT_EQ(sheet.parentWidget(), nullptr) << "back with its owner";
    EXPECT_FALSE(sheet.isVisible());

    // The same controller can be presented again.
    window.presentViewControllerAsSheet(&sheet);
    EXPECT_EQ(sheet.presentedWhenAppearing, (QList<bool>{true, true}));
    EXPECT_EQ(sheet.window()->size(), size);
    EXPECT_NEAR(sheet.window()->frameGeometry().center().x(), window.geometry().center().x(), 1);
    window.dismissViewController(&sheet);

    // By default Escape dismisses the sheet.
    NSViewController plain;
    plain.setMinimumSize(200, 100);
    window.presentViewControllerAsSheet(&plain);
    QTest::keyClick(plain.window(), Qt::Key_Escape);
    EXPECT_EQ(window.presentedViewController(), nullptr);
}

TEST(Alert, AnswerFromTheHookRecordsWhatWasAskedWithoutBlocking)
{
    NSAlert::setNextAnswerForTesting(NSAlertSecondButtonReturn);
    EXPECT_TRUE(NSAlert::hasPendingAnswerForTesting());
    NSAlert alert;
    alert.setMessageText("Too many notification items");
    alert.setAlertStyle(NSAlertStyleInformational);
    alert.addButtonWithTitle("OK");
    alert.addButtonWithTitle("Cancel");
    EXPECT_EQ(alert.runModal(), NSAlertSecondButtonReturn);
    EXPECT_FALSE(NSAlert::hasPendingAnswerForTesting());
    const auto asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->messageText, "Too many notification items");
    EXPECT_EQ(asked->style, NSAlertStyleInformational);
    EXPECT_EQ(asked->buttons, (QStringList{"OK", "Cancel"}));
    EXPECT_FALSE(NSAlert::takeAskedForTesting());
}

TEST(Storyboard, MakesScreensThatKnowItAndCellsWithTheirIdentifier)
{
    NSStoryboard storyboard("Main");
    storyboard.registerController("settingsViewController", [] { return new NSViewController; });
    storyboard.registerView("sensorCellIdentifier", [] { return new NSTableCellView; });
    std::unique_ptr<NSViewController> screen(storyboard.instantiateControllerWithIdentifier("settingsViewController"));
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->storyboard(), &storyboard);
    std::unique_ptr<QWidget> cell(storyboard.instantiateViewWithIdentifier("sensorCellIdentifier"));
    EXPECT_EQ(qobject_cast<NSTableCellView*>(cell.get())->identifier(), "sensorCellIdentifier");
    EXPECT_EQ(storyboard.instantiateControllerWithIdentifier("missing"), nullptr);
}

// The colour at a point of a selected row painted on white.
QColor paintedAt(KLTableRowView& row, QPoint at)
{
    QImage image(row.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    row.render(&image, {}, {}, QWidget::DrawChildren);
    return image.pixelColor(at);
}

TEST(KLTableRowView, SelectionIsAnInsetRoundedTintOrFullWidthInDetailMode)
{
    KLTableRowView row;
    row.resize(200, 30);
    row.setSelected(true);
    EXPECT_EQ(row.interiorBackgroundStyle(), NSBackgroundStyleNormal);
    EXPECT_EQ(KLTableRowView::selectionRect(QRectF(0, 0, 200, 30), false), QRectF(10, 2.5, 180, 25));

    // Light: black at 0.1 over white inside the inset, nothing in the margin.
    EXPECT_NEAR(paintedAt(row, {100, 15}).red(), 230, 1);
    EXPECT_EQ(paintedAt(row, {5, 15}), QColor(Qt::white));
    EXPECT_EQ(paintedAt(row, {100, 1}), QColor(Qt::white));

    row.setDetailMode(true);
    EXPECT_NEAR(paintedAt(row, {1, 1}).red(), 217, 1);
    NSAppearance::forceDarkModeForTesting(true);
    EXPECT_EQ(KLTableRowView::selectionColor(true), QColor::fromRgbF(1, 1, 1, 0.15f));
    // A tint that shows on a dark sidebar too.
    EXPECT_EQ(KLTableRowView::selectionColor(false), QColor::fromRgbF(1, 1, 1, 0.12f));
    NSAppearance::forceDarkModeForTesting(std::nullopt);

    row.setSelectionHighlightStyle(NSTableViewSelectionHighlightStyleNone);
    EXPECT_EQ(paintedAt(row, {100, 15}), QColor(Qt::white));
}

TEST(NSTableRowView, PlainSelectedRowEmphasizesItsTexts)
{
    ListScreen screen;
    screen.show();
    screen.table->setDelegate(nullptr);
    struct Plain : NSTableViewDelegate {
        QWidget* viewForTableColumn(NSTableView* table, NSTableColumn*, int) override
        {
            return table->makeViewWithIdentifier("nameCell");
        }
    } plain;
    screen.table->setDelegate(&plain);
    screen.table->reloadData();
    screen.table->selectRowIndexes({1}, false);
    auto* cell = qobject_cast<NSTableCellView*>(screen.table->viewAtColumn(0, 1, false));
    EXPECT_EQ(cell->backgroundStyle(), NSBackgroundStyleEmphasized);
    EXPECT_EQ(cell->palette().color(QPalette::WindowText), cell->palette().color(QPalette::HighlightedText));
    screen.table->selectRowIndexes({2}, false);
    EXPECT_NE(cell->palette().color(QPalette::WindowText), cell->palette().color(QPalette::HighlightedText));
    screen.table->deselectAll();
    EXPECT_EQ(cell->backgroundStyle(), NSBackgroundStyleNormal);
}

}  // namespace
