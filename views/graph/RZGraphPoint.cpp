#include "RZGraphPoint.h"

bool RZGraphPoint::isEqual(const RZGraphPoint& other) const
{
    // QPointF's own == is fuzzy; a hovered point must match exactly.
    return m_point.x() == other.m_point.x() && m_point.y() == other.m_point.y();
}
