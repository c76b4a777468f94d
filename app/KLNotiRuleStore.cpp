#include "KLNotiRuleStore.h"

#include "KLDataManager.h"

namespace KLNotiRuleStore {

QList<KLNotification> rules()
{
    return KLDataManager::sharedInstance().overheatNotifications().value_or(QList<KLNotification>());
}

std::optional<KLNotification> edit(const KLNotification& rule, const std::function<void(KLNotification&)>& change)
{
    QList<KLNotification> list = rules();
    std::optional<KLNotification> stored;
    const qsizetype i = list.indexOf(rule);
    if (i >= 0) {
        change(list[i]);
        stored = list[i];
    }
    KLDataManager::sharedInstance().setOverheatNotifications(list);
    return stored;
}

}  // namespace KLNotiRuleStore
