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
    }
    void TearDown() override { KLSystemFiles::setSystemRootForTesting({}); }

    void write(const QString& path, const QByteArray& text)
    {
        const QString file = m_root.path() + path;
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
    }
    void remove(const QString& path) { QDir(m_root.path() + path).removeRecursively(); }
    void pretendMac() { QDir().mkpath(m_root.path() + smc::kApplesmcDevicePath); }

    void supply(const QString& name, const QByteArray& type, const QMap<QString, QByteArray>& files)
    {
        const QString folder = "/sys/class/power_supply/" + name;
        write(folder + "/type", type + "\n");
        for (auto it = files.begin(); it != files.end(); ++it)
            write(folder + '/' + it.key(), it.value() + "\n");
    }
    void pciDevice(const QString& address, const QByteArray& deviceClass, const QByteArray& vendor,
                   const QByteArray& device)
    {
        const QString folder = "/sys/bus/pci/devices/" + address;
        write(folder + "/class", deviceClass + "\n");
        write(folder + "/vendor", vendor + "\n");
        write(folder + "/device", device + "\n");
    }

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
    EXPECT_EQ(JSKDevice::endianness(0), 2);
}

TEST(GPUReportTest, DedicatedTestAndModelName)
{
    const auto amd = JSKDevice::gpuReport("AMD Radeon Pro 560X");
    EXPECT_TRUE(amd.isDedicated);
    EXPECT_EQ(amd.modelName, "AMD Radeon Pro 560X");
    const auto intel = JSKDevice::gpuReport("Intel UHD Graphics 630");
    EXPECT_FALSE(intel.isDedicated);
    EXPECT_EQ(intel.modelName, "Intel UHD Graphics 630");
    const auto nvidia = JSKDevice::gpuReport(" NVIDIA GeForce GT 750M\n");
    EXPECT_TRUE(nvidia.isDedicated);
    EXPECT_EQ(nvidia.modelName, "GeForce GT 750M");
    EXPECT_TRUE(JSKDevice::gpuReport("Mobility Radeon HD 4650").isDedicated);
    // The tests are case-sensitive.
    EXPECT_FALSE(JSKDevice::gpuReport("Nvidia GeForce").isDedicated);
    EXPECT_FALSE(JSKDevice::gpuReport("Amd radeon").isDedicated);
    EXPECT_TRUE(JSKDevice::gpuReport("").shortModelName.isNull());
}

TEST_F(FakeSystemTest, GPUsAreTheDisplayDevicesNamedFromThePCIList)
{
    pciDevice("0000:00:02.0", "0x030000", "0x8086", "0x3e9b");
    pciDevice("0000:00:1f.3", "0x040380", "0x8086", "0xa348");  // audio: not a GPU
    pciDevice("0000:01:00.0", "0x030000", "0x1002", "0x67ef");
    pciDevice("0000:02:00.0", "0x030200", "0x10de", "0x1c8d");
    pciDevice("0000:03:00.0", "0x030000", "0x15ad", "0x0405");
    {
        JSKDevice bare;
        QStringList names;
        for (const auto& gpu : bare.gpuInfos())
            names << gpu.modelName + (gpu.isDedicated ? " +" : "");
        EXPECT_EQ(names, QStringList({"Intel 0x3e9b", "AMD 0x67ef +", "0x1c8d +", "0x15ad 0x0405"}));
    }
    // A device id under another vendor must not name ours.
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
    JSKDevice named;
    const auto& gpus = named.gpuInfos();
    ASSERT_EQ(gpus.size(), 4);
    EXPECT_EQ(gpus[0].modelName, "Intel 0x3e9b");
    EXPECT_FALSE(gpus[0].isDedicated);
    EXPECT_EQ(gpus[1].modelName, "AMD Radeon Pro 560X");
    EXPECT_TRUE(gpus[1].isDedicated);
    EXPECT_EQ(gpus[2].modelName, "GeForce GTX 1050 Mobile");
    EXPECT_TRUE(gpus[2].isDedicated);
    EXPECT_EQ(gpus[3].modelName, "VMware SVGA II Adapter");
    EXPECT_FALSE(gpus[3].isDedicated);
}

