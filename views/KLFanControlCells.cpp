#include "KLFanControlCells.h"

#include "KLDataManager.h"
#include "KLFanControlCellView.h"
#include "KLFanControlLogic.h"
#include "KLFanSetDetailCellView.h"
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

}  // namespace KLFanControlCells
