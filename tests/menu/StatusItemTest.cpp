// The status item on a tray host: its StatusNotifierItems as a host on the
// session bus reads them, a watcher of the test's own, and the popover they open.
#include <QCollator>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "FreshState.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLMenuBarController.h"
#include "NSAppearance.h"
#include "NSDistributedNotificationCenter.h"
#include "NSEvent.h"
#include "NSPopover.h"
#include "NSStatusItem.h"
#include "QtApplication.h"
#include "StatusNotifierItem.h"
#include "UnreadClient.h"

namespace {

// org.kde.StatusNotifierWatcher as panels run it: records each registration.
class FakeWatcher : public QDBusVirtualObject {
public:
    explicit FakeWatcher(const QString& connection = QStringLiteral("fake-watcher"), bool start = true)
        : m_name(connection)
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection))
    {
        m_bus.registerVirtualObject(QString::fromLatin1(StatusNotifierItem::kWatcherPath), this);
        if (start)
            this->start();
    }
    ~FakeWatcher() override
    {
        m_bus.unregisterObject(QString::fromLatin1(StatusNotifierItem::kWatcherPath));
        QDBusConnection::disconnectFromBus(m_name);
    }
    // A watcher may leave its name to another that asks to replace it.
    void start(QDBusConnectionInterface::ServiceQueueOptions queue = QDBusConnectionInterface::DontQueueService)
    {
        EXPECT_TRUE(m_bus.interface()
                        ->registerService(QString::fromLatin1(StatusNotifierItem::kWatcherService), queue,
                                          QDBusConnectionInterface::AllowReplacement)
                        .isValid());
    }
    void stop() { m_bus.unregisterService(QString::fromLatin1(StatusNotifierItem::kWatcherService)); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("RegisterStatusNotifierItem"))
            return false;
        registered << message.arguments().value(0).toString();
        connection.send(message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    QStringList registered;

private:
    QString m_name;
    QDBusConnection m_bus;
};

