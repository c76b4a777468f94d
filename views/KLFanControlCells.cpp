#include "KLFanControlCells.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

#include "KLDataManager.h"
#include "KLFanSet.h"
#include "KLFanControlCellView.h"
#include "KLFanControlLogic.h"
#include "KLFanSetDetailCellView.h"
#include "KLTranslationWidth.h"
#include "NSImage.h"
#include "NSTableView.h"

namespace KLFanControlCells {

QWidget* viewForFan(NSTableView* tableView, KLSensor* fan, KLFanSetDetailCellDelegate* delegate, QObject* owner)
{
    if (KLDataManager::sharedInstance().fanControlMode() == KLFanControlModeFanSet) {
        auto* cell = tableView->makeView<KLFanSetDetailCellView>(QStringLiteral("fanSetDetailCellId"), owner);
        if (cell) {
            cell->setFanSet(KLFanControlLogic::selectedFanSet());
            cell->setSensor(fan);
            cell->setDelegate(delegate);
        }
        return cell;
    }
    auto* cell = tableView->makeView<KLFanControlCellView>(QStringLiteral("fanControlCellIdentifier"), owner);
    if (cell)
        cell->setSensor(fan);
    return cell;
}

void connectSpeedButtons(QPushButton* util25, QPushButton* util50, QPushButton* util75, QPushButton* util100,
                         QObject* owner, const std::function<void(double)>& chosen)
{
    const std::pair<QPushButton*, double> buttons[] = {{util25, 0.25}, {util50, 0.5}, {util75, 0.75}, {util100, 1.0}};
    for (const auto& [button, fraction] : buttons)
        QObject::connect(button, &QPushButton::clicked, owner, [chosen, fraction] { chosen(fraction); });
}

void showLink(QToolButton* button, bool linked)
{
    button->setChecked(linked);
    button->setIcon(NSImage::imageNamed(linked ? QStringLiteral("ico_link_selected") : QStringLiteral("ico_link")));
}

QStringList fillModeButton(QComboBox* button, unsigned mode, const QString& fanSetName)
{
    QStringList names;
    for (KLFanSet* set : KLFanSet::allObjects())
        names.append(set->name());
    const QSignalBlocker quiet(button);
    button->clear();
    for (const KLFanControlLogic::PopUpItem& item : KLFanControlLogic::popUpItems(names)) {
        if (item.kind == KLFanControlLogic::PopUpItem::Separator)
            button->insertSeparator(button->count());
        else
            button->addItem(item.title);
    }
    button->setCurrentIndex(KLFanControlLogic::selectedPopUpIndex(mode, fanSetName, names));
    // As wide as its longest title in any language: the layout never squeezes
    // a title under the arrow, and the pop-up keeps its width across languages.
    KLTranslationWidth::fitPopUp(button,
                                 {QStringLiteral("detail-screen-fan-control-system-title"),
                                  QStringLiteral("detail-screen-fan-control-auto-boost-title")},
                                 names);
    return names;
}

KLSensor* selectedFan(NSTableView* tableView, const QList<KLSensor*>& fans, KLSensor* current)
{
    const int row = tableView->selectedRow();
    return row >= 0 && row < fans.size() ? fans[row] : current;
}

void selectFan(NSTableView* tableView, const QList<KLSensor*>& fans, KLSensor* fan)
{
    const int row = int(fans.indexOf(fan));
    if (fan && row >= 0)
        tableView->selectRowIndexes({row}, false);
}

}  // namespace KLFanControlCells
