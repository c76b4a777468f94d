// Kelvara Menu: the status item's squares on light and dark panels, and the
// popover's window with its arrow toward the anchor (below and above it).
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "KLSensor.h"
#include "NSPopover.h"
#include "NSScreen.h"
#include "NSStatusItem.h"
#include "Pictures.h"

namespace {

// A stretch of a 28-pixel panel with the item's squares as a tray draws them.
class PanelStrip : public QWidget {
public:
    PanelStrip(QList<NSStatusItem::Cell> cells, bool darkPanel, bool darkScheme)
        : m_cells(std::move(cells))
        , m_darkPanel(darkPanel)
        , m_darkScheme(darkScheme)
    {
        setFixedSize(int(m_cells.size()) * kStep + 2 * kPadding + 40, NSStatusItem::kPanelHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_darkPanel ? QColor(0x1f, 0x1f, 0x21) : QColor(0xee, 0xee, 0xee));
        const int side = NSStatusItem::kIconSide;
        for (qsizetype i = 0; i < m_cells.size(); ++i) {
            const QImage cell = NSStatusItem::renderCell(m_cells.at(i), side, painter.device()->devicePixelRatioF(),
                                                         m_darkScheme);
            painter.drawImage(QPoint(kPadding + int(i) * kStep, (height() - side) / 2), cell);
        }
    }

private:
    static constexpr int kPadding = 8;
    // Xfce packs tray items edge to edge.
    static constexpr int kStep = NSStatusItem::kIconSide;

    QList<NSStatusItem::Cell> m_cells;
    bool m_darkPanel;
    bool m_darkScheme;
};

bool menuPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    const QString one = scene.temperature->tidyStringValue();
    const QStringList three{one, QStringLiteral("--"), scene.fan->tidyStringValue()};
    const NSStatusItem::Cell icon{QStringLiteral("bar_icon"), QString()};
    auto cells = [&](bool withIcon, const QStringList& values) {
        QList<NSStatusItem::Cell> made;
        if (withIcon)
            made.append(icon);
        for (const QString& value : values)
            made.append({QString(), value});
        return made;
    };
    // A light and a dark panel; one and three sensors; the icon on and off.
    QWidget panels;
    auto* layout = new QVBoxLayout(&panels);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    for (bool darkPanel : {false, true}) {
        for (const QStringList& values : {QStringList{one}, three}) {
            for (bool withIcon : {true, false})
                layout->addWidget(new PanelStrip(cells(withIcon, values), darkPanel, dark));
        }
    }
    panels.adjustSize();
    ok &= pictures.save(panels, QStringLiteral("menu-status-item"), dark, scale);

    // Empty popovers: below a top panel's item, and above a bottom panel's.
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    NSPopover below;
    below.showRelativeToRect(QRect(area.center().x(), area.top() - 10, 1, 1), NSRectEdgeMinY);
    drain();
    ok &= pictures.save(*below.window(), QStringLiteral("menu-popover-below"), dark, scale);
    below.close();
    NSPopover above;
    above.showRelativeToRect(QRect(area.right() - 40, area.bottom() + 10, 1, 1), NSRectEdgeMinY);
    drain();
    ok &= pictures.save(*above.window(), QStringLiteral("menu-popover-above"), dark, scale);
    above.close();
    return ok;
}

const PictureSetRegistration registration("menu", menuPictures);

}  // namespace
