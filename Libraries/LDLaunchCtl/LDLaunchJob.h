#pragma once
// One launchd job: a property per launchd.plist key, named as the key, and a
// dictionary that mirrors every change of them. That dictionary is the job as
// it is written to its job file and handed to launchd.
//
// Mirror rules: a boolean key is stored as a boolean (NO included); any other
// key is removed when set to an empty text, list or dictionary or to nothing,
// and stored unchanged otherwise (integers as numbers, 0 included). A key that
// was never set is never in the mirror. StartCalendarInterval is mirrored by
// its own setter, in dictionary form.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <optional>

#include "LDLaunchJobSchedule.h"
#include "LDLaunchd.h"

// The launchd keys by type, in the order launchd.plist documents them.
#define LD_JOB_STRING_KEYS(X)                                                                                          \
    X(Label) X(Program) X(ServiceDescription) X(UserName) X(GroupName) X(LimitLoadToSessionType) X(RootDirectory)    \
    X(WorkingDirectory) X(StandardInPath) X(StandardOutPath) X(StandardErrorPath) X(ProcessType)                     \
    X(MachExceptionHandler) X(POSIXSpawnType) X(PosixSpawnType) X(CFBundleIdentifier) X(SHAuthorizationRight)
#define LD_JOB_STRING_LIST_KEYS(X)                                                                                     \
    X(ProgramArguments) X(LimitLoadToHosts) X(LimitLoadFromHosts) X(WatchPaths) X(QueueDirectories)
#define LD_JOB_LIST_KEYS(X) X(BinaryOrderPreference)
#define LD_JOB_DICTIONARY_KEYS(X)                                                                                      \
    X(inetdCompatibility) X(EnvironmentVariables) X(SoftResourceLimits) X(HardResourceLimits) X(MachServices)        \
    X(Sockets) X(LaunchEvents) X(PerJobMachServices) X(JetsamProperties)
#define LD_JOB_BOOL_KEYS(X)                                                                                            \
    X(Disabled) X(EnableGlobbing) X(EnableTransactions) X(BeginTransactionAtShutdown) X(OnDemand) X(RunAtLoad)       \
    X(InitGroups) X(StartOnMount) X(Debug) X(WaitForDebugger) X(AbandonProcessGroup) X(LowPriorityIO)                \
    X(LowPriorityBackgroundIO) X(LaunchOnlyOnce) X(ServiceIPC) X(XPCDomainBootstrapper) X(SessionCreate)            \
    X(MultipleInstances) X(HopefullyExitsLast) X(ShutdownMonitor) X(EventMonitor) X(IgnoreProcessGroupAtShutdown)
#define LD_JOB_INTEGER_KEYS(X) X(StartInterval) X(Umask) X(TimeOut) X(ExitTimeOut) X(ThrottleInterval) X(Nice)

class LDLaunchJob {
public:
    struct WithoutObservers {};

    // An empty job that mirrors every later change.
    LDLaunchJob();
    // An empty job with an empty mirror that mirrors nothing (filled by jobFromDictionary).
    explicit LDLaunchJob(WithoutObservers);

    // The job launchd or a job file describes; the domain is set, every key that
    // names a property is taken into it and into the mirror, others are dropped.
    static LDLaunchJob jobFromDictionary(const QVariantMap& dict, LDDomainNumber inDomain);
    // Reads a job file; the domain comes from the folder it lies in. Nothing when
    // the file is unreadable or lacks Label or ProgramArguments.
    static std::optional<LDLaunchJob> jobFromFile(const QString& path);

#define LD_DECLARE(type, name)                                                                                         \
    type name() const;                                                                                                 \
    void set##name(const type& value);
#define LD_DECLARE_STRING(name) LD_DECLARE(QString, name)
#define LD_DECLARE_STRING_LIST(name) LD_DECLARE(QStringList, name)
#define LD_DECLARE_LIST(name) LD_DECLARE(QVariantList, name)
#define LD_DECLARE_DICTIONARY(name) LD_DECLARE(QVariantMap, name)
#define LD_DECLARE_BOOL(name) LD_DECLARE(bool, name)
#define LD_DECLARE_INTEGER(name) LD_DECLARE(qint64, name)
    LD_JOB_STRING_KEYS(LD_DECLARE_STRING)
    LD_JOB_STRING_LIST_KEYS(LD_DECLARE_STRING_LIST)
    LD_JOB_LIST_KEYS(LD_DECLARE_LIST)
    LD_JOB_DICTIONARY_KEYS(LD_DECLARE_DICTIONARY)
    LD_JOB_BOOL_KEYS(LD_DECLARE_BOOL)
    LD_JOB_INTEGER_KEYS(LD_DECLARE_INTEGER)
#undef LD_DECLARE_STRING
#undef LD_DECLARE_STRING_LIST
#undef LD_DECLARE_LIST
#undef LD_DECLARE_DICTIONARY
#undef LD_DECLARE_BOOL
#undef LD_DECLARE_INTEGER
#undef LD_DECLARE

