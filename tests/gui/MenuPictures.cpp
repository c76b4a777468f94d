// Kelvara Menu: the status item's pixmap on a light and a dark panel, and the
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

// A stretch of panel with the item drawn as the tray would draw it.
class PanelStrip : public QWidget {
public:
    PanelStrip(QString imageName, QString title, bool dark)
        : m_imageName(std::move(imageName))
        , m_title(std::move(title))
        , m_dark(dark)
    {
        const QPixmap probe = NSStatusItem::renderPixmap(m_imageName, m_title, textColor(), NSStatusItem::kPanelHeight, 1);
        setFixedSize(probe.width() + 2 * kPadding, NSStatusItem::kPanelHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_dark ? QColor(0x1f, 0x1f, 0x21) : QColor(0xee, 0xee, 0xee));
        const QPixmap item = NSStatusItem::renderPixmap(m_imageName, m_title, textColor(), NSStatusItem::kPanelHeight,
                                                        painter.device()->devicePixelRatioF());
        painter.drawPixmap(kPadding, 0, item);
    }

private:
    static constexpr int kPadding = 8;
    QColor textColor() const { return m_dark ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1e, 0x1e, 0x1e); }

    QString m_imageName;
    QString m_title;
    bool m_dark;
};

bool menuPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    const QString title = QLatin1Char(' ') + scene.temperature->tidyStringValue() + QLatin1Char(' ') +
                          scene.fan->tidyStringValue() + QStringLiteral(" --");
    // The item as the settings allow it: icon and title, title alone, icon alone.
    QWidget panels;
    auto* layout = new QVBoxLayout(&panels);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    layout->addWidget(new PanelStrip(QStringLiteral("bar_icon"), title, dark));
    layout->addWidget(new PanelStrip(QString(), title, dark));
    layout->addWidget(new PanelStrip(QStringLiteral("bar_icon"), QString(), dark));
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
