#include "NSImage.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include "NSAppearance.h"

namespace {

const QString kFolder = QStringLiteral(":/images/");
const QString kDark = QStringLiteral("-dark");

QString fileFor(const QString& name)
{
    if (name.isEmpty())
        return {};
    if (NSAppearance::isDarkAqua()) {
        const QString dark = kFolder + name + kDark + QStringLiteral(".svg");
        if (QFile::exists(dark))
            return dark;
    }
    const QString light = kFolder + name + QStringLiteral(".svg");
    return QFile::exists(light) ? light : QString();
}

}  // namespace

namespace NSImage {

QIcon imageNamed(const QString& name)
{
    const QString file = fileFor(name);
    return file.isEmpty() ? QIcon() : QIcon(file);
}

QPixmap pixmapNamed(const QString& name, const QSize& size, qreal devicePixelRatio)
{
    const QString file = fileFor(name);
    if (file.isEmpty() || size.isEmpty())
        return {};
    // The images are built in and never change: each size is parsed and drawn
    // once, not on every redraw of the status item that shows one on each tick.
    const QString key = QStringLiteral("NSImage %1 %2x%3@%4").arg(file).arg(size.width()).arg(size.height()).arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    QSvgRenderer renderer(file);
    if (!renderer.isValid())
        return {};
    pixmap = QPixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QStringList allImageNames()
{
    QStringList names;
    const QStringList files = QDir(kFolder).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        const QString name = file.chopped(4);
        if (!name.endsWith(kDark))
            names << name;
    }
    return names;
}

}  // namespace NSImage
