#include "NSTableView.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "NSStoryboard.h"

namespace {

// The reuse key of the row views the table makes itself.
const QString kDefaultRowViewKey = QStringLiteral("NSTableViewRowViewKey");

// The line (between rows) or frame (around a row) where a drop would land.
class DropIndicator : public QWidget {
public:
    using QWidget::QWidget;
    bool onRow = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor color = palette().color(QPalette::Active, QPalette::Highlight);
        if (onRow) {
            painter.setPen(QPen(color, 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
        } else {
            painter.fillRect(rect(), color);
        }
    }
};

}  // namespace

QString NSDraggingInfo::stringForType(const QString& type) const
{
    return m_pasteboard ? QString::fromUtf8(m_pasteboard->data(type)) : QString();
}

void NSTableColumn::setTitle(const QString& title)
{
    m_title = title;
    m_table->columnsChanged();
}

int NSTableColumn::width() const
{
    return m_width;
}

void NSTableColumn::setWidth(int width)
{
    m_width = std::max(0, width);
    m_table->columnsChanged();
}

NSTableView::NSTableView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    // Columns wider together than the table scroll sideways, so none is out of reach.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setSingleStep(20);
    m_document = new QWidget(viewport());
    m_dropIndicator = new DropIndicator(m_document);
    m_dropIndicator->hide();
    m_headerModel = new QStandardItemModel(0, 0, this);
    m_header = new QHeaderView(Qt::Horizontal, this);
    m_header->setModel(m_headerModel);
    m_header->setSectionsClickable(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->hide();
    connect(m_header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (m_syncingHeader || column >= int(m_columns.size()))
            return;
        m_columns[column]->m_width = size;
        positionBuiltRows();
    });
    addTableColumn(QString());
}

NSTableView::~NSTableView() = default;

NSTableColumn* NSTableView::tableColumnWithIdentifier(const QString& identifier) const
{
    for (const auto& column : m_columns)
        if (column->identifier() == identifier)
            return column.get();
    return nullptr;
}

NSTableColumn* NSTableView::addTableColumn(const QString& identifier, const QString& title, int width)
{
    m_columns.push_back(std::unique_ptr<NSTableColumn>(new NSTableColumn(this, identifier)));
    NSTableColumn* column = m_columns.back().get();
    column->m_title = title;
    column->m_width = width;
    columnsChanged();
    return column;
}

QStringList NSTableView::columnIdentifiers() const
{
    QStringList identifiers;
    for (const auto& column : m_columns)
        identifiers << column->identifier();
    return identifiers;
}

void NSTableView::setColumnIdentifiers(const QStringList& identifiers)
{
    for (Row& row : m_rows)
        recycleRow(row);
    m_columns.clear();
    for (const QString& identifier : identifiers)
        m_columns.push_back(std::unique_ptr<NSTableColumn>(new NSTableColumn(this, identifier)));
    columnsChanged();
    reloadData();
}

bool NSTableView::isHeaderVisible() const
{
    return !m_header->isHidden();
}

void NSTableView::setHeaderVisible(bool visible)
{
    m_header->setVisible(visible);
    columnsChanged();
}

void NSTableView::columnsChanged()
{
    m_syncingHeader = true;
    m_headerModel->setColumnCount(int(m_columns.size()));
    for (int column = 0; column < int(m_columns.size()); ++column) {
        m_headerModel->setHeaderData(column, Qt::Horizontal, m_columns[column]->title());
        m_header->resizeSection(column, columnWidth(column));
    }
    m_syncingHeader = false;
    const int headerHeight = isHeaderVisible() ? m_header->sizeHint().height() : 0;
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = contentsRect();
    m_header->setGeometry(area.left(), area.top(), viewport()->width(), headerHeight);
    m_header->setOffset(horizontalScrollBar()->value());
    updateScrollRange();
    positionBuiltRows();
}

int NSTableView::columnX(int column) const
{
    int x = 0;
    for (int c = 0; c < column; ++c)
        x += columnWidth(c);
    return x;
}

int NSTableView::columnWidth(int column) const
{
    const int width = m_columns[column]->width();
    if (column + 1 < int(m_columns.size()))
        return width;
    // The last column takes what is left of the width.
    return std::max(width, viewport()->width() - columnX(column));
}

int NSTableView::documentWidth() const
{
    int columns = 0;
    for (const auto& column : m_columns)
        columns += column->width();
    return std::max(viewport()->width(), columns);
}

