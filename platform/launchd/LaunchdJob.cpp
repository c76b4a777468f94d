#include "LaunchdJob.h"
#include "PropertyList.h"

#include <QVariantList>

namespace LaunchdJob {

namespace {

bool isNumber(const QVariant& value)
{
    return PropertyList::isNumber(value);
}

bool isText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

// Arguments reach exec() as C strings.
bool hasNul(const QString& text)
{
    return text.contains(QChar(u'\0'));
}

}  // namespace

QString problemWithJob(const QVariantMap& job)
{
    const QVariant label = job.value(QStringLiteral("Label"));
    if (!isText(label) || label.toString().isEmpty())
        return QStringLiteral("The job has no label.");
    const QVariant program = job.value(QStringLiteral("Program"));
    const QVariant arguments = job.value(QStringLiteral("ProgramArguments"));
    if (program.isValid() && (!isText(program) || program.toString().isEmpty() || hasNul(program.toString())))
        return QStringLiteral("The job's Program must be a path.");
    if (arguments.isValid()) {
        if (arguments.typeId() != QMetaType::QVariantList && arguments.typeId() != QMetaType::QStringList)
            return QStringLiteral("The job's ProgramArguments must be a list of texts.");
        const QVariantList list = arguments.toList();
        for (const QVariant& item : list) {
            if (!isText(item) || hasNul(item.toString()))
                return QStringLiteral("The job's ProgramArguments must be a list of texts.");
        }
        if (list.isEmpty() && !program.isValid())
            return QStringLiteral("The job's ProgramArguments are empty.");
    } else if (!program.isValid()) {
        return QStringLiteral("The job has neither Program nor ProgramArguments.");
    }
    // A leading "-", "@", ":", "+" or "!" would change how a service manager runs it.
    const QString executable = commandOf(job).program;
    if (executable.isEmpty() || QStringLiteral("-@:+!").contains(executable.front()))
        return QStringLiteral("The job's program must be a path.");
    return {};
}

Command commandOf(const QVariantMap& job)
{
    Command command;
    command.arguments = job.value(QStringLiteral("ProgramArguments")).toStringList();
    const QVariant program = job.value(QStringLiteral("Program"));
    if (isText(program) && !program.toString().isEmpty())
        command.program = program.toString();
    else if (!command.arguments.isEmpty())
        command.program = command.arguments.first();
    if (command.arguments.isEmpty() && !command.program.isEmpty())
        command.arguments = QStringList{command.program};
    return command;
}

QString labelOf(const QVariantMap& job)
{
    const QVariant label = job.value(QStringLiteral("Label"));
    return isText(label) ? label.toString() : QString();
}

bool boolValue(const QVariantMap& job, const QString& key)
{
    const QVariant value = job.value(key);
    return isNumber(value) && value.toBool();
}

bool startsAtLoad(const QVariantMap& job)
{
    const QVariant keepAlive = job.value(QStringLiteral("KeepAlive"));
    return boolValue(job, QStringLiteral("RunAtLoad")) || (isNumber(keepAlive) && keepAlive.toBool());
}

bool isOneShot(const QVariantMap& job)
{
    return boolValue(job, QStringLiteral("RunAtLoad")) && boolValue(job, QStringLiteral("LaunchOnlyOnce"));
}

int exitTimeOut(const QVariantMap& job)
{
    const QVariant value = job.value(QStringLiteral("ExitTimeOut"));
    if (isNumber(value) && value.toLongLong() > 0)
        return static_cast<int>(qMin<qlonglong>(value.toLongLong(), 3600));
    return 20;
}

}  // namespace LaunchdJob
