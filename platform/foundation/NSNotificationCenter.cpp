#include "NSNotificationCenter.h"

NSNotificationCenter& NSNotificationCenter::defaultCenter()
{
    static NSNotificationCenter center;
    return center;
}

int NSNotificationCenter::addObserver(const void* owner, const QString& name, NSNotificationObserver observer)
{
    const QMutexLocker lock(&m_mutex);
    const int token = m_nextToken++;
    m_entries.append(std::make_shared<Entry>(Entry{token, owner, name, std::move(observer)}));
    return token;
}

void NSNotificationCenter::removeObserver(const void* owner)
{
    // A null owner would match every observer added without one.
    if (!owner)
        return;
    const QMutexLocker lock(&m_mutex);
    m_entries.removeIf([owner](const std::shared_ptr<Entry>& entry) {
        if (entry->owner != owner)
            return false;
        entry->removed = true;
        return true;
    });
}

void NSNotificationCenter::removeObserverToken(int token)
{
    const QMutexLocker lock(&m_mutex);
    m_entries.removeIf([token](const std::shared_ptr<Entry>& entry) {
        if (entry->token != token)
            return false;
        entry->removed = true;
        return true;
    });
}

void NSNotificationCenter::postNotificationName(const QString& name, const QVariant& object,
                                                const QVariantMap& userInfo)
{
    QList<std::shared_ptr<Entry>> snapshot;
    {
        const QMutexLocker lock(&m_mutex);
        snapshot = m_entries;
    }
    const NSNotification notification{name, object, userInfo};
    // The snapshot keeps each observer alive while it runs, even if it removes itself.
    for (const auto& entry : snapshot) {
        if (entry->name.isEmpty() || entry->name == name) {
            bool removed;
            {
                const QMutexLocker lock(&m_mutex);
                removed = entry->removed;
            }
            if (!removed)
                entry->observer(notification);
        }
    }
}
