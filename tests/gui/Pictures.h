// The picture program's shared parts: the scene every picture set draws from,
// saving one widget as a PNG, and the registry of picture sets.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QPalette>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

class KLSensor;
class QWidget;

// The store is filled before any set runs; these are its sensors of note.
struct PictureScene {
    KLSensor* temperature = nullptr;
    KLSensor* fan = nullptr;
    QDateTime now;
};

class Pictures {
public:
    explicit Pictures(QString folder);
    // Writes <name>-<light|dark>[@2x].png in the folder.
    bool save(QWidget& widget, const QString& name, bool dark, int scale);
    int count() const { return m_count; }

private:
    QString m_folder;
    int m_count = 0;
};

QColor withAlpha(QColor color, double alpha);
// Gives `sensor` a day of readings every ten minutes, warmer in the
// afternoon, around its last reading; kept when it has one already.
void seedDayOfHistory(KLSensor* sensor, const QDateTime& now);
// Runs the event loop long enough for queued work (saves, notices) to land.
void drain();

// A set renders its widgets for one palette and scale; the application's
// palette is already the one asked for. False when a picture could not be saved.
using PictureSet = std::function<bool(Pictures&, const PictureScene&, bool dark, int scale)>;

struct PictureSetRegistration {
    PictureSetRegistration(const char* name, PictureSet set);
};

const std::vector<std::pair<QString, PictureSet>>& pictureSets();
