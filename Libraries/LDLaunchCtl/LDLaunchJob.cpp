#include "LDLaunchJob.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "NSBundle.h"
#include "PropertyList.h"

namespace {

enum class Kind { String, StringList, List, Dictionary, Bool, Integer, Object, Schedule, ScheduleList, Domain, Status, Loaded, Mirror };

constexpr quint32 kCapacityHint = 33;

const QHash<QString, Kind>& declaredProperties()
{
    static const QHash<QString, Kind> properties = [] {
        QHash<QString, Kind> table;
#define LD_ADD(kind) [&table](const char* name) { table.insert(QLatin1String(name), kind); }
        const auto addString = LD_ADD(Kind::String);
        const auto addStringList = LD_ADD(Kind::StringList);
        const auto addList = LD_ADD(Kind::List);
        const auto addDictionary = LD_ADD(Kind::Dictionary);
        const auto addBool = LD_ADD(Kind::Bool);
        const auto addInteger = LD_ADD(Kind::Integer);
#undef LD_ADD
#define LD_NAME(name) #name,
        for (const char* name : {LD_JOB_STRING_KEYS(LD_NAME)})
            addString(name);
        for (const char* name : {LD_JOB_STRING_LIST_KEYS(LD_NAME)})
            addStringList(name);
        for (const char* name : {LD_JOB_LIST_KEYS(LD_NAME)})
            addList(name);
        for (const char* name : {LD_JOB_DICTIONARY_KEYS(LD_NAME)})
            addDictionary(name);
        for (const char* name : {LD_JOB_BOOL_KEYS(LD_NAME)})
            addBool(name);
        for (const char* name : {LD_JOB_INTEGER_KEYS(LD_NAME)})
            addInteger(name);
#undef LD_NAME
        table.insert(QStringLiteral("KeepAlive"), Kind::Object);
        table.insert(QStringLiteral("StartCalendarInterval"), Kind::Schedule);
        table.insert(QStringLiteral("StartCalendarIntervalArray"), Kind::ScheduleList);
        table.insert(QStringLiteral("domain"), Kind::Domain);
        table.insert(QStringLiteral("PID"), Kind::Status);
        table.insert(QStringLiteral("LastExitStatus"), Kind::Status);
        table.insert(QStringLiteral("isCurrentlyLoaded"), Kind::Loaded);
        table.insert(QStringLiteral("internalDictionary"), Kind::Mirror);
        return table;
    }();
    return properties;
}

// Status and the calendar keep out of the mirror, as launchd's own keys do not
// include them. StartCalendarIntervalArray holds schedule objects, which a
// property list cannot, and the mirror cannot hold itself.
bool isMirrored(const QString& key)
{
    const Kind kind = declaredProperties().value(key, Kind::Loaded);
    switch (kind) {
    case Kind::Schedule:
    case Kind::ScheduleList:
    case Kind::Domain:
    case Kind::Status:
    case Kind::Loaded:
    case Kind::Mirror:
        return false;
    default:
        return true;
    }
}

bool isNumber(const QVariant& value)
{
    return PropertyList::isNumber(value);
}

bool isList(const QVariant& value)
{
    return value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList;
}

bool isEmptyValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().isEmpty();
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return value.toList().isEmpty();
    case QMetaType::QVariantMap:
        return value.toMap().isEmpty();
    default:
        return false;
    }
}

QVariant scheduleListValue(const QList<LDLaunchJobSchedule>& schedules)
{
    QVariantList list;
    for (const LDLaunchJobSchedule& schedule : schedules)
        list.append(QVariant::fromValue(schedule));
    return list;
}

QList<LDLaunchJobSchedule> schedulesOf(const QVariantList& list)
{
    QList<LDLaunchJobSchedule> schedules;
    for (const QVariant& item : list) {
        if (item.metaType() == QMetaType::fromType<LDLaunchJobSchedule>())
            schedules.append(item.value<LDLaunchJobSchedule>());
        else if (item.typeId() == QMetaType::QVariantMap)
            schedules.append(LDLaunchJobSchedule(item.toMap()));
    }
    return schedules;
}

QString expandTilde(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

LDDomainNumber domainForPath(const QString& path)
{
    const QString expanded = expandTilde(path);
    if (expanded.startsWith(QLatin1String("/Library/LaunchAgents/")))
        return 2;
    if (expanded.startsWith(QLatin1String("/Library/LaunchDaemons/")))
        return 4;
    if (expanded.startsWith(QLatin1String("/System/Library/LaunchAgents/")))
        return 3;
    if (expanded.startsWith(QLatin1String("/System/Library/LaunchDaemons/")))
        return 5;
    if (expanded.startsWith(QDir::homePath() + QLatin1Char('/')))
        return 1;
    return 0;
}

}  // namespace

