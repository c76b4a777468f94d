#pragma once

#include <QDateTime>

class KLSensor;
class RZLineGraphView;

// The history graph as the detail screens show it: one filled curve of a
// sensor's stored points over the hour, day or week (KLGraphTimeRange).
namespace KLSensorHistoryGraph {

struct TimeRange {
    const char* labelKey;  // the segment's title in the string tables
    double step;           // seconds between x labels
    const char* analyticsValue;
};
// By KLGraphTimeRange; any other value reads as a week.
const TimeRange& timeRange(unsigned range);

// Stores the range a segment chose (a negative one reads as the hour) and logs it.
void storeTimeRange(int segment);

// The layout the screens use: axis room, hover line, and labels and grid
// lines readable on the light or dark background.
void configure(RZLineGraphView& graph, bool dark);

// Fills the graph with the sensor's points of the range ending at now.
void show(RZLineGraphView& graph, KLSensor& sensor, unsigned range, const QDateTime& now);

}  // namespace KLSensorHistoryGraph
