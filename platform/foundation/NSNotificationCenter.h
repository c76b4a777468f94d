#pragma once
// In-process notices: observers by name, called at once on the posting thread
// (the main thread in this system), in the order they registered.
#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>

struct NSNotification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

using NSNotificationObserver = std::function<void(const NSNotification&)>;

class NSNotificationCenter {
public:
    static NSNotificationCenter& defaultCenter();

    // owner groups observers so a screen can drop all of its own at once; the
    // returned token removes one. A null or empty name observes every notice.
    int addObserver(const void* owner, const QString& name, NSNotificationObserver observer);
    void removeObserver(const void* owner);
    void removeObserverToken(int token);
    void postNotificationName(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});

private:
    struct Entry {
        int token;
        const void* owner;
        QString name;
        NSNotificationObserver observer;
        bool removed = false;
    };
    // Shared so a post can walk a snapshot while observers come and go.
    QList<std::shared_ptr<Entry>> m_entries;
    int m_nextToken = 1;
    mutable QMutex m_mutex;
};
