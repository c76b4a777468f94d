#pragma once
// One data point of a graph: its position in data units and the two texts of
// the hover bubble.
#include <QPointF>
#include <QString>

class RZGraphPoint {
public:
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    QString valueString() const { return m_valueString; }
    void setValueString(const QString& valueString) { m_valueString = valueString; }
    QPointF point() const { return m_point; }
    void setPoint(QPointF point) { m_point = point; }

    // Equal when both coordinates are exactly equal; the texts take no part.
    bool isEqual(const RZGraphPoint& other) const;
    bool operator==(const RZGraphPoint& other) const { return isEqual(other); }

private:
    QString m_title;
    QString m_valueString;
    QPointF m_point;
};
