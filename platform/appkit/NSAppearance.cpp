#include "NSAppearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "NSDistributedNotificationCenter.h"
#include "SessionBus.h"

namespace NSAppearance {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// Long enough for a running portal, short enough that the first paint does not stall.
constexpr int kFirstReadTimeoutMs = 200;

constexpr int kNoAnswer = -1;
constexpr int kPrefersDark = 1;
constexpr int kPrefersLight = 2;

std::optional<bool> g_forced;
// Whether the application palette follows the preference, and whether the dark one is set.
bool g_following = false;
bool g_darkPaletteSet = false;
// What the portal last said: 0 no preference, 1 dark, 2 light; kNoAnswer before or without one.
std::atomic<int> g_scheme{kNoAnswer};

// Read wraps the value in one variant more than SettingChanged does.
int schemeOf(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    return ok ? static_cast<int>(scheme) : kNoAnswer;
}

class Watcher : public QObject {
    Q_OBJECT
public:
    explicit Watcher(QCoreApplication* app)
        : QObject(app)
    {
        app->installEventFilter(this);
        QDBusConnection bus = SessionBus::connection();
        if (!bus.isConnected())
            return;
        bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                    SLOT(onSettingChanged(QDBusMessage)));
        readPreference(bus);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ApplicationPaletteChange && watched == QCoreApplication::instance())
            postThemeChanged();
        return false;
    }

private slots:
    void onSettingChanged(const QDBusMessage& message)
    {
        const QList<QVariant> args = message.arguments();
        if (args.size() != 3 || args.at(0).toString() != kNamespace || args.at(1).toString() != kKey)
            return;
        ++m_changes;
        g_scheme = schemeOf(args.at(2));
        if (g_following)
            applyApplicationPalette();
        postThemeChanged();
    }

private:
    // A short wait for a portal that already runs; one that must first be
    // started answers later, and its answer counts from then on.
    void readPreference(QDBusConnection& bus)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
        call << kNamespace << kKey;
        call.setAutoStartService(false);
        const QDBusMessage reply = bus.call(call, QDBus::Block, kFirstReadTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            g_scheme = schemeOf(reply.arguments().value(0));
            return;
        }
        // The portal's own refusal (no such setting) is final; the bus's is not.
        if (!reply.errorName().startsWith(QLatin1String("org.freedesktop.DBus.Error.")))
            return;
        call.setAutoStartService(true);
        auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        const int changesBefore = m_changes;
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this, changesBefore](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusMessage late = w->reply();
            // A change heard meanwhile is newer than this answer.
            if (late.type() != QDBusMessage::ReplyMessage || m_changes != changesBefore)
                return;
            const int scheme = schemeOf(late.arguments().value(0));
            if (scheme == g_scheme.exchange(scheme))
                return;
            if (g_following)
                applyApplicationPalette();
            postThemeChanged();
        });
    }

    // One notice for a burst: a desktop often changes the palette and the
    // preference together.
    void postThemeChanged()
    {
        if (m_noticePending)
            return;
        m_noticePending = true;
        QTimer::singleShot(0, this, [this] {
            m_noticePending = false;
            NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(themeChangedNotification());
        });
    }

    int m_changes = 0;
    bool m_noticePending = false;
};

QPointer<Watcher> g_watcher;

void ensureWatching(QCoreApplication* app)
{
    if (g_watcher || QThread::currentThread() != app->thread())
        return;
    g_watcher = new Watcher(app);
}

}  // namespace

bool isDarkAqua()
{
    if (g_forced)
        return *g_forced;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    ensureWatching(app);
    const int scheme = g_scheme;
    if (scheme == kPrefersDark)
        return true;
    if (scheme == kPrefersLight)
        return false;
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

QPalette darkPalette()
{
    // Every text colour reads at 4.5:1 or more on every background colour here.
    const QColor text(230, 230, 230);
    QPalette palette(QColor(50, 50, 50), QColor(40, 40, 40));
    palette.setColor(QPalette::Window, QColor(40, 40, 40));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::AlternateBase, QColor(44, 44, 44));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 58));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(165, 165, 165));
    palette.setColor(QPalette::Light, QColor(80, 80, 80));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 66));
    // Outlines of check boxes and radio buttons (NSAppearance+Controls) and of
    // segments, 3:1 on the window, base and button colours; the file logging
    // screen's disabled segments write in it too.
    palette.setColor(QPalette::Mid, QColor(135, 135, 135));
    palette.setColor(QPalette::Dark, QColor(22, 22, 22));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
    palette.setColor(QPalette::Highlight, QColor(10, 100, 210));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(90, 170, 255));
    palette.setColor(QPalette::LinkVisited, QColor(190, 150, 255));
    palette.setColor(QPalette::ToolTipBase, QColor(50, 50, 50));
    palette.setColor(QPalette::ToolTipText, text);
    // Dimmer than enabled text, still readable on the darkest background.
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(160, 160, 160));
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(48, 48, 48));
    palette.setColor(QPalette::Disabled, QPalette::Base, QColor(36, 36, 36));
    return palette;
}

void applyApplicationPalette()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    ensureWatching(app);
    // Only a preference for dark counts: with none, the desktop's own palette
    // is what decides, and ours must not stand in for it.
    const bool dark = g_forced ? *g_forced : g_scheme == kPrefersDark;
    if (dark) {
        g_darkPaletteSet = true;
        QGuiApplication::setPalette(darkPalette());
    } else if (g_darkPaletteSet) {
        g_darkPaletteSet = false;
        // An empty palette resolves to the desktop's.
        QGuiApplication::setPalette(QPalette());
    }
}

void followDesktopAppearance()
{
    g_following = true;
    applyApplicationPalette();
}

void forceDarkModeForTesting(std::optional<bool> dark)
{
    g_forced = dark;
}

QString themeChangedNotification()
{
    return QStringLiteral("AppleInterfaceThemeChangedNotification");
}

void resetPortalForTesting()
{
    g_following = false;
    g_darkPaletteSet = false;
    delete g_watcher;
    g_scheme = kNoAnswer;
}

}  // namespace NSAppearance

#include "NSAppearance.moc"
