#include "KLFanController.h"

#include <thread>
#include <utility>

#include "Authorization.h"
#include "Dispatch.h"
#include "NSBundle.h"
#include "NSFileManager.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLPowerMonitor.h"
#include "KLSensor.h"
#include "KLSystemFiles.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "RZSMC.h"
#include "SMCServices.h"
#include "VirtualSMC.h"
#include <algorithm>
#include <pwd.h>
#include <unistd.h>
#include <cmath>

namespace {

// The tool is given to root with the administrators' group, set-id and read-only.
constexpr qulonglong kInstalledPermissions = 06555;  // 3437

// Each write is a run of a set-id tool. An update notice that would give a fan
// the speed and mode it was given within this time changes nothing on the fan;
// past it, a repeat goes through, in case something else took the fan meanwhile.
constexpr qint64 kRepeatWriteWindowMs = 3000;

// One privileged run of the bundle's tool in its install mode puts that tool at
// the installed path, owned by root and the administrators with mode 6555. It
// writes through a descriptor of a file it made itself and renames it over the
// path, so nothing the user left at the path (a link, a file of their own) is
// followed or given set-id. One run, so polkit asks only once.
bool installAsAdministrator(const QString& source, const QString& tool)
{
    AuthorizationItem right;
    right.name = kAuthorizationRightExecute;
    AuthorizationRights rights{1, &right};
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(&rights, nullptr, kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights,
                            &authorization) != errAuthorizationSuccess)
        return false;
    int exitStatus = -1;
    QByteArray errors;
    const OSStatus status = AuthorizationExecuteWithPrivileges(
        authorization, source, 0, {QStringLiteral("--install"), tool, administratorsGroupName()}, &exitStatus, &errors);
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    if (status == errAuthorizationSuccess && exitStatus != 0)
        qWarning("Installing the fan control tool failed: %s", errors.trimmed().constData());
    return status == errAuthorizationSuccess && exitStatus == 0;
}

}  // namespace

KLFanController& KLFanController::sharedInstance()
{
    static KLFanController controller;
    return controller;
}

KLFanController::KLFanController()
    : KLFanController(KLDataManager::currentProgram() == KLDataManager::Program::Helper)
{
}

KLFanController::KLFanController(bool drivesFans)
{
    if (!drivesFans)
        return;
    m_fanSensors = KLSensor::fanSensors();
    // The poll loop's own ticks, in this process, count towards auto boost.
    NSNotificationCenter::defaultCenter().addObserver(this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
                                                      [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
    NSDistributedNotificationCenter& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLFanControllerShouldUpdateNotification),
                       [this](const NSNotification&) { fanControllerShouldUpdateNotification(); });
}

KLFanController::~KLFanController()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void KLFanController::fireFanController()
{
    if (!isSMCBinaryInstalled())
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    switch (settings.fanControlMode()) {
    case KLFanControlModeSystem:
        applySystemControl();
        break;
    case KLFanControlModeFanSet:
        applyFanSet(settings.fanSetName());
        break;
    default:
        handleAutoBoostFanController();
        break;
    }
}

void KLFanController::applySystemControl()
{
    if (!m_fanSensors)
        return;
    for (KLSensor* fan : std::as_const(*m_fanSensors)) {
        if (fan && fan->minValue() > 0)
            applySpeed(fan, fan->minValue(), true);
    }
}

void KLFanController::applySpeed(KLSensor* fan, double speed, bool autoMode)
{
    const auto number = static_cast<unsigned long>(fan->key().toInt());
    const auto whole = static_cast<unsigned long>(speed);
    Written& last = m_lastWrites[number];
    if (m_mergeRepeats && last.at.isValid() && last.speed == whole && last.autoMode == autoMode &&
        last.at.elapsed() < kRepeatWriteWindowMs)
        return;
    // A write whose tool could not be started is no reason to skip the next request.
    if (!RZSMC::smc().setSpeed(whole, number, autoMode)) {
        m_lastWrites.remove(number);
        return;
    }
    last.speed = whole;
    last.autoMode = autoMode;
    last.at.start();
}

