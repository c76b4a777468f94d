// The sensor and fan rows at the width of the screens' tables: a temperature
// at a low, warning and critical level, a fan, the fan-control mode row and
// the fan-speed editor row.
#include <QWidget>

#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanControlCellView.h"
#include "KLFanSet.h"
#include "KLFanSetDetailCellView.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "Pictures.h"

namespace {

constexpr int kRowWidth = 360;

bool rowPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    KLSensor* temperature = scene.temperature;
    const double was = temperature->value();
    const struct {
        const char* name;
        double celsius;
    } levels[] = {{"sensor-row-low", 44}, {"sensor-row-warning", 78}, {"sensor-row-critical", 102}};
    for (const auto& level : levels) {
        KLSensorCellView cell;
        cell.resize(kRowWidth, KLSensorCellView::kRowHeight);
        temperature->setValue(level.celsius);
        cell.setSensor(temperature);
        ok &= pictures.save(cell, QString::fromLatin1(level.name), dark, scale);
    }
    temperature->setValue(was);

    KLSensorCellView fanRow;
    fanRow.resize(kRowWidth, KLSensorCellView::kRowHeight);
    fanRow.setSensor(scene.fan);
    ok &= pictures.save(fanRow, QStringLiteral("sensor-row-fan"), dark, scale);

    KLDataManager& settings = KLDataManager::sharedInstance();
    const unsigned mode = settings.fanControlMode();
    settings.setFanControlMode(KLFanControlModeAutoBoost);
    KLFanControlCellView modeRow;
    modeRow.resize(kRowWidth, KLFanControlCellView::kRowHeight);
    modeRow.setSensor(scene.fan);
    ok &= pictures.save(modeRow, QStringLiteral("fan-row-mode"), dark, scale);
    settings.setFanControlMode(mode);

    // A set of its own, never saved, so the other pictures see none.
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    const double speed = scene.fan->minValue() + 0.4 * (scene.fan->maxValue() - scene.fan->minValue());
    KLFanSet* fanSet = KLFanSet::fanSetWithName(QStringLiteral("Pictures"), KLFanSpeeds{{scene.fan->key(), speed}},
                                                context);
    KLFanSetDetailCellView speedRow;
    speedRow.resize(kRowWidth, KLFanSetDetailCellView::kRowHeight);
    speedRow.setFanSet(fanSet);
    speedRow.setSensor(scene.fan);
    ok &= pictures.save(speedRow, QStringLiteral("fan-row-speed"), dark, scale);
    context->deleteObject(fanSet);
    return ok;
}

const PictureSetRegistration registration("rows", rowPictures);

}  // namespace
