#pragma once
// Kelvara Menu's start-up: analytics, then Kelvara Helper when it is not
// running, a few seconds after launch (the login items start together).
#include <QObject>
#include <QString>
#include <functional>

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int kHelperLaunchDelayMs = 5000;

    explicit AppDelegate(QObject* parent = nullptr);

    void applicationDidFinishLaunching();
    void checkForUpdate() {}
    void loadHelperAppIfNeeded();

    // Starts a program by bundle identifier; the result is not examined.
    using Launcher = std::function<bool(const QString& bundleIdentifier)>;
    void setLauncherForTesting(Launcher launcher) { m_launch = std::move(launcher); }
    void setHelperLaunchDelayForTesting(int milliseconds) { m_helperLaunchDelayMs = milliseconds; }

private:
    Launcher m_launch;
    int m_helperLaunchDelayMs = kHelperLaunchDelayMs;
};
