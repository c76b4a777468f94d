#pragma once
// A view-based table: a scroll area of row widgets. The data source answers
// the row count; the delegate makes each row's cells (reusing earlier ones
// through makeViewWithIdentifier) and its row view. Rows are built when they
// first come into view and kept until the next reload, which hands their
// cells back for reuse instead of deleting them. Single selection, changed
// by click and the arrow keys; the action signal on every click; key
// releases pass on to the parent screen (NSViewController::keyUp). Rows are
// reordered by drag and drop through the data source's three drag methods.
// Columns wider together than the table scroll sideways with the header.
#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QMimeData>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "NSTableCellView.h"
#include "NSTableRowView.h"

class NSTableView;
class QHeaderView;
class QDropEvent;
class QStandardItemModel;

enum NSTableViewDropOperation {
    NSTableViewDropOn = 0,
    NSTableViewDropAbove = 1,
};

enum NSDragOperation {
    NSDragOperationNone = 0,
    NSDragOperationMove = 16,
};

// What a drop carries: the dragged pasteboard and the table it came from.
class NSDraggingInfo {
public:
    NSDraggingInfo(const QMimeData* pasteboard, NSTableView* source)
        : m_pasteboard(pasteboard), m_source(source) {}
    const QMimeData* draggingPasteboard() const { return m_pasteboard; }
    // The string stored for type, empty when there is none.
    QString stringForType(const QString& type) const;
    NSTableView* draggingSource() const { return m_source; }

private:
    const QMimeData* m_pasteboard;
    NSTableView* m_source;
};

class NSTableColumn {
public:
    QString identifier() const { return m_identifier; }
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    int width() const;
    void setWidth(int width);
    NSTableView* tableView() const { return m_table; }

private:
    friend class NSTableView;
    NSTableColumn(NSTableView* table, QString identifier) : m_table(table), m_identifier(std::move(identifier)) {}
    NSTableView* m_table;
    QString m_identifier;
    QString m_title;
    int m_width = 100;
};

class NSTableViewDataSource {
public:
    virtual ~NSTableViewDataSource() = default;
    virtual int numberOfRowsInTableView(NSTableView* tableView) = 0;

    // Drag and drop, for tables registered for a dragged type.
    // What dragging the row carries (pasteboardItem makes one); null: the row
    // cannot be dragged.
    virtual std::unique_ptr<QMimeData> pasteboardWriterForRow(NSTableView*, int /*row*/) { return nullptr; }
    virtual NSDragOperation validateDrop(NSTableView*, const NSDraggingInfo&, int /*proposedRow*/,
                                         NSTableViewDropOperation)
    {
        return NSDragOperationNone;
    }
    virtual bool acceptDrop(NSTableView*, const NSDraggingInfo&, int /*row*/, NSTableViewDropOperation)
    {
        return false;
    }
};

class NSTableViewDelegate {
public:
    virtual ~NSTableViewDelegate() = default;
    // The cell of the row in the column; null leaves the slot empty.
    virtual QWidget* viewForTableColumn(NSTableView*, NSTableColumn*, int /*row*/) { return nullptr; }
    // The row view; null gives a plain NSTableRowView. The table owns it.
    virtual NSTableRowView* rowViewForRow(NSTableView*, int /*row*/) { return nullptr; }
    // The row's height in points; negative: the table's rowHeight.
    virtual double heightOfRow(NSTableView*, int /*row*/) { return -1; }
    // Whether a click or an arrow key may select the row.
    virtual bool shouldSelectRow(NSTableView*, int /*row*/) { return true; }
    virtual void tableViewSelectionDidChange(NSTableView*) {}
};

class NSTableView : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(double rowHeight READ rowHeight WRITE setRowHeight)
    Q_PROPERTY(bool headerVisible READ isHeaderVisible WRITE setHeaderVisible)
    Q_PROPERTY(QStringList columnIdentifiers READ columnIdentifiers WRITE setColumnIdentifiers)
