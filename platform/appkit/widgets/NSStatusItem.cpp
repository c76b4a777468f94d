#include "NSStatusItem.h"

#include <QApplication>
#include <QCache>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QRegularExpression>
#include <QFontMetricsF>
#include <QHash>
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
#include "NSDistributedNotificationCenter.h"
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
const QString kMenuName = QStringLiteral("Kelvara Menu");
const QString kItemId = QStringLiteral("com.orvane.kelvara.menu");

// From four characters on ("2447", "100°") a value is narrow in its square.
constexpr qsizetype kLongText = 4;

QColor textColor(bool dark)
{
    return dark ? QColor(0xf4, 0xf4, 0xf4) : QColor(0x1c, 0x1c, 0x1e);
}

QColor plateColor(bool dark)
{
    return dark ? QColor(0x26, 0x26, 0x28) : QColor(0xf7, 0xf7, 0xf7);
}

// A text's outline at 100 pixels, and the box it is fitted by: digits keep the
// font's cap height as their box, so "--" and "73°" stand on one line.
struct TextOutline {
    QFont font;
    QPainterPath path;
    QRectF measured;
};

// A text's outline put together from its characters' outlines, each loaded from
// the font once (loading the glyphs is most of a new value's cost), at the places
// the font lays them out, kerning included. Other scripts take the font's own way.
QPainterPath textPath(const QFont& font, const QString& text)
{
    QPainterPath path;
    if (std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 0xff; })) {
        path.addText(0, 0, font, text);
        return path;
    }
    // By font and character: the few characters values are written with.
    struct Glyph {
        QPainterPath outline;
        double advance = 0;
    };
    static QHash<QString, Glyph> glyphs;
    if (glyphs.size() > 512)
        glyphs.clear();
    const QString fontKey = font.key();
    const QFontMetricsF metrics(font);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QString character(text.at(i));
        auto glyph = glyphs.find(fontKey + character);
        if (glyph == glyphs.end()) {
            Glyph loaded;
            loaded.outline.addText(0, 0, font, character);
            loaded.advance = metrics.horizontalAdvance(character);
            glyph = glyphs.insert(fontKey + character, loaded);
        }
        // The advance of the characters before it, with the kerning against this one.
        const double x = metrics.horizontalAdvance(text.left(i + 1)) - glyph->advance;
        path.addPath(glyph->outline.translated(x, 0));
        path.setFillRule(glyph->outline.fillRule());
    }
    return path;
}

// Hosts get each changed square in every size: the outline comes from the font
// once per text, not once per size.
TextOutline outlineOf(const QString& text)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(100);
    // Narrow digits keep their counters open only in a lighter weight.
    font.setWeight(text.size() >= kLongText ? QFont::Medium : QFont::Bold);
    // A few texts: a tick's squares, and a value's number beside it with its unit.
    static QCache<QString, TextOutline> outlines(16);
    if (const TextOutline* known = outlines.object(text); known && known->font == font)
        return *known;
    auto* outline = new TextOutline{font, {}, {}};
    outline->path = textPath(font, text);
    const QRectF tight = outline->path.boundingRect();
    const double cap = QFontMetricsF(font).capHeight();
    outline->measured = tight.united(QRectF(tight.left(), -cap, std::max(tight.width(), 1.0), cap));
    TextOutline result = *outline;
    outlines.insert(text, outline);
    return result;
}

// The text's path scaled into box: as large as fits, centred.
QPainterPath fittedText(const QString& text, const QRectF& box)
{
    const TextOutline outline = outlineOf(text);
    const QRectF& measured = outline.measured;
    // Digits may grow a little taller than the font draws them (as a condensed face
    // would): a square has room for height, not for width. More reads worse.
    constexpr double kMaxStretch = 1.4;
    const double scaleX = box.width() / measured.width();
    const double scaleY = std::min(box.height() / measured.height(), scaleX * kMaxStretch);
    const double fitX = std::min(scaleX, scaleY);
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(fitX, scaleY);
    transform.translate(-measured.center().x(), -measured.center().y());
    return transform.map(outline.path);
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
    QPainterPath path = fittedText(text, box);
    const auto [number, unit] = splitUnit(text);
    // A square has no room for "2447rpm" at a readable size: the number alone is
    // the value, and the title and tool tip still give the unit.
    constexpr double kLegibleShare = 0.5;
    if (!number.isEmpty() && !unit.isEmpty() && path.boundingRect().height() < box.height() * kLegibleShare)
        return fittedText(number, box);
    return path;
}

}  // namespace