    // A boolean or a dictionary of conditions such as {"SuccessfulExit": YES}.
    QVariant KeepAlive() const;
    void setKeepAlive(const QVariant& value);

    // One LDLaunchJobSchedule, or a QVariantList of them; invalid when unset.
    QVariant StartCalendarInterval() const;
    // A schedule, or a list whose elements are schedules or their dictionaries
    // (anything else in it is dropped); any other value changes nothing.
    void setStartCalendarInterval(const QVariant& value);
    void setStartCalendarInterval(const LDLaunchJobSchedule& schedule);
    void setStartCalendarInterval(const QList<LDLaunchJobSchedule>& schedules);
    QList<LDLaunchJobSchedule> StartCalendarIntervalArray() const;
    void setStartCalendarIntervalArray(const QList<LDLaunchJobSchedule>& schedules);

    // Status, not launchd keys. PID and LastExitStatus ask launchd while their
    // stored value is 0 and answer -1 when it does not know.
    LDDomainNumber domain() const { return m_domain; }
    void setDomain(LDDomainNumber domain) { m_domain = domain; }
    qint64 PID() const;
    void setPID(qint64 pid) { m_PID = pid; }
    qint64 LastExitStatus() const;
    void setLastExitStatus(qint64 status) { m_LastExitStatus = status; }
    bool isCurrentlyLoaded() const;

    // The mirror itself; nothing until the first mirrored change.
    std::optional<QVariantMap> internalDictionary() const { return m_internalDictionary; }
    void setInternalDictionary(const QVariantMap& dictionary) { m_internalDictionary = dictionary; }
    // The launchd job dictionary: a copy of the mirror, nothing when no key was ever set.
    std::optional<QVariantMap> dictionary() const { return m_internalDictionary; }

    // launchd's current value for the key, invalid without a label or in domain 0.
    QVariant serviceManagementValueForKey(const QString& key) const;
    // "CFBundleVersion" of the info dictionary found for the first program argument.
    QString executableVersion() const;
    QString description() const;

    // Setting a property by its name, as key-value coding does. False when the
    // value cannot be held by the property or no such property exists.
    bool setValue(const QVariant& value, const QString& forKey);
    static bool hasProperty(const QString& name);
    // Mirroring jobs know all 68 declared properties; the others keep the
    // capacity hint of 33 they were made with.
    quint32 propertyCount() const { return m_propertyCount; }
    bool isObserving() const { return m_observing; }

    // Keyed coding: the mirror under "dictionary", and Label, Program and
    // ProgramArguments under their names. A decoded job does not mirror.
    static bool supportsSecureCoding() { return true; }
    void encodeWithCoder(QVariantMap& coder) const;
    static LDLaunchJob initWithCoder(const QVariantMap& coder);

    // The info dictionary of the bundle a program belongs to: a bundle folder's
    // own, or that of the bundle whose Contents/MacOS holds the file. Empty when
    // none is found.
    static QVariantMap infoDictionaryForPath(const QString& path);

private:
    struct Plain {};
    explicit LDLaunchJob(Plain) {}
    void startObserving();
    void assign(const QString& key, const QVariant& value);
    void mirror(const QString& key, const QVariant& value);
    QVariantMap& ensureMirror();

    QVariantMap m_values;
    std::optional<QVariantMap> m_internalDictionary;
    mutable QVariant m_calendarCache;
    QList<LDLaunchJobSchedule> m_lastScheduleArray;
    LDDomainNumber m_domain = 0;
    qint64 m_PID = 0;
    qint64 m_LastExitStatus = 0;
    quint32 m_propertyCount = 0;
    bool m_observing = false;
};
