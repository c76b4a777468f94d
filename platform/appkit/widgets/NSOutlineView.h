#pragma once
// A table whose rows are items in a tree: the data source answers children
// by parent (nullptr is the root), the delegate makes cells by item. Items
// are the caller's objects, passed as plain pointers. Expanded items show
// their children below them, indented, with a disclosure arrow on the first
// column.
#include <QSet>

#include "NSTableView.h"

class NSOutlineView;

class NSOutlineViewDataSource {
public:
    virtual ~NSOutlineViewDataSource() = default;
    virtual int numberOfChildrenOfItem(NSOutlineView*, void* item) = 0;
    virtual void* child(NSOutlineView*, int index, void* item) = 0;
    virtual bool isItemExpandable(NSOutlineView*, void* item) = 0;
};

class NSOutlineViewDelegate {
public:
    virtual ~NSOutlineViewDelegate() = default;
    virtual QWidget* viewForTableColumn(NSOutlineView*, NSTableColumn*, void* /*item*/) { return nullptr; }
    virtual NSTableRowView* rowViewForItem(NSOutlineView*, void* /*item*/) { return nullptr; }
    virtual bool shouldSelectItem(NSOutlineView*, void* /*item*/) { return true; }
    virtual void outlineViewSelectionDidChange(NSOutlineView*) {}
};

class NSOutlineView : public NSTableView {
    Q_OBJECT
public:
    explicit NSOutlineView(QWidget* parent = nullptr);

    NSOutlineViewDataSource* outlineDataSource() const { return m_outlineDataSource; }
    void setDataSource(NSOutlineViewDataSource* dataSource) { m_outlineDataSource = dataSource; }
    NSOutlineViewDelegate* outlineDelegate() const { return m_outlineDelegate; }
    void setDelegate(NSOutlineViewDelegate* delegate) { m_outlineDelegate = delegate; }

    // nullptr expands every top-level item; expandChildren also opens their
    // descendants. Both reload the rows.
    void expandItem(void* item, bool expandChildren = false);
    void collapseItem(void* item, bool collapseChildren = false);
    bool isItemExpanded(void* item) const { return m_expanded.contains(item); }

    void* itemAtRow(int row) const;
    int rowForItem(void* item) const;
    int levelForRow(int row) const;
    void* parentForItem(void* item) const;
    int indentationPerLevel() const { return m_indentation; }
    void setIndentationPerLevel(int points) { m_indentation = points; }

protected:
    int rowCount() override;
    QWidget* cellFor(NSTableColumn* column, int row) override;
    NSTableRowView* rowViewFor(int row) override;
    double heightFor(int) override { return -1; }
    bool canSelect(int row) override;
    void selectionChanged() override;
    int cellIndent(int column, int row) const override;
    void decorateRow(NSTableRowView* view, int row) override;

private:
    struct Node {
        void* item;
        void* parent;
        int level;
        bool expandable;
    };
    void flatten(void* parent, int level);
    void expandTree(void* item, bool expandChildren);
    void collapseTree(void* item, bool collapseChildren);

    NSOutlineViewDataSource* m_outlineDataSource = nullptr;
    NSOutlineViewDelegate* m_outlineDelegate = nullptr;
    std::vector<Node> m_nodes;
    QSet<void*> m_expanded;
    int m_indentation = 16;
};