NSStatusItem::NSStatusItem(double length, Backend backend, QObject* parent)
    : QObject(parent)
    , m_length(length)
    , m_backend(backend)
    // XEmbed trays never show labels; the desktop does not change under a running program.
    , m_host(backend == Backend::XEmbed ? Host::Icons : hostKind())
{
    if (m_backend == Backend::StatusNotifier) {
        // A panel that restarts forgets every item: register again when its watcher
        // is back, or when another watcher took its name over without a gap.
        m_watcher = new QDBusServiceWatcher(QString::fromLatin1(StatusNotifierItem::kWatcherService),
                                            QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    if (!newOwner.isEmpty())
                        registerItems();
                });
    }
    // Squares are drawn in the scheme's colours: a new scheme redraws them even
    // when no value changes (an item without values would keep the old ones).
    if (m_backend != Backend::Model) {
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, NSAppearance::themeChangedNotification(), [this](const NSNotification&) { refresh(); });
    }
}

NSStatusItem::~NSStatusItem()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

void NSStatusItem::setImageName(const QString& name)
{
    if (name == m_imageName)
        return;
    m_imageName = name;
    refresh();
}

void NSStatusItem::setValueNames(const QStringList& names)
{
    if (names == m_valueNames)
        return;
    m_valueNames = names;
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

bool NSStatusItem::takeHostClick()
{
    // Any program on the bus may call Activate as often as it likes: beyond what
    // a person's clicks could be, the calls are dropped, not each run as a toggle.
    if (!m_clickWindow.isValid() || m_clickWindow.elapsed() >= 1000) {
        m_clickWindow.start();
        m_clicksInWindow = 0;
    }
    return ++m_clicksInWindow <= kMaxClicksPerSecond;
}

void NSStatusItem::hostClicked(const QPoint& pointer)
{
    if (takeHostClick())
        performClick(pointer);
}

void NSStatusItem::hostMenuClicked()
{
    // The host's menu gives no position, and the pointer over the host's bar is
    // not ours to read (an X client on a Wayland shell sees a stale one): label
    // hosts keep their items at the bar's right end, so the popover opens there.
    if (!takeHostClick())
        return;
    m_clickedAt.reset();
    emit action();
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

NSStatusItem::Placement NSStatusItem::placementOf(const QString& trayProgram)
{
    // Xfce's tray (in the panel, or in its plugin wrapper) puts a newcomer first;
    // swaybar lays its items out from the right end, so the first one registered
    // stands rightmost. waybar, LXQt and the protocol's own order: each newcomer last.
    const QString name = trayProgram.section(QLatin1Char('/'), -1);
    if (isXfceTray(trayProgram) || name == QLatin1String("swaybar"))
        return Placement::First;
    return Placement::Last;
}

bool NSStatusItem::isXfceTray(const QString& trayProgram)
{
    // The panel as the session starts it (by name or from a bin folder), or the
    // wrapper that runs its external plugins, where distributions put it.
    static const QRegularExpression xfce(
        QStringLiteral("^((/usr(/local)?)?/bin/)?xfce4-panel$|^/usr(/local)?/(lib|lib64|libexec)(/[^/]+)?/xfce4/panel/wrapper-2\\.0$"));
    return xfce.match(trayProgram).hasMatch();
}

namespace {

std::optional<QString>& forcedTrayProgram()
{
    static std::optional<QString> forced;
    return forced;
}

// The program that owns the watcher, which is the tray's own process: its path.
QString trayProgram()
{
    if (forcedTrayProgram())
        return *forcedTrayProgram();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return {};
    const QDBusReply<uint> pid = bus.interface()->servicePid(QString::fromLatin1(StatusNotifierItem::kWatcherService));
    if (!pid.isValid())
        return {};
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid.value()));
    if (!commandLine.open(QIODevice::ReadOnly))
        return {};
    const QByteArray arguments = commandLine.read(4096);
    return QString::fromLocal8Bit(arguments.left(arguments.indexOf('\0')));
}

}  // namespace

