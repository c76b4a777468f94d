#include "StatusNotifierItem.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDBusVirtualObject>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QScreen>
#include <QtEndian>

#include "SessionBus.h"

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& toolTip)
{
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.icon << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& toolTip)
{
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.icon >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

// An entry of the item's menu and its properties, as hosts ask for them in groups.
struct MenuEntryProperties {
    int id = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(MenuEntryProperties)

QDBusArgument& operator<<(QDBusArgument& argument, const MenuEntryProperties& entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEntryProperties& entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

namespace {

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<StatusNotifierPixmap>();
        qDBusRegisterMetaType<StatusNotifierPixmaps>();
        qDBusRegisterMetaType<StatusNotifierToolTip>();
        qDBusRegisterMetaType<MenuEntryProperties>();
        qDBusRegisterMetaType<QList<MenuEntryProperties>>();
        return true;
    }();
    Q_UNUSED(done);
}

// Hosts on X11 send the root window's pixels; Qt places windows in device-independent ones.
QPoint logicalFromNative(const QPoint& native)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRect nativeRect(logical.topLeft(), logical.size() * ratio);
        if (nativeRect.contains(native))
            return logical.topLeft() + (native - logical.topLeft()) / ratio;
    }
    return native;
}

}  // namespace

namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The menu's version of the protocol and its own properties.
QVariantMap menuProperties()
{
    return {{QStringLiteral("Version"), uint(3)},
            {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
            {QStringLiteral("Status"), QStringLiteral("normal")},
            {QStringLiteral("IconThemePath"), QStringList()}};
}

const char* const kItemIntrospection = R"xml(<interface name="org.kde.StatusNotifierItem">
<property name="Category" type="s" access="read"/><property name="Id" type="s" access="read"/>
<property name="Title" type="s" access="read"/><property name="Status" type="s" access="read"/>
<property name="WindowId" type="i" access="read"/><property name="IconThemePath" type="s" access="read"/>
<property name="IconName" type="s" access="read"/><property name="IconPixmap" type="a(iiay)" access="read"/>
<property name="OverlayIconName" type="s" access="read"/><property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
<property name="AttentionIconName" type="s" access="read"/><property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
<property name="AttentionMovieName" type="s" access="read"/><property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
<property name="ItemIsMenu" type="b" access="read"/><property name="Menu" type="o" access="read"/>
<property name="XAyatanaLabel" type="s" access="read"/><property name="XAyatanaLabelGuide" type="s" access="read"/>
<property name="XAyatanaOrderingIndex" type="u" access="read"/>
<method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
<method name="ProvideXdgActivationToken"><arg type="s" direction="in"/></method>
<signal name="NewTitle"/><signal name="NewIcon"/><signal name="NewAttentionIcon"/><signal name="NewOverlayIcon"/>
<signal name="NewToolTip"/><signal name="NewStatus"><arg type="s"/></signal>
<signal name="XAyatanaNewLabel"><arg type="s"/><arg type="s"/></signal>
</interface>
)xml";

const char* const kMenuIntrospection = R"xml(<interface name="com.canonical.dbusmenu">
<property name="Version" type="u" access="read"/><property name="TextDirection" type="s" access="read"/>
<property name="Status" type="s" access="read"/><property name="IconThemePath" type="as" access="read"/>
<method name="GetLayout"><arg type="i" direction="in"/><arg type="i" direction="in"/><arg type="as" direction="in"/>
<arg type="u" direction="out"/><arg type="(ia{sv}av)" direction="out"/></method>
<method name="GetGroupProperties"><arg type="ai" direction="in"/><arg type="as" direction="in"/>
<arg type="a(ia{sv})" direction="out"/></method>
<method name="GetProperty"><arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
<method name="Event"><arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="in"/>
<arg type="u" direction="in"/></method>
<method name="EventGroup"><arg type="a(isvu)" direction="in"/><arg type="ai" direction="out"/></method>
<method name="AboutToShow"><arg type="i" direction="in"/><arg type="b" direction="out"/></method>
<method name="AboutToShowGroup"><arg type="ai" direction="in"/><arg type="ai" direction="out"/><arg type="ai" direction="out"/></method>
<signal name="ItemsPropertiesUpdated"><arg type="a(ia{sv})"/><arg type="a(ias)"/></signal>
<signal name="LayoutUpdated"><arg type="u"/><arg type="i"/></signal>
<signal name="ItemActivationRequested"><arg type="i"/><arg type="u"/></signal>
</interface>
)xml";

