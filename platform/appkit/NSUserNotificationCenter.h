#pragma once
// User notifications, shown by the desktop's notification server
// (org.freedesktop.Notifications on the session bus). Clicks come back as the
// server's ActionInvoked signal and reach the centre's delegate on the main
// thread. Delivered notices are remembered in a small file, so a click on one
// left from an earlier run of the program still reaches the delegate.
#include <QList>
#include <QString>
#include <QVariantMap>
#include <memory>

enum NSUserNotificationActivationType : int {
    NSUserNotificationActivationTypeNone = 0,
    NSUserNotificationActivationTypeContentsClicked = 1,
    NSUserNotificationActivationTypeActionButtonClicked = 2,
};

// Plays the desktop's usual sound for a new message.
inline constexpr const char* NSUserNotificationDefaultSoundName = "DefaultSoundName";

class NSUserNotification {
public:
    QString title;
    QString informativeText;
    // Null for silence.
    QString soundName;
    bool hasActionButton = false;
    QString actionButtonTitle;
    // Kept across runs as JSON, so values should be texts, numbers or booleans.
    QVariantMap userInfo;
    // Set by the centre on the copy its delegate receives.
    NSUserNotificationActivationType activationType = NSUserNotificationActivationTypeNone;
    // Given by the centre at delivery when empty; names the notice for removal.
    QString identifier;
};

class NSUserNotificationCenter;

class NSUserNotificationCenterDelegate {
public:
    virtual ~NSUserNotificationCenterDelegate() = default;
    // -userNotificationCenter:didActivateNotification:
    virtual void didActivateNotification(NSUserNotificationCenter& center, const NSUserNotification& notification) = 0;
};

class NSUserNotificationCenter {
public:
    static NSUserNotificationCenter& defaultUserNotificationCenter();
    // ~/.local/state/kelvara/delivered-notifications.json
    static QString defaultRecordPath();

    // Listens for clicks at once (once an application object exists). An empty
    // record path remembers nothing beyond this object.
    explicit NSUserNotificationCenter(const QString& recordPath);
    virtual ~NSUserNotificationCenter();
    NSUserNotificationCenter(const NSUserNotificationCenter&) = delete;
    NSUserNotificationCenter& operator=(const NSUserNotificationCenter&) = delete;

    // Not owned.
    NSUserNotificationCenterDelegate* delegate() const;
    void setDelegate(NSUserNotificationCenterDelegate* delegate);

    // Returns at once; the server answers later. Without a bus or a server the
    // notice is dropped, said once per process on standard error.
    virtual void deliverNotification(const NSUserNotification& notification);
    // Closes the notice with that identifier on the server and forgets it.
    virtual void removeDeliveredNotification(const NSUserNotification& notification);
    // Shown notices that a click may still come from, this run's and earlier ones', oldest first.
    QList<NSUserNotification> deliveredNotifications() const;

    // Lets the next dropped notice be said again, as in a new process.
    static void resetDroppedReportForTesting();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
