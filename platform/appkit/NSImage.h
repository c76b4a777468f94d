#pragma once
// Images by name: the SVG files of resources/images, compiled into the
// programs. "<name>-dark" is used in place of "<name>" while the appearance
// is dark, where such a variant exists. Rendered at any scale by QtSvg.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace NSImage {

// A null icon for a name that has no image.
QIcon imageNamed(const QString& name);
// The image at size (points) for a device pixel ratio; null for an unknown name.
QPixmap pixmapNamed(const QString& name, const QSize& size, qreal devicePixelRatio);
// Every image name there is (without "-dark" variants), sorted.
QStringList allImageNames();

}  // namespace NSImage
