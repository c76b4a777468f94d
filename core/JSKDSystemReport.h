#pragma once
// Identity of the machine, collected once by JSKDevice.
#include <QSizeF>
#include <QString>
#include <QVariant>

enum JSKDeviceFamily : long {
    JSKDeviceFamilyUnknown = 0,
    JSKDeviceFamilyMacBook = 1,
    JSKDeviceFamilyMacBookPro = 2,
    JSKDeviceFamilyMacBookAir = 3,
    JSKDeviceFamilyiMac = 4,
    JSKDeviceFamilyMacPro = 5,
    JSKDeviceFamilyMacmini = 6,
    JSKDeviceFamilyXserve = 7,
};

struct JSKDSystemReport {
    JSKDSystemReport(QString uuid, QString serial, QString rawModelString, QVariant boardId, long physicalMemory,
                     long family, long endianness, QSizeF displayResolution);

    QString uuid;
    QString serial;
    QString rawModelString;  // the model identifier, "MacBookPro15,1"
    QVariant boardId;
    long physicalMemory = 0;  // bytes
    long family = JSKDeviceFamilyUnknown;
    long endianness = 0;  // 0 little, 1 big, 2 unknown
    QSizeF displayResolution;  // points; 0 x 0 without a screen
    QString hostName;
};
