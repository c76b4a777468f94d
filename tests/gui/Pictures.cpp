#include "Pictures.h"

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <cmath>
#include <cstdio>

#include "KLCoreDataHelper.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"

namespace {

std::vector<std::pair<QString, PictureSet>>& registry()
{
    static std::vector<std::pair<QString, PictureSet>> sets;
    return sets;
}

}  // namespace

Pictures::Pictures(QString folder)
    : m_folder(std::move(folder))
{
}

bool Pictures::save(QWidget& widget, const QString& name, bool dark, int scale)
{
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    const QString file = QStringLiteral("%1/%2-%3%4.png")
                             .arg(m_folder, name, dark ? QStringLiteral("dark") : QStringLiteral("light"),
                                  scale == 2 ? QStringLiteral("@2x") : QString());
    // Quick compression: a quarter less time for a sixth more bytes.
    if (!image.save(file, "PNG", 85)) {
        std::fprintf(stderr, "kelvara_pictures: cannot write %s\n", qPrintable(file));
        return false;
    }
    ++m_count;
    return true;
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

void seedDayOfHistory(KLSensor* sensor, const QDateTime& now)
{
    const QList<KLGraphPoint*> stored = sensor->dayGraphPoints();
    if (stored.size() > 100)
        return;
    // In time order: the graph draws the points as stored.
    for (KLGraphPoint* old : stored)
        KLCoreDataHelper::sharedInstance().masterContext()->deleteObject(old);
    const double end = static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0;
    const double level = sensor->value() > 0 ? sensor->value() : 50;
    for (int i = 143; i >= 0; --i) {
        const double x = end - i * 600.0;
        const double swing = 6 * std::sin(i / 144.0 * 2 * M_PI) + 2 * std::sin(i * 0.7);
        KLGraphPoint* point = KLGraphPoint::newGraphPoint();
        point->setPointX(x);
        point->setPointY(std::round(level + swing));
        point->setTimeRange(KLGraphTimeRangeDay);
        point->setSensor(sensor);
        sensor->addGraphPointsObject(point);
    }
    KLCoreDataHelper::sharedInstance().saveMasterContext();
}

void drain()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

PictureSetRegistration::PictureSetRegistration(const char* name, PictureSet set)
{
    registry().emplace_back(QString::fromLatin1(name), std::move(set));
}

const std::vector<std::pair<QString, PictureSet>>& pictureSets()
{
    return registry();
}
