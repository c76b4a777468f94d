#pragma once
// Notices between programs: D-Bus signals on the session bus carrying a name,
// an object text and a text-to-text user info. Every observer of the name in
// every program on the bus hears a post, the posting program included; it is
// called asynchronously on its main thread, in the order each poster posted.
// A post from another process is heard only when it comes from a connection
// that owns one of the programs' bus names (com.orvane.kelvara, .helper, .menu)
// or the ".notices" name of one owned in the same process; anyone else on the
// bus is ignored. A program
// that owns its bus name posts through a sending connection of its own, which
// holds that program's ".notices" name (see NoticeSender.h).
// Without a session bus, posts are dropped and observers never fire (said once
// on standard error).
#include <QMap>
#include <QString>

#include "NSNotificationCenter.h"

class NSDistributedNotificationCenter {
public:
    static NSDistributedNotificationCenter& defaultCenter();

    int addObserver(const void* owner, const QString& name, NSNotificationObserver observer);
    void removeObserver(const void* owner);
    void removeObserverToken(int token);
    // object and userInfo arrive as QString and QVariantMap of QString values.
    void postNotificationName(const QString& name, const QString& object = {},
                              const QMap<QString, QString>& userInfo = {}, bool deliverImmediately = true);
    // Only this program's observers hear it, as they would a post from another
    // program: for events every program on the desktop sees for itself.
    void postLocalNotificationName(const QString& name, const QString& object = {},
                                   const QMap<QString, QString>& userInfo = {});
    bool isConnected() const;

    NSDistributedNotificationCenter(const NSDistributedNotificationCenter&) = delete;
    NSDistributedNotificationCenter& operator=(const NSDistributedNotificationCenter&) = delete;
    ~NSDistributedNotificationCenter();

private:
    NSDistributedNotificationCenter();
    struct Private;
    Private* d;
};
