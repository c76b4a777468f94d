// kelvara_pictures <folder>: renders the shared widgets offscreen into PNG
// files, in light and dark and at scale 1 and 2, from a store of its own
// that Kelvara's catalogue and an hour of Kelvara Helper's real ticks fill
// (plus a generated week of fan history), in a temporary home.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLKelvara.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "RZLineGraphView.h"
#include "VirtualSMC.h"

namespace {

constexpr double kHour = 3600;
constexpr double kWeek = 7 * 86400;

void drain()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// The y labels as the detail screens give them: the sensor's value text.
class SensorLabels : public RZLineGraphViewDelegate {
public:
    using RZLineGraphViewDelegate::lineGraphView;
    int categoryType = 0;
    std::optional<QString> lineGraphView(RZLineGraphView*, double value, int) override
    {
        return KLSensor::stringFromValue(value, categoryType);
    }
};

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

const QColor kAppBlue(11, 130, 250);
const QColor kAppLightBlue(11, 150, 246);

// Sets the graph up as the detail screen's updateGraphUI does.
void showHistory(RZLineGraphView& graph, KLSensor* sensor, int range, const QDateTime& now)
{
    const RZAxisValues axis = KLDataManager::xAxisWithCurrentDate(now, range);
    const double start = axis.first().value;
    const double step = range == 0 ? 600 : range == 1 ? 14400 : 86400;
    const QList<KLGraphPoint*> stored = range == 0   ? sensor->hourGraphPoints()
                                        : range == 1 ? sensor->dayGraphPoints()
                                                     : sensor->weekGraphPoints();
    const bool temperature = sensor->category() && sensor->category()->type() == KLCategoryTypeTemperature;
    std::shared_ptr<RZGraphPlot> plot = graph.graphPlots().isEmpty() ? nullptr : graph.graphPlots().first();
    if (!plot) {
        plot = std::make_shared<RZGraphPlot>();
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setStrokeCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        plot->setStrokeColor(withAlpha(kAppBlue, 0.9));
        plot->setFillColor(withAlpha(kAppBlue, 0.5));
        plot->setGraphPointColor(Qt::white);
        plot->setGraphPointHighlightColor(plot->fillColor());
    }
    QList<RZGraphPoint> points;
    for (KLGraphPoint* point : stored) {
        if (point->pointX() < start)
            continue;
        RZGraphPoint graphPoint;
        graphPoint.setPoint({point->pointX(), temperature ? KLSensor::convertedTemp(point->pointY()) : point->pointY()});
        graphPoint.setTitle(point->title());
        graphPoint.setValueString(point->valueString());
        points.append(graphPoint);
    }
    plot->setGraphPoints(points);
    graph.setYAxisMaxValue(std::trunc(sensor->convertedMaxValue()));
    graph.setYAxisMinValue(std::trunc(sensor->convertedMinValue()));
    graph.setYAxisUnit(QStringLiteral("(%1)").arg(sensor->unitString()));
    graph.setXAxisValues(axis);
    graph.setXAxisStartGraphPoint(start);
    graph.setXAxisInterval(step);
    graph.setGraphPlots({plot});
    graph.layoutGraph();
}

// The screens' palette for the graph: the Part's greys in light, lighter
// labels and darker lines on a dark window.
void applyPalette(RZLineGraphView& graph, bool dark)
{
    RZGraphLayout& layout = graph.graphLayout();
    const RZGraphLayout defaults;
    layout.setXAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.xAxisLabelColor());
    layout.setYAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.yAxisLabelColor());
    layout.setYAxisUnitLabelColor(dark ? QColor(150, 150, 150) : defaults.yAxisUnitLabelColor());
    layout.setXAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.xAxisLinesStrokeColor());
    layout.setYAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.yAxisLinesStrokeColor());
}

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(40, 40, 40));
    palette.setColor(QPalette::WindowText, QColor(230, 230, 230));
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::Text, QColor(230, 230, 230));
    palette.setColor(QPalette::Button, QColor(50, 50, 50));
    palette.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    return palette;
}

class Pictures {
public:
    explicit Pictures(QString folder)
        : m_folder(std::move(folder))
    {
    }
    bool save(QWidget& widget, const QString& name, bool dark, int scale)
    {
        QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(widget.palette().color(QPalette::Window));
        widget.render(&image);
        const QString file = QStringLiteral("%1/%2-%3%4.png")
                                 .arg(m_folder, name, dark ? QStringLiteral("dark") : QStringLiteral("light"),
                                      scale == 2 ? QStringLiteral("@2x") : QString());
        if (!image.save(file)) {
            std::fprintf(stderr, "kelvara_pictures: cannot write %s\n", qPrintable(file));
            return false;
        }
        ++m_count;
        return true;
    }
    int count() const { return m_count; }

private:
    QString m_folder;
    int m_count = 0;
};

void hoverAt(RZLineGraphView& graph, double xInPlot)
{
    const QRectF plot = graph.geometry().frames().plot;
    const QPointF at(plot.x() + xInPlot, graph.height() - plot.center().y());
    QMouseEvent event(QEvent::MouseMove, at, graph.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&graph, &event);
}

void leave(RZLineGraphView& graph)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&graph, &event);
}

