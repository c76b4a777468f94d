#pragma once
// Tells the user when a temperature reaches an overheat rule's threshold, and
// when auto boost switches a fan set on. A click on the body of a notice opens
// Kelvara; the action button switches the rule off.
#include <QString>
#include <functional>

#include "KLNotification.h"
#include "NSNotificationCenter.h"
#include "NSUserNotificationCenter.h"

class KLSensor;

// The sensor key of the rules that watch every temperature sensor.
inline constexpr const char* KLNotificationAnySensorKey = "any-sensor";

class KLNotificationsManager : public NSUserNotificationCenterDelegate {
public:
    static KLNotificationsManager& sharedInstance();
    // Follows the poll and auto-boost notices, and takes the default centre's
    // clicks from the start, so clicks on notices of an earlier run are handled too.
    KLNotificationsManager();
    // Tests choose where notices go and what opening the main program does.
    KLNotificationsManager(NSUserNotificationCenter& center, std::function<bool()> loadMainApp);
    ~KLNotificationsManager() override;
    KLNotificationsManager(const KLNotificationsManager&) = delete;
    KLNotificationsManager& operator=(const KLNotificationsManager&) = delete;

    // Every 10 s of ticks, at the interval in force at each tick, checks the rules.
    void kelvaraTempDidChangeNotification(const NSNotification& notification);
    void checkForFireOverheatNotification();
    void fireOverheatNotification(KLNotification rule, KLSensor* sensor);
    void fanControllerAutoBoostActiveNotification(const NSNotification& notification);
    void fireAutoBoostNotification(const NSNotification& notification);

    void didActivateNotification(NSUserNotificationCenter& center, const NSUserNotification& notification) override;

    // Fills "%@" in turn and "%N$@" by position; "%%" is a percent sign.
    static QString stringWithFormat(const QString& format, const QStringList& arguments);

private:
    void deliver(const NSUserNotification& notification);
    void deliverOverheatNotification(const KLNotification& rule, KLSensor* sensor);
    // Stores the rules that fired inactive, in one write.
    void switchOff(const QList<KLNotification>& fired);

    NSUserNotificationCenter& m_center;
    std::function<bool()> m_loadMainApp;
};