// The one entry's properties: nothing to read, it only opens the item.
QVariantMap entryProperties()
{
    return {{QStringLiteral("label"), QStringLiteral("Kelvara")}, {QStringLiteral("enabled"), true}};
}

QDBusArgument layoutOf(int id, const QVariantMap& properties, const QList<QDBusArgument>& children)
{
    QDBusArgument layout;
    layout.beginStructure();
    layout << id << properties;
    layout.beginArray(qMetaTypeId<QDBusVariant>());
    for (const QDBusArgument& child : children)
        layout << QDBusVariant(QVariant::fromValue(child));
    layout.endArray();
    layout.endStructure();
    return layout;
}

}  // namespace

// The item's objects on its connection, answered by hand: property reads come
// from the prebuilt map, and nothing is answered while the bus does not take
// what was answered before.
class StatusNotifierItemObject : public QDBusVirtualObject {
public:
    explicit StatusNotifierItemObject(StatusNotifierItem* item)
        : m_item(item)
    {
    }

    QString introspect(const QString& path) const override
    {
        if (path == QLatin1String(StatusNotifierItem::kItemPath))
            return QString::fromLatin1(kItemIntrospection);
        if (path == QLatin1String(StatusNotifierItem::kMenuPath))
            return QString::fromLatin1(kMenuIntrospection);
        return {};
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        if (SessionBus::answersHeldBack(connection)) {
            // Unread answers pile up in this process: the caller waits in vain.
            ++m_item->m_heldBack;
            return true;
        }
        const bool menu = message.path() == QLatin1String(StatusNotifierItem::kMenuPath);
        if (message.interface() == kPropertiesInterface)
            return properties(message, connection, menu);
        return menu ? menuCall(message, connection) : itemCall(message, connection);
    }

private:
    bool properties(const QDBusMessage& message, const QDBusConnection& connection, bool menu)
    {
        const QVariantList arguments = message.arguments();
        const QString interface = arguments.value(0).toString();
        const QString& expected = menu ? kMenuInterface : kItemInterface;
        const QVariantMap all = menu ? menuProperties() : m_item->properties();
        if (message.member() == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
            connection.send(message.createReply(QVariant::fromValue(interface == expected ? all : QVariantMap())));
            return true;
        }
        if (message.member() == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
            const auto found = all.constFind(arguments.value(1).toString());
            if (interface != expected || found == all.cend()) {
                connection.send(message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("No such property")));
                return true;
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(*found))));
            return true;
        }
        if (message.member() == QLatin1String("Set")) {
            connection.send(message.createErrorReply(QDBusError::PropertyReadOnly, QStringLiteral("Read-only property")));
            return true;
        }
        return false;
    }

    bool itemCall(const QDBusMessage& message, const QDBusConnection& connection)
    {
        if (message.interface() != kItemInterface && !message.interface().isEmpty())
            return false;
        const QString& member = message.member();
        const bool click = member == QLatin1String("Activate") || member == QLatin1String("SecondaryActivate") ||
                           member == QLatin1String("ContextMenu");
        if (click && message.signature() == QLatin1String("ii")) {
            // No menu of our own: the popover is the item's whole interface, for every button.
            connection.send(message.createReply());
            m_item->activate(message.arguments().value(0).toInt(), message.arguments().value(1).toInt());
            return true;
        }
        // GNOME hands over a window activation token before it activates the item:
        // accepted, since the popover needs none (an unknown method is logged there).
        const bool token = member == QLatin1String("ProvideXdgActivationToken") && message.signature() == QLatin1String("s");
        if (token || (member == QLatin1String("Scroll") && message.signature() == QLatin1String("is"))) {
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

    bool menuCall(const QDBusMessage& message, const QDBusConnection& connection)
    {
        if (message.interface() != kMenuInterface && !message.interface().isEmpty())
            return false;
        const QString& member = message.member();
        const QString signature = message.signature();
        const QVariantList arguments = message.arguments();
        const bool entry = m_item->menuOpensItem();
        if (member == QLatin1String("GetLayout") && signature == QLatin1String("iias")) {
            const int parent = arguments.value(0).toInt();
            QDBusMessage reply = message.createReply();
            QList<QDBusArgument> children;
            if (parent == 0 && entry && arguments.value(1).toInt() != 0)
                children.append(layoutOf(1, entryProperties(), {}));
            const QVariantMap rootProperties{{QStringLiteral("children-display"), QStringLiteral("submenu")}};
            if (parent == 0)
                reply << m_item->m_menuRevision << QVariant::fromValue(layoutOf(0, rootProperties, children));
            else if (parent == 1 && entry)
                reply << m_item->m_menuRevision << QVariant::fromValue(layoutOf(1, entryProperties(), {}));
            else
                reply = message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such menu entry"));
            connection.send(reply);
            return true;
        }
        if (member == QLatin1String("GetGroupProperties") && signature == QLatin1String("aias")) {
            QList<MenuEntryProperties> found;
            if (entry && qdbus_cast<QList<int>>(arguments.value(0)).contains(1))
                found.append({1, entryProperties()});
            connection.send(message.createReply(QVariant::fromValue(found)));
            return true;
        }
        if (member == QLatin1String("GetProperty") && signature == QLatin1String("is")) {
            const QVariant value = arguments.value(0).toInt() == 1 && entry
                                       ? entryProperties().value(arguments.value(1).toString())
                                       : QVariant();
            connection.send(value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                            : message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property")));
            return true;
        }
        if (member == QLatin1String("Event") && signature == QLatin1String("isvu")) {
            connection.send(message.createReply());
            const int id = arguments.value(0).toInt();
            const QString event = arguments.value(1).toString();
            // The host opened the menu on a single click: the popover is the click's
            // answer, and the host's menu must not stay open beside it.
            if (entry && id == 0 && event == QLatin1String("opened"))
                m_item->menuOpened();
            else if (id == 0 && event == QLatin1String("closed"))
                m_item->menuClosed();
            return true;
        }
        if (member == QLatin1String("EventGroup") && signature == QLatin1String("a(isvu)")) {
            connection.send(message.createReply(QVariant::fromValue(QList<int>())));
            return true;
        }
        if (member == QLatin1String("AboutToShow") && signature == QLatin1String("i")) {
            connection.send(message.createReply(false));
            return true;
        }
        if (member == QLatin1String("AboutToShowGroup") && signature == QLatin1String("ai")) {
            QDBusMessage reply = message.createReply();
            reply << QVariant::fromValue(QList<int>()) << QVariant::fromValue(QList<int>());
            connection.send(reply);
            return true;
        }
        return false;
    }

    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(const QString& id, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_object(std::make_unique<StatusNotifierItemObject>(this))
{
    registerTypes();
    m_menuClosing.setSingleShot(true);
    // For hosts that do not close their menu when the item turns passive.
    m_menuClosing.setInterval(3000);
    connect(&m_menuClosing, &QTimer::timeout, this, &StatusNotifierItem::menuClosed);
    // Never reused within the process, so a host never confuses an old item with a new one.
    static QAtomicInt counter;
    const int number = counter.fetchAndAddRelaxed(1) + 1;
    const qint64 pid = QCoreApplication::applicationPid();
    m_connectionName = QStringLiteral("kelvara-status-item-%1").arg(number);
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(pid).arg(number);

    QDBusConnection connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    m_valid = connection.isConnected() && connection.registerService(m_service) &&
              connection.registerVirtualObject(QString::fromLatin1(kItemPath), m_object.get()) &&
              connection.registerVirtualObject(QString::fromLatin1(kMenuPath), m_object.get());
}

StatusNotifierItem::~StatusNotifierItem()
{
    // Closing the connection drops the name: the watcher forgets the item at once.
    QDBusConnection connection(m_connectionName);
    connection.unregisterObject(QString::fromLatin1(kItemPath));
    connection.unregisterObject(QString::fromLatin1(kMenuPath));
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool StatusNotifierItem::watcherPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService)).value();
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!m_valid)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService),
                                                       QString::fromLatin1(kWatcherPath),
                                                       QString::fromLatin1(kWatcherService),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    const QDBusConnection connection(m_connectionName);
    call << (m_registersUniqueName ? connection.baseService() : m_service);
    // Neither blocking nor waiting for the answer: a watcher that never answers
    // (or one in this very process) leaves no call pending.
    call.setAutoStartService(false);
    connection.send(call);
}

