#include "NSStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QFontMetricsF>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "NSAppearance.h"
#include "NSEvent.h"
#include "NSImage.h"
#include "NSScreen.h"
#include "StatusNotifierItem.h"

namespace {

std::optional<bool>& forcedAvailability()
{
    static std::optional<bool> forced;
    return forced;
}

std::optional<NSStatusItem::Host>& forcedHost()
{
    static std::optional<NSStatusItem::Host> forced;
    return forced;
}

// Panels appear a few seconds after login at the latest.
int g_attempts = 5;
int g_intervalMs = 3000;

const QString kProductName = QStringLiteral("Kelvara");
const QString kItemId = QStringLiteral("com.orvane.kelvara.menu");

QColor textColor(bool dark)
{
    return dark ? QColor(0xf4, 0xf4, 0xf4) : QColor(0x1c, 0x1c, 0x1e);
}

QColor outlineColor(bool dark)
{
    return dark ? QColor(0x10, 0x10, 0x12, 230) : QColor(0xff, 0xff, 0xff, 230);
}

// The text's path scaled into box: as large as fits, centred. Digits keep the
// font's cap height as their box, so "--" and "73°" stand on one line.
QPainterPath fittedText(const QString& text, const QRectF& box)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(100);
    font.setBold(true);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF tight = path.boundingRect();
    const double cap = QFontMetricsF(font).capHeight();
    const QRectF measured = tight.united(QRectF(tight.left(), -cap, std::max(tight.width(), 1.0), cap));
    // Digits may grow taller than the font draws them (as a condensed face would):
    // a square has room for height, not for width.
    constexpr double kMaxStretch = 1.6;
    const double scaleX = box.width() / measured.width();
    const double scaleY = std::min(box.height() / measured.height(), scaleX * kMaxStretch);
    const double fitX = std::min(scaleX, scaleY);
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(fitX, scaleY);
    transform.translate(-measured.center().x(), -measured.center().y());
    return transform.map(path);
}

// A number and its unit ("2447rpm"), or the whole text when it has no unit of letters.
std::pair<QString, QString> splitUnit(const QString& text)
{
    qsizetype at = text.size();
    while (at > 0 && text.at(at - 1).isLetter())
        --at;
    return {text.left(at), text.mid(at)};
}

QPainterPath cellText(const QString& text, const QRectF& box)
{
    QPainterPath oneLine = fittedText(text, box);
    const auto [number, unit] = splitUnit(text);
    if (number.isEmpty() || unit.isEmpty())
        return oneLine;
    // Long values read better as a big number over a small unit than as one tiny line.
    const double numberShare = 0.6;
    const double gap = box.height() * 0.06;
    const QRectF top(box.left(), box.top(), box.width(), box.height() * numberShare);
    const QRectF bottom(box.left(), top.bottom() + gap, box.width(), box.bottom() - top.bottom() - gap);
    QPainterPath twoLines = fittedText(number, top);
    if (twoLines.boundingRect().height() <= oneLine.boundingRect().height() * 1.2)
        return oneLine;
    twoLines.addPath(fittedText(unit, bottom));
    return twoLines;
}

}  // namespace

NSStatusItem::NSStatusItem(double length, Backend backend, QObject* parent)
    : QObject(parent)
    , m_length(length)
    , m_backend(backend)
{
    if (m_backend == Backend::StatusNotifier) {
        // A panel that restarts forgets every item: register again when its watcher is back.
        m_watcher = new QDBusServiceWatcher(QString::fromLatin1(StatusNotifierItem::kWatcherService),
                                            QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            for (const auto& item : m_items)
                item->registerWithWatcher();
        });
    }
}

NSStatusItem::~NSStatusItem() = default;

void NSStatusItem::setImageName(const QString& name)
{
    if (name == m_imageName)
        return;
    m_imageName = name;
    refresh();
}

void NSStatusItem::setTitle(const QString& title)
{
    if (title == m_title && title.isNull() == m_title.isNull())
        return;
    m_title = title;
    refresh();
}

QRect NSStatusItem::buttonBounds() const
{
    if (!m_clickedAt) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? QRect(screen->geometry().topRight(), QSize(1, 1)) : QRect();
    }
    const QPoint at = *m_clickedAt;
    const QScreen* screen = NSScreen::screenAt(at);
    const QRect available = NSScreen::visibleFrame(screen);
    QRect anchor(at, QSize(1, 1));
    if (available.isEmpty())
        return anchor;
    // The click lies in a panel outside the available area: anchor at the panel's inner edge.
    if (at.y() < available.top())
        anchor.setBottom(available.top() - 1);
    else if (at.y() > available.bottom())
        anchor.setTop(available.bottom() + 1);
    return anchor;
}