void KLFanController::applyFanSet(const QString& name)
{
    const QList<KLFanSet*> sets = KLFanSet::objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), name));
    if (!sets.isEmpty())
        applyFanSpeeds(sets.first());
}

void KLFanController::applyFanSpeeds(KLFanSet* fanSet)
{
    if (!fanSet || !m_fanSensors)
        return;
    // A set that cannot be read, or a fan it does not list, leaves the fan as it
    // is: reading the gap as 0 rpm would stop a fan whose minimum is 0.
    const std::optional<KLFanSpeeds> speeds = fanSet->valueDict();
    if (!speeds)
        return;
    for (KLSensor* fan : std::as_const(*m_fanSensors)) {
        if (!fan)
            continue;
        const QVariant entry = speeds->value(fan->key());
        bool isNumber = false;
        const double speed = entry.toDouble(&isNumber);
        if (!entry.isValid() || !isNumber || !std::isfinite(speed) || speed < 0)
            continue;
        if (fan->minValue() <= speed && speed <= fan->maxValue())
            applySpeed(fan, speed, false);
    }
}

void KLFanController::handleAutoBoostFanController()
{
    checkAutoBoostAvailable();
    KLDataManager& settings = KLDataManager::sharedInstance();
    const bool didAutoBoost = settings.didAutoBoost();
    if (m_activeFanCondition && !didAutoBoost) {
        settings.setDidAutoBoost(true);
        applyFanSpeeds(m_activeFanCondition->fanSet());
        dispatch_async(dispatch_get_main_queue(), [this] { postAutoBoostActive(); });
    } else if (!m_activeFanCondition && didAutoBoost) {
        settings.setDidAutoBoost(false);
        applySystemControl();
    }
}

void KLFanController::postAutoBoostActive()
{
    const auto orDashes = [](const QString& text) { return text.isEmpty() ? QStringLiteral("--") : text; };
    KLFanSet* fanSet = m_activeFanCondition ? m_activeFanCondition->fanSet() : nullptr;
    QMap<QString, QString> userInfo;
    userInfo.insert(QStringLiteral("fanSetName"), orDashes(fanSet ? fanSet->name() : QString()));
    userInfo.insert(QStringLiteral("sensorName"), orDashes(m_overheatSensor ? m_overheatSensor->name() : QString()));
    userInfo.insert(QStringLiteral("sensorValue"),
                    orDashes(m_overheatSensor ? m_overheatSensor->fullStringValue() : QString()));
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
        QString::fromLatin1(KLFanControllerAutoBoostActiveNotification), QString(), userInfo, true);
}

void KLFanController::checkAutoBoostAvailable()
{
    const unsigned powerState = KLPowerMonitor::sharedInstance().powerSourceState();
    QList<KLFanCondition*> conditions = KLFanCondition::allObjects();
    std::stable_sort(conditions.begin(), conditions.end(),
                     [](KLFanCondition* a, KLFanCondition* b) { return a->threshold() > b->threshold(); });

    KLFanCondition* match = nullptr;
    KLSensor* matchSensor = nullptr;
    for (KLFanCondition* condition : std::as_const(conditions)) {
        const int state = condition->batteryState();
        if (!(state == static_cast<int>(powerState) || powerState == KLPowerSourceStateNone || state == 0))
            continue;
        const double threshold = condition->threshold();
        if (condition->sensorKey() == QLatin1String(KLAnySensorKey)) {
            const std::optional<QList<KLSensor*>> temps = KLSensor::tempSensors();
            for (KLSensor* sensor : temps.value_or(QList<KLSensor*>())) {
                if (std::round(sensor->convertedValue()) >= threshold) {
                    matchSensor = sensor;
                    break;
                }
            }
            if (matchSensor) {
                match = condition;
                break;
            }
        } else {
            KLSensor* sensor = condition->sensor();
            const double value = sensor ? std::round(sensor->convertedValue()) : 0.0;
            if (value >= threshold) {
                match = condition;
                matchSensor = sensor;
                break;
            }
        }
    }
    // Compared by row: the object of a condition deleted elsewhere is freed by a later
    // refresh, and its address may then be reused by another condition.
    const qint64 matchRow = match ? match->rowID() : 0;
    if (match && (matchRow != m_activeFanConditionRow || (matchRow == 0 && match != m_activeFanCondition)))
        KLDataManager::sharedInstance().setDidAutoBoost(false);
    m_activeFanCondition = match;
    m_activeFanConditionRow = matchRow;
    m_overheatSensor = match ? matchSensor : nullptr;
}