LDLaunchJob::LDLaunchJob()
{
    startObserving();
}

LDLaunchJob::LDLaunchJob(WithoutObservers)
    : m_internalDictionary(QVariantMap())
    , m_propertyCount(kCapacityHint)
{
}

void LDLaunchJob::startObserving()
{
    m_propertyCount = static_cast<quint32>(declaredProperties().size());
    m_observing = true;
}

bool LDLaunchJob::hasProperty(const QString& name)
{
    return declaredProperties().contains(name);
}

QVariantMap& LDLaunchJob::ensureMirror()
{
    if (!m_internalDictionary)
        m_internalDictionary.emplace();
    return *m_internalDictionary;
}

void LDLaunchJob::assign(const QString& key, const QVariant& value)
{
    if (value.isValid())
        m_values.insert(key, value);
    else
        m_values.remove(key);
    if (m_observing && isMirrored(key))
        mirror(key, value);
}

void LDLaunchJob::mirror(const QString& key, const QVariant& value)
{
    QVariantMap& dictionary = ensureMirror();
    if (declaredProperties().value(key) == Kind::Bool) {
        if (isNumber(value))
            dictionary.insert(key, value.toBool());
        else
            dictionary.remove(key);
        return;
    }
    if (isEmptyValue(value))
        dictionary.remove(key);
    else if (value.typeId() == QMetaType::QStringList)
        dictionary.insert(key, value.toList());  // as a property list gives it back
    else
        dictionary.insert(key, value);
}

#define LD_DEFINE_STRING(name)                                                                                         \
    QString LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toString(); }                   \
    void LDLaunchJob::set##name(const QString& value)                                                                 \
    {                                                                                                                  \
        assign(QStringLiteral(#name), value.isNull() ? QVariant() : QVariant(value));                                  \
    }
#define LD_DEFINE_STRING_LIST(name)                                                                                    \
    QStringList LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toStringList(); }           \
    void LDLaunchJob::set##name(const QStringList& value) { assign(QStringLiteral(#name), QVariant(value)); }
#define LD_DEFINE_LIST(name)                                                                                           \
    QVariantList LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toList(); }                \
    void LDLaunchJob::set##name(const QVariantList& value) { assign(QStringLiteral(#name), QVariant(value)); }
#define LD_DEFINE_DICTIONARY(name)                                                                                     \
    QVariantMap LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toMap(); }                  \
    void LDLaunchJob::set##name(const QVariantMap& value) { assign(QStringLiteral(#name), QVariant(value)); }
#define LD_DEFINE_BOOL(name)                                                                                           \
    bool LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toBool(); }                        \
    void LDLaunchJob::set##name(const bool& value) { assign(QStringLiteral(#name), QVariant(value)); }
