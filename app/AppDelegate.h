#pragma once
// Kelvara's start: analytics, the update settings, its two companions, the
// launch count and the handler of `kelvara://` links.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <optional>

class NSAppleEventDescriptor;
class QCoreApplication;

// Kelvara Helper has a start-up class of the same name; programs' tests link both libraries.
inline namespace kelvara_main {

class AppDelegate {
public:
    AppDelegate();
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    static AppDelegate* sharedDelegate();

    // The application menu's controller; not owned.
    QPointer<QObject> menuController;

    // Makes this the one Kelvara: owns its bus name, and the start's `kelvara://`
    // arguments wait for the link handler. When another Kelvara holds the name,
    // gives it the links, asks it to the front and answers the status this copy
    // ends with; nothing when this copy goes on.
    static std::optional<int> becomeSoleCopy(QCoreApplication& application, const QStringList& arguments);

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void checkForUpdate();
    void loadComponentsApp();
    bool applicationShouldTerminateAfterLastWindowClosed();
    // The get-URL handler: posts the link's path as a local notice.
    void handleAppleEvent(const NSAppleEventDescriptor& event);
};

}  // namespace kelvara_main