void NSStatusItem::setTrayProgramForTesting(std::optional<QString> program)
{
    forcedTrayProgram() = std::move(program);
}

void NSStatusItem::setHostKindForTesting(std::optional<Host> host)
{
    forcedHost() = host;
}

namespace {

// Each square is a plate of the scheme's background with the text or image in
// its foreground: it reads the same on a light panel and on a dark one.
// Plates span the square's width: where a tray packs items edge to edge they
// join into one band, whose text reads as one line.
QRectF plateRect(int side)
{
    const double inset = side / 22.0;
    return QRectF(0, 0, side, side).adjusted(0, inset, 0, -inset);
}

// The empty plate, drawn once per size and scheme: a new value only adds its text.
QImage plateImage(int side, qreal devicePixelRatio, bool dark)
{
    static QHash<QString, QImage> plates;
    const QString key = QStringLiteral("%1 %2 %3").arg(side).arg(devicePixelRatio).arg(dark);
    if (const auto known = plates.constFind(key); known != plates.cend())
        return *known;
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = side / 16.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(plateColor(dark));
    painter.drawRoundedRect(plateRect(side), radius, radius);
    painter.end();
    if (plates.size() >= 64)
        plates.clear();
    plates.insert(key, image);
    return image;
}

}  // namespace

QImage NSStatusItem::renderCell(const Cell& cell, int side, qreal devicePixelRatio, bool dark)
{
    QImage image = plateImage(side, devicePixelRatio, dark);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = plateRect(side);
    const double margin = side / 11.0;
    const QRectF box = plate.adjusted(margin, margin, -margin, -margin);
    if (!cell.imageName.isEmpty()) {
        const int inner = int(box.width());
        QPixmap shape = NSImage::pixmapNamed(cell.imageName, QSize(inner, inner), devicePixelRatio);
        QPainter tint(&shape);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(QRect(QPoint(), shape.size()), textColor(dark));
        tint.end();
        painter.drawPixmap(box.topLeft(), shape);
        return image;
    }
    // Air between the values of neighbouring squares; four digits need the width more.
    const double textMargin = cell.text.size() >= kLongText ? side / 16.0 : side / 8.0;
    const QRectF textBox = plate.adjusted(textMargin, margin, -textMargin, -margin);
    painter.fillPath(cellText(cell.text, textBox), textColor(dark));
    return image;
}

QList<QImage> NSStatusItem::cellImages(const Cell& cell, bool dark)
{
    // Readings come back (a temperature goes 72°, 73°, 72°): the last few texts' squares
    // are kept, in every size, rather than drawn again.
    static QCache<QString, QList<QImage>> drawn(16);
    const QString key = cell.imageName + QLatin1Char('\n') + cell.text + QLatin1Char('\n') +
                        QLatin1Char(dark ? '1' : '0') + QGuiApplication::font().key();
    if (const QList<QImage>* known = drawn.object(key))
        return *known;
    auto* images = new QList<QImage>;
    for (int side : kIconSizes)
        images->append(renderCell(cell, side, 1, dark));
    const QList<QImage> result = *images;
    drawn.insert(key, images);
    return result;
}

QList<QImage> NSStatusItem::clearImages()
{
    QList<QImage> images;
    for (int side : {16, 32}) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        images.append(image);
    }
    return images;
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

QString NSStatusItem::cellToolTip(qsizetype index, const QString& title) const
{
    // A value's square: its sensor and value first, then the whole title.
    const qsizetype value = index - (m_imageName.isEmpty() ? 0 : 1);
    const QString text = values(m_title).value(value);
    const QString name = m_valueNames.value(value);
    return (name.isEmpty() ? text : name + QStringLiteral(": ") + text) + QLatin1Char('\n') + title;
}

QString NSStatusItem::squareTitle(qsizetype square, const QString& shows)
{
    // Plasma sorts a category's items by title, locale-aware: the program's name and
    // the square's place, zero-padded, sort in place whether digits compare as
    // numbers or as characters (and whether blanks count or not).
    QString title = kMenuName + QLatin1Char(' ') + QStringLiteral("%1").arg(square + 1, 2, 10, QLatin1Char('0'));
    return shows.isEmpty() ? title : title + QLatin1Char(' ') + shows;
}

