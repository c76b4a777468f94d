#pragma once
// The store as a week of running leaves it: for each sensor of the catalogue,
// 360 hour points, 360 day points and 336 week points, all still kept.
#include <QCoreApplication>
#include <QDateTime>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"

inline void drainMainQueue()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

inline void seedAWeekOfHistory()
{
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const struct {
        int range, count;
        double step;
    } series[] = {{0, 360, 10}, {1, 360, 240}, {2, 336, 1800}};
    for (KLCategory* category : KLCategory::allObjects()) {
        for (KLSensor* sensor : category->sensors()) {
            for (const auto& s : series) {
                for (int i = s.count; i > 0; --i) {
                    KLGraphPoint* point = KLGraphPoint::newGraphPoint();
                    point->setPointX(now - i * s.step + 1);
                    point->setPointY(40 + (i % 17));
                    point->setTimeRange(s.range);
                    point->setSensor(sensor);
                }
            }
        }
    }
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();
}
