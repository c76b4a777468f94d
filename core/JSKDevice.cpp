#include "JSKDevice.h"

#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QMap>
#include <QScreen>
#include <QSet>
#include <QSysInfo>
#include <QThread>
#include <bit>
#include <climits>
#include <memory>
#include <mutex>
#include <utility>

#include "KLSystemFiles.h"
#include "SMCServices.h"
#include "VirtualSMC.h"

namespace {

using Fields = QMap<QString, QString>;

// /proc/cpuinfo: one block of "name : value" lines per logical processor.
QList<Fields> cpuinfoBlocks()
{
    QList<Fields> blocks(1);
    const QString text = KLSystemFiles::readText("/proc/cpuinfo");
    for (const QString& line : text.split('\n')) {
        if (line.trimmed().isEmpty()) {
            if (!blocks.last().isEmpty())
                blocks.append(Fields());
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && !blocks.last().contains(line.left(colon).trimmed()))
            blocks.last().insert(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    }
    return blocks;
}

// "256K", "12M" or plain bytes, as the cache folders give sizes.
double cacheBytes(QString size)
{
    double unit = 1;
    if (size.endsWith('K'))
        unit = 1024;
    else if (size.endsWith('M'))
        unit = 1024.0 * 1024;
    else if (size.endsWith('G'))
        unit = 1024.0 * 1024 * 1024;
    if (unit != 1)
        size.chop(1);
    bool ok = false;
    const double value = size.toDouble(&ok);
    return ok && value > 0 ? value * unit : 0;
}

double cacheSizeOfLevel(int level)
{
    const QString folder = "/sys/devices/system/cpu/cpu0/cache";
    const QStringList indexes = QDir(KLSystemFiles::path(folder)).entryList({"index*"}, QDir::Dirs, QDir::Name);
    for (const QString& index : indexes) {
        const QString base = folder + '/' + index + '/';
        if (KLSystemFiles::readText(base + "level").toInt() == level)
            return cacheBytes(KLSystemFiles::readText(base + "size"));
    }
    return 0;
}

// Vendor and device names from the PCI ID list, when the system has one.
std::pair<QString, QString> pciNames(const QString& vendor, const QString& device)
{
    QFile file(KLSystemFiles::path("/usr/share/misc/pci.ids"));
    if (vendor.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString vendorName;
    bool inVendor = false;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (!line.startsWith('\t')) {
            if (inVendor)
                break;
            if (line.startsWith(vendor + "  ")) {
                inVendor = true;
                vendorName = line.mid(vendor.size() + 2).trimmed();
            }
        } else if (inVendor && !device.isEmpty() && line.startsWith('\t' + device + "  ")) {
            return {vendorName, line.mid(device.size() + 3).trimmed()};
        }
    }
    return {vendorName, {}};
}

QString hexId(const QString& text)
{
    return text.startsWith(QLatin1String("0x")) ? text.mid(2).toLower() : text.toLower();
}

// A display device's model text in the form the Mac registry gives it,
// "NVIDIA GeForce GT 750M": the maker's short name and the product name.
QString pciModelText(const QString& deviceFolder)
{
    const QString vendorId = KLSystemFiles::readText(deviceFolder + "/vendor");
    const QString deviceId = KLSystemFiles::readText(deviceFolder + "/device");
    if (vendorId.isEmpty() && deviceId.isEmpty())
        return {};
    static const QMap<QString, QString> makers = {{"10de", "NVIDIA"}, {"1002", "AMD"}, {"8086", "Intel"}};
    const auto [vendorName, deviceName] = pciNames(hexId(vendorId), hexId(deviceId));
    const QString maker = makers.value(hexId(vendorId), vendorName.isEmpty() ? vendorId : vendorName);
    QString product = deviceName.isEmpty() ? deviceId : deviceName;
    // "GK107M [GeForce GT 750M Mac Edition]": the bracket holds the product name.
    const qsizetype open = product.indexOf('[');
    if (open >= 0 && product.endsWith(']'))
        product = product.mid(open + 1, product.size() - open - 2).trimmed();
    return (maker + ' ' + product).trimmed();
}

QSizeF mainScreenSize()
{
    // Screens belong to the GUI thread; elsewhere there is no main screen to ask.
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return {0, 0};
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? QSizeF(screen->geometry().size()) : QSizeF(0, 0);
}

long physicalMemory()
{
    const QString text = KLSystemFiles::readText("/proc/meminfo");
    for (const QString& line : text.split('\n')) {
        if (line.startsWith(QLatin1String("MemTotal:"))) {
            const QStringList parts = line.mid(9).split(' ', Qt::SkipEmptyParts);
            return parts.isEmpty() ? 0 : parts.first().toLong() * 1024;
        }
    }
    return 0;
}

QDateTime manufactureDate(const QString& folder)
{
    const QDate date(KLSystemFiles::readText(folder + "/manufacture_year").toInt(),
                     KLSystemFiles::readText(folder + "/manufacture_month").toInt(),
                     KLSystemFiles::readText(folder + "/manufacture_day").toInt());
    return date.isValid() ? date.startOfDay() : QDateTime();
}

}  // namespace

namespace {
std::mutex sharedLock;
std::unique_ptr<JSKDevice> shared;
}  // namespace

JSKDevice& JSKDevice::device()
{
    const std::lock_guard lock(sharedLock);
    if (!shared)
        shared = std::make_unique<JSKDevice>();
    return *shared;
}

void JSKDevice::resetForTesting()
{
    const std::lock_guard lock(sharedLock);
    shared.reset();
}

JSKDevice::JSKDevice()
{
    getCPUInfo();
    getGPUInfo();
    getSystemInfo();
    getBatteryInfo();
}

JSKDeviceFamily JSKDevice::family(const QString& model)
{
    static const std::pair<const char*, JSKDeviceFamily> prefixes[] = {
        {"MacBookPro", JSKDeviceFamilyMacBookPro}, {"MacBookAir", JSKDeviceFamilyMacBookAir},
        {"MacBook", JSKDeviceFamilyMacBook},       {"iMac", JSKDeviceFamilyiMac},
        {"Macmini", JSKDeviceFamilyMacmini},       {"MacPro", JSKDeviceFamilyMacPro},
        {"Xserve", JSKDeviceFamilyXserve},
    };
    for (const auto& [prefix, code] : prefixes) {
        if (model.startsWith(QLatin1String(prefix), Qt::CaseSensitive))
            return code;
    }
    return JSKDeviceFamilyUnknown;
}

long JSKDevice::endianness(long byteOrder)
{
    return byteOrder == 1234 ? 0 : byteOrder == 4321 ? 1 : 2;
}

JSKDGPUReport JSKDevice::gpuReport(const QString& modelText)
{
    JSKDGPUReport report;
    report.isDedicated = modelText.contains(QLatin1String("NVIDIA")) || modelText.contains(QLatin1String("AMD")) ||
                         modelText.contains(QLatin1String("Radeon"));
    report.modelName = QString(modelText).remove(QLatin1String("NVIDIA")).trimmed();
    return report;
}

void JSKDevice::getCPUInfo()
{
    const QList<Fields> blocks = cpuinfoBlocks();
    const Fields& first = blocks.first();
    QSet<QString> packages;
    for (const Fields& block : blocks) {
        if (block.contains("physical id"))
            packages.insert(block.value("physical id"));
    }
    const unsigned long cores = first.value("cpu cores").toULong();
    const unsigned long threads = first.value("siblings").toULong();

    double hertz = KLSystemFiles::readText("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq").toDouble() * 1e3;
    if (hertz <= 0)
        hertz = first.value("cpu MHz").toDouble() * 1e6;
    const double l2 = cacheSizeOfLevel(2);
    const double l3 = cacheSizeOfLevel(3);

    const QString brand = first.value("model name");
    const QString vendor = first.value("vendor_id");
    constexpr unsigned long unknownCount = static_cast<unsigned long>(-1);
    constexpr double mebibyte = 1024.0 * 1024.0;
    // The build's own CPU type is always known, so never the "unreadable" code 2.
    m_cpuInfo.emplace(brand.isEmpty() ? QStringLiteral("Unknown") : brand,
                      vendor.isEmpty() ? QStringLiteral("GenuineIntel") : vendor,
                      packages.isEmpty() ? 1ul : static_cast<unsigned long>(packages.size()),
                      cores ? cores : unknownCount, threads ? threads : unknownCount,
                      (hertz > 0 ? hertz : -1) / 1e9, (l2 > 0 ? l2 : -1) / mebibyte, (l3 > 0 ? l3 : -1) / mebibyte, 0);
}

void JSKDevice::getGPUInfo()
{
    const QString folder = "/sys/bus/pci/devices";
    const QStringList devices =
        QDir(KLSystemFiles::path(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& device : devices) {
        const QString path = folder + '/' + device;
        // Class 0x03: display controllers, the devices the Mac registry gives a model text.
        if (!KLSystemFiles::readText(path + "/class").startsWith(QLatin1String("0x03")))
            continue;
        const QString text = pciModelText(path);
        if (!text.isEmpty())
            m_gpuInfos.append(gpuReport(text));
    }
}

void JSKDevice::getSystemInfo()
{
    // With the driver this is a Mac, whose firmware names its model; otherwise the
    // simulated Mac behind the SMC service is the machine.
    const bool onMac = KLSystemFiles::exists(smc::kApplesmcDevicePath);
    const QString model = onMac ? KLSystemFiles::readText("/sys/class/dmi/id/product_name")
                                : QString::fromStdString(smc::VirtualSMC().modelIdentifier());
    if (model.isEmpty())
        return;
    // The firmware gives the platform UUID in lower case; the Mac registry in upper.
    const QString uuid = KLSystemFiles::readText("/sys/class/dmi/id/product_uuid").toUpper();
    const QString serial = KLSystemFiles::readText("/sys/class/dmi/id/product_serial");
    const QString board = KLSystemFiles::readText("/sys/class/dmi/id/board_name");
    constexpr long byteOrder = std::endian::native == std::endian::little ? 1234
                               : std::endian::native == std::endian::big  ? 4321
                                                                          : 0;
    m_systemInfo.emplace(uuid, serial, model, board.isNull() ? QVariant() : QVariant(board), physicalMemory(),
                         family(model), endianness(byteOrder), mainScreenSize());
    m_systemInfo->hostName = QSysInfo::machineHostName();
}

void JSKDevice::getBatteryInfo()
{
    const QString folder = "/sys/class/power_supply";
    const QStringList supplies =
        QDir(KLSystemFiles::path(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& supply : supplies) {
        const QString path = folder + '/' + supply;
        // A "Device" scope is a mouse's or a keyboard's battery, not the machine's.
        if (KLSystemFiles::readText(path + "/type") != QLatin1String("Battery") ||
            KLSystemFiles::readText(path + "/scope") == QLatin1String("Device"))
            continue;
        m_batteryInfo = JSKDBatteryReport(KLSystemFiles::readText(path + "/serial_number"),
                                          KLSystemFiles::readText(path + "/model_name"),
                                          KLSystemFiles::readText(path + "/manufacturer"), manufactureDate(path));
        return;
    }
}