void NSStatusItem::showTexts(StatusNotifierItem* item, qsizetype index, const QString& title)
{
    const qsizetype value = index - (m_imageName.isEmpty() ? 0 : 1);
    if (m_host == Host::Label) {
        item->setTitle(title.isEmpty() ? kProductName : title);
        item->setToolTip(kProductName, title);
        return;
    }
    if (value < 0) {
        item->setTitle(squareTitle(index, title));
        item->setToolTip(kProductName, title);
        return;
    }
    const QString name = m_valueNames.value(value);
    const QString text = values(m_title).value(value);
    // After its place, the square's sensor and value: a square out of place still says what it shows.
    item->setTitle(squareTitle(index, name.isEmpty() ? text : name + QLatin1Char(' ') + text));
    item->setToolTip(name.isEmpty() ? text : name + QStringLiteral(": ") + text, kProductName + QStringLiteral(": ") + title);
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
            connect(item.get(), &StatusNotifierItem::activated, this, &NSStatusItem::hostClicked);
            connect(item.get(), &StatusNotifierItem::activatedFromMenu, this, &NSStatusItem::hostMenuClicked);
            m_items.push_back(std::move(item));
        } else {
            auto icon = std::make_unique<QSystemTrayIcon>();
            // Queued: the click may change the layout, which deletes this icon,
            // and Qt's tray window still handles its press when the signal returns.
            connect(
                icon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                        hostClicked(QCursor::pos());
                },
                Qt::QueuedConnection);
            m_trayIcons.push_back(std::move(icon));
        }
    }
}

QList<int> NSStatusItem::displayOrder(int count, int rows)
{
    // A tray of several rows fills them column by column: the square at each place
    // is the one that a reader, row by row, expects there.
    rows = std::clamp(rows, 1, std::max(count, 1));
    const int columns = (count + rows - 1) / rows;
    QList<int> order(count, 0);
    int next = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            if (column * rows + row < count)
                order[column * rows + row] = next++;
        }
    }
    return order;
}

int NSStatusItem::xfceTrayRows(const QVariantMap& panelSettings)
{
    // The tray plugin, the panel that holds it, and how many rows of icons fit.
    QString plugin;
    for (auto entry = panelSettings.cbegin(); entry != panelSettings.cend(); ++entry) {
        static const QRegularExpression pluginKey(QStringLiteral("^/plugins/(plugin-\\d+)$"));
        const QRegularExpressionMatch match = pluginKey.match(entry.key());
        if (match.hasMatch() && entry.value().toString() == QLatin1String("systray"))
            plugin = match.captured(1);
    }
    if (plugin.isEmpty())
        return 1;
    const QString settings = QStringLiteral("/plugins/") + plugin + QLatin1Char('/');
    if (panelSettings.value(settings + QStringLiteral("single-row")).toBool())
        return 1;
    const int id = plugin.section(QLatin1Char('-'), 1).toInt();
    for (auto entry = panelSettings.cbegin(); entry != panelSettings.cend(); ++entry) {
        if (!entry.key().endsWith(QLatin1String("/plugin-ids")))
            continue;
        const QVariant ids = entry.value();
        QList<int> list;
        if (ids.canConvert<QDBusArgument>()) {
            const QDBusArgument argument = ids.value<QDBusArgument>();
            argument.beginArray();
            while (!argument.atEnd() && list.size() < 256) {
                QDBusVariant value;
                argument >> value;
                list.append(value.variant().toInt());
            }
            argument.endArray();
        } else {
            for (const QVariant& value : ids.toList())
                list.append(value.toInt());
        }
        if (!list.contains(id))
            continue;
        const QString panel = entry.key().chopped(int(qstrlen("/plugin-ids"))) + QLatin1Char('/');
        const int panelRows = std::max(1, panelSettings.value(panel + QStringLiteral("nrows"), 1).toInt());
        const int size = panelSettings.value(panel + QStringLiteral("size"), 30).toInt() / panelRows;
        // Each icon takes its size and a pixel of padding on either side.
        const int icon = std::max(8, panelSettings.value(settings + QStringLiteral("icon-size"), 22).toInt());
        return std::clamp(size / (icon + 2), 1, 16);
    }
    return 1;
}

