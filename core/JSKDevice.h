#pragma once
// What the machine is: identity, GPUs, CPU and battery, collected once.
#include <QList>
#include <QString>
#include <optional>

#include "JSKDBatteryReport.h"
#include "JSKDCPUReport.h"
#include "JSKDGPUReport.h"
#include "JSKDSystemReport.h"

class JSKDevice {
public:
    static JSKDevice& device();
    // Forgets the shared instance; the next device() collects again. A test that
    // changes the machine calls it, and no reference to the old instance may remain.
    static void resetForTesting();

    // Collects everything now; the shared instance does so once per process.
    JSKDevice();

    // Null when the machine's identity could not be read; then there is no model identifier.
    const JSKDSystemReport* systemInfo() const { return m_systemInfo ? &*m_systemInfo : nullptr; }
    const JSKDCPUReport& cpuInfo() const { return *m_cpuInfo; }
    const QList<JSKDGPUReport>& gpuInfos() const { return m_gpuInfos; }
    const JSKDBatteryReport& batteryInfo() const { return m_batteryInfo; }

    // The first prefix of "MacBookPro", "MacBookAir", "MacBook", "iMac", "Macmini",
    // "MacPro", "Xserve" that the identifier starts with.
    static JSKDeviceFamily family(const QString& modelIdentifier);
    // "hw.byteorder" as a code: 1234 gives 0, 4321 gives 1, anything else 2.
    static long endianness(long byteOrder);
    // The dedicated test and the name of a GPU's model text.
    static JSKDGPUReport gpuReport(const QString& modelText);

private:
    void getCPUInfo();
    void getGPUInfo();
    void getSystemInfo();
    void getBatteryInfo();

    std::optional<JSKDSystemReport> m_systemInfo;
    std::optional<JSKDCPUReport> m_cpuInfo;
    QList<JSKDGPUReport> m_gpuInfos;
    JSKDBatteryReport m_batteryInfo;
};
