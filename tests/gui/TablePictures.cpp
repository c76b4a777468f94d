// The table rows as the screens show them: the sidebar's inset selection,
// the detail screen's full-width one, and an outline with a header.
#include <QHBoxLayout>
#include <QLabel>

#include "KLSensor.h"
#include "KLTableRowView.h"
#include "NSOutlineView.h"
#include "Pictures.h"

namespace {

class TextCell : public NSTableCellView {
public:
    QLabel* label = new QLabel(this);
    TextCell()
    {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(16, 0, 8, 0);
        layout->addWidget(label);
    }
};

// A list of texts whose rows are KLTableRowViews, in detail mode or not.
class List : public NSTableViewDataSource, public NSTableViewDelegate {
public:
    QStringList texts;
    bool detailMode = false;
    int numberOfRowsInTableView(NSTableView*) override { return int(texts.size()); }
    QWidget* viewForTableColumn(NSTableView* table, NSTableColumn*, int row) override
    {
        auto* cell = table->makeView<TextCell>(QStringLiteral("textCell"));
        if (!cell) {
            cell = new TextCell;
            cell->setIdentifier(QStringLiteral("textCell"));
        }
        cell->label->setText(texts.value(row));
        return cell;
    }
    NSTableRowView* rowViewForRow(NSTableView* table, int) override
    {
        if (auto* row = table->makeView<KLTableRowView>(QStringLiteral("tableRow")))
            return row;
        auto* row = new KLTableRowView;
        row->setIdentifier(QStringLiteral("tableRow"));
        row->setDetailMode(detailMode);
        return row;
    }
};

struct Tree : NSOutlineViewDataSource, NSOutlineViewDelegate {
    struct Node {
        QString name;
        std::vector<Node> children;
    };
    std::vector<Node> roots;
    int numberOfChildrenOfItem(NSOutlineView*, void* item) override
    {
        return int(item ? static_cast<Node*>(item)->children.size() : roots.size());
    }
    void* child(NSOutlineView*, int index, void* item) override
    {
        return item ? &static_cast<Node*>(item)->children[index] : &roots[index];
    }
    bool isItemExpandable(NSOutlineView*, void* item) override { return !static_cast<Node*>(item)->children.empty(); }
    QWidget* viewForTableColumn(NSOutlineView*, NSTableColumn* column, void* item) override
    {
        auto* label = new QLabel(column->identifier() == QLatin1String("sensorColumn")
                                     ? static_cast<Node*>(item)->name
                                     : QStringLiteral("on"));
        return label;
    }
};

bool tablePictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    for (const bool detail : {false, true}) {
        List list;
        list.detailMode = detail;
        list.texts = {QStringLiteral("Temperature"), QStringLiteral("Fans"), QStringLiteral("Voltage"),
                      QStringLiteral("Settings")};
        NSTableView table;
        table.setDataSource(&list);
        table.setDelegate(&list);
        table.setRowHeight(detail ? 30 : 36);
        table.resize(220, int(table.rowHeight()) * 4);
        table.reloadData();
        table.selectRowIndexes({1}, false);
        ok &= pictures.save(table, detail ? QStringLiteral("table-detail") : QStringLiteral("table-sidebar"), dark,
                            scale);
    }

    Tree tree;
    const QString sensor = scene.temperature ? scene.temperature->name() : QStringLiteral("CPU");
    tree.roots = {{QStringLiteral("Temperature"), {{sensor, {}}, {QStringLiteral("GPU"), {}}}},
                  {QStringLiteral("Fans"), {{QStringLiteral("Left fan"), {}}}},
                  {QStringLiteral("Power"), {}}};
    NSOutlineView outline;
    outline.setColumnIdentifiers({QStringLiteral("sensorColumn"), QStringLiteral("enabledColumn")});
    outline.tableColumns()[0]->setWidth(200);
    outline.tableColumns()[0]->setTitle(QStringLiteral("Sensors"));
    outline.tableColumns()[1]->setTitle(QStringLiteral("Logging"));
    outline.setHeaderVisible(true);
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    outline.resize(320, 200);
    outline.expandItem(nullptr, true);
    outline.collapseItem(&tree.roots[1]);
    outline.selectRowIndexes({1}, false);
    ok &= pictures.save(outline, QStringLiteral("outline"), dark, scale);
    return ok;
}

const PictureSetRegistration registration("tables", tablePictures);

}  // namespace