QWidget* NSTableView::makeViewWithIdentifier(const QString& identifier, QObject*)
{
    auto it = m_reuse.find(identifier);
    if (it != m_reuse.end()) {
        while (!it->isEmpty()) {
            QPointer<QWidget> view = it->takeFirst();
            if (!view)
                continue;
            if (auto* cell = qobject_cast<NSTableCellView*>(view))
                cell->prepareForReuse();
            return view;
        }
    }
    NSStoryboard* storyboard = m_storyboard ? m_storyboard : NSStoryboard::mainStoryboard();
    QWidget* view = storyboard ? storyboard->instantiateViewWithIdentifier(identifier) : nullptr;
    if (view) {
        view->hide();
        view->setParent(m_document);
    }
    return view;
}

void NSTableView::recycle(QWidget* view)
{
    QString identifier;
    if (auto* cell = qobject_cast<NSTableCellView*>(view))
        identifier = cell->identifier();
    else if (auto* rowView = qobject_cast<NSTableRowView*>(view))
        identifier = rowView->identifier();
    if (identifier.isEmpty()) {
        // Nothing can ask for it again; later, as it may be the sender of
        // the signal that asked for this reload.
        view->hide();
        view->deleteLater();
        return;
    }
    m_reuse[identifier].append(view);
}

void NSTableView::recycleRow(Row& row)
{
    for (QWidget* cell : row.cells) {
        if (!cell)
            continue;
        // A row view about to go keeps no cell that may be used again.
        if (row.view && row.view->identifier().isEmpty())
            cell->setParent(m_document);
        recycle(cell);
    }
    row.cells.clear();
    if (row.view)
        recycle(row.view);
    row.view = nullptr;
}

void NSTableView::hideLeftovers()
{
    const int keep = std::max(numberOfRows(), 8);
    for (auto& pool : m_reuse) {
        pool.removeAll(QPointer<QWidget>());
        while (pool.size() > keep) {
            QPointer<QWidget> extra = pool.takeLast();
            extra->hide();
            extra->deleteLater();
        }
        for (const QPointer<QWidget>& view : pool)
            if (!view->isHidden())
                view->hide();
    }
}

void NSTableView::reloadData()
{
    for (Row& row : m_rows)
        recycleRow(row);
    const int count = std::max(0, rowCount());
    m_rows.assign(count, Row());
    for (int row = 0; row < count; ++row) {
        const double height = heightFor(row);
        m_rows[row].height = height >= 0 ? height : m_rowHeight;
    }
    recomputeOffsets();
    if (m_selectedRow >= count)
        setSelection(-1, true);
    updateScrollRange();
    layoutRows();
    hideLeftovers();
}

void NSTableView::reloadDataForRowIndexes(const QList<int>& rows, const QList<int>& columns)
{
    for (int row : rows) {
        if (row < 0 || row >= numberOfRows() || !m_rows[row].view)
            continue;
        Row& slot = m_rows[row];
        for (int column : columns) {
            if (column < 0 || column >= int(m_columns.size()))
                continue;
            if (QWidget* old = slot.cells[column])
                recycle(old);
            slot.cells[column] = nullptr;
        }
        for (int column : columns) {
            if (column < 0 || column >= int(m_columns.size()))
                continue;
            slot.cells[column] = cellFor(m_columns[column].get(), row);
            placeCell(row, column);
        }
    }
    hideLeftovers();
}

int NSTableView::rowCount()
{
    return m_dataSource ? m_dataSource->numberOfRowsInTableView(this) : 0;
}

QWidget* NSTableView::cellFor(NSTableColumn* column, int row)
{
    return m_delegate ? m_delegate->viewForTableColumn(this, column, row) : nullptr;
}

NSTableRowView* NSTableView::rowViewFor(int row)
{
    return m_delegate ? m_delegate->rowViewForRow(this, row) : nullptr;
}

double NSTableView::heightFor(int row)
{
    return m_delegate ? m_delegate->heightOfRow(this, row) : -1;
}

bool NSTableView::canSelect(int row)
{
    return m_delegate ? m_delegate->shouldSelectRow(this, row) : true;
}

void NSTableView::selectionChanged()
{
    if (m_delegate)
        m_delegate->tableViewSelectionDidChange(this);
}