// Xfce's panel settings (org.xfce.Xfconf), answered by this thread, which is the
// menu's main thread too: a menu that waits for it there never gets the answer in
// time. Without a panel it never answers at all.
class FakeXfconf : public QDBusVirtualObject {
public:
    explicit FakeXfconf(std::optional<QVariantMap> panel)
        : m_panel(std::move(panel))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-xfconf")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/xfce/Xfconf"), this);
        EXPECT_TRUE(m_bus.registerService(QStringLiteral("org.xfce.Xfconf")));
    }
    ~FakeXfconf() override
    {
        m_bus.unregisterObject(QStringLiteral("/org/xfce/Xfconf"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-xfconf"));
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("GetAllProperties"))
            return false;
        ++asked;
        if (m_panel)
            connection.send(message.createReply(QVariant::fromValue(*m_panel)));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    int asked = 0;

private:
    std::optional<QVariantMap> m_panel;
    QDBusConnection m_bus;
};

// The statuses an item announces, as a host hears them.
class StatusListener : public QObject {
    Q_OBJECT
public:
    explicit StatusListener(const StatusNotifierItem* item)
    {
        QDBusConnection::sessionBus().connect(item->serviceName(), QString::fromLatin1(StatusNotifierItem::kItemPath),
                                              QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("NewStatus"),
                                              this, SLOT(heard(QString)));
    }
    QStringList statuses;
public slots:
    void heard(const QString& status) { statuses << status; }
};

// Never a blocking call: the item answers from this very thread.
QVariant hostReads(const StatusNotifierItem* item, const QString& property)
{
    QDBusMessage get = QDBusMessage::createMethodCall(item->serviceName(), QString::fromLatin1(StatusNotifierItem::kItemPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << property;
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(get);
    if (!waitUntil([&] { return call.isFinished(); }) || call.isError())
        return {};
    return qvariant_cast<QDBusVariant>(call.reply().arguments().value(0)).variant();
}

StatusNotifierPixmaps hostReadsIcon(const StatusNotifierItem* item)
{
    return qdbus_cast<StatusNotifierPixmaps>(hostReads(item, QStringLiteral("IconPixmap")));
}

StatusNotifierToolTip hostReadsToolTip(const StatusNotifierItem* item)
{
    return qdbus_cast<StatusNotifierToolTip>(hostReads(item, QStringLiteral("ToolTip")));
}

QDBusMessage hostCalls(const StatusNotifierItem* item, const QString& path, const QString& interface,
                       const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(item->serviceName(), path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message);
    if (!waitUntil([&] { return call.isFinished(); }))
        return {};
    return call.reply();
}

// The square a 22-pixel panel shows for the cell.
StatusNotifierPixmap square22(const NSStatusItem::Cell& cell, bool dark = NSAppearance::isDarkAqua())
{
    return StatusNotifierItem::pixmapFromImage(NSStatusItem::renderCell(cell, 22, 1, dark));
}

void hostClicks(const StatusNotifierItem* item, int x, int y, const QString& method = QStringLiteral("Activate"))
{
    QDBusMessage activate = QDBusMessage::createMethodCall(
        item->serviceName(), QString::fromLatin1(StatusNotifierItem::kItemPath),
        QStringLiteral("org.kde.StatusNotifierItem"), method);
    activate << x << y;
    QDBusConnection::sessionBus().send(activate);
}

// Rows of a square that hold the text's ink rather than its plate.
int inkHeight(const QImage& square)
{
    const QImage image = square.convertToFormat(QImage::Format_ARGB32);
    const int plate = qGray(image.pixel(image.width() / 2, 2));
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 200 && std::abs(qGray(image.pixel(x, y)) - plate) > 120) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return bottom - top + 1;
}

// A host's property read that the client never collects.
bool readProperty(UnreadClient& client, const QString& service, const QString& property)
{
    QByteArray body = UnreadClient::text(QStringLiteral("org.kde.StatusNotifierItem"));
    body.append(QByteArray(UnreadClient::pad(body.size(), 4), '\0')).append(UnreadClient::text(property));
    return client.send(service, QString::fromLatin1(StatusNotifierItem::kItemPath),
                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), "ss", body);
}

class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        NSStatusBar::setSystemTrayAvailableForTesting(std::nullopt);
        NSStatusItem::setHostKindForTesting(NSStatusItem::Host::Icons);
        watcher = std::make_unique<FakeWatcher>();
    }
    void TearDown() override
    {
        NSAppearance::forceDarkModeForTesting(std::nullopt);
        NSStatusItem::setHostKindForTesting(std::nullopt);
        NSStatusItem::setTrayProgramForTesting(std::nullopt);
        NSStatusBar::setSystemTrayAvailableForTesting(std::nullopt);
    }

    std::unique_ptr<NSStatusItem> makeItem()
    {
        std::unique_ptr<NSStatusItem> item(NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength, nullptr));
        EXPECT_TRUE(item && item->backend() == NSStatusItem::Backend::StatusNotifier);
        return item;
    }

    std::unique_ptr<FakeWatcher> watcher;
};

