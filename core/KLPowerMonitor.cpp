#include "KLPowerMonitor.h"

#include <QDir>
#include <QString>

#include "KLSystemFiles.h"
#include "SMCServices.h"
#include "VirtualSMC.h"

namespace {

unsigned stateOfPowerSupplies()
{
    const QString folder = "/sys/class/power_supply";
    const QStringList supplies =
        QDir(KLSystemFiles::path(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    bool adapterKnown = false;
    bool adapterOnline = false;
    bool hasBattery = false;
    QString batteryStatus;
    for (const QString& supply : supplies) {
        const QString path = folder + '/' + supply;
        const QString type = KLSystemFiles::readText(path + "/type");
        if (type == QLatin1String("Mains") || type.startsWith(QLatin1String("USB"))) {
            adapterKnown = true;
            adapterOnline = adapterOnline || KLSystemFiles::readText(path + "/online") == QLatin1String("1");
        } else if (type == QLatin1String("Battery") && !hasBattery &&
                   KLSystemFiles::readText(path + "/scope") != QLatin1String("Device")) {
            // Like the Mac, only the first source counts: the machine's own battery.
            hasBattery = true;
            batteryStatus = KLSystemFiles::readText(path + "/status");
        }
    }
    if (!hasBattery)
        return adapterOnline ? KLPowerSourceStateACNotCharging : KLPowerSourceStateNone;
    const bool charging = batteryStatus == QLatin1String("Charging");
    if (adapterOnline || charging)
        return charging ? KLPowerSourceStateACCharging : KLPowerSourceStateACNotCharging;
    // Machines that list no adapter tell AC power only by a full or held battery.
    if (!adapterKnown && (batteryStatus == QLatin1String("Full") || batteryStatus == QLatin1String("Not charging")))
        return KLPowerSourceStateACNotCharging;
    return KLPowerSourceStateBattery;
}

}  // namespace

KLPowerMonitor& KLPowerMonitor::sharedInstance()
{
    static KLPowerMonitor shared;
    return shared;
}

unsigned KLPowerMonitor::powerSourceState() const
{
    if (!KLSystemFiles::exists(smc::kApplesmcDevicePath)) {
        if (const auto declared = smc::VirtualSMC().powerSourceState())
            return *declared;
    }
    return stateOfPowerSupplies();
}
