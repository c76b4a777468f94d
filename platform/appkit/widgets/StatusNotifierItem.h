#pragma once
// One StatusNotifierItem on the session bus: a square icon in the desktop's
// status tray (KDE Plasma, Xfce, GNOME's AppIndicator extension, ...). Each item
// has a bus connection of its own, since the protocol puts every item at the
// same object path, and registers with org.kde.StatusNotifierWatcher. Hosts are
// told of a change only when the content really changed.
#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusArgument;

struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;  // ARGB32, network byte order
    bool operator==(const StatusNotifierPixmap&) const = default;
};
using StatusNotifierPixmaps = QList<StatusNotifierPixmap>;

struct StatusNotifierToolTip {
    QString iconName;
    StatusNotifierPixmaps icon;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& toolTip);

Q_DECLARE_METATYPE(StatusNotifierPixmap)
Q_DECLARE_METATYPE(StatusNotifierToolTip)

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
    static constexpr const char* kItemPath = "/StatusNotifierItem";

    // id is the item's stable identity for hosts that remember positions.
    explicit StatusNotifierItem(const QString& id, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // False when the session bus refused the connection or the name.
    bool isValid() const { return m_valid; }
    QString serviceName() const { return m_service; }

    // Images of several sizes (and for 2x screens); hosts take the closest.
    void setIcon(const QList<QImage>& images);
    void setTitle(const QString& title);
    void setToolTip(const QString& title, const QString& text);
    // The text that label hosts show next to the icon; guide is its widest form.
    void setLabel(const QString& label, const QString& guide);

    // Asks the watcher (again) to show the item, without waiting for its answer.
    void registerWithWatcher();
    static bool watcherPresent();

    // What hosts read, for tests and the adaptor.
    QString id() const { return m_id; }
    QString title() const { return m_title; }
    QString label() const { return m_label; }
    QString labelGuide() const { return m_labelGuide; }
    const StatusNotifierPixmaps& iconPixmaps() const { return m_pixmaps; }
    StatusNotifierToolTip toolTip() const;

    static StatusNotifierPixmap pixmapFromImage(const QImage& image);

signals:
    // Screen coordinates where the host clicked; a null point when it sent none.
    void activated(const QPoint& at);

private:
    friend class StatusNotifierItemAdaptor;
    void activate(int x, int y);

    QString m_id;
    QString m_connectionName;
    QString m_service;
    bool m_valid = false;
    QString m_title;
    QString m_toolTipTitle;
    QString m_toolTipText;
    QString m_label;
    QString m_labelGuide;
    StatusNotifierPixmaps m_pixmaps;
    class StatusNotifierItemAdaptor* m_adaptor = nullptr;
};