void NSStatusItem::registerItems()
{
    const int generation = ++m_registration;
    const QString program = trayProgram();
    if (!isXfceTray(program)) {
        registerInOrder(1, placementOf(program) == Placement::First);
        return;
    }
    // Xfce's tray may wrap into rows, which its panel's settings tell. Asked without
    // waiting on the answer: a settings service that hangs must not hold the menu.
    // One question at a time; its answer serves the latest appearance of the tray.
    m_awaitingRows = generation;
    if (m_rowsCall)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
                                                       QStringLiteral("org.xfce.Xfconf"), QStringLiteral("GetAllProperties"));
    call << QStringLiteral("xfce4-panel") << QStringLiteral("/");
    call.setAutoStartService(false);
    m_rowsCall = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kSettingsTimeoutMs), this);
    connect(m_rowsCall, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        m_rowsCall = nullptr;
        // Without an answer, the rows it gave last time (the panel's size rarely changes).
        const QDBusMessage reply = answered->reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            m_xfceRows = xfceTrayRows(qdbus_cast<QVariantMap>(reply.arguments().value(0)));
        if (m_awaitingRows == m_registration)
            registerInOrder(m_xfceRows, true);
    });
}

void NSStatusItem::registerInOrder(int rows, bool newcomersFirst)
{
    // Trays keep the order in which items first arrive: one at a time, in the
    // order that the running tray's rule turns into the squares' order, row by
    // row where the tray wraps.
    QList<int> order = displayOrder(int(m_items.size()), rows);
    if (newcomersFirst)
        std::reverse(order.begin(), order.end());
    const int generation = m_registration;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTimer::singleShot(int(i) * kRegistrationSpacingMs, this, [this, generation, cell = size_t(order.at(i))] {
            if (generation == m_registration && cell < m_items.size())
                m_items.at(cell)->registerWithWatcher();
        });
    }
}

void NSStatusItem::refresh()
{
    if (m_backend == Backend::Model)
        return;
    const QList<Cell> wanted = cells(m_host);
    const bool dark = NSAppearance::isDarkAqua();
    bool sameLayout = wanted.size() == m_shownCells.size();
    for (qsizetype i = 0; sameLayout && i < wanted.size(); ++i)
        sameLayout = wanted.at(i).imageName.isEmpty() == m_shownCells.at(i).imageName.isEmpty();
    if (!sameLayout)
        rebuild(wanted.size());

    const QString title = wholeTitle();
    const QString label = m_host == Host::Label ? title : QString();
    const QString itemTitle = title.isEmpty() ? kProductName : title;
    bool added = false;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const bool changed = i >= m_shownCells.size() || wanted.at(i) != m_shownCells.at(i) || dark != m_shownDark;
        if (m_backend == Backend::StatusNotifier) {
            StatusNotifierItem* item = m_items.at(size_t(i)).get();
            if (changed) {
                // A label host's item without the image: its label alone, no empty plate.
                // Without any icon GNOME draws a placeholder of its own: a clear one, then.
                item->setIcon(wanted.at(i) != Cell{} ? cellImages(wanted.at(i), dark) : clearImages());
            }
            showTexts(item, i, title);
            item->setLabel(label, label);
            item->setOrderingIndex(uint(i));
            // GNOME opens an item's menu on one click and activates it on two.
            item->setMenuOpensItem(m_host == Host::Label);
            item->setRegistersUniqueName(m_host == Host::Label);
        } else {
            QSystemTrayIcon* icon = m_trayIcons.at(size_t(i)).get();
            if (changed) {
                QIcon images;
                for (const QImage& image : cellImages(wanted.at(i), dark))
                    images.addPixmap(QPixmap::fromImage(image));
                icon->setIcon(images);
            }
            icon->setToolTip(i < wanted.size() && !wanted.at(i).text.isEmpty() ? cellToolTip(i, title) : itemTitle);
        }
    }
    // Xfce's XEmbed tray, too, puts newcomers first: dock the last square first.
    for (auto icon = m_trayIcons.rbegin(); icon != m_trayIcons.rend(); ++icon) {
        if (!(*icon)->isVisible()) {
            (*icon)->show();
            added = true;
        }
    }
    if (!sameLayout)
        registerItems();
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
