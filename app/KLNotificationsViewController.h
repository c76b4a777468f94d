#pragma once
// The overheat rules: a table of the rules stored in the settings (active,
// sensor, live value, threshold, repeat, delete) and a button that adds a rule
// for the next temperature sensor without one. The rows show the stored list
// as read at the last reload, which comes with every notice of the list, its
// own writes included; every edit reads the stored list anew. One decode per
// reload, not one per cell, so a list of thousands of rules still shows at once.
#include <QHash>
#include <QList>
#include <memory>

#include "KLNotiThresholdCellView.h"
#include "KLNotification.h"
#include "KLViewController.h"
#include "NSTableView.h"

class KLSensor;
class QAbstractScrollArea;
class QLabel;
class QToolButton;
namespace Ui {
class KLNotificationsViewController;
}

class KLNotificationsViewController : public KLViewController,
                                      public NSTableViewDataSource,
                                      public NSTableViewDelegate,
                                      public KLNotiThresholdCellViewDelegate {
    Q_OBJECT
public:
    static constexpr const char* kTooManyAlertMessage = "Too many notification items";

    explicit KLNotificationsViewController(QWidget* parent = nullptr);
    ~KLNotificationsViewController() override;

    // The stored list, read anew at every call.
    QList<KLNotification> notifications() const;
    bool isEditing() const { return m_editing; }

    QLabel* notificationsSectionField() const;
    NSTableView* tableView() const;
    QAbstractScrollArea* scrollView() const;
    QToolButton* addButton() const;

    void addButtonTapped();
    void notiThresholdCellViewDidBeginEditing() override;
    void notiThresholdCellViewDidEndEditing() override;
    void kelvaraTempDidChangeNotification();
    void dataManagerOverheatListDidChangeNotification();
    void updateUI();

    int numberOfRowsInTableView(NSTableView* tableView) override;
    QWidget* viewForTableColumn(NSTableView* tableView, NSTableColumn* column, int row) override;
    NSTableRowView* rowViewForRow(NSTableView* tableView, int row) override;
    bool shouldSelectRow(NSTableView*, int) override { return false; }

protected:
    void configureUI() override;
    void localizeUI() override;
    void viewWillAppear() override;

private:
    std::unique_ptr<Ui::KLNotificationsViewController> ui;
    bool m_editing = false;
    // A list notice that came while a threshold was typed; the table is
    // remade when the edit ends rather than under the user's fingers.
    bool m_reloadAfterEditing = false;
    // The list and its sensors as read at the last reload (sensors also at each tick).
    QList<KLNotification> m_rules;
    QHash<QString, KLSensor*> m_sensors;
};
