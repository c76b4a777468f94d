#pragma once
#include <QDateTime>
#include <QString>

// Every field is null when the machine has no battery.
struct JSKDBatteryReport {
    JSKDBatteryReport() = default;
    JSKDBatteryReport(QString serial, QString model, QString manufacturer, QDateTime dateOfManufacture);

    QString serial;
    QString model;
    QString manufacturer;
    QDateTime dateOfManufacture;
};
