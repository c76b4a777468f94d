#pragma once
// Turns the user's fan rules into fan speeds: the system's own control, a named
// fan set, or auto boost, where temperature conditions choose a fan set. Only
// Kelvara Helper's controller drives fans; the windowed programs use it for the
// privileged tool's installation and its installed-state test.
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KLFanCondition;
class KLSensor;

inline constexpr const char* KLFanControllerShouldUpdateNotification = "KLFanControllerShouldUpdateNotification";
inline constexpr const char* KLFanControllerAutoBoostActiveNotification = "KLFanControllerAutoBoostActiveNotification";

class KLFanController {
public:
    static KLFanController& sharedInstance();
    // In Kelvara Helper: takes the fan sensors and follows the poll and
    // should-update notices. Elsewhere: nothing.
    KLFanController();
    explicit KLFanController(bool drivesFans);
    ~KLFanController();
    KLFanController(const KLFanController&) = delete;
    KLFanController& operator=(const KLFanController&) = delete;

    const std::optional<QList<KLSensor*>>& fanSensors() const { return m_fanSensors; }
    void setFanSensors(const std::optional<QList<KLSensor*>>& sensors) { m_fanSensors = sensors; }
    KLFanCondition* activeFanCondition() const { return m_activeFanCondition; }
    KLSensor* overheatSensor() const { return m_overheatSensor; }

    // Applies the stored mode once; nothing unless the tool is installed.
    void fireFanController();
    void handleAutoBoostFanController();
    void checkAutoBoostAvailable();
    void fanControllerShouldUpdateNotification();
    void kelvaraTempDidChangeNotification();

    // The tool in the container is owned by root and the administrators' group,
    // with permissions exactly 6555.
    bool isSMCBinaryInstalled() const;
    // Unless the installed tool passes that test and is the bundle's own, asks an
    // administrator once and has the bundle's tool put itself at the installed
    // path. Returns at once; the handler runs later on the main queue with YES
    // when the installed tool then passes the test and matches the bundle's.
    // Called on the main thread. A call while a request is in flight joins it:
    // one question, one installation, and every handler hears its answer.
    void requestPrivilegePermissionWithCompletionHandler(std::function<void(bool granted)> handler);

private:
    static bool isInstalledAt(const QString& path);
    void applySystemControl();
    void applyFanSet(const QString& name);
    void applyFanSpeeds(class KLFanSet* fanSet);
    void postAutoBoostActive();
    // One run of the tool; on an update notice, none when the fan was given this
    // very speed and mode a moment ago.
    void applySpeed(KLSensor* fan, double speed, bool autoMode);

    // The request in flight and the handlers waiting for it; shared with its
    // thread, which may outlive this controller.
    struct PrivilegeRequests {
        bool inFlight = false;
        std::vector<std::function<void(bool granted)>> handlers;
    };
    std::shared_ptr<PrivilegeRequests> m_privilegeRequests = std::make_shared<PrivilegeRequests>();

    std::optional<QList<KLSensor*>> m_fanSensors;
    KLFanCondition* m_activeFanCondition = nullptr;
    qint64 m_activeFanConditionRow = 0;
    KLSensor* m_overheatSensor = nullptr;
    // Poll ticks seen in auto-boost mode since the last evaluation.
    int m_autoBoostTickCounter = 0;
    // A should-update notice waits for the pending application, however many come.
    bool m_updatePending = false;
    bool m_updateAgain = false;
    // Set while a notice's application runs: only those repeats are merged.
    bool m_mergeRepeats = false;
    struct Written {
        unsigned long speed = 0;
        bool autoMode = false;
        QElapsedTimer at;
    };
    QHash<unsigned long, Written> m_lastWrites;
};