#define LD_DEFINE_INTEGER(name)                                                                                        \
    qint64 LDLaunchJob::name() const { return m_values.value(QStringLiteral(#name)).toLongLong(); }                  \
    void LDLaunchJob::set##name(const qint64& value) { assign(QStringLiteral(#name), QVariant(qlonglong(value))); }

LD_JOB_STRING_KEYS(LD_DEFINE_STRING)
LD_JOB_STRING_LIST_KEYS(LD_DEFINE_STRING_LIST)
LD_JOB_LIST_KEYS(LD_DEFINE_LIST)
LD_JOB_DICTIONARY_KEYS(LD_DEFINE_DICTIONARY)
LD_JOB_BOOL_KEYS(LD_DEFINE_BOOL)
LD_JOB_INTEGER_KEYS(LD_DEFINE_INTEGER)

#undef LD_DEFINE_STRING
#undef LD_DEFINE_STRING_LIST
#undef LD_DEFINE_LIST
#undef LD_DEFINE_DICTIONARY
#undef LD_DEFINE_BOOL
#undef LD_DEFINE_INTEGER

QVariant LDLaunchJob::KeepAlive() const
{
    return m_values.value(QStringLiteral("KeepAlive"));
}

void LDLaunchJob::setKeepAlive(const QVariant& value)
{
    assign(QStringLiteral("KeepAlive"), value);
}

QVariant LDLaunchJob::StartCalendarInterval() const
{
    if (m_calendarCache.isValid())
        return m_calendarCache;
    if (!m_internalDictionary)
        return {};
    const QVariant stored = m_internalDictionary->value(QStringLiteral("StartCalendarInterval"));
    if (stored.typeId() == QMetaType::QVariantMap)
        m_calendarCache = QVariant::fromValue(LDLaunchJobSchedule(stored.toMap()));
    else if (stored.typeId() == QMetaType::QVariantList)
        m_calendarCache = scheduleListValue(schedulesOf(stored.toList()));
    return m_calendarCache;
}

void LDLaunchJob::setStartCalendarInterval(const QVariant& value)
{
    const QString key = QStringLiteral("StartCalendarInterval");
    if (value.metaType() == QMetaType::fromType<LDLaunchJobSchedule>()) {
        ensureMirror().insert(key, value.value<LDLaunchJobSchedule>().dictionary());
        m_calendarCache = value;
        return;
    }
    if (value.typeId() != QMetaType::QVariantList)
        return;
    const QList<LDLaunchJobSchedule> schedules = schedulesOf(value.toList());
    QVariantList dictionaries;
    for (const LDLaunchJobSchedule& schedule : schedules)
        dictionaries.append(schedule.dictionary());
    ensureMirror().insert(key, dictionaries);
    m_calendarCache = scheduleListValue(schedules);
    m_lastScheduleArray = schedules;
}

void LDLaunchJob::setStartCalendarInterval(const LDLaunchJobSchedule& schedule)
{
    setStartCalendarInterval(QVariant::fromValue(schedule));
}

void LDLaunchJob::setStartCalendarInterval(const QList<LDLaunchJobSchedule>& schedules)
{
    setStartCalendarInterval(scheduleListValue(schedules));
}

QList<LDLaunchJobSchedule> LDLaunchJob::StartCalendarIntervalArray() const
{
    const QVariant current = StartCalendarInterval();
    if (current.typeId() == QMetaType::QVariantList)
        return schedulesOf(current.toList());
    return m_lastScheduleArray;
}

void LDLaunchJob::setStartCalendarIntervalArray(const QList<LDLaunchJobSchedule>& schedules)
{
    setStartCalendarInterval(schedules);
}

bool LDLaunchJob::setValue(const QVariant& value, const QString& forKey)
{
    const auto found = declaredProperties().constFind(forKey);
    if (found == declaredProperties().constEnd())
        return false;
    switch (*found) {
    case Kind::String:
        if (value.isValid() && value.typeId() != QMetaType::QString)
            return false;
        assign(forKey, value);
        return true;
    case Kind::StringList:
        if (value.isValid()) {
            if (!isList(value))
                return false;
            for (const QVariant& item : value.toList()) {
                if (item.typeId() != QMetaType::QString)
                    return false;
            }
            assign(forKey, QVariant(value.toStringList()));
        } else {
            assign(forKey, value);
        }
        return true;
    case Kind::List:
        if (value.isValid() && !isList(value))
            return false;
        assign(forKey, value.isValid() ? QVariant(value.toList()) : value);
        return true;
    case Kind::Dictionary:
        if (value.isValid() && value.typeId() != QMetaType::QVariantMap)
            return false;
        assign(forKey, value);
        return true;
    case Kind::Bool:
        if (!isNumber(value))
            return false;
        assign(forKey, value.toBool());
        return true;
    case Kind::Integer:
        if (!isNumber(value))
            return false;
        assign(forKey, qlonglong(value.toLongLong()));
        return true;
    case Kind::Object:
        assign(forKey, value);
        return true;
    case Kind::Schedule:
        setStartCalendarInterval(value);
        return true;
    case Kind::ScheduleList:
        if (value.typeId() != QMetaType::QVariantList)
            return false;
        setStartCalendarInterval(value);
        return true;
    case Kind::Domain:
    case Kind::Status:
        if (!isNumber(value))
            return false;
        if (forKey == QLatin1String("domain"))
            m_domain = value.toLongLong();
        else if (forKey == QLatin1String("PID"))
            m_PID = value.toLongLong();
        else
            m_LastExitStatus = value.toLongLong();
        return true;
    case Kind::Loaded:
    case Kind::Mirror:
        return false;
    }
    return false;
}

LDLaunchJob LDLaunchJob::jobFromDictionary(const QVariantMap& dict, LDDomainNumber inDomain)
{
    LDLaunchJob job{WithoutObservers{}};
    job.m_domain = inDomain;
    for (auto it = dict.begin(); it != dict.end(); ++it) {
        // The mirror cannot be taken from the dictionary it would then contain.
        if (!hasProperty(it.key()) || declaredProperties().value(it.key()) == Kind::Mirror)
            continue;
        // A value the property refuses still goes into the mirror.
        job.setValue(it.value(), it.key());
        job.ensureMirror().insert(it.key(), it.value());
    }
    job.startObserving();
    return job;
}

std::optional<LDLaunchJob> LDLaunchJob::jobFromFile(const QString& path)
{
    const LDDomainNumber domain = domainForPath(path);
    const QVariant contents = PropertyList::readFile(path);
    if (contents.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap dictionary = contents.toMap();
    if (!dictionary.contains(QStringLiteral("Label")) || !dictionary.contains(QStringLiteral("ProgramArguments")))
        return std::nullopt;
    return jobFromDictionary(dictionary, domain);
}

QVariant LDLaunchJob::serviceManagementValueForKey(const QString& key) const
{
    const QString label = Label();
    if (label.isNull() || m_domain == 0)
        return {};
    return launchdCopyJobDictionary(m_domain, label).value(key);
}

qint64 LDLaunchJob::PID() const
{
    if (m_PID != 0)
        return m_PID;
    const QVariant value = serviceManagementValueForKey(QStringLiteral("PID"));
    return isNumber(value) ? value.toLongLong() : -1;
}

qint64 LDLaunchJob::LastExitStatus() const
{
    if (m_LastExitStatus != 0)
        return m_LastExitStatus;
    const QVariant value = serviceManagementValueForKey(QStringLiteral("LastExitStatus"));
    return isNumber(value) ? value.toLongLong() : -1;
}

bool LDLaunchJob::isCurrentlyLoaded() const
{
    return serviceManagementValueForKey(QStringLiteral("Label")).isValid();
}

QVariantMap LDLaunchJob::infoDictionaryForPath(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        for (const char* place : {"/Contents/Info.plist", "/Info.plist"}) {
            const QVariant plist = PropertyList::readFile(path + QLatin1String(place));
            if (plist.typeId() == QMetaType::QVariantMap)
                return plist.toMap();
        }
        return {};
    }
    if (!info.isFile())
        return {};
    const QString bundle = NSBundle::bundlePathForExecutable(info.absoluteFilePath());
    if (!bundle.endsWith(QLatin1String(".app")))
        return {};
    return NSBundle(bundle).infoDictionary();
}

QString LDLaunchJob::executableVersion() const
{
    const QStringList arguments = ProgramArguments();
    if (arguments.isEmpty())
        return {};
    const QVariant version = infoDictionaryForPath(arguments.first()).value(QStringLiteral("CFBundleVersion"));
    return version.isValid() ? version.toString() : QString();
}

QString LDLaunchJob::description() const
{
    if (!m_internalDictionary || m_internalDictionary->isEmpty())
        return QStringLiteral("No Job Set");
    const auto number = [](qint64 value) { return value == -1 ? QStringLiteral("--") : QString::number(value); };
    const QString label = Label();
    return QStringLiteral("Is Loaded:%1\tLastExit:%2\tPID:%3\tLabel:%4")
        .arg(isCurrentlyLoaded() ? QStringLiteral("YES") : QStringLiteral("NO"), number(LastExitStatus()),
             number(PID()), label.isNull() ? QStringLiteral("(null)") : label);
}

void LDLaunchJob::encodeWithCoder(QVariantMap& coder) const
{
    if (m_internalDictionary)
        coder.insert(QStringLiteral("dictionary"), *m_internalDictionary);
    for (const char* key : {"Label", "Program", "ProgramArguments"}) {
        const QVariant value = m_values.value(QLatin1String(key));
        if (value.isValid())
            coder.insert(QLatin1String(key), value);
    }
}

LDLaunchJob LDLaunchJob::initWithCoder(const QVariantMap& coder)
{
    LDLaunchJob job{Plain{}};
    const QVariant dictionary = coder.value(QStringLiteral("dictionary"));
    if (dictionary.typeId() == QMetaType::QVariantMap)
        job.m_internalDictionary = dictionary.toMap();
    job.setValue(coder.value(QStringLiteral("ProgramArguments")), QStringLiteral("ProgramArguments"));
    for (const char* key : {"Label", "Program"}) {
        const QVariant value = coder.value(QLatin1String(key));
        if (value.typeId() == QMetaType::QString)
            job.setValue(value, QLatin1String(key));
    }
    return job;
}
