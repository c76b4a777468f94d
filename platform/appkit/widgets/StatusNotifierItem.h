#pragma once
// One StatusNotifierItem on the session bus: a square icon in the desktop's
// status tray (KDE Plasma, Xfce, GNOME's AppIndicator extension, ...). Each item
// has a bus connection of its own, since the protocol puts every item at the
// same object path, and registers with org.kde.StatusNotifierWatcher. Hosts are
// told of a change only when the content really changed.
//
// Any program on the bus may read the item as fast as it can send and never read
// the answers: answers are built once per change, and a connection whose unsent
// answers pass kMaxQueuedBytes answers nothing until the bus took them (see
// SessionBus::answersHeldBack).
#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <memory>

#include "SessionBus.h"

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
    static constexpr const char* kMenuPath = "/MenuBar";
    static constexpr qint64 kMaxQueuedBytes = SessionBus::kMostUnsentBytes;

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
    // Where hosts that honour it place the item among the others (GNOME).
    void setOrderingIndex(uint index);
    // A menu of one entry that opens the item: hosts that open an item's menu on
    // a single click and activate it only on a double click (GNOME) then tell us
    // of the click through the menu, and the host's own menu closes again at
    // once. Without it the menu is empty.
    void setMenuOpensItem(bool opens);
    // Register under the connection's unique name instead of the item's own:
    // GNOME's extension watches a well-known name and, when that watch answers
    // after the item's properties, drops them and then the item.
    void setRegistersUniqueName(bool unique) { m_registersUniqueName = unique; }

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
    uint orderingIndex() const { return m_orderingIndex; }
    bool menuOpensItem() const { return m_menuOpensItem; }
    // "Active", or "Passive" from the host's opening of the menu until it closed it.
    QString status() const;
    // Bytes this item's connection holds for the bus; answers held back meanwhile.
    qint64 queuedBytes() const;
    int answersHeldBack() const { return m_heldBack; }

    static StatusNotifierPixmap pixmapFromImage(const QImage& image);

signals:
    // Screen coordinates where the host clicked; a null point when it sent none.
    void activated(const QPoint& at);
    // A click the host reported only by opening the item's menu: no position.
    void activatedFromMenu();

private:
    friend class StatusNotifierItemObject;
    void activate(int x, int y);
    void changed(const char* signal, const QVariantList& arguments = {});
    void menuChanged();
    void menuOpened();
    void menuClosed();
    const QVariantMap& properties() const;

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
    uint m_orderingIndex = 0;
    bool m_menuOpensItem = false;
    bool m_registersUniqueName = false;
    // Passive after the host opened the menu: GNOME hides the item, and closes its menu.
    bool m_passive = false;
    QTimer m_menuClosing;
    uint m_menuRevision = 1;
    // Every property as hosts read it, rebuilt only after a change.
    mutable QVariantMap m_properties;
    mutable bool m_propertiesStale = true;
    int m_heldBack = 0;
    std::unique_ptr<class StatusNotifierItemObject> m_object;
};
