#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>

#include "JSKDevice.h"
#include "KLPowerMonitor.h"
#include "KLSystemFiles.h"
#include "SMCServices.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

// A fake /sys, /proc and /usr/share/misc in a temporary folder, and a home of its own.
class FakeSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KLSystemFiles::setSystemRootForTesting(m_root.path());
        QDir().mkpath(m_root.path() + "/sys/class/power_supply");
        JSKDevice::resetForTesting();
    }
    void TearDown() override
    {
        KLSystemFiles::setSystemRootForTesting({});
        JSKDevice::resetForTesting();
    }

    void write(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(m_root.path() + path).path());
        QFile out(m_root.path() + path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
    }
    // Each file of a folder from "name=value" pairs.
    void folder(const QString& path, const QList<QByteArray>& files)
    {
        for (const QByteArray& file : files)
            write(path + '/' + file.left(file.indexOf('=')), file.mid(file.indexOf('=') + 1) + "\n");
    }
    void supply(const QString& name, const QList<QByteArray>& files) { folder("/sys/class/power_supply/" + name, files); }
    void remove(const QString& path) { QDir(m_root.path() + path).removeRecursively(); }
    void pretendMac() { QDir().mkpath(m_root.path() + smc::kApplesmcDevicePath); }

    TestHome home;

private:
    QTemporaryDir m_root;
};

TEST(DeviceCodesTest, FamilyByFirstMatchingPrefixAndByteOrder)
{
    const std::pair<const char*, long> cases[] = {
        {"MacBookPro15,1", 2}, {"MacBookAir8,1", 3}, {"MacBook10,1", 1}, {"iMac19,1", 4}, {"iMacPro1,1", 4},
        {"Macmini8,1", 6},     {"MacPro7,1", 5},     {"Xserve3,1", 7},   {"macbookpro15,1", 0},
        {"MacMini8,1", 0},     {"VMware7,1", 0},     {"", 0},
    };
    for (const auto& [model, family] : cases)
        EXPECT_EQ(JSKDevice::family(model), family) << model;
    EXPECT_EQ(JSKDevice::endianness(1234), 0);
    EXPECT_EQ(JSKDevice::endianness(4321), 1);
    EXPECT_EQ(JSKDevice::endianness(3412), 2);
}

TEST_F(FakeSystemTest, GPUsAreTheDisplayDevicesNamedFromThePCIList)
{
    const QString pci = "/sys/bus/pci/devices/0000:0";
    folder(pci + "0:02.0", {"class=0x030000", "vendor=0x8086", "device=0x3e9b"});
    folder(pci + "0:1f.3", {"class=0x040380", "vendor=0x8086", "device=0xa348"});  // audio
    folder(pci + "1:00.0", {"class=0x030000", "vendor=0x1002", "device=0x67ef"});
    folder(pci + "2:00.0", {"class=0x030200", "vendor=0x10de", "device=0x1c8d"});
    folder(pci + "3:00.0", {"class=0x030000", "vendor=0x15ad", "device=0x0405"});
    const auto names = [](const JSKDevice& device) {
        QStringList list;
        for (const auto& gpu : device.gpuInfos())
            list << gpu.modelName + (gpu.isDedicated ? " +" : "") + (gpu.shortModelName.isNull() ? "" : "!");
        return list;
    };
    EXPECT_EQ(names(JSKDevice()), QStringList({"Intel 0x3e9b", "AMD 0x67ef +", "0x1c8d +", "0x15ad 0x0405"}));

    // A device id listed under another vendor, or in the class section, must not name ours.
    write("/usr/share/misc/pci.ids", "# comment\n"
                                     "1000  Broadcom / LSI\n"
                                     "\t67ef  Not a GPU\n"
                                     "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
                                     "\t67df  Ellesmere [Radeon RX 470/480/570/570X/580/580X/590]\n"
                                     "\t67ef  Baffin [Radeon Pro 560X]\n"
                                     "\t\t106b 0160  Radeon Pro 560X\n"
                                     "10de  NVIDIA Corporation\n"
                                     "\t1c8d  GP107M [GeForce GTX 1050 Mobile]\n"
                                     "15ad  VMware\n"
                                     "\t0405  SVGA II Adapter\n"
                                     "8086  Intel Corporation\n"
                                     "C 03  Display controller\n"
                                     "\t3e9b  Not a device\n");
    EXPECT_EQ(names(JSKDevice()), QStringList({"Intel 0x3e9b", "AMD Radeon Pro 560X +", "GeForce GTX 1050 Mobile +",
                                                "VMware SVGA II Adapter"}));
    // The tests are case-sensitive, and only "NVIDIA" leaves the name.
    EXPECT_FALSE(JSKDevice::gpuReport("Nvidia GeForce").isDedicated);
    EXPECT_FALSE(JSKDevice::gpuReport("Amd radeon").isDedicated);
    EXPECT_EQ(JSKDevice::gpuReport(" NVIDIA Quadro\n").modelName, "Quadro");
}

