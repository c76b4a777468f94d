#include "SystemdUserManager.h"
#include "PropertyList.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>

#include "LaunchdJob.h"
#include "OwnFile.h"
#include "ServiceManagement.h"

namespace SystemdUserManager {

namespace {

// The first line of every unit we write, so we never take over a unit of the user's own.
const QString kMarker = QStringLiteral("# Launch agent");
// Far above any unit file written here.
constexpr std::size_t kUnitFileLimit = 64 * 1024;
constexpr int kCallTimeout = 25000;

QDBusMessage callManager(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kManagerInterface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kCallTimeout);
}

QDBusMessage property(const QString& unitPath, const QString& interface, const QString& name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, unitPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message.setArguments({interface, name});
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kCallTimeout);
}

QVariant propertyValue(const QString& unitPath, const QString& interface, const QString& name)
{
    const QDBusMessage reply = property(unitPath, interface, name);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
}

bool failed(const QDBusMessage& reply)
{
    return reply.type() != QDBusMessage::ReplyMessage;
}

bool fail(CFError* error, const QString& what, const QDBusMessage& reply)
{
    if (error)
        *error = CFError::make(kSMErrorDomainFramework, kSMErrorInternalFailure,
                               QStringLiteral("The user service manager could not %1: %2").arg(what, reply.errorMessage()));
    return false;
}

QString unitPath(const QString& label)
{
    return unitDirectory() + QLatin1Char('/') + unitNameForLabel(label);
}