// A week of fan speeds every 30 minutes: faster in working hours, with the
// odd busy spell, between the fan's limits.
void seedWeekOfFanSpeeds(KLSensor* fan, double now)
{
    const double low = fan->minValue() > 0 ? fan->minValue() : 1200;
    const double high = fan->maxValue() > low ? fan->maxValue() : 6000;
    for (KLGraphPoint* old : fan->weekGraphPoints())
        KLCoreDataHelper::sharedInstance().masterContext()->deleteObject(old);
    for (int i = 336; i > 0; --i) {
        const double x = now - i * 1800.0;
        const double hourOfDay = std::fmod(x / 3600.0, 24.0);
        const double day = std::clamp(std::sin((hourOfDay - 7) / 14 * M_PI), 0.0, 1.0);
        const double busy = (i % 47 < 3) ? 0.35 : 0;
        const double share = std::clamp(0.1 + 0.35 * day + busy + 0.05 * std::sin(i * 1.3), 0.0, 1.0);
        KLGraphPoint* point = KLGraphPoint::newGraphPoint();
        point->setPointX(x);
        point->setPointY(std::round(low + share * (high - low)));
        point->setTimeRange(KLGraphTimeRangeWeek);
        point->setSensor(fan);
        fan->addGraphPointsObject(point);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvara_pictures <folder>\n");
        return 2;
    }
    // Before anything reads the home folder: the store, settings and the
    // simulated Mac are this run's own.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "kelvara_pictures: cannot make a temporary home\n");
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "kelvara_pictures: cannot make %s\n", qPrintable(folder));
        return 1;
    }

    // The catalogue as Kelvara builds it at start, then an hour of the
    // helper's ticks at 10 s on the simulated Mac under a changing load.
    KLDataManager& data = KLDataManager::sharedInstance();
    data.setUpdateFrequency(KLUpdateFrequencyLow);
    drain();
    const QDateTime now = QDateTime::currentDateTime();
    const double end = static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0;
    double clock = end - kHour;
    smc::VirtualSMC smc;
    KLKelvara kelvara;
    kelvara.setClockForTesting([&clock] { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(clock * 1000)); });
    for (int tick = 0; clock <= end; ++tick, clock += 10) {
        smc.freezeClock(clock);
        const double noise = std::fmod(std::abs(std::sin(tick * 12.9898) * 43758.5453), 1.0) - 0.5;
        const double load = 0.3 + 0.25 * std::sin(tick / 40.0) + 0.3 * (tick % 90 > 70) + 0.03 * noise;
        smc.setLoad(std::clamp(load, 0.0, 1.0));
        kelvara.fireTrackingTemp();
        drain();
    }
    KLSensor* temperature = data.mainSensor();
    QList<KLSensor*> fans = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = '0'")));
    if (!temperature || fans.isEmpty()) {
        std::fprintf(stderr, "kelvara_pictures: the catalogue has no CPU temperature or fan\n");
        return 1;
    }
    KLSensor* fan = fans.first();
    seedWeekOfFanSpeeds(fan, end);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drain();

    Pictures pictures(folder);
    bool ok = true;
    for (const bool dark : {false, true}) {
        app.setPalette(dark ? darkPalette() : QPalette());
        for (const int scale : {1, 2}) {
            // Made afresh per picture set, as a screen would be.
            SensorLabels labels;
            RZLineGraphView graph;
            graph.resize(480, 200);
            graph.setDelegate(&labels);
            RZGraphLayout& layout = graph.graphLayout();
            layout.setXAxisLabelHeight(30);
            layout.setXAxisMargin(20);
            layout.setMovementLineColor(withAlpha(kAppLightBlue, 0.95));
            applyPalette(graph, dark);
            graph.setNoDataText(QStringLiteral("No data"));

            labels.categoryType = KLCategoryTypeTemperature;
            showHistory(graph, temperature, KLGraphTimeRangeHour, now);
            ok &= pictures.save(graph, QStringLiteral("graph-hour"), dark, scale);
            const double width = graph.geometry().plotWidth();
            const struct {
                const char* name;
                double x;
            } hovers[] = {{"middle", width / 2}, {"left", 4}, {"right", width - 3}};
            for (const auto& hover : hovers) {
                hoverAt(graph, hover.x);
                ok &= pictures.save(graph, QStringLiteral("graph-hour-hover-%1").arg(QLatin1String(hover.name)), dark,
                                    scale);
            }
            // Then a sensor whose range has no height: no data, and not the
            // last sensor's curve either.
            leave(graph);
            graph.setYAxisMinValue(graph.yAxisMaxValue());
            graph.layoutGraph();
            ok &= pictures.save(graph, QStringLiteral("graph-hour-nodata"), dark, scale);

            graph.reDrawXYPart();
            labels.categoryType = KLCategoryTypeFan;
            showHistory(graph, fan, KLGraphTimeRangeWeek, now);
            ok &= pictures.save(graph, QStringLiteral("graph-week-fan"), dark, scale);
            hoverAt(graph, graph.geometry().plotWidth() * 0.6);
            ok &= pictures.save(graph, QStringLiteral("graph-week-fan-hover"), dark, scale);
            graph.setDelegate(nullptr);
        }
    }
    std::printf("kelvara_pictures: %d pictures in %s\n", pictures.count(), qPrintable(folder));
    return ok ? 0 : 1;
}
