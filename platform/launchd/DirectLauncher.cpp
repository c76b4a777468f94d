#include "DirectLauncher.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>

#include "LaunchdJob.h"

namespace DirectLauncher {

namespace {

QString textValue(const QVariantMap& job, const char* key)
{
    const QVariant value = job.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool waitUntilGone(qint64 pid, qint64 startTime, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (isRunning(pid, startTime)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

QString start(const QVariantMap& job, qint64* pid, qint64* startTime)
{
    const LaunchdJob::Command command = LaunchdJob::commandOf(job);
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments.mid(1));

    const QString workingDirectory = textValue(job, "WorkingDirectory");
    process.setWorkingDirectory(workingDirectory.isEmpty() ? QDir::homePath() : workingDirectory);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QVariantMap variables = job.value(QStringLiteral("EnvironmentVariables")).toMap();
    for (auto it = variables.begin(); it != variables.end(); ++it) {
        if (it.value().typeId() == QMetaType::QString)
            environment.insert(it.key(), it.value().toString());
    }
    process.setProcessEnvironment(environment);

    const QString input = textValue(job, "StandardInPath");
    const QString output = textValue(job, "StandardOutPath");
    const QString errors = textValue(job, "StandardErrorPath");
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.setStandardOutputFile(output.isEmpty() ? QProcess::nullDevice() : output, QIODevice::Append);
    process.setStandardErrorFile(errors.isEmpty() ? QProcess::nullDevice() : errors, QIODevice::Append);

    qint64 started = 0;
    if (!process.startDetached(&started))
        return QStringLiteral("Cannot start %1: %2").arg(command.program, process.errorString());
    *pid = started;
    *startTime = processStartTime(started);
    return {};
}

qint64 processStartTime(qint64 pid)
{
    if (pid <= 0)
        return -1;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // The command name in parentheses may hold spaces and parentheses itself.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the name: state is field 3 of the line, start time field 22.
    if (fields.size() < 20 || fields.at(0) == "Z" || fields.at(0) == "X")
        return -1;
    bool ok = false;
    const qint64 ticks = fields.at(19).toLongLong(&ok);
    return ok ? ticks : -1;
}

bool isRunning(qint64 pid, qint64 startTime)
{
    return startTime >= 0 && processStartTime(pid) == startTime;
}

bool stop(qint64 pid, qint64 startTime, int timeoutSeconds)
{
    if (!isRunning(pid, startTime))
        return true;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (timeoutSeconds <= 0)
        return !isRunning(pid, startTime);
    if (waitUntilGone(pid, startTime, timeoutSeconds * 1000))
        return true;
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    return waitUntilGone(pid, startTime, 2000);
}

}  // namespace DirectLauncher
