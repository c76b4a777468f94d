#include "NSOutlineView.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>

namespace {

const int kDisclosureWidth = 16;

// The arrow before an expandable item: right when closed, down when open.
class DisclosureButton : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        if (isChecked())
            painter.rotate(90);
        QPainterPath arrow;
        arrow.moveTo(-2.5, -4);
        arrow.lineTo(3, 0);
        arrow.lineTo(-2.5, 4);
        arrow.closeSubpath();
        QColor color = palette().color(QPalette::WindowText);
        color.setAlphaF(0.6);
        painter.fillPath(arrow, color);
    }
};

}  // namespace

NSOutlineView::NSOutlineView(QWidget* parent)
    : NSTableView(parent)
{
}

void NSOutlineView::flatten(void* parent, int level)
{
    const int count = m_outlineDataSource->numberOfChildrenOfItem(this, parent);
    for (int index = 0; index < count; ++index) {
        void* item = m_outlineDataSource->child(this, index, parent);
        const bool expandable = m_outlineDataSource->isItemExpandable(this, item);
        m_nodes.push_back({item, parent, level, expandable});
        if (expandable && m_expanded.contains(item))
            flatten(item, level + 1);
    }
}

int NSOutlineView::rowCount()
{
    m_nodes.clear();
    if (m_outlineDataSource)
        flatten(nullptr, 0);
    return int(m_nodes.size());
}

QWidget* NSOutlineView::cellFor(NSTableColumn* column, int row)
{
    return m_outlineDelegate ? m_outlineDelegate->viewForTableColumn(this, column, itemAtRow(row)) : nullptr;
}

NSTableRowView* NSOutlineView::rowViewFor(int row)
{
    return m_outlineDelegate ? m_outlineDelegate->rowViewForItem(this, itemAtRow(row)) : nullptr;
}

bool NSOutlineView::canSelect(int row)
{
    return m_outlineDelegate ? m_outlineDelegate->shouldSelectItem(this, itemAtRow(row)) : true;
}

void NSOutlineView::selectionChanged()
{
    if (m_outlineDelegate)
        m_outlineDelegate->outlineViewSelectionDidChange(this);
}

int NSOutlineView::cellIndent(int column, int row) const
{
    if (column != 0 || row < 0 || row >= int(m_nodes.size()))
        return 0;
    return m_nodes[row].level * m_indentation + kDisclosureWidth;
}

void NSOutlineView::decorateRow(NSTableRowView* view, int row)
{
    auto* disclosure = view->findChild<QAbstractButton*>(QStringLiteral("NSOutlineViewDisclosureButton"),
                                                         Qt::FindDirectChildrenOnly);
    const Node& node = m_nodes[row];
    if (!node.expandable) {
        if (disclosure)
            disclosure->hide();
        return;
    }
    if (!disclosure) {
        disclosure = new DisclosureButton(view);
        disclosure->setObjectName(QStringLiteral("NSOutlineViewDisclosureButton"));
        disclosure->setCheckable(true);
        disclosure->setFocusPolicy(Qt::NoFocus);
        connect(disclosure, &QAbstractButton::clicked, this, [this, disclosure](bool open) {
            const int at = int(disclosure->property("outlineRow").toInt());
            void* item = itemAtRow(at);
            // After the current click has finished: the reload reuses this row.
            QMetaObject::invokeMethod(this, [this, item, open] { open ? expandItem(item) : collapseItem(item); },
                                      Qt::QueuedConnection);
        });
    }
    disclosure->setProperty("outlineRow", row);
    disclosure->setChecked(m_expanded.contains(node.item));
    disclosure->setGeometry(node.level * m_indentation, 0, kDisclosureWidth, view->height());
    disclosure->show();
    disclosure->raise();
}

void NSOutlineView::expandTree(void* item, bool expandChildren)
{
    if (!m_outlineDataSource->isItemExpandable(this, item))
        return;
    m_expanded.insert(item);
    if (!expandChildren)
        return;
    const int count = m_outlineDataSource->numberOfChildrenOfItem(this, item);
    for (int index = 0; index < count; ++index)
        expandTree(m_outlineDataSource->child(this, index, item), true);
}

void NSOutlineView::expandItem(void* item, bool expandChildren)
{
    if (!m_outlineDataSource)
        return;
    if (item) {
        expandTree(item, expandChildren);
    } else {
        const int count = m_outlineDataSource->numberOfChildrenOfItem(this, nullptr);
        for (int index = 0; index < count; ++index)
            expandTree(m_outlineDataSource->child(this, index, nullptr), expandChildren);
    }
    reloadData();
}

void NSOutlineView::collapseTree(void* item, bool collapseChildren)
{
    m_expanded.remove(item);
    if (!collapseChildren || !m_outlineDataSource->isItemExpandable(this, item))
        return;
    const int count = m_outlineDataSource->numberOfChildrenOfItem(this, item);
    for (int index = 0; index < count; ++index)
        collapseTree(m_outlineDataSource->child(this, index, item), true);
}

void NSOutlineView::collapseItem(void* item, bool collapseChildren)
{
    if (!m_outlineDataSource)
        return;
    if (item) {
        collapseTree(item, collapseChildren);
    } else {
        const int count = m_outlineDataSource->numberOfChildrenOfItem(this, nullptr);
        for (int index = 0; index < count; ++index)
            collapseTree(m_outlineDataSource->child(this, index, nullptr), collapseChildren);
    }
    // The selected item may have gone under its parent.
    void* selected = itemAtRow(selectedRow());
    reloadData();
    const int row = rowForItem(selected);
    if (selected && row != selectedRow())
        selectRowIndexes(row >= 0 ? QList<int>{row} : QList<int>{}, false);
}

void* NSOutlineView::itemAtRow(int row) const
{
    return row >= 0 && row < int(m_nodes.size()) ? m_nodes[row].item : nullptr;
}

int NSOutlineView::rowForItem(void* item) const
{
    for (size_t row = 0; row < m_nodes.size(); ++row)
        if (m_nodes[row].item == item)
            return int(row);
    return -1;
}

int NSOutlineView::levelForRow(int row) const
{
    return row >= 0 && row < int(m_nodes.size()) ? m_nodes[row].level : -1;
}

void* NSOutlineView::parentForItem(void* item) const
{
    const int row = rowForItem(item);
    return row >= 0 ? m_nodes[row].parent : nullptr;
}
