#pragma once
// Programs of this system as the session bus sees them: each one owns the bus
// name equal to its bundle identifier while it runs.
#include <QList>
#include <QString>
#include <QVariantList>
#include <functional>

class QCoreApplication;

class NSRunningApplication {
public:
    NSRunningApplication() = default;
    NSRunningApplication(const QString& bundleIdentifier, const QString& busOwner, qint64 processIdentifier)
        : m_bundleIdentifier(bundleIdentifier)
        , m_busOwner(busOwner)
        , m_processIdentifier(processIdentifier)
    {
    }

    QString bundleIdentifier() const { return m_bundleIdentifier; }
    qint64 processIdentifier() const { return m_processIdentifier; }
    // Asks the program over the bus to bring its windows to the front; does not wait.
    bool activate() const;
    // The same, returning once the program has answered.
    bool activateAndWait() const;
    // Hands the program a `kelvara://` link for its get-URL handler; true once it took it.
    bool openURL(const QString& url) const;
    // Asks the program to quit over the bus; if it has not gone after a short
    // grace period (checked without blocking), sends it SIGTERM.
    bool terminate() const;

    // Every owner of the name, the primary owner first, then those queued for it.
    static QList<NSRunningApplication> runningApplicationsWithBundleIdentifier(const QString& bundleIdentifier);

    // Makes the running program findable: owns (or queues for) its bus name and
    // quits its event loop when asked politely. Returns false without a bus.
    static bool registerCurrentApplication(QCoreApplication& application, const QString& bundleIdentifier);

    // Owns the name only when nobody holds it, without waiting in line.
    enum class NameRequest { Owned, HeldByAnother, NoBus };
    static NameRequest registerCurrentApplicationIfFirst(QCoreApplication& application, const QString& bundleIdentifier);

    // Registers as above, then runs `act` from the event loop once this copy is the
    // primary owner of the name: at once when the name was free (or there is no bus
    // to ask), else when the copies ahead of it have gone. A copy still in line after
    // waitMs leaves the line and runs `leave` instead. Exactly one of the two runs.
    static void registerAsSoleCopy(QCoreApplication& application, const QString& bundleIdentifier, int waitMs,
                                   std::function<void()> act, std::function<void()> leave);

private:
    bool callAndWait(const QString& method, const QVariantList& arguments) const;

    QString m_bundleIdentifier;
    QString m_busOwner;
    qint64 m_processIdentifier = 0;
};
