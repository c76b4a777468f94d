// The status tile for each of its pictures (normal, high, ok, max and a sensor
// that cannot be read), and a shadow box with content.
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "KLSensor.h"
#include "KLShadowBox.h"
#include "KLTempView.h"
#include "Pictures.h"

namespace {

// A sensor of another kind than temperature and fan: voltage, current or power.
KLSensor* electricSensor()
{
    for (KLSensor* sensor : KLSensor::allObjects()) {
        const int type = sensor->categoryType();
        if (type >= 2 && type <= 4 && sensor->value() >= 0)
            return sensor;
    }
    return nullptr;
}

// The tile with the window's room around it, as a screen places it.
bool saveTile(Pictures& pictures, KLSensor* sensor, const QString& name, bool dark, int scale)
{
    QWidget frame;
    auto* layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(12, 12, 12, 12);
    auto* tile = new KLTempView;
    tile->setFixedSize(220, 116);
    layout->addWidget(tile);
    frame.adjustSize();
    tile->setSensor(sensor);
    return pictures.save(frame, name, dark, scale);
}

bool tilePictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    KLSensor* cpu = scene.temperature;
    const double reading = cpu->value();
    // The main sensor at readings that give each status; put back afterwards.
    const struct {
        const char* name;
        double value;
    } temperatures[] = {{"tile-normal", 47}, {"tile-high", 74}, {"tile-max", 101}, {"tile-unread", -128}};
    for (const auto& temperature : temperatures) {
        cpu->setValue(temperature.value);
        ok &= saveTile(pictures, cpu, QString::fromLatin1(temperature.name), dark, scale);
    }
    cpu->setValue(reading);
    if (KLSensor* electric = electricSensor())
        ok &= saveTile(pictures, electric, QStringLiteral("tile-ok"), dark, scale);
    else
        ok = false;
    ok &= saveTile(pictures, scene.fan, QStringLiteral("tile-fan"), dark, scale);

    QWidget frame;
    auto* outer = new QVBoxLayout(&frame);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* box = new KLShadowBox;
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(6);
    const QString rows[][2] = {{QStringLiteral("CPU Proximity"), cpu->fullStringValue()},
                               {scene.fan->fullName(), scene.fan->fullStringValue()},
                               {QStringLiteral("Status"), cpu->statusDisplay()}};
    for (int row = 0; row < 3; ++row) {
        grid->addWidget(new QLabel(rows[row][0]), row, 0);
        auto* value = new QLabel(rows[row][1]);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(value, row, 1);
    }
    outer->addWidget(box);
    frame.resize(300, frame.sizeHint().height());
    ok &= pictures.save(frame, QStringLiteral("shadowbox"), dark, scale);
    return ok;
}

const PictureSetRegistration registration("tile", tilePictures);

}  // namespace