void NSStatusItem::performClick(const QPoint& pointer)
{
    m_clickedAt = pointer.isNull() ? QCursor::pos() : pointer;
    emit action();
    m_clickedAt.reset();
}

QStringList NSStatusItem::values(const QString& title)
{
    return title.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QList<NSStatusItem::Cell> NSStatusItem::cells(Host host) const
{
    QList<Cell> cells;
    if (host == Host::Label) {
        if (!m_imageName.isEmpty() || !m_title.trimmed().isEmpty())
            cells.append({m_imageName, QString()});
        return cells;
    }
    if (!m_imageName.isEmpty())
        cells.append({m_imageName, QString()});
    const QStringList texts = values(m_title);
    for (qsizetype i = 0; i < std::min<qsizetype>(texts.size(), kMaxValueIcons); ++i)
        cells.append({QString(), texts.at(i)});
    return cells;
}

NSStatusItem::Host NSStatusItem::hostKind()
{
    if (forcedHost())
        return *forcedHost();
    // Only these hosts show an item's label; the others show its icon alone.
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    for (const QString& desktop : desktops) {
        for (const char* labelHost : {"GNOME", "Unity", "Budgie"}) {
            if (desktop.contains(QLatin1String(labelHost), Qt::CaseInsensitive))
                return Host::Label;
        }
    }
    return Host::Icons;
}

void NSStatusItem::setHostKindForTesting(std::optional<Host> host)
{
    forcedHost() = host;
}

QImage NSStatusItem::renderCell(const Cell& cell, int side, qreal devicePixelRatio, bool dark)
{
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline keeps the shape apart from a panel of the text's own brightness.
    const double outline = std::max(1.0, side / 16.0);
    const QRectF box = QRectF(0, 0, side, side).adjusted(outline, outline, -outline, -outline);
    if (!cell.imageName.isEmpty()) {
        const int inner = int(box.width());
        const QPixmap shape = NSImage::pixmapNamed(cell.imageName, QSize(inner, inner), devicePixelRatio);
        auto tinted = [&](const QColor& colour) {
            QPixmap copy = shape;
            QPainter tint(&copy);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(QRect(QPoint(), copy.size()), colour);
            return copy;
        };
        const QPixmap halo = tinted(outlineColor(dark));
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy)
                painter.drawPixmap(box.topLeft() + QPointF(dx, dy) * outline, halo);
        }
        painter.drawPixmap(box.topLeft(), tinted(textColor(dark)));
        return image;
    }
    const QPainterPath path = cellText(cell.text, box);
    painter.strokePath(path, QPen(outlineColor(dark), 2 * outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, textColor(dark));
    return image;
}

QPixmap NSStatusItem::pixmap(qreal devicePixelRatio) const
{
    const QList<Cell> shown = cells(Host::Icons);
    if (shown.isEmpty())
        return {};
    constexpr int gap = 4;
    const int width = int(shown.size()) * (kIconSide + gap) - gap;
    QPixmap strip(QSize(width, kIconSide) * devicePixelRatio);
    strip.setDevicePixelRatio(devicePixelRatio);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    const bool dark = NSAppearance::isDarkAqua();
    for (qsizetype i = 0; i < shown.size(); ++i)
        painter.drawImage(QPoint(int(i) * (kIconSide + gap), 0), renderCell(shown.at(i), kIconSide, devicePixelRatio, dark));
    return strip;
}

QString NSStatusItem::wholeTitle() const
{
    return values(m_title).join(QLatin1Char(' '));
}

QList<StatusNotifierItem*> NSStatusItem::statusNotifierItems() const
{
    QList<StatusNotifierItem*> items;
    for (const auto& item : m_items)
        items.append(item.get());
    return items;
}

void NSStatusItem::rebuild(qsizetype count)
{
    // Trays place items in the order they arrive: a new layout starts afresh.
    m_items.clear();
    m_trayIcons.clear();
    m_shownCells.clear();
    for (qsizetype i = 0; i < count; ++i) {
        if (m_backend == Backend::StatusNotifier) {
            auto item = std::make_unique<StatusNotifierItem>(i == 0 ? kItemId : kItemId + QStringLiteral("-%1").arg(i));
            connect(item.get(), &StatusNotifierItem::activated, this, &NSStatusItem::performClick);
            connect(item.get(), &StatusNotifierItem::secondaryActivated, this, &NSStatusItem::performClick);
            m_items.push_back(std::move(item));
        } else {
            auto icon = std::make_unique<QSystemTrayIcon>();
            connect(icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                    performClick(QCursor::pos());
            });
            m_trayIcons.push_back(std::move(icon));
        }
    }
}