TEST_F(StatusItemTest, IconHostsGetOneLargeSquarePerValueInOrder)
{
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setImageName(QStringLiteral("bar_icon"));
    item->setValueNames({QStringLiteral("CPU Proximity"), QStringLiteral("GPU Die"), QStringLiteral("Left Fan")});
    item->setTitle(QStringLiteral(" 73° -- 2447rpm"));
    const QList<StatusNotifierItem*> items = item->statusNotifierItems();
    ASSERT_EQ(items.size(), 4);
    ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 4; })) << watcher->registered.join(' ').toStdString();
    // A tray that puts newcomers last (this test's watcher, waybar, LXQt): the first square first.
    EXPECT_EQ(watcher->registered, (QStringList{items[0]->serviceName(), items[1]->serviceName(),
                                                items[2]->serviceName(), items[3]->serviceName()}));

    const QList<NSStatusItem::Cell> expected{{QStringLiteral("bar_icon"), {}},
                                             {{}, QStringLiteral("73°")},
                                             {{}, QStringLiteral("--")},
                                             {{}, QStringLiteral("2447rpm")}};
    const QStringList tips{QStringLiteral("Kelvara"), QStringLiteral("CPU Proximity: 73°"), QStringLiteral("GPU Die: --"),
                           QStringLiteral("Left Fan: 2447rpm")};
    const bool dark = NSAppearance::isDarkAqua();
    for (qsizetype i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        const StatusNotifierPixmaps icon = hostReadsIcon(items[i]);
        ASSERT_EQ(icon.size(), qsizetype(std::size(NSStatusItem::kIconSizes)));
        const auto found = std::find_if(icon.begin(), icon.end(), [](const auto& p) { return p.width == 22; });
        ASSERT_NE(found, icon.end());
        EXPECT_EQ(found->height, 22);
        EXPECT_TRUE(found->bytes == square22(expected[i], dark).bytes);
        // Each value's square names its sensor and value first, then the whole title.
        const StatusNotifierToolTip tip = hostReadsToolTip(items[i]);
        EXPECT_EQ(tip.title, tips[i]);
        EXPECT_EQ(tip.text, i == 0 ? QStringLiteral("73° -- 2447rpm") : QStringLiteral("Kelvara: 73° -- 2447rpm"));
        EXPECT_EQ(hostReads(items[i], QStringLiteral("XAyatanaOrderingIndex")).toUInt(), uint(i));
        EXPECT_TRUE(hostReads(items[i], QStringLiteral("XAyatanaLabel")).toString().isEmpty());
        EXPECT_FALSE(hostReads(items[i], QStringLiteral("ItemIsMenu")).toBool());
    }
    // Titles that sort in the squares' order (Plasma sorts by title), then what the square shows.
    EXPECT_EQ(hostReads(items[0], QStringLiteral("Title")).toString(), QStringLiteral("Kelvara Menu 01 73° -- 2447rpm"));
    EXPECT_EQ(hostReads(items[3], QStringLiteral("Title")).toString(), QStringLiteral("Kelvara Menu 04 Left Fan 2447rpm"));
    // Large in a 22-pixel square, light or dark (a tray shrinks one wide picture to 5-pixel digits).
    EXPECT_GE(inkHeight(NSStatusItem::renderCell(expected[1], 22, 1, false)), 10);
    EXPECT_GE(inkHeight(NSStatusItem::renderCell(expected[1], 22, 1, true)), 10);
    EXPECT_GE(inkHeight(NSStatusItem::renderCell(expected[3], 22, 1, false)), 8);

    // A new reading changes that square alone; the icon off drops its square.
    item->setTitle(QStringLiteral(" 74° -- 2447rpm"));
    EXPECT_EQ(item->statusNotifierItems(), items);
    EXPECT_TRUE(hostReadsIcon(items[1]).contains(square22({{}, QStringLiteral("74°")}, dark)));
    EXPECT_EQ(hostReadsToolTip(items[1]).title, QStringLiteral("CPU Proximity: 74°"));
    EXPECT_EQ(hostReadsToolTip(items[3]).text, QStringLiteral("Kelvara: 74° -- 2447rpm"));
    // Values beyond the last square are still in every square's tool tip.
    item->setTitle(QStringLiteral(" 1° 2° 3° 4° 5° 6° 7° 8° 9° 10°"));
    ASSERT_EQ(item->statusNotifierItems().size(), NSStatusItem::kMaxValueIcons + 1);
    EXPECT_EQ(hostReadsToolTip(item->statusNotifierItems().last()).text, QStringLiteral("Kelvara: 1° 2° 3° 4° 5° 6° 7° 8° 9° 10°"));
    EXPECT_EQ(hostReads(item->statusNotifierItems().first(), QStringLiteral("Title")).toString(),
              QStringLiteral("Kelvara Menu 01 1° 2° 3° 4° 5° 6° 7° 8° 9° 10°"));
    item->setTitle(QStringLiteral(" 74° -- 2447rpm"));
    item->setImageName(QString());
    ASSERT_EQ(item->statusNotifierItems().size(), 3);
    EXPECT_TRUE(hostReadsIcon(item->statusNotifierItems()[0]).contains(square22({{}, QStringLiteral("74°")}, dark)));
    EXPECT_EQ(hostReadsToolTip(item->statusNotifierItems()[0]).title, QStringLiteral("CPU Proximity: 74°"));
    item->setTitle(QString());
    EXPECT_TRUE(item->statusNotifierItems().isEmpty());
}

