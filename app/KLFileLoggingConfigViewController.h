#pragma once
// The file-logging screen: logging on or off, the log's folder, when the log
// starts afresh, and which sensors Kelvara Helper writes to it. It keeps no
// copy of the logged sensors: every check box reads the stored list when
// touched and the outline redraws when the list's change notice comes back.
#include <QList>
#include <memory>

#include "KLViewController.h"
#include "NSOutlineView.h"

class KLCategory;
class NSManagedObject;
class QButtonGroup;
class TSSwitch;
struct NSNotification;
namespace Ui {
class KLFileLoggingConfigViewController;
}

class KLFileLoggingConfigViewController : public KLViewController,
                                          public NSOutlineViewDataSource,
                                          public NSOutlineViewDelegate {
    Q_OBJECT
public:
    explicit KLFileLoggingConfigViewController(QWidget* parent = nullptr);
    ~KLFileLoggingConfigViewController() override;

    // The outline's top level, fetched on first use and kept.
    const QList<KLCategory*>& categories();
    NSOutlineView* outlineView() const;

    void updateUI();
    void updateConfigureUI();

    // Actions.
    void loggingEnabledSwitchValueChanged(TSSwitch* sender);
    void chooseFolderButtonTapped();
    void openButtonTapped();
    void revealInFinderButtonTapped();
    void resetLogFileSegmentedControlValueChanged();

    // Notices.
    void kelvaraTempDidChangeNotification(const NSNotification& notification);
    void dataManagerFileLoggingSensorKeysDidChangeNotification(const NSNotification& notification);

    // The outline's data source and delegate. Items are the categories and
    // sensors, passed as their NSManagedObject.
    int numberOfChildrenOfItem(NSOutlineView* outlineView, void* item) override;
    void* child(NSOutlineView* outlineView, int index, void* item) override;
    bool isItemExpandable(NSOutlineView* outlineView, void* item) override;
    QWidget* viewForTableColumn(NSOutlineView* outlineView, NSTableColumn* tableColumn, void* item) override;
    bool shouldSelectItem(NSOutlineView*, void*) override { return false; }

    // The "categoryCell" and "sensorCell" prototypes: a plain cell whose text
    // field ("textField") shows a name.
    static QWidget* makeNameCellView(bool category);

protected:
    void configureUI() override;
    void localizeUI() override;
    void viewWillAppear() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static void* itemFor(NSManagedObject* object) { return object; }
    void showPath(const QString& path);
    void fitColumns();
    void styleSegments();

    std::unique_ptr<Ui::KLFileLoggingConfigViewController> ui;
    QButtonGroup* m_resetSegments = nullptr;
    QList<KLCategory*> m_categories;
    bool m_categoriesFetched = false;
    QString m_shownPath;
};