TEST_F(FakeSystemTest, CPUReportFromCpuinfoAndCaches)
{
    QByteArray cpuinfo;
    for (int cpu = 0; cpu < 4; ++cpu) {
        cpuinfo += "processor\t: " + QByteArray::number(cpu) +
                   "\nvendor_id\t: GenuineIntel\n"
                   "model name\t: Intel(R) Core(TM) i7-8850H CPU @ 2.60GHz\n"
                   "cpu MHz\t\t: 2592.000\n"
                   "physical id\t: " +
                   QByteArray::number(cpu / 2) + "\nsiblings\t: 4\ncpu cores\t: 2\nflags\t\t: fpu vme\n\n";
    }
    write("/proc/cpuinfo", cpuinfo);
    const QString cache = "/sys/devices/system/cpu/cpu0/cache/";
    write(cache + "index0/level", "1\n");
    write(cache + "index0/type", "Data\n");
    write(cache + "index0/size", "32K\n");
    write(cache + "index1/level", "1\n");
    write(cache + "index1/type", "Instruction\n");
    write(cache + "index1/size", "32K\n");
    write(cache + "index2/level", "2\n");
    write(cache + "index2/type", "Unified\n");
    write(cache + "index2/size", "256K\n");
    write(cache + "index3/level", "3\n");
    write(cache + "index3/type", "Unified\n");
    write(cache + "index3/size", "12M\n");

    const JSKDCPUReport fromMHz = JSKDevice().cpuInfo();
    EXPECT_EQ(fromMHz.brand, "Intel(R) Core(TM) i7-8850H CPU @ 2.60GHz");
    EXPECT_EQ(fromMHz.vendor, "GenuineIntel");
    EXPECT_EQ(fromMHz.cpuCount, 2u);
    EXPECT_EQ(fromMHz.coreCount, 2u);
    EXPECT_EQ(fromMHz.threadCount, 4u);
    EXPECT_DOUBLE_EQ(fromMHz.frequency, 2.592);
    EXPECT_DOUBLE_EQ(fromMHz.l2Cache, 0.25);
    EXPECT_DOUBLE_EQ(fromMHz.l3Cache, 12);
    EXPECT_EQ(fromMHz.architecture, 0);

    // The rated maximum wins over the momentary clock.
    write("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "4300000\n");
    EXPECT_DOUBLE_EQ(JSKDevice().cpuInfo().frequency, 4.3);
}

TEST_F(FakeSystemTest, CPUReportFallbacksWhenNothingIsKnown)
{
    write("/proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 48.00\n\n");
    const JSKDCPUReport cpu = JSKDevice().cpuInfo();
    EXPECT_EQ(cpu.brand, "Unknown");
    EXPECT_EQ(cpu.vendor, "GenuineIntel");
    EXPECT_EQ(cpu.cpuCount, 1u);
    EXPECT_EQ(cpu.coreCount, ULONG_MAX);
    EXPECT_EQ(cpu.threadCount, ULONG_MAX);
    EXPECT_DOUBLE_EQ(cpu.frequency, -1e-9);
    EXPECT_DOUBLE_EQ(cpu.l2Cache, -1.0 / (1 << 20));
    EXPECT_DOUBLE_EQ(cpu.l3Cache, -1.0 / (1 << 20));
}

TEST_F(FakeSystemTest, ModelIdentifierFromTheVirtualProfile)
{
    // DMI data of a PC that is not a Mac must not name the model.
    write("/sys/class/dmi/id/product_name", "ThinkPad X1\n");
    const JSKDSystemReport* first = JSKDevice::device().systemInfo();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->rawModelString, "MacBookPro15,1");
    EXPECT_EQ(first->family, JSKDeviceFamilyMacBookPro);

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
    write("/sys/class/dmi/id/product_name", "iMac19,1\n");
    write("/sys/class/dmi/id/product_uuid", "0c2f7a1e-93b4-5d6e-8f10-a2b3c4d5e6f7\n");
    write("/sys/class/dmi/id/board_name", "Mac-AA95B1DDAB278B95\n");
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
    supply("AC", "Mains", {{"online", "1"}});
    EXPECT_TRUE(JSKDevice().batteryInfo().serial.isNull());
    supply("hid-0005:046D:B023.0001-battery", "Battery", {{"scope", "Device"}, {"model_name", "Mouse"}});
    {
        const JSKDBatteryReport none = JSKDevice().batteryInfo();
        EXPECT_TRUE(none.serial.isNull());
        EXPECT_TRUE(none.model.isNull());
        EXPECT_TRUE(none.manufacturer.isNull());
        EXPECT_TRUE(none.dateOfManufacture.isNull());
    }
    supply("max170xx_battery", "Battery",
           {{"serial_number", "D865033Y2CXF9CPAW"},
            {"model_name", "bq20z451"},
            {"manufacturer", "SMP"},
            {"manufacture_year", "2019"},
            {"manufacture_month", "4"},
            {"manufacture_day", "17"}});
    const JSKDBatteryReport battery = JSKDevice().batteryInfo();
    EXPECT_EQ(battery.serial, "D865033Y2CXF9CPAW");
    EXPECT_EQ(battery.model, "bq20z451");
    EXPECT_EQ(battery.manufacturer, "SMP");
    EXPECT_EQ(battery.dateOfManufacture, QDate(2019, 4, 17).startOfDay());
    write("/sys/class/power_supply/max170xx_battery/manufacture_month", "13\n");
    EXPECT_TRUE(JSKDevice().batteryInfo().dateOfManufacture.isNull());
}

