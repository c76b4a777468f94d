#pragma once
// The sidebar of the main window: a tile with the Mac's picture and name over
// the list of sensor categories that have sensors and the three fixed items
// (notifications, file logging, settings). The selected item's screen fills
// the window's right pane; the four screens live as long as the sidebar.
#include <QList>
#include <QPointer>
#include <memory>

#include "KLMenuItem.h"
#include "KLViewController.h"
#include "NSTableView.h"

class KLCategory;
class QKeyEvent;
struct NSNotification;
namespace Ui {
class KLMasterViewController;
}

class KLMasterViewController : public KLViewController, public NSTableViewDataSource, public NSTableViewDelegate {
    Q_OBJECT
public:
    explicit KLMasterViewController(QWidget* parent = nullptr);
    ~KLMasterViewController() override;

    // The window's right pane. A screen already in it when the sidebar loads
    // is taken as the detail screen.
    void setSplitViewPane(QWidget* pane);
    QWidget* splitViewPane() const { return m_pane; }
    // The screen the right pane shows now; null when it is empty.
    NSViewController* paneViewController() const;

    const QList<KLMenuItem>& menuItems() const { return m_menuItems; }
    const QList<KLCategory*>& categories() const { return m_categories; }
    int selectedRow() const { return m_selectedRow; }
    NSTableView* tableView() const;

    NSViewController* detailViewController() const { return m_detailViewController; }
    NSViewController* notificationsViewController() const { return m_notificationsViewController; }
    NSViewController* fileLoggingViewController() const { return m_fileLoggingViewController; }
    NSViewController* settingsViewController() const { return m_settingsViewController; }

    void updateUI();
    void reloadData();
    // Shows the item's screen in the right pane; an out-of-range row selects
    // the previous row again instead.
    void selectCellAtRow(int row);
    void handleDeepLink(const NSNotification& notification);

    // Data source and delegate of the item table.
    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    NSTableRowView* rowViewForRow(NSTableView* tableView, int row) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void keyUp(QKeyEvent* event) override;

private:
    void dataManagerDidGenerateDatasetNotification();
    void dataManagerLanguageDidChangeNotification();
    void tableViewSelected(NSTableView* sender);
    NSViewController* screenWithIdentifier(const QString& identifier);
    void setDetailCategory(const KLMenuItem& item);
    void showPaneViewController(NSViewController* screen);

    std::unique_ptr<Ui::KLMasterViewController> m_ui;
    QList<KLMenuItem> m_menuItems;
    QList<KLCategory*> m_categories;
    int m_selectedRow = -1;
    QPointer<QWidget> m_pane;
    QPointer<NSViewController> m_detailViewController;
    QPointer<NSViewController> m_notificationsViewController;
    QPointer<NSViewController> m_fileLoggingViewController;
    QPointer<NSViewController> m_settingsViewController;
    bool m_privilegeLinkPending = false;
};