QString objectPathOfUnit(const QString& name)
{
    const QDBusMessage reply = callManager(QStringLiteral("GetUnit"), {name});
    if (failed(reply) || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QDBusObjectPath>(reply.arguments().first()).path();
}

// One line of a unit file: "%" stays literal, and a value never spills onto the next line.
QString settingValue(QString text)
{
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString textValue(const QVariantMap& job, const char* key)
{
    const QVariant value = job.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool hasInteger(const QVariantMap& job, const char* key, qlonglong* value)
{
    const QVariant v = job.value(QLatin1String(key));
    if (!PropertyList::isInteger(v))
        return false;
    *value = v.toLongLong();
    return true;
}

QString restartRule(const QVariantMap& job)
{
    const QVariant keepAlive = job.value(QStringLiteral("KeepAlive"));
    if (keepAlive.typeId() == QMetaType::QVariantMap) {
        const QVariantMap conditions = keepAlive.toMap();
        const QVariant successfulExit = conditions.value(QStringLiteral("SuccessfulExit"));
        if (successfulExit.isValid())
            return successfulExit.toBool() ? QStringLiteral("on-success") : QStringLiteral("on-failure");
        if (conditions.value(QStringLiteral("Crashed")).toBool())
            return QStringLiteral("on-abnormal");
        return {};
    }
    if (keepAlive.isValid() && keepAlive.typeId() != QMetaType::QString && keepAlive.toBool())
        return QStringLiteral("always");
    return {};
}

bool isEnvironmentName(const QString& name)
{
    if (name.isEmpty() || name.front().isDigit())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

bool isOurUnitFile(const QString& path)
{
    // A link, or anything but a small regular file, is no unit of ours.
    const OwnFile::Contents file = OwnFile::read(QFile::encodeName(path).toStdString(), kUnitFileLimit);
    return file.outcome == OwnFile::Contents::Outcome::Read && file.bytes.rfind(kMarker.toStdString(), 0) == 0;
}

QString environmentFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : fallback;
}

// Where the user manager finds units: its own list when it tells, else systemd's defaults.
QStringList unitSearchPath()
{
    QStringList folders{unitDirectory()};
    const QStringList told = propertyValue(kPath, kManagerInterface, QStringLiteral("UnitPath")).toStringList();
    if (!told.isEmpty())
        return folders + told;
    const QString config = environmentFolder("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    const QString data = environmentFolder("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    folders << config + QStringLiteral("/systemd/user.control") << config + QStringLiteral("/systemd/user")
            << QStringLiteral("/etc/systemd/user") << QStringLiteral("/run/systemd/user")
            << data + QStringLiteral("/systemd/user");
    if (QDir::isAbsolutePath(runtime))
        folders << runtime + QStringLiteral("/systemd/user.control") << runtime + QStringLiteral("/systemd/user");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& folder : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << folder + QStringLiteral("/systemd/user");
    return folders << QStringLiteral("/usr/local/lib/systemd/user") << QStringLiteral("/usr/lib/systemd/user");
}

// A unit file of that name that we did not write, anywhere the manager looks (a
// link to /dev/null, a masked unit, counts too).
bool foreignUnitFileExists(const QString& name)
{
    for (const QString& folder : unitSearchPath()) {
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo info(path);
        if ((info.exists() || info.isSymLink()) && !isOurUnitFile(path))
            return true;
    }
    return false;
}

void removeQuietly(const QString& name)
{
    callManager(QStringLiteral("DisableUnitFiles"), {QStringList{name}, false});
    QFile::remove(unitDirectory() + QLatin1Char('/') + name);
    callManager(QStringLiteral("Reload"), {});
}

}  // namespace

bool isAvailable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

QString unitDirectory()
{
    return QDir::homePath() + QStringLiteral("/.config/systemd/user");
}

QString unitNameForLabel(const QString& label)
{
    return label + QStringLiteral(".service");
}

QString quoteExecWord(const QString& word)
{
    QString text = word;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    text.replace(QLatin1Char('$'), QStringLiteral("$$"));
    bool plain = !text.isEmpty();
    for (const QChar c : text) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f || QStringLiteral("\"'\\;").contains(c)) {
            plain = false;
            break;
        }
    }
    return plain ? text : quoted(text);
}

QString problemWithJob(const QVariantMap& job)
{
    // A NUL ends the line for systemd, and a backslash at its end joins the next
    // line to it. Environment values are quoted, so only a NUL matters there.
    const QChar nul(u'\0');
    for (const char* key : {"ServiceDescription", "WorkingDirectory", "StandardInPath", "StandardOutPath",
                            "StandardErrorPath"}) {
        const QString text = textValue(job, key);
        if (text.contains(nul) || text.endsWith(QLatin1Char('\\')))
            return QStringLiteral("The job's %1 cannot end with a backslash or hold a NUL character.")
                .arg(QLatin1String(key));
    }
    const QVariantMap environment = job.value(QStringLiteral("EnvironmentVariables")).toMap();
    for (const QVariant& value : environment) {
        if (value.toString().contains(nul))
            return QStringLiteral("The job's EnvironmentVariables cannot hold a NUL character.");
    }
    return {};
}

bool ownsUnit(const QString& label)
{
    return isOurUnitFile(unitPath(label));
}

QString unitFile(const QVariantMap& job)
{
    const QString label = LaunchdJob::labelOf(job);
    const LaunchdJob::Command command = LaunchdJob::commandOf(job);
    if (command.arguments.isEmpty() || !problemWithJob(job).isEmpty())
        return {};

    QStringList words;
    // "@" runs the program with its own argv[0], as launchd does when Program is given.
    if (command.program != command.arguments.first())
        words << QLatin1Char('@') + quoteExecWord(command.program);
    for (const QString& argument : command.arguments)
        words << quoteExecWord(argument);

    const QString description = textValue(job, "ServiceDescription");
    QStringList lines{
        kMarker + QLatin1Char(' ') + settingValue(label) + QStringLiteral(", made from its launchd job."),
        QStringLiteral("[Unit]"),
        QStringLiteral("Description=") + settingValue(description.isEmpty() ? label : description),
        QString(),
        QStringLiteral("[Service]"),
        QStringLiteral("Type=exec"),
        QStringLiteral("ExecStart=") + words.join(QLatin1Char(' ')),
    };
    const QString restart = restartRule(job);
    if (!restart.isEmpty()) {
        qlonglong throttle = 10;
        hasInteger(job, "ThrottleInterval", &throttle);
        lines << QStringLiteral("Restart=") + restart << QStringLiteral("RestartSec=%1").arg(qMax<qlonglong>(throttle, 0));
    }
    lines << QStringLiteral("TimeoutStopSec=%1").arg(LaunchdJob::exitTimeOut(job));

    const QString workingDirectory = textValue(job, "WorkingDirectory");
    if (QDir::isAbsolutePath(workingDirectory))
        lines << QStringLiteral("WorkingDirectory=") + settingValue(workingDirectory);
    const QVariantMap environment = job.value(QStringLiteral("EnvironmentVariables")).toMap();
    for (auto it = environment.begin(); it != environment.end(); ++it) {
        if (isEnvironmentName(it.key()) && it.value().typeId() == QMetaType::QString) {
            QString assignment = it.key() + QLatin1Char('=') + it.value().toString();
            assignment.replace(QLatin1Char('%'), QStringLiteral("%%"));
            lines << QStringLiteral("Environment=") + quoted(assignment);
        }
    }
    qlonglong number = 0;
    if (hasInteger(job, "Umask", &number))
        lines << QStringLiteral("UMask=%1").arg(number & 0777, 4, 8, QLatin1Char('0'));
    if (hasInteger(job, "Nice", &number))
        lines << QStringLiteral("Nice=%1").arg(qBound(qlonglong(-20), number, qlonglong(19)));
    const QString input = textValue(job, "StandardInPath");
    const QString output = textValue(job, "StandardOutPath");
    const QString errors = textValue(job, "StandardErrorPath");
    if (QDir::isAbsolutePath(input))
        lines << QStringLiteral("StandardInput=file:") + settingValue(input);
    if (QDir::isAbsolutePath(output))
        lines << QStringLiteral("StandardOutput=append:") + settingValue(output);
    if (QDir::isAbsolutePath(errors))
        lines << QStringLiteral("StandardError=append:") + settingValue(errors);

    if (LaunchdJob::startsAtLoad(job))
        lines << QString() << QStringLiteral("[Install]") << QStringLiteral("WantedBy=default.target");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool submit(const QVariantMap& job, CFError* error)
{
    const QString label = LaunchdJob::labelOf(job);
    const QString name = unitNameForLabel(label);
    const QString path = unitPath(label);
    const QString problem = problemWithJob(job);
    if (!problem.isEmpty()) {
        if (error)
            *error = CFError::make(kSMErrorDomainLaunchd, EINVAL, problem);
        return false;
    }

    // Never shadow or overwrite a service that is not one of ours.
    const QString loaded = objectPathOfUnit(name);
    const bool taken = foreignUnitFileExists(name) ||
                       (!QFile::exists(path) && !loaded.isEmpty() &&
                        propertyValue(loaded, kUnitInterface, QStringLiteral("LoadState")).toString() == QLatin1String("loaded"));
    if (taken) {
        if (error)
            *error = CFError::make(kSMErrorDomainLaunchd, EEXIST,
                                   QStringLiteral("A user service named %1 already exists.").arg(name));
        return false;
    }

    std::string reason = "cannot make its folder";
    if (!QDir().mkpath(unitDirectory()) ||
        !OwnFile::replace(QFile::encodeName(path).toStdString(), unitFile(job).toUtf8().toStdString(), 0644, &reason)) {
        if (error)
            *error = CFError::make(kSMErrorDomainLaunchd, EIO,
                                   QStringLiteral("Cannot write the unit file %1: %2").arg(path, QString::fromStdString(reason)));
        return false;
    }
    QDBusMessage reply = callManager(QStringLiteral("Reload"), {});
    if (failed(reply)) {
        QFile::remove(path);
        return fail(error, QStringLiteral("reload its units"), reply);
    }
    if (LaunchdJob::startsAtLoad(job)) {
        reply = callManager(QStringLiteral("EnableUnitFiles"), {QStringList{name}, false, true});
        if (failed(reply)) {
            removeQuietly(name);
            return fail(error, QStringLiteral("enable %1").arg(name), reply);
        }
        reply = callManager(QStringLiteral("StartUnit"), {name, QStringLiteral("replace")});
        if (failed(reply)) {
            removeQuietly(name);
            return fail(error, QStringLiteral("start %1").arg(name), reply);
        }
    }
    return true;
}

bool remove(const QVariantMap& job, bool wait, CFError* error)
{
    const QString label = LaunchdJob::labelOf(job);
    const QString name = unitNameForLabel(label);
    const QString noSuchUnit = QStringLiteral("org.freedesktop.systemd1.NoSuchUnit");

    if (!isAvailable()) {
        // The manager is gone (another session): disabling is removing its link.
        QFile::remove(unitDirectory() + QStringLiteral("/default.target.wants/") + name);
        QFile::remove(unitPath(label));
        return true;
    }
    QDBusMessage reply = callManager(QStringLiteral("StopUnit"), {name, QStringLiteral("replace")});
    if (failed(reply) && reply.errorName() != noSuchUnit)
        return fail(error, QStringLiteral("stop %1").arg(name), reply);
    if (wait && !failed(reply)) {
        const QDeadlineTimer deadline((LaunchdJob::exitTimeOut(job) + 5) * 1000);
        for (;;) {
            const QString path = objectPathOfUnit(name);
            const QString state = path.isEmpty() ? QString()
                                                 : propertyValue(path, kUnitInterface, QStringLiteral("ActiveState")).toString();
            if (state.isEmpty() || state == QLatin1String("inactive") || state == QLatin1String("failed"))
                break;
            if (deadline.hasExpired()) {
                if (error)
                    *error = CFError::make(kSMErrorDomainLaunchd, ETIMEDOUT,
                                           QStringLiteral("%1 did not stop in time.").arg(name));
                return false;
            }
            QThread::msleep(20);
        }
    }
    reply = callManager(QStringLiteral("DisableUnitFiles"), {QStringList{name}, false});
    const bool disabled = !failed(reply);
    QFile::remove(unitPath(label));
    callManager(QStringLiteral("Reload"), {});
    callManager(QStringLiteral("ResetFailedUnit"), {name});
    return disabled || fail(error, QStringLiteral("disable %1").arg(name), reply);
}

QVariantMap status(const QString& label)
{
    QVariantMap result;
    if (!isAvailable())
        return result;
    const QString path = objectPathOfUnit(unitNameForLabel(label));
    if (path.isEmpty())
        return result;
    const qlonglong pid = propertyValue(path, kServiceInterface, QStringLiteral("MainPID")).toLongLong();
    if (pid > 0)
        result.insert(QStringLiteral("PID"), pid);
    // CLD_EXITED is 1; CLD_KILLED and CLD_DUMPED give the signal.
    const int code = propertyValue(path, kServiceInterface, QStringLiteral("ExecMainCode")).toInt();
    const qlonglong exitStatus = propertyValue(path, kServiceInterface, QStringLiteral("ExecMainStatus")).toLongLong();
    if (code == 1)
        result.insert(QStringLiteral("LastExitStatus"), exitStatus);
    else if (code == 2 || code == 3)
        result.insert(QStringLiteral("LastExitStatus"), -exitStatus);
    return result;
}

}  // namespace SystemdUserManager
