// The whole image set on one contact sheet: each image at the size it is used
// at (row and sidebar icons 20, the menu-bar icon 22, the machine pictures 64,
// the status tiles at tile size with white text over them as the tile has it),
// its name under it.
#include <QFont>
#include <QPainter>
#include <QWidget>

#include "NSImage.h"
#include "Pictures.h"

namespace {

struct Section {
    QSize size;
    QStringList names;
};

const QList<Section>& sections()
{
    static const QList<Section> all = {
        {{260, 80}, {"ico_normal", "ico_high", "ico_ok", "ico_max"}},
        {{64, 64}, {"ico_macbook", "ico_imac", "ico_macmini", "ico_macpro"}},
        {{20, 20},
         {"ico_cpu", "ico_gpu", "ico_ram", "ico_motherboard", "ico_router", "ico_ssd", "ico_hdd", "ico_battery",
          "ico_power2", "ico_monitor", "ico_fan2"}},
        {{20, 20},
         {"ico_temp", "ico_fan", "ico_voltage", "ico_current", "ico_power", "ico_notification", "ico_log",
          "ico_settings"}},
        {{20, 20}, {"ico_link", "ico_link_selected"}},
        {{22, 22}, {"bar_icon"}},
    };
    return all;
}

constexpr int kMargin = 16;
constexpr int kLabel = 16;
constexpr int kWidth = 1240;

int cellWidth(const QSize& size)
{
    return std::max(size.width(), 96) + 12;
}

class ContactSheet : public QWidget {
public:
    ContactSheet(bool dark, int scale)
        : m_dark(dark)
        , m_scale(scale)
    {
        int y = kMargin;
        for (const Section& section : sections()) {
            const int perRow = std::max(1, (kWidth - 2 * kMargin) / cellWidth(section.size));
            const int rows = (int(section.names.size()) + perRow - 1) / perRow;
            y += rows * (section.size.height() + kLabel + 14) + 8;
        }
        resize(kWidth, y + kMargin);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont small = font();
        small.setPixelSize(10);
        const QColor text = m_dark ? QColor(200, 200, 200) : QColor(70, 70, 70);
        int y = kMargin;
        for (const Section& section : sections()) {
            const int width = cellWidth(section.size);
            const int perRow = std::max(1, (kWidth - 2 * kMargin) / width);
            for (int i = 0; i < section.names.size(); ++i) {
                const QString& name = section.names[i];
                const int x = kMargin + (i % perRow) * width;
                const int top = y + (i / perRow) * (section.size.height() + kLabel + 14);
                const QPoint at(x + (width - section.size.width()) / 2, top);
                painter.drawPixmap(at, NSImage::pixmapNamed(name, section.size, m_scale));
                if (section.size.width() > 200)
                    drawTileText(painter, QRect(at, section.size));
                painter.setFont(small);
                painter.setPen(text);
                painter.drawText(QRect(x, top + section.size.height() + 4, width, kLabel), Qt::AlignHCenter, name);
            }
            const int rows = (int(section.names.size()) + perRow - 1) / perRow;
            y += rows * (section.size.height() + kLabel + 14) + 8;
        }
    }

private:
    // Title, value and short status in white, where the tile puts them.
    void drawTileText(QPainter& painter, const QRect& tile)
    {
        painter.setPen(Qt::white);
        QFont font = this->font();
        font.setPixelSize(13);
        painter.setFont(font);
        painter.drawText(tile.adjusted(14, 10, -14, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("CPU Proximity"));
        font.setPixelSize(30);
        font.setWeight(QFont::Light);
        painter.setFont(font);
        painter.drawText(tile.adjusted(14, 0, -14, -8), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("48.5 °C"));
        font.setPixelSize(12);
        font.setWeight(QFont::Normal);
        painter.setFont(font);
        painter.drawText(tile.adjusted(14, 0, -14, -12), Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Normal"));
    }

    bool m_dark;
    int m_scale;
};

bool imageSheet(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    ContactSheet sheet(dark, scale);
    return pictures.save(sheet, QStringLiteral("images-sheet"), dark, scale);
}

const PictureSetRegistration registration("images", imageSheet);

}  // namespace