TEST_F(StatusItemTest, SquaresRegisterInTheOrderTheRunningTraysRuleNeeds)
{
    // Newcomers first: Xfce's tray (or its plugin wrapper), and swaybar, which lays
    // items out from the right end.
    for (const char* program : {"xfce4-panel", "/usr/bin/xfce4-panel", "/usr/lib/x86_64-linux-gnu/xfce4/panel/wrapper-2.0",
                                "/usr/libexec/xfce4/panel/wrapper-2.0", "swaybar", "/usr/bin/swaybar"})
        EXPECT_EQ(NSStatusItem::placementOf(QString::fromLatin1(program)), NSStatusItem::Placement::First) << program;
    // Xfce's tray by its path, not by a path that names Xfce somewhere.
    for (const char* program : {"waybar", "/usr/bin/waybar", "lxqt-panel", "kded5", "/usr/bin/gnome-shell", "",
                                "/home/me/xfce4-tools/waybar", "/usr/bin/xfce4-panel-profiles", "/opt/xfce4/panel/lxqt-panel"})
        EXPECT_EQ(NSStatusItem::placementOf(QString::fromLatin1(program)), NSStatusItem::Placement::Last) << program;

    // A tray of two rows fills them column by column: the icon and the three values
    // read row by row when the places hold icon, second value, first value, third value.
    EXPECT_EQ(NSStatusItem::displayOrder(4, 1), (QList<int>{0, 1, 2, 3}));
    EXPECT_EQ(NSStatusItem::displayOrder(4, 2), (QList<int>{0, 2, 1, 3}));
    EXPECT_EQ(NSStatusItem::displayOrder(3, 2), (QList<int>{0, 2, 1}));
    EXPECT_EQ(NSStatusItem::displayOrder(2, 3), (QList<int>{0, 1}));
    // Xfce's rows: the tray plugin's panel size over its icons' size.
    QVariantMap panel{{QStringLiteral("/plugins/plugin-1"), QStringLiteral("separator")},
                      {QStringLiteral("/plugins/plugin-2"), QStringLiteral("systray")},
                      {QStringLiteral("/panels/panel-1/plugin-ids"), QVariantList{1, 2, 3}},
                      {QStringLiteral("/panels/panel-1/size"), 48}};
    EXPECT_EQ(NSStatusItem::xfceTrayRows(panel), 2);
    panel[QStringLiteral("/panels/panel-1/size")] = 28;
    EXPECT_EQ(NSStatusItem::xfceTrayRows(panel), 1);
    panel[QStringLiteral("/panels/panel-1/size")] = 48;
    panel[QStringLiteral("/plugins/plugin-2/single-row")] = true;
    EXPECT_EQ(NSStatusItem::xfceTrayRows(panel), 1);
    EXPECT_EQ(NSStatusItem::xfceTrayRows({}), 1);

    // The registration itself, as the watcher hears it: swaybar gets the last square
    // first; Xfce's tray of two rows (asked of its settings), the places that read row by row.
    panel.remove(QStringLiteral("/plugins/plugin-2/single-row"));
    FakeXfconf xfconf(panel);
    for (const auto& [program, order] : {std::pair{"/usr/bin/swaybar", QList<int>{3, 2, 1, 0}},
                                         std::pair{"xfce4-panel", QList<int>{3, 1, 2, 0}}}) {
        SCOPED_TRACE(program);
        NSStatusItem::setTrayProgramForTesting(QString::fromLatin1(program));
        watcher->registered.clear();
        auto item = makeItem();
        ASSERT_TRUE(item);
        item->setImageName(QStringLiteral("bar_icon"));
        item->setTitle(QStringLiteral(" 73° 51° 2447rpm"));
        const QList<StatusNotifierItem*> items = item->statusNotifierItems();
        ASSERT_EQ(items.size(), 4);
        ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 4; })) << watcher->registered.join(' ').toStdString();
        QStringList expected;
        for (int square : order)
            expected << items[square]->serviceName();
        EXPECT_EQ(watcher->registered, expected) << watcher->registered.join(' ').toStdString();
    }
    EXPECT_EQ(xfconf.asked, 1);
}