TEST_F(FakeSystemTest, CPUReportFromCpuinfoAndCaches)
{
    QByteArray cpuinfo;
    for (int cpu = 0; cpu < 4; ++cpu) {
        cpuinfo += "processor\t: " + QByteArray::number(cpu) + "\nvendor_id\t: GenuineIntel\n" +
                   "model name\t: Intel(R) Core(TM) i7-8850H CPU @ 2.60GHz\ncpu MHz\t\t: 2592.000\n" +
                   "physical id\t: " + QByteArray::number(cpu / 2) + "\nsiblings\t: 4\ncpu cores\t: 2\n\n";
    }
    write("/proc/cpuinfo", cpuinfo);
    const QString cache = "/sys/devices/system/cpu/cpu0/cache/index";
    folder(cache + "0", {"level=1", "size=32K"});
    folder(cache + "1", {"level=2", "size=256K"});
    folder(cache + "2", {"level=3", "size=12M"});

    const JSKDCPUReport cpu = JSKDevice().cpuInfo();
    EXPECT_EQ(cpu.brand, "Intel(R) Core(TM) i7-8850H CPU @ 2.60GHz");
    EXPECT_EQ(cpu.vendor, "GenuineIntel");
    EXPECT_EQ(cpu.cpuCount, 2u);
    EXPECT_EQ(cpu.coreCount, 2u);
    EXPECT_EQ(cpu.threadCount, 4u);
    EXPECT_DOUBLE_EQ(cpu.frequency, 2.592);
    EXPECT_DOUBLE_EQ(cpu.l2Cache, 0.25);
    EXPECT_DOUBLE_EQ(cpu.l3Cache, 12);
    EXPECT_EQ(cpu.architecture, 0);
    // The rated maximum wins over the momentary clock.
    write("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "4300000\n");
    EXPECT_DOUBLE_EQ(JSKDevice().cpuInfo().frequency, 4.3);

    write("/proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 48.00\n\n");
    remove("/sys/devices");
    const JSKDCPUReport unknown = JSKDevice().cpuInfo();
    EXPECT_EQ(unknown.brand, "Unknown");
    EXPECT_EQ(unknown.vendor, "GenuineIntel");
    EXPECT_EQ(unknown.cpuCount, 1u);
    EXPECT_EQ(unknown.coreCount, ULONG_MAX);
    EXPECT_EQ(unknown.threadCount, ULONG_MAX);
    EXPECT_DOUBLE_EQ(unknown.frequency, -1e-9);
    EXPECT_DOUBLE_EQ(unknown.l2Cache, -1.0 / (1 << 20));
    EXPECT_DOUBLE_EQ(unknown.l3Cache, -1.0 / (1 << 20));
}

TEST_F(FakeSystemTest, ModelIdentifierFromTheVirtualProfile)
{
    // DMI data of a PC that is not a Mac must not name the model.
    write("/sys/class/dmi/id/product_name", "ThinkPad X1\n");
    const JSKDSystemReport* first = JSKDevice::device().systemInfo();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->rawModelString, "MacBookPro15,1");
    EXPECT_EQ(first->family, JSKDeviceFamilyMacBookPro);
    EXPECT_TRUE(first->uuid.isNull());

    ASSERT_TRUE(smc::VirtualSMC().setProfile("MacBookPro11,3"));
    JSKDevice fresh;
    ASSERT_NE(fresh.systemInfo(), nullptr);
    EXPECT_EQ(fresh.systemInfo()->rawModelString, "MacBookPro11,3");
    // The shared instance collected once and keeps what it found.
    EXPECT_EQ(JSKDevice::device().systemInfo()->rawModelString, "MacBookPro15,1");
}

TEST_F(FakeSystemTest, SystemReportOfAMacFromFirmwareData)
{
    pretendMac();
    folder("/sys/class/dmi/id", {"product_name=iMac19,1", "product_uuid=0c2f7a1e-93b4-5d6e-8f10-a2b3c4d5e6f7",
                                 "board_name=Mac-AA95B1DDAB278B95"});
    write("/proc/meminfo", "MemTotal:       16318712 kB\nMemFree:          123456 kB\n");
    const JSKDevice device;
    const JSKDSystemReport* system = device.systemInfo();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->rawModelString, "iMac19,1");
    EXPECT_EQ(system->family, JSKDeviceFamilyiMac);
    EXPECT_EQ(system->uuid, "0C2F7A1E-93B4-5D6E-8F10-A2B3C4D5E6F7");
    EXPECT_TRUE(system->serial.isNull());  // unreadable (root only): no serial, not an empty one
    EXPECT_EQ(system->boardId, QVariant("Mac-AA95B1DDAB278B95"));
    EXPECT_EQ(system->physicalMemory, 16318712L * 1024);
    EXPECT_EQ(system->endianness, QSysInfo::ByteOrder == QSysInfo::LittleEndian ? 0 : 1);
    EXPECT_EQ(system->displayResolution, QSizeF(0, 0));  // no GUI application
    EXPECT_EQ(system->hostName, QSysInfo::machineHostName());

    // Without the firmware's model the machine has no identity at all.
    remove("/sys/class/dmi");
    EXPECT_EQ(JSKDevice().systemInfo(), nullptr);
}

