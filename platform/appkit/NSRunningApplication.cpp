#include "NSRunningApplication.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QAtomicInt>
#include <QDBusVirtualObject>
#include <QDBusMessage>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

#include "NSAppleEventManager.h"
#include "NSApplication.h"
#include "SessionBus.h"

namespace {

constexpr QLatin1StringView kApplicationPath("/com/orvane/kelvara/Application");
constexpr QLatin1StringView kApplicationInterface("com.orvane.kelvara.Application");
constexpr QLatin1StringView kBusService("org.freedesktop.DBus");
constexpr QLatin1StringView kBusPath("/org/freedesktop/DBus");
constexpr int kBusTimeoutMs = 3000;
constexpr int kQuitGraceMs = 2000;

constexpr QLatin1StringView kIntrospection(
    "<interface name=\"com.orvane.kelvara.Application\">"
    "<method name=\"Quit\"/>"
    "<method name=\"Activate\"/>"
    "<method name=\"OpenURL\"><arg name=\"url\" type=\"s\" direction=\"in\"/></method>"
    "</interface>");

// What other programs may ask of this one over the bus. Every call to the
// connection comes here, whatever its path, so that none is answered (not even
// by Qt: introspection, unknown objects) while the bus takes no more answers.
// It lives on the connection's own thread: answers sent from there are counted
// at once, where the main thread's would wait uncounted on their way to it.
class ApplicationObject : public QDBusVirtualObject {
public:
    using QDBusVirtualObject::QDBusVirtualObject;

    QString introspect(const QString& path) const override
    {
        if (path == kApplicationPath)
            return kIntrospection;
        // The nodes on the way to the object, for those that walk the tree.
        const QString below = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
        if (!kApplicationPath.startsWith(below))
            return {};
        const QString rest = QString(kApplicationPath).mid(below.size());
        return QStringLiteral("<node name=\"%1\"/>").arg(rest.section(QLatin1Char('/'), 0, 0));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        // The caller waits in vain, as for a program too busy to answer.
        if (SessionBus::answersHeldBack(connection))
            return true;
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Introspectable"))
            return false;
        if (message.path() != kApplicationPath) {
            connection.send(message.createErrorReply(QDBusError::UnknownObject, QStringLiteral("No such object")));
            return true;
        }
        const QString& member = message.member();
        const QString signature = message.signature();
        if (message.interface() != kApplicationInterface && !message.interface().isEmpty()) {
            connection.send(message.createErrorReply(QDBusError::UnknownInterface, QStringLiteral("No such interface")));
        } else if (member == QLatin1String("Quit") && signature.isEmpty()) {
            // Queued, so the reply leaves before the event loop ends.
            connection.send(message.createReply());
            onMainThread([] { NSApplication::sharedApplication().terminate(); });
        } else if (member == QLatin1String("Activate") && signature.isEmpty()) {
            connection.send(message.createReply());
            onMainThread([] { NSApplication::sharedApplication().activateIgnoringOtherApps(true); });
        } else if (member == QLatin1String("OpenURL") && signature == QLatin1String("s")) {
            // Answered from the main thread, which owns the handlers; a few at a time.
            if (m_linksWaiting.fetchAndAddRelaxed(1) >= kMostLinksWaiting) {
                m_linksWaiting.fetchAndSubRelaxed(1);
                connection.send(message.createErrorReply(QDBusError::LimitsExceeded,
                                                         QStringLiteral("Too many links wait already.")));
                return true;
            }
            onMainThread([this, message, connection] {
                m_linksWaiting.fetchAndSubRelaxed(1);
                if (!SessionBus::answersHeldBack(connection))
                    connection.send(openURL(message, message.arguments().value(0).toString()));
            });
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method")));
        }
        return true;
    }

private:
    // Well above what the handler keeps, so only a flood is refused here.
    static constexpr int kMostLinksWaiting = 8 * int(NSAppleEventManager::kMaxPendingEvents);

