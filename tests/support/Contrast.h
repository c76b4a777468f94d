#pragma once
// Contrast of two colours as the accessibility guidelines define it: 1 to 21.
#include <QColor>
#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>

namespace Contrast {

inline double luminance(const QColor& color)
{
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

inline double ratio(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast of any pixel of the area with the colour behind it:
// how well the outline or text drawn there stands out.
inline double strongest(const QImage& image, const QRect& area, const QColor& behind)
{
    double found = 1;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            found = std::max(found, ratio(image.pixelColor(x, y), behind));
    }
    return found;
}

}  // namespace Contrast