StatusNotifierPixmap StatusNotifierItem::pixmapFromImage(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const int width = argb.width();
    const int height = argb.height();
    StatusNotifierPixmap pixmap{width, height, {}};
    pixmap.bytes.resize(qsizetype(width) * height * 4);
    auto* out = reinterpret_cast<quint32*>(pixmap.bytes.data());
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < width; ++x)
            *out++ = qToBigEndian(line[x]);
    }
    return pixmap;
}

void StatusNotifierItem::setIcon(const QList<QImage>& images)
{
    StatusNotifierPixmaps pixmaps;
    pixmaps.reserve(images.size());
    for (const QImage& image : images) {
        if (!image.isNull())
            pixmaps.append(pixmapFromImage(image));
    }
    if (pixmaps == m_pixmaps)
        return;
    m_pixmaps = std::move(pixmaps);
    changed("NewIcon");
}

void StatusNotifierItem::setTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    changed("NewTitle");
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text)
{
    if (title == m_toolTipTitle && text == m_toolTipText)
        return;
    m_toolTipTitle = title;
    m_toolTipText = text;
    changed("NewToolTip");
}

void StatusNotifierItem::setLabel(const QString& label, const QString& guide)
{
    if (label == m_label && guide == m_labelGuide)
        return;
    m_label = label;
    m_labelGuide = guide;
    changed("XAyatanaNewLabel", {label, guide});
}