    static void onMainThread(std::function<void()> work)
    {
        if (QCoreApplication* application = QCoreApplication::instance())
            QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
    }

    QAtomicInt m_linksWaiting;

    // A `kelvara://` link for the get-URL handler; queued, so the caller's reply
    // never waits for what the link opens. Without a handler yet it is only
    // kept, which runs nothing, so that is done at once: the reply then says
    // whether it was kept. Refused by a program that takes no links, and while
    // too many wait for the handler.
    static QDBusMessage openURL(const QDBusMessage& message, const QString& url)
    {
        NSAppleEventManager& events = NSAppleEventManager::sharedAppleEventManager();
        NSAppleEventDescriptor event = NSAppleEventDescriptor::getURLEvent(url);
        if (!events.hasEventHandler(kInternetEventClass, kAEGetURL)) {
            if (!events.dispatchEvent(event))
                return message.createErrorReply(QDBusError::NotSupported,
                                                QStringLiteral("This program does not take this link now."));
            return message.createReply();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [event = std::move(event)] { NSAppleEventManager::sharedAppleEventManager().dispatchEvent(event); },
            Qt::QueuedConnection);
        return message.createReply();
    }
};

QStringList busNames(const QDBusConnection& bus, const QString& method, const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, method);
    call << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().first();
    return value.typeId() == QMetaType::QString ? QStringList{value.toString()} : value.toStringList();
}

// Field 22 of /proc/<pid>/stat tells one process from a later one with the same number.
std::optional<QByteArray> processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces and parentheses; fields resume after the last ')'.
    const qsizetype end = line.lastIndexOf(')');
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(end + 2).split(' ');
    // fields[0] is field 3 (state), so field 22 is fields[19].
    if (fields.size() < 20)
        return std::nullopt;
    return fields.at(19);
}

bool isPrimaryOwner(const QDBusConnection& bus, const QString& name)
{
    return busNames(bus, QStringLiteral("GetNameOwner"), name) == QStringList{bus.baseService()};
}

void exportApplicationObject(QCoreApplication& application, QDBusConnection& bus)
{
    static QPointer<ApplicationObject> object;
    if (!object) {
        // Lives as long as the process; the connection's thread cannot take a parent of another.
        Q_UNUSED(application);
        object = new ApplicationObject;
        bus.registerVirtualObject(QStringLiteral("/"), object, QDBusConnection::SubPath);
        object->moveToThread(bus.interface()->thread());
    }
}

}  // namespace

bool NSRunningApplication::activate() const
{
    if (m_busOwner.isEmpty())
        return false;
    const QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected())
        return false;
    QDBusMessage activate = QDBusMessage::createMethodCall(m_busOwner, kApplicationPath, kApplicationInterface,
                                                           QStringLiteral("Activate"));
    activate.setAutoStartService(false);
    return bus.send(activate);
}

bool NSRunningApplication::callAndWait(const QString& method, const QVariantList& arguments) const
{
    if (m_busOwner.isEmpty())
        return false;
    const QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(m_busOwner, kApplicationPath, kApplicationInterface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, kBusTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

bool NSRunningApplication::activateAndWait() const
{
    return callAndWait(QStringLiteral("Activate"), {});
}

bool NSRunningApplication::openURL(const QString& url) const
{
    return callAndWait(QStringLiteral("OpenURL"), {url});
}

bool NSRunningApplication::terminate() const
{
    if (m_busOwner.isEmpty() || m_processIdentifier <= 0)
        return false;
    const QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected())
        return false;
    QDBusMessage quit = QDBusMessage::createMethodCall(m_busOwner, kApplicationPath, kApplicationInterface,
                                                       QStringLiteral("Quit"));
    quit.setAutoStartService(false);
    if (!bus.send(quit))
        return false;

    const qint64 pid = m_processIdentifier;
    const auto started = processStartTime(pid);
    if (!started || !QCoreApplication::instance())
        return true;
    QTimer::singleShot(kQuitGraceMs, QCoreApplication::instance(), [pid, started] {
        if (processStartTime(pid) == started)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    });
    return true;
}

QList<NSRunningApplication> NSRunningApplication::runningApplicationsWithBundleIdentifier(
    const QString& bundleIdentifier)
{
    const QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected() || bundleIdentifier.isEmpty())
        return {};
    QStringList owners = busNames(bus, QStringLiteral("GetNameOwner"), bundleIdentifier);
    for (const QString& queued : busNames(bus, QStringLiteral("ListQueuedOwners"), bundleIdentifier))
        if (!owners.contains(queued))
            owners.append(queued);

    QList<NSRunningApplication> applications;
    for (const QString& owner : owners) {
        const QDBusReply<uint> pid = bus.interface()->servicePid(owner);
        // An owner that left between the two questions is no longer running.
        if (pid.isValid())
            applications.append(NSRunningApplication(bundleIdentifier, owner, pid.value()));
    }
    return applications;
}