void KLFanController::fanControllerShouldUpdateNotification()
{
    // A burst of notices is one application, of what was saved last.
    if (m_updatePending) {
        m_updateAgain = true;
        return;
    }
    m_updatePending = true;
    // Fan sets, conditions and settings may have been saved by another program.
    KLCoreDataHelper::sharedInstance().refreshAllObjectsInMasterContext();
    dispatch_after_seconds(0.5, dispatch_get_main_queue(), [this] {
        m_updatePending = false;
        if (m_updateAgain) {
            m_updateAgain = false;
            KLCoreDataHelper::sharedInstance().refreshAllObjectsInMasterContext();
        }
        m_mergeRepeats = true;
        fireFanController();
        m_mergeRepeats = false;
    });
}

void KLFanController::kelvaraTempDidChangeNotification()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    if (settings.fanControlMode() != KLFanControlModeAutoBoost)
        return;
    m_autoBoostTickCounter += 1;
    if (static_cast<double>(m_autoBoostTickCounter) >= 10.0 / settings.updateInterval()) {
        m_autoBoostTickCounter = 0;
        fireFanController();
    }
}

bool KLFanController::isSMCBinaryInstalled() const
{
    return isInstalledAt(RZSMC::smcToolPath());
}

bool KLFanController::isInstalledAt(const QString& path)
{
    const QVariantMap attributes = NSFileManager::defaultManager().attributesOfItemAtPath(path);
    if (attributes.value(NSFilePosixPermissions).toULongLong() != kInstalledPermissions)
        return false;
    const QString owner = attributes.value(NSFileOwnerAccountName).toString();
    const QString group = attributes.value(NSFileGroupOwnerAccountName).toString();
    if (owner == QLatin1String("root") && group == administratorsGroupName())
        return true;
    // A simulated Mac may name another administrator: there the tool keeps no rights.
    if (KLSystemFiles::exists(smc::kApplesmcDevicePath))
        return false;
    // Only the account running this program may stand in: the state file is
    // anyone's to write, and another account's set-id tool must never be run
    // as though root had installed it.
    const passwd* self = ::getpwuid(::geteuid());
    const auto administrator = smc::VirtualSMC().administrator();
    return self && administrator && administrator->first == self->pw_name &&
           owner == QString::fromStdString(administrator->first) &&
           group == QString::fromStdString(administrator->second);
}

void KLFanController::requestPrivilegePermissionWithCompletionHandler(std::function<void(bool granted)> handler)
{
    // Two installations at once would rename over each other, and the first
    // one's check could then fail although access was granted.
    const std::shared_ptr<PrivilegeRequests> requests = m_privilegeRequests;
    requests->handlers.push_back(std::move(handler));
    if (requests->inFlight)
        return;
    requests->inFlight = true;
    const QString tool = RZSMC::smcToolPath();
    const QString source = NSBundle::mainBundle().pathForResource(QStringLiteral("Kelvara SMC"), QString());
    const RZSMC* smc = &RZSMC::smc();  // made here, not on the request's thread
    // One serial queue per request ("Request Privilege"): a thread of its own.
    std::thread([tool, source, smc, requests] {
        // In place: installed, and the bundle's own tool rather than whatever
        // else root may have left there.
        const auto inPlace = [&] {
            const QString installed = smc->createCheckSum(tool);
            return isInstalledAt(tool) && !installed.isNull() && installed == smc->createCheckSum(source);
        };
        const bool granted = !source.isNull() && (inPlace() || (installAsAdministrator(source, tool) && inPlace()));
        dispatch_async(dispatch_get_main_queue(), [requests, granted] {
            // Closed before anyone hears the answer: a handler may ask again.
            requests->inFlight = false;
            for (const auto& handler : std::exchange(requests->handlers, {})) {
                if (handler)
                    handler(granted);
            }
        });
    }).detach();
}