void StatusNotifierItem::setOrderingIndex(uint index)
{
    if (index == m_orderingIndex)
        return;
    m_orderingIndex = index;
    m_propertiesStale = true;
}

void StatusNotifierItem::setMenuOpensItem(bool opens)
{
    if (opens == m_menuOpensItem)
        return;
    m_menuOpensItem = opens;
    ++m_menuRevision;
    if (!m_valid)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kMenuPath), kMenuInterface,
                                                     QStringLiteral("LayoutUpdated"));
    signal << m_menuRevision << 0;
    QDBusConnection(m_connectionName).send(signal);
}

void StatusNotifierItem::changed(const char* signal, const QVariantList& arguments)
{
    m_propertiesStale = true;
    if (!m_valid)
        return;
    QDBusMessage message =
        QDBusMessage::createSignal(QString::fromLatin1(kItemPath), kItemInterface, QString::fromLatin1(signal));
    message.setArguments(arguments);
    QDBusConnection(m_connectionName).send(message);
}

const QVariantMap& StatusNotifierItem::properties() const
{
    if (!m_propertiesStale)
        return m_properties;
    const QString none;
    const QVariant noPixmaps = QVariant::fromValue(StatusNotifierPixmaps());
    m_properties = {
        {QStringLiteral("Category"), QStringLiteral("Hardware")},
        {QStringLiteral("Id"), m_id},
        {QStringLiteral("Title"), m_title},
        {QStringLiteral("Status"), status()},
        {QStringLiteral("WindowId"), 0},
        {QStringLiteral("IconThemePath"), none},
        {QStringLiteral("IconName"), none},
        {QStringLiteral("IconPixmap"), QVariant::fromValue(m_pixmaps)},
        {QStringLiteral("OverlayIconName"), none},
        {QStringLiteral("OverlayIconPixmap"), noPixmaps},
        {QStringLiteral("AttentionIconName"), none},
        {QStringLiteral("AttentionIconPixmap"), noPixmaps},
        {QStringLiteral("AttentionMovieName"), none},
        {QStringLiteral("ToolTip"), QVariant::fromValue(toolTip())},
        {QStringLiteral("ItemIsMenu"), false},
        {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kMenuPath)))},
        {QStringLiteral("XAyatanaLabel"), m_label},
        {QStringLiteral("XAyatanaLabelGuide"), m_labelGuide},
        {QStringLiteral("XAyatanaOrderingIndex"), m_orderingIndex},
    };
    m_propertiesStale = false;
    return m_properties;
}

qint64 StatusNotifierItem::queuedBytes() const
{
    return SessionBus::unsentBytes(QDBusConnection(m_connectionName));
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    return {QString(), {}, m_toolTipTitle, m_toolTipText};
}

QString StatusNotifierItem::status() const
{
    return m_passive ? QStringLiteral("Passive") : QStringLiteral("Active");
}

void StatusNotifierItem::menuOpened()
{
    // GNOME closes an item's menu only when it hides the item: passive until
    // the host says its menu closed.
    if (m_passive)
        return;
    m_passive = true;
    m_menuClosing.start();
    changed("NewStatus", {status()});
}

void StatusNotifierItem::menuClosed()
{
    if (!m_passive)
        return;
    m_passive = false;
    m_menuClosing.stop();
    changed("NewStatus", {status()});
    // Only now: the host's menu held the input, and a window shown meanwhile
    // lost the focus again when the menu closed.
    emit activatedFromMenu();
}

void StatusNotifierItem::activate(int x, int y)
{
    // Some hosts send 0, 0 for "no position".
    emit activated(x == 0 && y == 0 ? QPoint() : logicalFromNative({x, y}));
}

