#pragma once
// The status item. Status trays draw every item in a square about the panel's
// height and never recolour a pixmap, so one wide picture of icon and title
// would be shrunk to a smear. On trays that show icons only (KDE Plasma, Xfce)
// the item is one square icon per part, in order: the image, then each value
// of the title drawn large. On hosts that show a label next to the icon (GNOME's
// AppIndicator extension, Unity, Budgie) it is one icon with the whole title as
// its label. Each square is a plate in the desktop scheme's background with the
// text in its foreground, so it reads on light and dark panels alike.
//
// The item is a StatusNotifierItem of our own where a watcher runs, and Qt's
// XEmbed tray icon otherwise. The plain model (image name, title) is what tests
// read, since not every platform has a tray.
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QSystemTrayIcon;
class StatusNotifierItem;

inline constexpr double NSVariableStatusItemLength = -1;

class NSStatusItem : public QObject {
    Q_OBJECT
public:
    // The panel strip the pictures draw, and the icon's side within it.
    static constexpr int kPanelHeight = 28;
    static constexpr int kIconSide = 22;
    // Sizes handed to hosts; each picks the closest to its panel (2x screens included).
    // Few, since a host fetches them all again for every new reading.
    static constexpr int kIconSizes[] = {16, 22, 32, 48};
    // Beyond this many values only the title, tool tip and label carry the rest.
    static constexpr int kMaxValueIcons = 8;
    static constexpr int kRegistrationSpacingMs = 150;
    // How long the squares wait for Xfce's panel settings before registering in one row.
    static constexpr int kSettingsTimeoutMs = 1000;
    // Clicks a host may report in one second; more are dropped.
    static constexpr int kMaxClicksPerSecond = 5;

    enum class Backend { Model, StatusNotifier, XEmbed };
    enum class Host { Icons, Label };
    // Where a tray puts an item that registers after the others, as seen left to right.
    enum class Placement { Last, First };

    // One square of the tray: an image, or one value's text.
    struct Cell {
        QString imageName;
        QString text;
        bool operator==(const Cell&) const = default;
    };

    ~NSStatusItem() override;

    // An empty name shows no image; a null title shows no text.
    QString imageName() const { return m_imageName; }
    void setImageName(const QString& name);
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    // The names of the title's values, in its order, for each square's tool tip.
    void setValueNames(const QStringList& names);
    double length() const { return m_length; }
    Backend backend() const { return m_backend; }

    // Where the popover anchors: the point of the click being handled, stretched
    // to the panel's edge when it lies in the panel, so the popover opens below a
    // top panel and above a bottom one; otherwise the top right of the screen.
    QRect buttonBounds() const;

    // The squares shown, in order, on the given kind of host.
    QList<Cell> cells(Host host) const;
    static Host hostKind();
    static void setHostKindForTesting(std::optional<Host> host);
    // The rule of the tray whose program is named so (its process name).
    static Placement placementOf(const QString& trayProgram);
    // Whether the tray is Xfce's: its panel, or the wrapper of the panel's plugins.
    static bool isXfceTray(const QString& trayProgram);
    // The tray's program as if the watcher's owner ran it; nullopt: the real owner's.
    static void setTrayProgramForTesting(std::optional<QString> program);
    // For each place of a tray of the given rows (filled column by column), the
    // square shown there so that the squares read row by row in order.
    static QList<int> displayOrder(int count, int rows);
    // The rows of Xfce's tray, from its panel's settings (xfconf's "xfce4-panel").
    static int xfceTrayRows(const QVariantMap& panelSettings);
    // The item as a panel shows it: every cell side by side; null when empty.
    QPixmap pixmap(qreal devicePixelRatio) const;
    static QImage renderCell(const Cell& cell, int side, qreal devicePixelRatio, bool dark);
    // The cell in every size of kIconSizes.
    static QList<QImage> cellImages(const Cell& cell, bool dark);
    // Fully transparent images: an icon that shows nothing where a host insists on one.
    static QList<QImage> clearImages();
    // The Title of an icon host's square at the given place (from 0), showing shows.
    static QString squareTitle(qsizetype square, const QString& shows);
    // The values of a title: its blank-separated texts (tidy values hold no blank).
    static QStringList values(const QString& title);

    // A click on the item: runs the action with the popover anchored at pointer
    // (the current pointer position when null).
    void performClick(const QPoint& pointer);

    // The bus items shown, in order (StatusNotifier backend), for tests.
    QList<StatusNotifierItem*> statusNotifierItems() const;

signals:
    void action();

private:
    friend class NSStatusBar;
    NSStatusItem(double length, Backend backend, QObject* parent);
    void hostClicked(const QPoint& pointer);
    void hostMenuClicked();
    bool takeHostClick();
    void refresh();
    void rebuild(qsizetype count);
    void registerItems();
    void registerInOrder(int rows, bool newcomersFirst);
    QString wholeTitle() const;
    void showTexts(StatusNotifierItem* item, qsizetype index, const QString& title);
    QString cellToolTip(qsizetype index, const QString& title) const;

    double m_length;
    Backend m_backend;
    Host m_host;
    QString m_imageName;
    QString m_title;
    QStringList m_valueNames;
    std::optional<QPoint> m_clickedAt;
    QElapsedTimer m_clickWindow;
    int m_clicksInWindow = 0;
    // What the tray shows now, to send only what changed.
    QList<Cell> m_shownCells;
    bool m_shownDark = false;
    std::vector<std::unique_ptr<StatusNotifierItem>> m_items;
    std::vector<std::unique_ptr<QSystemTrayIcon>> m_trayIcons;
    QDBusServiceWatcher* m_watcher = nullptr;
    int m_registration = 0;
    // The one question to Xfce's panel settings on its way, the registration that
    // waits for it, and the rows of its last answer.
    QDBusPendingCallWatcher* m_rowsCall = nullptr;
    int m_awaitingRows = 0;
    int m_xfceRows = 1;
};

class NSStatusBar {
public:
    static NSStatusBar& systemStatusBar();

    bool isAvailable() const;
    // Null when the desktop has no status tray. The item belongs to parent.
    NSStatusItem* statusItemWithLength(double length, QObject* parent);
    // As above, but while the tray is missing (a login race: the panel may
    // start after us) asks again a few times, a few seconds apart. done gets the
    // item, or null once it gave up; it never runs after owner is gone.
    void requestStatusItemWithLength(double length, QObject* owner, std::function<void(NSStatusItem*)> done);

    // true: a model-only item, as if a tray were there; false: no tray at all.
    static void setSystemTrayAvailableForTesting(std::optional<bool> available);
    static void setRetriesForTesting(int attempts, int intervalMs);

private:
    void ask(double length, QObject* owner, std::function<void(NSStatusItem*)> done, int attemptsLeft);
};