TEST_F(FakeSystemTest, PowerSourceStateFromThePowerSupplies)
{
    const KLPowerMonitor& monitor = KLPowerMonitor::sharedInstance();
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateNone);
    // A desktop: an adapter and no battery.
    supply("AC", "Mains", {{"online", "1"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
    // A mouse's battery says nothing about the machine's power.
    supply("hid-0005:046D:B023.0001-battery", "Battery", {{"scope", "Device"}, {"status", "Discharging"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);

    supply("BAT0", "Battery", {{"status", "Charging"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACCharging);
    supply("BAT0", "Battery", {{"status", "Not charging"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
    supply("AC", "Mains", {{"online", "0"}});
    supply("BAT0", "Battery", {{"status", "Discharging"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    // A full battery with the adapter unplugged still runs the machine.
    supply("BAT0", "Battery", {{"status", "Full"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
    // A USB-C adapter counts as AC power.
    supply("ucsi-source-psy-USBC000:001", "USB", {{"online", "1"}});
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateACNotCharging);
}

TEST_F(FakeSystemTest, PowerSourceStateDeclaredByTheVirtualMac)
{
    supply("AC", "Mains", {{"online", "0"}});
    supply("BAT0", "Battery", {{"status", "Discharging"}});
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
    QDir(KLSystemFiles::path(smc::kApplesmcDevicePath)).removeRecursively();
    ASSERT_TRUE(smc.setPowerSourceState(std::nullopt));
    EXPECT_EQ(monitor.powerSourceState(), KLPowerSourceStateBattery);
}

TEST(VirtualSMCStateTest, PowerLineRoundTripsAndRejectsBadValues)
{
    smc::VirtualSMCState state;
    EXPECT_EQ(state.serialize().find("power"), std::string::npos);
    state.power = 2;
    EXPECT_EQ(smc::VirtualSMCState::parse(state.serialize()).power, 2u);
    for (const char* bad : {"power 4\n", "power -1\n", "power x\n", "power 2 1\n", "power\n"})
        EXPECT_FALSE(smc::VirtualSMCState::parse(bad).power.has_value()) << bad;
}

}  // namespace