bool NSRunningApplication::registerCurrentApplication(QCoreApplication& application, const QString& bundleIdentifier)
{
    QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected() || bundleIdentifier.isEmpty())
        return false;
    exportApplicationObject(application, bus);
    // A second copy waits in line and takes over the name when the first one ends.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        bundleIdentifier, QDBusConnectionInterface::QueueService, QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() != QDBusConnectionInterface::ServiceNotRegistered;
}

NSRunningApplication::NameRequest NSRunningApplication::registerCurrentApplicationIfFirst(
    QCoreApplication& application, const QString& bundleIdentifier)
{
    QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected() || bundleIdentifier.isEmpty())
        return NameRequest::NoBus;
    exportApplicationObject(application, bus);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        bundleIdentifier, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return NameRequest::NoBus;
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? NameRequest::Owned : NameRequest::HeldByAnother;
}

void NSRunningApplication::registerAsSoleCopy(QCoreApplication& application, const QString& bundleIdentifier,
                                              int waitMs, std::function<void()> act, std::function<void()> leave)
{
    struct Answers {
        std::function<void()> act;
        std::function<void()> leave;
        bool given = false;
    };
    auto answers = std::make_shared<Answers>(Answers{std::move(act), std::move(leave)});
    // Owns every connection and the timer of the wait; deleting it ends them all.
    auto* waiting = new QObject(&application);
    // Answers once, from the event loop.
    const auto finish = [answers, waiting](bool acting) {
        if (answers->given)
            return;
        answers->given = true;
        waiting->deleteLater();
        QTimer::singleShot(0, QCoreApplication::instance(), [answers, acting] {
            const auto& answer = acting ? answers->act : answers->leave;
            if (answer)
                answer();
        });
    };

    QDBusConnection bus = SessionBus::connection();
    // Without a bus no other copy can be seen, and a copy the bus refused has no line
    // to wait in: either way this one acts, as a lone copy would.
    if (!bus.isConnected() || bundleIdentifier.isEmpty()) {
        registerCurrentApplication(application, bundleIdentifier);
        finish(true);
        return;
    }
    // Heard before asking for the name, so a hand-over right after the answer is not missed.
    QObject::connect(bus.interface(), &QDBusConnectionInterface::serviceRegistered, waiting,
                     [finish, bundleIdentifier](const QString& name) {
                         if (name == bundleIdentifier)
                             finish(true);
                     });
    if (!registerCurrentApplication(application, bundleIdentifier) || isPrimaryOwner(bus, bundleIdentifier)) {
        finish(true);
        return;
    }
    QTimer::singleShot(waitMs, waiting, [finish, bus, bundleIdentifier] {
        if (isPrimaryOwner(bus, bundleIdentifier)) {
            finish(true);
            return;
        }
        // Out of the line, so nothing lists this copy while it goes.
        bus.interface()->unregisterService(bundleIdentifier);
        finish(false);
    });
}

