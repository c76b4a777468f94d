#pragma once
// The status item: an icon in the desktop's system tray (StatusNotifierItem on
// current desktops) whose pixmap is drawn from an image and a title text in the
// panel's text colour at the panel's height. The item keeps a plain model
// (image name, title) that tests read, since not every platform has a tray.
#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSystemTrayIcon;

inline constexpr double NSVariableStatusItemLength = -1;

class NSStatusItem : public QObject {
    Q_OBJECT
public:
    // The panel's height in points, and the image's side within it.
    static constexpr int kPanelHeight = 22;
    static constexpr int kImageSide = 18;

    ~NSStatusItem() override;

    // An empty name shows no image; a null title shows no text.
    QString imageName() const { return m_imageName; }
    void setImageName(const QString& name);
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    double length() const { return m_length; }

    // Trays do not say where their icons are, so a popover anchors at the pointer
    // where the icon was clicked while that click's action runs, and otherwise at
    // the top right corner of the primary screen.
    QRect buttonBounds() const;

    // What the tray shows, in the panel's text colour; null with neither image nor title.
    QPixmap pixmap(qreal devicePixelRatio) const;
    static QPixmap renderPixmap(const QString& imageName, const QString& title, const QColor& textColor, int height,
                                qreal devicePixelRatio);
    // The desktop theme's text colour, which its panel follows.
    static QColor panelTextColor();

    // A click on the icon with the pointer there: runs the action.
    void performClick(const QPoint& pointer);

signals:
    void action();

private:
    friend class NSStatusBar;
    NSStatusItem(double length, bool withTray, QObject* parent);
    void refresh();

    double m_length;
    QString m_imageName;
    QString m_title;
    std::optional<QPoint> m_clickedAt;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

class NSStatusBar {
public:
    static NSStatusBar& systemStatusBar();

    bool isAvailable() const;
    // Null when the desktop has no system tray. The item belongs to parent.
    NSStatusItem* statusItemWithLength(double length, QObject* parent);
    // As above, but while the tray is missing (a login race: the panel may
    // start after us) asks again a few times, a few seconds apart. done gets the
    // item, or null once it gave up; it never runs after owner is gone.
    void requestStatusItemWithLength(double length, QObject* owner, std::function<void(NSStatusItem*)> done);

    static void setSystemTrayAvailableForTesting(std::optional<bool> available);
    static void setRetriesForTesting(int attempts, int intervalMs);

private:
    void ask(double length, QObject* owner, std::function<void(NSStatusItem*)> done, int attemptsLeft);
};