void NSTableView::buildRow(int index)
{
    Row& row = m_rows[index];
    NSTableRowView* view = rowViewFor(index);
    if (!view) {
        view = qobject_cast<NSTableRowView*>(makeViewWithIdentifier(kDefaultRowViewKey));
        if (!view) {
            view = new NSTableRowView;
            view->setIdentifier(kDefaultRowViewKey);
        }
    }
    if (view->parentWidget() != m_document)
        view->setParent(m_document);
    view->setSelectionHighlightStyle(m_highlightStyle);
    view->setSelected(index == m_selectedRow);
    row.view = view;
    row.cells.assign(m_columns.size(), nullptr);
    view->setGeometry(rectOfRow(index));
    for (int column = 0; column < int(m_columns.size()); ++column) {
        row.cells[column] = cellFor(m_columns[column].get(), index);
        placeCell(index, column);
    }
    decorateRow(view, index);
    view->show();
}

void NSTableView::placeCell(int row, int column)
{
    const Row& slot = m_rows[row];
    QWidget* cell = slot.cells[column];
    if (!cell)
        return;
    if (cell->parentWidget() != slot.view)
        cell->setParent(slot.view);
    const int indent = cellIndent(column, row);
    cell->setGeometry(columnX(column) + indent, 0, std::max(0, columnWidth(column) - indent), slot.view->height());
    if (auto* cellView = qobject_cast<NSTableCellView*>(cell))
        cellView->setBackgroundStyle(slot.view->interiorBackgroundStyle());
    cell->show();
}

void NSTableView::recomputeOffsets()
{
    // Tops rounded from the running sum, so fractional heights still tile.
    m_tops.assign(m_rows.size() + 1, 0);
    double sum = 0;
    for (size_t row = 0; row < m_rows.size(); ++row) {
        m_tops[row] = int(std::lround(sum));
        sum += m_rows[row].height;
    }
    m_tops[m_rows.size()] = int(std::lround(sum));
}

void NSTableView::updateScrollRange()
{
    const int total = m_tops.empty() ? 0 : m_tops.back();
    const int visible = viewport()->height();
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setRange(0, std::max(0, total - visible));
    const int width = documentWidth();
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, width - viewport()->width());
    m_document->setGeometry(-horizontalScrollBar()->value(), -verticalScrollBar()->value(), width,
                            std::max(total, visible));
}

void NSTableView::layoutRows()
{
    if (m_updateDepth > 0 || m_rows.empty())
        return;
    const QRect visible = visibleRect();
    auto first = std::upper_bound(m_tops.begin(), m_tops.end() - 1, visible.top());
    int row = std::max(0, int(first - m_tops.begin()) - 1);
    for (; row < numberOfRows() && m_tops[row] < visible.bottom() + 1; ++row)
        if (!m_rows[row].view)
            buildRow(row);
}

void NSTableView::positionBuiltRows()
{
    if (m_updateDepth > 0)
        return;
    m_document->resize(documentWidth(), m_document->height());
    for (int row = 0; row < numberOfRows(); ++row) {
        if (!m_rows[row].view)
            continue;
        m_rows[row].view->setGeometry(rectOfRow(row));
        for (int column = 0; column < int(m_rows[row].cells.size()); ++column)
            placeCell(row, column);
    }
}

void NSTableView::setRowHeight(double height)
{
    m_rowHeight = std::max(0.0, height);
    bool changed = false;
    for (int row = 0; row < numberOfRows(); ++row) {
        const double wanted = heightFor(row);
        const double rowHeight = wanted >= 0 ? wanted : m_rowHeight;
        changed = changed || rowHeight != m_rows[row].height;
        m_rows[row].height = rowHeight;
    }
    if (!changed)
        return;
    recomputeOffsets();
    updateScrollRange();
    positionBuiltRows();
    layoutRows();
}

int NSTableView::rowAtPoint(QPointF point) const
{
    if (m_rows.empty() || point.y() < 0 || point.y() >= m_tops.back() || point.x() < 0
        || point.x() >= documentWidth())
        return -1;
    auto it = std::upper_bound(m_tops.begin(), m_tops.end(), int(std::floor(point.y())));
    return int(it - m_tops.begin()) - 1;
}

QRect NSTableView::rectOfRow(int row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    return QRect(0, m_tops[row], documentWidth(), m_tops[row + 1] - m_tops[row]);
}

QRect NSTableView::visibleRect() const
{
    return QRect(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), viewport()->size());
}

void NSTableView::scrollRowToVisible(int row)
{
    const QRect rect = rectOfRow(row);
    if (rect.isNull())
        return;
    const QRect visible = visibleRect();
    if (rect.top() < visible.top())
        verticalScrollBar()->setValue(rect.top());
    else if (rect.bottom() > visible.bottom())
        verticalScrollBar()->setValue(rect.bottom() + 1 - visible.height());
}

