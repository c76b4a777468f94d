#pragma once
// The one switch that turns every animation of the windowed programs into an
// immediate change, so tests see end states without waiting; plus the small
// helpers the animating views share.
#include <QEasingCurve>
#include <QPointF>

class QAbstractAnimation;

namespace KLAnimation {

bool immediate();
void setImmediateForTesting(bool immediate);

// Starts the animation; with immediate animations it is run to its end before
// this returns (its last value and finished() arrive synchronously).
void start(QAbstractAnimation* animation);

// A cubic Bézier timing curve from (0, 0) to (1, 1) through the two control
// points. y may leave [0, 1]: that is an overshoot.
QEasingCurve cubicBezier(QPointF control1, QPointF control2);

}  // namespace KLAnimation