TEST_F(StatusItemTest, AnXfconfThatNeverAnswersHoldsNeitherTheMenuNorItsSquares)
{
    // Xfce's tray, whose settings service hangs, and whose watcher restarts 25 times at once.
    NSStatusItem::setTrayProgramForTesting(QStringLiteral("xfce4-panel"));
    FakeXfconf xfconf(std::nullopt);
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setTitle(QStringLiteral(" 73° 51°"));
    const QList<StatusNotifierItem*> items = item->statusNotifierItems();
    ASSERT_EQ(items.size(), 2);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 25; ++i) {
        watcher->stop();
        watcher->start();
    }
    // The last watcher gets each square once, in one row, newcomers first, once the
    // settings had their time (not once per appearance of a watcher).
    ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 2; })) << watcher->registered.join(' ').toStdString();
    EXPECT_LT(clock.elapsed(), 4 * NSStatusItem::kSettingsTimeoutMs);
    drainMainQueue();
    EXPECT_EQ(watcher->registered, (QStringList{items[1]->serviceName(), items[0]->serviceName()}));
}

TEST_F(StatusItemTest, SquareTitlesSortInTheSquaresOrderAsPlasmaSortsThem)
{
    // Sensors whose names and values sort against their places, past nine squares.
    QStringList titles;
    for (int square = 0; square < 12; ++square)
        titles << NSStatusItem::squareTitle(square, QStringLiteral("%1 Sensor %2°").arg(QChar(u'Z' - square)).arg(100 - square * 9));
    for (const char* locale : {"en_US", "de_DE", "sv_SE", "C"}) {
        for (int mode = 0; mode < 4; ++mode) {
            QCollator collator{QLocale(QString::fromLatin1(locale))};
            collator.setNumericMode(mode & 1);
            collator.setIgnorePunctuation(mode & 2);
            QStringList sorted = titles;
            std::sort(sorted.begin(), sorted.end(), collator);
            EXPECT_EQ(sorted, titles) << locale << " numeric " << (mode & 1) << " ignoring punctuation " << (mode & 2);
        }
    }
}