QWidget* NSTableView::viewAtColumn(int column, int row, bool makeIfNecessary)
{
    if (column < 0 || column >= int(m_columns.size()) || !rowViewAtRow(row, makeIfNecessary))
        return nullptr;
    return m_rows[row].cells[column];
}

NSTableRowView* NSTableView::rowViewAtRow(int row, bool makeIfNecessary)
{
    if (row < 0 || row >= numberOfRows())
        return nullptr;
    if (!m_rows[row].view && makeIfNecessary)
        buildRow(row);
    return m_rows[row].view;
}

void NSTableView::setSelection(int row, bool notify)
{
    if (row == m_selectedRow)
        return;
    auto mark = [this](int index, bool selected) {
        if (index < 0 || index >= numberOfRows() || !m_rows[index].view)
            return;
        m_rows[index].view->setSelected(selected);
        for (QWidget* cell : m_rows[index].cells)
            if (auto* cellView = qobject_cast<NSTableCellView*>(cell))
                cellView->setBackgroundStyle(m_rows[index].view->interiorBackgroundStyle());
    };
    mark(m_selectedRow, false);
    m_selectedRow = row;
    mark(m_selectedRow, true);
    if (notify)
        selectionChanged();
}

void NSTableView::selectRowIndexes(const QList<int>& rows, bool byExtendingSelection)
{
    if (rows.isEmpty()) {
        if (!byExtendingSelection)
            deselectAll();
        return;
    }
    const int row = rows.last();
    if (row >= 0 && row < numberOfRows())
        setSelection(row, true);
}

void NSTableView::deselectAll()
{
    setSelection(-1, true);
}

void NSTableView::setSelectionHighlightStyle(NSTableViewSelectionHighlightStyle style)
{
    m_highlightStyle = style;
    for (Row& row : m_rows)
        if (row.view)
            row.view->setSelectionHighlightStyle(style);
}

void NSTableView::beginUpdates()
{
    ++m_updateDepth;
}

void NSTableView::endUpdates()
{
    if (m_updateDepth == 0 || --m_updateDepth > 0)
        return;
    positionBuiltRows();
    layoutRows();
}

void NSTableView::moveRowAtIndex(int from, int to)
{
    const int count = numberOfRows();
    if (from < 0 || from >= count || to < 0 || to >= count || from == to)
        return;
    Row moved = std::move(m_rows[from]);
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + to, std::move(moved));
    // The selection stays with its row.
    if (m_selectedRow == from)
        m_selectedRow = to;
    else if (from < m_selectedRow && m_selectedRow <= to)
        --m_selectedRow;
    else if (to <= m_selectedRow && m_selectedRow < from)
        ++m_selectedRow;
    recomputeOffsets();
    positionBuiltRows();
    layoutRows();
}

void NSTableView::registerForDraggedTypes(const QStringList& types)
{
    m_dragTypes = types;
    setAcceptDrops(!types.isEmpty());
    viewport()->setAcceptDrops(!types.isEmpty());
}

std::unique_ptr<QMimeData> NSTableView::pasteboardItem(const QString& type, const QString& string)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(type, string.toUtf8());
    return data;
}

std::pair<int, NSTableViewDropOperation> NSTableView::dropTargetAt(QPoint viewportPoint) const
{
    const int y = viewportPoint.y() + verticalScrollBar()->value();
    if (m_rows.empty() || y < 0)
        return {0, NSTableViewDropAbove};
    if (y >= m_tops.back())
        return {numberOfRows(), NSTableViewDropAbove};
    const int row = rowAtPoint(QPointF(0, y));
    const int top = m_tops[row];
    const int height = m_tops[row + 1] - top;
    if (y < top + height / 4)
        return {row, NSTableViewDropAbove};
    if (y >= top + height - height / 4)
        return {row + 1, NSTableViewDropAbove};
    return {row, NSTableViewDropOn};
}

