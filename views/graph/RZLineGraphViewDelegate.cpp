#include "RZLineGraphViewDelegate.h"

RZLineGraphViewDelegate::~RZLineGraphViewDelegate() = default;

std::optional<QString> RZLineGraphViewDelegate::lineGraphView(RZLineGraphView*, double, int)
{
    return std::nullopt;
}

void RZLineGraphViewDelegate::lineGraphView(RZLineGraphView*, const RZGraphPoint*) {}
