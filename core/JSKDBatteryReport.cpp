#include "JSKDBatteryReport.h"

#include <utility>

JSKDBatteryReport::JSKDBatteryReport(QString serial_, QString model_, QString manufacturer_,
                                     QDateTime dateOfManufacture_)
    : serial(std::move(serial_))
    , model(std::move(model_))
    , manufacturer(std::move(manufacturer_))
    , dateOfManufacture(std::move(dateOfManufacture_))
{
}