std::optional<std::pair<int, NSTableViewDropOperation>> NSTableView::proposeDrop(QDropEvent* event)
{
    if (!m_dataSource)
        return std::nullopt;
    const NSDraggingInfo info(event->mimeData(), qobject_cast<NSTableView*>(event->source()));
    const QPoint point = event->position().toPoint();
    auto [row, operation] = dropTargetAt(point);
    if (m_dataSource->validateDrop(this, info, row, operation) == NSDragOperationMove)
        return std::make_pair(row, operation);
    if (operation != NSTableViewDropOn)
        return std::nullopt;
    // Refused onto the row: offer the nearer boundary instead.
    const QRect rect = rectOfRow(row);
    const int y = point.y() + verticalScrollBar()->value();
    const int above = y < rect.center().y() ? row : row + 1;
    if (m_dataSource->validateDrop(this, info, above, NSTableViewDropAbove) == NSDragOperationMove)
        return std::make_pair(above, NSTableViewDropAbove);
    return std::nullopt;
}

void NSTableView::showDropIndicator(int row, NSTableViewDropOperation operation)
{
    auto* indicator = static_cast<DropIndicator*>(m_dropIndicator);
    if (row < 0) {
        indicator->hide();
        return;
    }
    indicator->onRow = operation == NSTableViewDropOn;
    if (indicator->onRow) {
        indicator->setGeometry(rectOfRow(row));
    } else {
        const int y = row < numberOfRows() ? m_tops[row] : m_tops.back();
        indicator->setGeometry(0, std::max(0, y - 1), documentWidth(), 2);
    }
    indicator->raise();
    indicator->show();
    indicator->update();
}

void NSTableView::dragEnterEvent(QDragEnterEvent* event)
{
    for (const QString& type : m_dragTypes) {
        if (event->mimeData()->hasFormat(type)) {
            event->acceptProposedAction();
            return;
        }
    }
    event->ignore();
}

void NSTableView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto target = proposeDrop(event);
    if (!target) {
        showDropIndicator(-1, NSTableViewDropAbove);
        event->ignore();
        return;
    }
    showDropIndicator(target->first, target->second);
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void NSTableView::dragLeaveEvent(QDragLeaveEvent*)
{
    showDropIndicator(-1, NSTableViewDropAbove);
}

void NSTableView::dropEvent(QDropEvent* event)
{
    showDropIndicator(-1, NSTableViewDropAbove);
    const auto target = proposeDrop(event);
    const NSDraggingInfo info(event->mimeData(), qobject_cast<NSTableView*>(event->source()));
    if (!target || !m_dataSource->acceptDrop(this, info, target->first, target->second)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void NSTableView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    m_pressRow = rowAtPoint(QPointF(point + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value())));
    m_pressPos = point;
    m_pressInside = true;
    if (m_pressRow < 0)
        deselectAll();
    else if (canSelect(m_pressRow))
        setSelection(m_pressRow, true);
    event->accept();
}

void NSTableView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_pressRow < 0 || m_dragTypes.isEmpty() || !m_dataSource
        || (event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance()) {
        event->accept();
        return;
    }
    const int row = m_pressRow;
    m_pressRow = -1;
    m_pressInside = false;
    std::unique_ptr<QMimeData> data = m_dataSource->pasteboardWriterForRow(this, row);
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data.release());
    if (NSTableRowView* view = rowViewAtRow(row, false))
        drag->setPixmap(view->grab());
    drag->exec(Qt::MoveAction);
}

void NSTableView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressInside) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_pressInside = false;
    m_clickedRow = m_pressRow;
    m_pressRow = -1;
    emit action(this);
    m_clickedRow = -1;
    event->accept();
}

void NSTableView::selectByKey(int step)
{
    const int count = numberOfRows();
    int row = m_selectedRow < 0 ? (step > 0 ? -1 : count) : m_selectedRow;
    for (row += step; row >= 0 && row < count; row += step) {
        if (canSelect(row)) {
            m_clickedRow = -1;
            setSelection(row, true);
            scrollRowToVisible(row);
            return;
        }
    }
}

void NSTableView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) {
        selectByKey(event->key() == Qt::Key_Down ? 1 : -1);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void NSTableView::keyReleaseEvent(QKeyEvent* event)
{
    // Key releases belong to the screen, which reads the new selection.
    event->ignore();
}

void NSTableView::wheelEvent(QWheelEvent* event)
{
    // Touchpads report pixels: follow them one for one.
    if (!event->pixelDelta().isNull()) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - event->pixelDelta().x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - event->pixelDelta().y());
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void NSTableView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    columnsChanged();
    updateScrollRange();
    layoutRows();
}

void NSTableView::scrollContentsBy(int, int)
{
    m_document->move(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    m_header->setOffset(horizontalScrollBar()->value());
    layoutRows();
}
