#pragma once
// One position on a graph axis, in data units, with its label.
#include <QList>
#include <QString>

struct RZAxisValue {
    double value = 0;
    QString label;
    bool operator==(const RZAxisValue&) const = default;
};

using RZAxisValues = QList<RZAxisValue>;