TEST_F(StatusItemTest, EveryItemExportsAValidMenuThatAHostCanRead)
{
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setTitle(QStringLiteral(" 73° 51°"));
    const StatusNotifierItem* square = item->statusNotifierItems().value(0);
    ASSERT_TRUE(square);
    const auto menuPath = qvariant_cast<QDBusObjectPath>(hostReads(square, QStringLiteral("Menu")));
    ASSERT_EQ(menuPath.path(), QStringLiteral("/MenuBar"));
    const QString menu = QStringLiteral("com.canonical.dbusmenu");
    QDBusMessage layout = hostCalls(square, menuPath.path(), menu, QStringLiteral("GetLayout"),
                                    {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    EXPECT_EQ(layout.signature(), QStringLiteral("u(ia{sv}av)"));
    QDBusMessage version = hostCalls(square, menuPath.path(), QStringLiteral("org.freedesktop.DBus.Properties"),
                                     QStringLiteral("Get"), {menu, QStringLiteral("Version")});
    ASSERT_EQ(version.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(qvariant_cast<QDBusVariant>(version.arguments().value(0)).variant().toUInt(), 3u);
    QDBusMessage show = hostCalls(square, menuPath.path(), menu, QStringLiteral("AboutToShow"), {0});
    EXPECT_EQ(show.type(), QDBusMessage::ReplyMessage);
}

TEST_F(StatusItemTest, LabelHostsGetOneItemWithTheWholeTitle)
{
    NSStatusItem::setHostKindForTesting(std::nullopt);
    const QByteArray previousDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    for (const char* desktop : {"ubuntu:GNOME", "Budgie:GNOME", "Unity"}) {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        EXPECT_EQ(NSStatusItem::hostKind(), NSStatusItem::Host::Label) << desktop;
    }
    for (const char* desktop : {"KDE", "XFCE", ""}) {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        EXPECT_EQ(NSStatusItem::hostKind(), NSStatusItem::Host::Icons) << desktop;
    }
    qputenv("XDG_CURRENT_DESKTOP", previousDesktop);

    NSStatusItem::setHostKindForTesting(NSStatusItem::Host::Label);
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setImageName(QStringLiteral("bar_icon"));
    item->setTitle(QStringLiteral(" 73° -- 2447rpm"));
    const QList<StatusNotifierItem*> items = item->statusNotifierItems();
    ASSERT_EQ(items.size(), 1);
    ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 1; }));
    // Under the connection's unique name: GNOME's extension loses items it must watch a well-known name for.
    EXPECT_EQ(watcher->registered.value(0),
              QDBusConnection::sessionBus().interface()->serviceOwner(items[0]->serviceName()).value());
    EXPECT_TRUE(watcher->registered.value(0).startsWith(QLatin1Char(':')));
    EXPECT_EQ(hostReads(items[0], QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("73° -- 2447rpm"));
    EXPECT_TRUE(hostReadsIcon(items[0]).contains(square22({QStringLiteral("bar_icon"), {}})));
    // GNOME opens the item's menu on a single click: the menu tells us, and the click opens the popover.
    int clicks = 0;
    QRect anchor;
    QObject::connect(item.get(), &NSStatusItem::action, [&] {
        ++clicks;
        anchor = item->buttonBounds();
    });
    const QString menuPath = QStringLiteral("/MenuBar");
    const QString menu = QStringLiteral("com.canonical.dbusmenu");
    const QDBusMessage layout = hostCalls(items[0], menuPath, menu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    const QDBusArgument root = qvariant_cast<QDBusArgument>(layout.arguments().value(1));
    int rootId = -1;
    QVariantMap rootProperties;
    QList<QDBusVariant> children;
    root.beginStructure();
    root >> rootId >> rootProperties >> children;
    root.endStructure();
    EXPECT_EQ(rootId, 0);
    EXPECT_EQ(children.size(), 1);
    StatusListener listener(items[0]);
    drainMainQueue();
    hostCalls(items[0], menuPath, menu, QStringLiteral("Event"),
              {0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(0)), 0u});
    // The host's menu closes again at once: GNOME closes it when it hides the item;
    // the popover opens once it did, and the item shows again.
    ASSERT_TRUE(waitUntil([&] { return listener.statuses.size() == 1; }));
    EXPECT_EQ(hostReads(items[0], QStringLiteral("Status")).toString(), QStringLiteral("Passive"));
    hostCalls(items[0], menuPath, menu, QStringLiteral("Event"),
              {0, QStringLiteral("closed"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(waitUntil([&] { return clicks == 1; }));
    // No position comes with it: the popover opens at the bar's right end, where the label is.
    EXPECT_EQ(anchor.topLeft(), QGuiApplication::primaryScreen()->geometry().topRight());
    ASSERT_TRUE(waitUntil([&] { return listener.statuses.size() == 2; })) << listener.statuses.join(' ').toStdString();
    EXPECT_EQ(listener.statuses, (QStringList{QStringLiteral("Passive"), QStringLiteral("Active")}));
    EXPECT_EQ(hostReads(items[0], QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    // The icon off: the label alone, without an empty square or the host's placeholder.
    item->setImageName(QString());
    ASSERT_EQ(item->statusNotifierItems().size(), 1);
    const StatusNotifierPixmaps clear = hostReadsIcon(item->statusNotifierItems()[0]);
    ASSERT_FALSE(clear.isEmpty());
    for (const StatusNotifierPixmap& pixmap : clear)
        EXPECT_EQ(pixmap.bytes.count('\0'), pixmap.bytes.size());
    EXPECT_EQ(hostReads(item->statusNotifierItems()[0], QStringLiteral("XAyatanaLabel")).toString(),
              QStringLiteral("73° -- 2447rpm"));
    item->setImageName(QStringLiteral("bar_icon"));
    // Temperatures off: the icon alone, without a label.
    item->setTitle(QString());
    ASSERT_EQ(item->statusNotifierItems().size(), 1);
    EXPECT_TRUE(hostReads(item->statusNotifierItems()[0], QStringLiteral("XAyatanaLabel")).toString().isEmpty());
}

TEST_F(StatusItemTest, ItemsRegisterAgainWhenTheWatcherComesBack)
{
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setImageName(QStringLiteral("bar_icon"));
    item->setTitle(QStringLiteral(" 73° 51°"));
    ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 3; }));
    const QStringList first = watcher->registered;

    // The panel restarts.
    watcher->stop();
    watcher->registered.clear();
    drainMainQueue();
    watcher->start();
    ASSERT_TRUE(waitUntil([&] { return watcher->registered.size() == 3; })) << watcher->registered.join(' ').toStdString();
    EXPECT_EQ(watcher->registered, first);

    // Another panel's watcher takes the name over without a gap.
    FakeWatcher successor(QStringLiteral("successor-watcher"), false);
    successor.start(QDBusConnectionInterface::ReplaceExistingService);
    ASSERT_TRUE(waitUntil([&] { return successor.registered.size() == 3; })) << successor.registered.join(' ').toStdString();
    EXPECT_EQ(successor.registered, first);
}

TEST_F(StatusItemTest, ANewSchemeRedrawsTheSquaresWithoutANewReading)
{
    NSAppearance::forceDarkModeForTesting(false);
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setImageName(QStringLiteral("bar_icon"));
    const StatusNotifierItem* square = item->statusNotifierItems().value(0);
    ASSERT_TRUE(square);
    const StatusNotifierPixmap dark = square22({QStringLiteral("bar_icon"), {}}, true);
    EXPECT_FALSE(hostReadsIcon(square).contains(dark));
    NSAppearance::forceDarkModeForTesting(true);
    NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(NSAppearance::themeChangedNotification());
    EXPECT_TRUE(waitUntil([&] { return hostReadsIcon(square).contains(dark); }));
}

TEST_F(StatusItemTest, AFloodOfClicksFromTheBusTogglesNoMoreThanAPersonCould)
{
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setTitle(QStringLiteral(" 73° 51°"));
    int clicks = 0;
    QObject::connect(item.get(), &NSStatusItem::action, [&] { ++clicks; });
    ASSERT_EQ(item->statusNotifierItems().size(), 2);
    QElapsedTimer flood;
    flood.start();
    for (int i = 0; i < 1000; ++i) {
        const StatusNotifierItem* square = item->statusNotifierItems()[i % 2];
        hostClicks(square, 10, 10, i % 3 ? QStringLiteral("Activate") : QStringLiteral("SecondaryActivate"));
    }
    // Answered after every call before it.
    hostReads(item->statusNotifierItems()[0], QStringLiteral("Title"));
    drainMainQueue();
    EXPECT_GE(clicks, 1);
    EXPECT_LE(clicks, NSStatusItem::kMaxClicksPerSecond * (flood.elapsed() / 1000 + 1));
}

TEST_F(StatusItemTest, AClientThatNeverReadsItsAnswersPinsNoMemory)
{
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setImageName(QStringLiteral("bar_icon"));
    StatusNotifierItem* square = item->statusNotifierItems().value(0);
    ASSERT_TRUE(square);
    {
        UnreadClient client;
        ASSERT_TRUE(client.isValid());
        for (int i = 0; i < 20000; ++i)
            ASSERT_TRUE(readProperty(client, square->serviceName(), QStringLiteral("IconPixmap")));
        // Past a few MB of unsent answers the item answers nothing more (answers on
        // their way to the bus thread still arrive: some MB over, not the 300 MB asked for).
        ASSERT_TRUE(waitUntil([&] { return square->answersHeldBack() > 0; }, 60000));
        EXPECT_LE(square->queuedBytes(), 5 * StatusNotifierItem::kMaxQueuedBytes);
    }
    // The client gone, the bus drops its answers and the item answers again.
    EXPECT_TRUE(waitUntil([&] { return square->queuedBytes() == 0; }, 60000));
    EXPECT_FALSE(hostReadsIcon(square).isEmpty());
}

class StatusItemClickTest : public StatusItemTest {
protected:
    void SetUp() override
    {
        StatusItemTest::SetUp();
        ASSERT_TRUE(startAfresh());
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setShowIconInMenu(true);
        settings.setShowTempInMenu(false);
        ASSERT_NE(KLCoreDataHelper::sharedInstance().masterContext(), nullptr);
    }
    KLMenuBarController controller;
};

TEST_F(StatusItemClickTest, TheHostsClickPointAnchorsAndTogglesThePopover)
{
    controller.awakeFromNib();
    ASSERT_TRUE(waitUntil([&] { return controller.statusItem() != nullptr; }));
    const QList<StatusNotifierItem*> items = controller.statusItem()->statusNotifierItems();
    ASSERT_EQ(items.size(), 1);
    NSPopover* popover = controller.popover();
    const QRect screen = popover->window()->screen()->availableGeometry();

    // Below the item of a top panel, its arrow on the clicked point.
    const int x = screen.center().x();
    hostClicks(items[0], x, screen.top() + 5);
    ASSERT_TRUE(waitUntil([&] { return popover->isShown(); }));
    QRect frame = popover->window()->geometry();
    EXPECT_EQ(popover->shownEdge(), NSRectEdgeMinY);
    EXPECT_LE(std::abs(frame.center().x() - x), 1) << frame.center().x();
    EXPECT_EQ(frame.top(), screen.top() + 6);

    // The item's click while shown closes it.
    hostClicks(items[0], x, screen.top() + 5);
    ASSERT_TRUE(waitUntil([&] { return !popover->isShown(); }));
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);

    // Above the item of a bottom panel, inside the screen.
    hostClicks(items[0], x - 50, screen.bottom() - 3);
    ASSERT_TRUE(waitUntil([&] { return popover->isShown(); }));
    frame = popover->window()->geometry();
    EXPECT_EQ(popover->shownEdge(), NSRectEdgeMaxY);
    EXPECT_LE(std::abs(frame.center().x() - (x - 50)), 1);
    EXPECT_TRUE(screen.contains(frame));
    EXPECT_LE(frame.bottom(), screen.bottom() - 4);
}

TEST_F(StatusItemClickTest, AClickOnAnXEmbedIconTogglesInsteadOfReopening)
{
    NSStatusBar::setSystemTrayAvailableForTesting(true);
    controller.awakeFromNib();
    NSStatusItem* item = controller.statusItem();
    ASSERT_NE(item, nullptr);
    NSPopover* popover = controller.popover();
    item->performClick({400, 5});
    ASSERT_TRUE(popover->isShown());

    // The tray icon is a window of ours: its press reaches the click monitor
    // before the tray reports the click.
    QWidget trayIcon;
    trayIcon.setGeometry(600, 0, 22, 22);
    trayIcon.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&trayIcon));
    trayIcon.windowHandle()->setProperty(NSStatusItemWindowProperty, true);
    QTest::mouseClick(trayIcon.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(popover->isShown());
    item->performClick({610, 10});
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);

    // A panel that takes the focus first: we turn inactive, then its click arrives.
    item->performClick({610, 10});
    ASSERT_TRUE(popover->isShown());
    NSEvent::deactivateApplicationForTesting();
    EXPECT_FALSE(popover->isShown());
    item->performClick({610, 10});
    EXPECT_FALSE(popover->isShown());
    // A later click opens it again.
    EXPECT_TRUE(waitUntil([&] {
        item->performClick({610, 10});
        return popover->isShown();
    }));
}

}  // namespace

#include "StatusItemTest.moc"
