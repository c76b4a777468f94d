#include "JSKDCPUReport.h"

#include <utility>

JSKDCPUReport::JSKDCPUReport(QString brand_, QString vendor_, unsigned long cpuCount_, unsigned long coreCount_,
                             unsigned long threadCount_, double frequency_, double l2Cache_, double l3Cache_,
                             long architecture_)
    : brand(std::move(brand_))
    , vendor(std::move(vendor_))
    , cpuCount(cpuCount_)
    , coreCount(coreCount_)
    , threadCount(threadCount_)
    , frequency(frequency_)
    , l2Cache(l2Cache_)
    , l3Cache(l3Cache_)
    , architecture(architecture_)
{
}
