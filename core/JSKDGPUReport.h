#pragma once
#include <QString>

struct JSKDGPUReport {
    QString modelName;
    QString shortModelName;  // never set
    bool isDedicated = false;
};