TEST_F(FakeSystemTest, DisplayResolutionIsTheMainScreen)
{
    if (QCoreApplication::instance())
        GTEST_SKIP() << "needs a process of its own";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "hardware-test";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
    const QSizeF expected = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_GT(expected.width(), 0);
    EXPECT_EQ(JSKDevice().systemInfo()->displayResolution, expected);
}

TEST_F(FakeSystemTest, BatteryReportSkipsPeripheralsAndIsEmptyWithoutABattery)
{
    supply("AC", {"type=Mains", "online=1"});
    supply("hid-0005:046D:B023.0001-battery", {"type=Battery", "scope=Device", "model_name=Mouse"});
    const JSKDBatteryReport none = JSKDevice().batteryInfo();
    EXPECT_TRUE(none.serial.isNull() && none.model.isNull() && none.manufacturer.isNull());
    EXPECT_TRUE(none.dateOfManufacture.isNull());

    supply("max170xx_battery", {"type=Battery", "serial_number=D865033Y2CXF9CPAW", "model_name=bq20z451",
                                "manufacturer=SMP", "manufacture_year=2019", "manufacture_month=4",
                                "manufacture_day=17"});
    const JSKDBatteryReport battery = JSKDevice().batteryInfo();
    EXPECT_EQ(battery.serial, "D865033Y2CXF9CPAW");
    EXPECT_EQ(battery.model, "bq20z451");
    EXPECT_EQ(battery.manufacturer, "SMP");
    EXPECT_EQ(battery.dateOfManufacture, QDate(2019, 4, 17).startOfDay());
    supply("max170xx_battery", {"manufacture_month=13"});
    EXPECT_TRUE(JSKDevice().batteryInfo().dateOfManufacture.isNull());
}

TEST_F(FakeSystemTest, PowerSourceStateFromThePowerSupplies)
{
    const KLPowerMonitor& monitor = KLPowerMonitor::sharedInstance();
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateNone);
    supply("AC", {"type=Mains", "online=1"});  // a desktop
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
    // A mouse charging on its cable says nothing about the machine's power.
    supply("hid-0005:046D:B023.0001-battery", {"type=Battery", "scope=Device", "status=Charging"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);

    supply("macsmc-battery", {"type=Battery", "status=Charging"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACCharging);
    supply("macsmc-battery", {"status=Not charging"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
    supply("AC", {"online=0"});
    supply("macsmc-battery", {"status=Discharging"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    // A full battery with the adapter unplugged still runs the machine...
    supply("macsmc-battery", {"status=Full"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    // ...but with no adapter listed at all, a full battery is taken as held on AC power.
    remove("/sys/class/power_supply/AC");
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
    supply("macsmc-battery", {"status=Discharging"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    supply("ucsi-source-psy-USBC000:001", {"type=USB", "online=1"});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
}

TEST_F(FakeSystemTest, PowerSourceStateDeclaredByTheVirtualMac)
{
    supply("AC", {"type=Mains", "online=0"});
    supply("BAT0", {"type=Battery", "status=Discharging"});
    const KLPowerMonitor& monitor = KLPowerMonitor::sharedInstance();
    smc::VirtualSMC smc;
    for (unsigned state : {3u, 1u, 0u}) {
        ASSERT_TRUE(smc.setPowerSourceState(state));
        EXPECT_EQ(monitor.powerSourceState(), state);
    }
    EXPECT_FALSE(smc.setPowerSourceState(4u));
    EXPECT_EQ(smc.powerSourceState(), 0u);
    // A new profile keeps the declaration; only the written keys go.
    ASSERT_TRUE(smc.setPowerSourceState(1u));
    ASSERT_TRUE(smc.setProfile("MacBookPro11,3"));
    EXPECT_EQ(smc::VirtualSMC().powerSourceState(), 1u);
    // On a real Mac the simulated one has no say.
    pretendMac();
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    remove(smc::kApplesmcDevicePath);
    ASSERT_TRUE(smc.setPowerSourceState(std::nullopt));
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);

    smc::VirtualSMCState state;
    state.power = 2;
    EXPECT_EQ(smc::VirtualSMCState::parse(state.serialize()).power, 2u);
    for (const char* bad : {"power 4\n", "power -1\n", "power x\n", "power 2 1\n"})
        EXPECT_FALSE(smc::VirtualSMCState::parse(bad).power.has_value()) << bad;
}

}  // namespace
