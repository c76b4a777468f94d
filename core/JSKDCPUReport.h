#pragma once
#include <QString>

// Counts that could not be read are all bits set; sizes and the frequency
// that could not be read are -1 in the unit's scale.
struct JSKDCPUReport {
    JSKDCPUReport(QString brand, QString vendor, unsigned long cpuCount, unsigned long coreCount,
                  unsigned long threadCount, double frequency, double l2Cache, double l3Cache, long architecture);

    QString brand;
    QString vendor;
    unsigned long cpuCount = 1;  // packages
    unsigned long coreCount = 0;
    unsigned long threadCount = 0;
    double frequency = 0;  // GHz
    double l2Cache = 0;    // MiB
    double l3Cache = 0;    // MiB
    long architecture = 0;
};
