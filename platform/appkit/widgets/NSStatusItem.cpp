#include "NSStatusItem.h"

#include <QCursor>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cmath>

#include "NSImage.h"

namespace {

std::optional<bool>& forcedAvailability()
{
    static std::optional<bool> forced;
    return forced;
}

// Panels appear a few seconds after login at the latest.
int g_attempts = 5;
int g_intervalMs = 3000;

constexpr int kTitleFontPixels = 13;

}  // namespace

NSStatusItem::NSStatusItem(double length, bool withTray, QObject* parent)
    : QObject(parent)
    , m_length(length)
{
    if (!withTray)
        return;
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setToolTip(QStringLiteral("Kelvara"));
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            performClick(QCursor::pos());
    });
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
    if (m_clickedAt)
        return {*m_clickedAt, QSize(1, 1)};
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return {screen->geometry().topRight(), QSize(1, 1)};
}

void NSStatusItem::performClick(const QPoint& pointer)
{
    m_clickedAt = pointer;
    emit action();
    m_clickedAt.reset();
}

QPixmap NSStatusItem::pixmap(qreal devicePixelRatio) const
{
    return renderPixmap(m_imageName, m_title, panelTextColor(), kPanelHeight, devicePixelRatio);
}

QColor NSStatusItem::panelTextColor()
{
    return QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

QPixmap NSStatusItem::renderPixmap(const QString& imageName, const QString& title, const QColor& textColor,
                                   int height, qreal devicePixelRatio)
{
    const QPixmap image = imageName.isEmpty() ? QPixmap()
                                              : NSImage::pixmapNamed(imageName, QSize(kImageSide, kImageSide),
                                                                     devicePixelRatio);
    QFont font = QGuiApplication::font();
    font.setPixelSize(kTitleFontPixels);
    const double textWidth = title.isEmpty() ? 0 : QFontMetricsF(font).horizontalAdvance(title);
    const int imageWidth = image.isNull() ? 0 : kImageSide;
    const int width = imageWidth + int(std::ceil(textWidth));
    if (width == 0)
        return {};

    QPixmap pixmap(QSize(width, height) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!image.isNull()) {
        // The image is a shape: it takes the panel's text colour, as the text does.
        QPixmap tinted = image;
        QPainter tint(&tinted);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(QRect(0, 0, kImageSide, kImageSide), textColor);
        tint.end();
        painter.drawPixmap(QPoint(0, (height - kImageSide) / 2), tinted);
    }
    if (textWidth > 0) {
        painter.setFont(font);
        painter.setPen(textColor);
        painter.drawText(QRectF(imageWidth, 0, textWidth + 1, height), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
    return pixmap;
}

void NSStatusItem::refresh()
{
    if (!m_tray)
        return;
    const QPixmap single = pixmap(1);
    if (single.isNull()) {
        m_tray->hide();
        return;
    }
    QIcon icon(single);
    icon.addPixmap(pixmap(2));
    m_tray->setIcon(icon);
    m_tray->setToolTip(m_title.trimmed().isEmpty() ? QStringLiteral("Kelvara") : m_title.trimmed());
    m_tray->show();
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
    return QSystemTrayIcon::isSystemTrayAvailable();
}

NSStatusItem* NSStatusBar::statusItemWithLength(double length, QObject* parent)
{
    if (!isAvailable())
        return nullptr;
    // A forced tray is a model only: nothing to show on the test's screen.
    return new NSStatusItem(length, !forcedAvailability(), parent);
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
