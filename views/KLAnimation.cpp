#include "KLAnimation.h"

#include <QAbstractAnimation>

namespace KLAnimation {

namespace {
bool g_immediate = false;
}

bool immediate()
{
    return g_immediate;
}

void setImmediateForTesting(bool value)
{
    g_immediate = value;
}

void start(QAbstractAnimation* animation)
{
    animation->start();
    // Jumping to the end stops a finite animation and emits its end value;
    // an endless one keeps running.
    if (g_immediate && animation->state() == QAbstractAnimation::Running && animation->totalDuration() >= 0)
        animation->setCurrentTime(animation->totalDuration());
}

QEasingCurve cubicBezier(QPointF control1, QPointF control2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(control1, control2, QPointF(1, 1));
    return curve;
}

}  // namespace KLAnimation
