#include "StatusNotifierItem.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QScreen>
#include <QtEndian>

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

namespace {

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<StatusNotifierPixmap>();
        qDBusRegisterMetaType<StatusNotifierPixmaps>();
        qDBusRegisterMetaType<StatusNotifierToolTip>();
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

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(StatusNotifierPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(StatusNotifierPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(StatusNotifierPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item)
        , m_item(item)
    {
    }

    QString category() const { return QStringLiteral("Hardware"); }
    QString id() const { return m_item->id(); }
    QString title() const { return m_item->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    StatusNotifierPixmaps iconPixmap() const { return m_item->iconPixmaps(); }
    StatusNotifierPixmaps noPixmaps() const { return {}; }
    StatusNotifierToolTip toolTip() const { return m_item->toolTip(); }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }
    QString label() const { return m_item->label(); }
    QString labelGuide() const { return m_item->labelGuide(); }
    uint orderingIndex() const { return 0; }

public slots:
    // No menu of our own: the popover is the item's whole interface, for every button.
    void Activate(int x, int y) { m_item->activate(x, y); }
    void SecondaryActivate(int x, int y) { m_item->activate(x, y); }
    void ContextMenu(int x, int y) { m_item->activate(x, y); }
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(const QString& id, QObject* parent)
    : QObject(parent)
    , m_id(id)
{
    registerTypes();
    // Never reused within the process, so a host never confuses an old item with a new one.
    static QAtomicInt counter;
    const int number = counter.fetchAndAddRelaxed(1) + 1;
    const qint64 pid = QCoreApplication::applicationPid();
    m_connectionName = QStringLiteral("kelvara-status-item-%1").arg(number);
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(pid).arg(number);
    m_adaptor = new StatusNotifierItemAdaptor(this);

    QDBusConnection connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    m_valid = connection.isConnected() && connection.registerService(m_service) &&
              connection.registerObject(QString::fromLatin1(kItemPath), this, QDBusConnection::ExportAdaptors);
}

StatusNotifierItem::~StatusNotifierItem()
{
    // Closing the connection drops the name: the watcher forgets the item at once.
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
    call << m_service;
    // Neither blocking nor waiting for the answer: a watcher that never answers
    // (or one in this very process) leaves no call pending.
    call.setAutoStartService(false);
    QDBusConnection(m_connectionName).send(call);
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
    emit m_adaptor->NewIcon();
}

void StatusNotifierItem::setTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit m_adaptor->NewTitle();
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text)
{
    if (title == m_toolTipTitle && text == m_toolTipText)
        return;
    m_toolTipTitle = title;
    m_toolTipText = text;
    emit m_adaptor->NewToolTip();
}

void StatusNotifierItem::setLabel(const QString& label, const QString& guide)
{
    if (label == m_label && guide == m_labelGuide)
        return;
    m_label = label;
    m_labelGuide = guide;
    emit m_adaptor->XAyatanaNewLabel(label, guide);
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    return {QString(), {}, m_toolTipTitle, m_toolTipText};
}

void StatusNotifierItem::activate(int x, int y)
{
    // Some hosts send 0, 0 for "no position".
    emit activated(x == 0 && y == 0 ? QPoint() : logicalFromNative({x, y}));
}

#include "StatusNotifierItem.moc"