void NSStatusItem::refresh()
{
    if (m_backend == Backend::Model)
        return;
    const Host host = hostKind();
    const QList<Cell> wanted = cells(host);
    const bool dark = NSAppearance::isDarkAqua();
    bool sameLayout = wanted.size() == m_shownCells.size();
    for (qsizetype i = 0; sameLayout && i < wanted.size(); ++i)
        sameLayout = wanted.at(i).imageName.isEmpty() == m_shownCells.at(i).imageName.isEmpty();
    if (!sameLayout)
        rebuild(wanted.size());

    const QString title = wholeTitle();
    const QString label = host == Host::Label ? title : QString();
    const QString itemTitle = title.isEmpty() ? kProductName : title;
    bool added = false;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const bool changed = i >= m_shownCells.size() || wanted.at(i) != m_shownCells.at(i) || dark != m_shownDark;
        if (m_backend == Backend::StatusNotifier) {
            StatusNotifierItem* item = m_items.at(size_t(i)).get();
            if (changed) {
                QList<QImage> images;
                for (int side : kIconSizes)
                    images.append(renderCell(wanted.at(i), side, 1, dark));
                item->setIcon(images);
            }
            item->setTitle(itemTitle);
            item->setToolTip(kProductName, title);
            item->setLabel(label, label);
        } else {
            QSystemTrayIcon* icon = m_trayIcons.at(size_t(i)).get();
            if (changed) {
                QIcon images;
                for (int side : kIconSizes)
                    images.addPixmap(QPixmap::fromImage(renderCell(wanted.at(i), side, 1, dark)));
                icon->setIcon(images);
            }
            icon->setToolTip(itemTitle);
            if (!icon->isVisible()) {
                icon->show();
                added = true;
            }
        }
    }
    if (!sameLayout) {
        for (const auto& item : m_items)
            item->registerWithWatcher();
    }
    if (added) {
        // Qt's XEmbed icons are windows of ours inside the panel: a click on one
        // is the item's click, never a click "outside" an open popover.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QSystemTrayIconSys") && widget->windowHandle())
                widget->windowHandle()->setProperty(NSStatusItemWindowProperty, true);
        }
    }
    m_shownCells = wanted;
    m_shownDark = dark;
}

NSStatusBar& NSStatusBar::systemStatusBar()
{
    static NSStatusBar bar;
    return bar;
}

bool NSStatusBar::isAvailable() const
{
    if (forcedAvailability())
        return *forcedAvailability();
    return StatusNotifierItem::watcherPresent() || QSystemTrayIcon::isSystemTrayAvailable();
}

NSStatusItem* NSStatusBar::statusItemWithLength(double length, QObject* parent)
{
    if (forcedAvailability()) {
        // A forced tray is a model only: nothing to show on the test's screen.
        return *forcedAvailability() ? new NSStatusItem(length, NSStatusItem::Backend::Model, parent) : nullptr;
    }
    if (StatusNotifierItem::watcherPresent())
        return new NSStatusItem(length, NSStatusItem::Backend::StatusNotifier, parent);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return new NSStatusItem(length, NSStatusItem::Backend::XEmbed, parent);
    return nullptr;
}

void NSStatusBar::requestStatusItemWithLength(double length, QObject* owner, std::function<void(NSStatusItem*)> done)
{
    ask(length, owner, std::move(done), g_attempts);
}

void NSStatusBar::ask(double length, QObject* owner, std::function<void(NSStatusItem*)> done, int attemptsLeft)
{
    if (NSStatusItem* item = statusItemWithLength(length, owner)) {
        done(item);
        return;
    }
    if (attemptsLeft <= 0) {
        done(nullptr);
        return;
    }
    QTimer::singleShot(g_intervalMs, owner, [this, length, owner, done = std::move(done), attemptsLeft]() mutable {
        ask(length, owner, std::move(done), attemptsLeft - 1);
    });
}

void NSStatusBar::setSystemTrayAvailableForTesting(std::optional<bool> available)
{
    forcedAvailability() = available;
}

void NSStatusBar::setRetriesForTesting(int attempts, int intervalMs)
{
    g_attempts = attempts;
    g_intervalMs = intervalMs;
}