public:
    explicit NSTableView(QWidget* parent = nullptr);
    ~NSTableView() override;

    NSTableViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(NSTableViewDataSource* dataSource) { m_dataSource = dataSource; }
    NSTableViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(NSTableViewDelegate* delegate) { m_delegate = delegate; }

    // Columns. A new table has one column with an empty identifier.
    const std::vector<std::unique_ptr<NSTableColumn>>& tableColumns() const { return m_columns; }
    NSTableColumn* tableColumnWithIdentifier(const QString& identifier) const;
    NSTableColumn* addTableColumn(const QString& identifier, const QString& title = {}, int width = 100);
    QStringList columnIdentifiers() const;
    void setColumnIdentifiers(const QStringList& identifiers);
    bool isHeaderVisible() const;
    void setHeaderVisible(bool visible);

    // Asks the data source and delegate again; cells go back to the reuse
    // queue first, so the delegate gets the same widgets back.
    void reloadData();
    // Remakes the cells of these rows in these columns only.
    void reloadDataForRowIndexes(const QList<int>& rows, const QList<int>& columns);
    int numberOfRows() const { return int(m_rows.size()); }

    // A cell or row view from the reuse queue (prepared for reuse), else a
    // new one from the storyboard's view factory; null when neither has one.
    // The owner is accepted for the familiar shape; outlets come from the
    // cell's own .ui.
    QWidget* makeViewWithIdentifier(const QString& identifier, QObject* owner = nullptr);
    template <class T>
    T* makeView(const QString& identifier, QObject* owner = nullptr)
    {
        return dynamic_cast<T*>(makeViewWithIdentifier(identifier, owner));
    }
    // The storyboard whose view factories back makeViewWithIdentifier; the
    // main storyboard when none is set.
    void setStoryboard(class NSStoryboard* storyboard) { m_storyboard = storyboard; }

    QWidget* viewAtColumn(int column, int row, bool makeIfNecessary);
    NSTableRowView* rowViewAtRow(int row, bool makeIfNecessary);

    // Heights and places, in the table's own coordinates: y from the top of
    // the first row, x from the first column's left edge, like a flipped view.
    double rowHeight() const { return m_rowHeight; }
    void setRowHeight(double height);
    int rowAtPoint(QPointF point) const;
    QRect rectOfRow(int row) const;
    QRect visibleRect() const;
    void scrollRowToVisible(int row);

    // Single selection; -1 when nothing is selected. Changing it tells the
    // delegate's tableViewSelectionDidChange once.
    int selectedRow() const { return m_selectedRow; }
    void selectRowIndexes(const QList<int>& rows, bool byExtendingSelection);
    void deselectAll();
    // The row of the click being handled (the action's sender row), -1 for a
    // click below the rows or a change made by key.
    int clickedRow() const { return m_clickedRow; }
    NSTableViewSelectionHighlightStyle selectionHighlightStyle() const { return m_highlightStyle; }
    void setSelectionHighlightStyle(NSTableViewSelectionHighlightStyle style);

    // Reordering: moves are applied to the built rows at once, the layout at
    // the end of the outermost update block.
    void beginUpdates();
    void endUpdates();
    void moveRowAtIndex(int from, int to);

    void registerForDraggedTypes(const QStringList& types);
    QStringList registeredDraggedTypes() const { return m_dragTypes; }
    // A pasteboard item holding text for one type.
    static std::unique_ptr<QMimeData> pasteboardItem(const QString& type, const QString& string);
    // Where a drop at a point (viewport coordinates) would land, as the data
    // source is asked: above a row boundary near the edges of a row, on the
    // row in its middle.
    std::pair<int, NSTableViewDropOperation> dropTargetAt(QPoint viewportPoint) const;

signals:
    // The table's action: sent on every click in the table.
    void action(NSTableView* sender);

protected:
    // The rows as the table shows them; the outline answers these from its items.
    virtual int rowCount();
    virtual QWidget* cellFor(NSTableColumn* column, int row);
    virtual NSTableRowView* rowViewFor(int row);
    virtual double heightFor(int row);
    virtual bool canSelect(int row);
    virtual void selectionChanged();
    // Room left of the cell in the column (the outline's indentation).
    virtual int cellIndent(int /*column*/, int /*row*/) const { return 0; }
    // Lets a subclass add its own parts to a built row.
    virtual void decorateRow(NSTableRowView*, int /*row*/) {}

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Row {
        NSTableRowView* view = nullptr;  // built when first shown
        std::vector<QWidget*> cells;     // one per column, may be null
        double height = 0;
    };

    void buildRow(int row);
    void placeCell(int row, int column);
    void recycle(QWidget* view);
    void recycleRow(Row& row);
    void hideLeftovers();
    void recomputeOffsets();
    void layoutRows();
    void positionBuiltRows();
    std::optional<std::pair<int, NSTableViewDropOperation>> proposeDrop(QDropEvent* event);
    void showDropIndicator(int row, NSTableViewDropOperation operation);
    void updateScrollRange();
    void columnsChanged();
    int columnX(int column) const;
    int columnWidth(int column) const;
    // The rows' width: the viewport's, or all the columns' when wider.
    int documentWidth() const;
    void setSelection(int row, bool notify);
    void selectByKey(int step);
    friend class NSTableColumn;

    NSTableViewDataSource* m_dataSource = nullptr;
    NSTableViewDelegate* m_delegate = nullptr;
    class NSStoryboard* m_storyboard = nullptr;
    std::vector<std::unique_ptr<NSTableColumn>> m_columns;
    QWidget* m_document = nullptr;  // holds the rows; scrolling moves it
    QWidget* m_dropIndicator = nullptr;
    QHeaderView* m_header = nullptr;
    bool m_syncingHeader = false;
    QStandardItemModel* m_headerModel = nullptr;
    std::vector<Row> m_rows;
    std::vector<int> m_tops;  // y of each row's top, and the total height last
    QHash<QString, QList<QPointer<QWidget>>> m_reuse;
    double m_rowHeight = 24;
    int m_selectedRow = -1;
    int m_clickedRow = -1;
    NSTableViewSelectionHighlightStyle m_highlightStyle = NSTableViewSelectionHighlightStyleRegular;
    int m_updateDepth = 0;
    QStringList m_dragTypes;
    int m_pressRow = -1;
    QPoint m_pressPos;
    bool m_pressInside = false;
};
