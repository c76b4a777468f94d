#include "JSKDSystemReport.h"

#include <utility>

JSKDSystemReport::JSKDSystemReport(QString uuid_, QString serial_, QString rawModelString_, QVariant boardId_,
                                   long physicalMemory_, long family_, long endianness_, QSizeF displayResolution_)
    : uuid(std::move(uuid_))
    , serial(std::move(serial_))
    , rawModelString(std::move(rawModelString_))
    , boardId(std::move(boardId_))
    , physicalMemory(physicalMemory_)
    , family(family_)
    , endianness(endianness_)
    , displayResolution(displayResolution_)
{
}
