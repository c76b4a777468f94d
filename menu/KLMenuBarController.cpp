#include "KLMenuBarController.h"

#include <optional>
#include <cstdio>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLMenuStoryboard.h"
#include "KLSensor.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "NSPopover.h"
#include "NSStatusItem.h"
#include "NSStoryboard.h"
#include "NSViewController.h"

namespace {

const QString kBarIcon = QStringLiteral("bar_icon");
const QString kPopupViewController = QStringLiteral("popupViewController");

}  // namespace

KLMenuBarController::KLMenuBarController(QObject* parent)
    : QObject(parent)
{
}

KLMenuBarController::~KLMenuBarController()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void KLMenuBarController::awakeFromNib()
{
    // The data manager refreshes the store context once per tick and then says so:
    // the title is read behind that refresh.
    KLDataManager::sharedInstance();
    NSNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLDataManagerReadingsDidRefreshNotification),
        [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
    auto& distributed = NSDistributedNotificationCenter::defaultCenter();
    distributed.addObserver(this, QString::fromLatin1(KLDataManagerSettingsDidChangeNotification),
                            [this](const NSNotification&) { updateUI(); });
    distributed.addObserver(this, QString::fromLatin1(KLDataManagerMenuSensorsDidChangeNotification),
                            [this](const NSNotification&) { updateUI(); });
    NSNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLMenuBarControllerShouldClosePopupNotification),
        [this](const NSNotification&) { closePopover(); });
    distributed.addObserver(this, QString::fromLatin1(KLMenuBarControllerShouldOpenPopupNotification),
                            [this](const NSNotification&) { statusBarButtonTapped(); });

    m_popover = std::make_unique<NSPopover>();
    m_popover->setAnimates(false);
    NSStoryboard& storyboard = KLMenuStoryboard::storyboard();
    if (storyboard.hasController(kPopupViewController))
        m_popover->setContentViewController(storyboard.instantiateControllerWithIdentifier(kPopupViewController));

    m_eventMonitor.setMask(NSEventMaskLeftMouseDown | NSEventMaskRightMouseDown);
    m_eventMonitor.setHandler([this](const NSEvent& event) {
        if (m_popover->isShown()) {
            closePopover();
            if (event.type == NSEventTypeAppKitDefined)
                m_deactivatedAt.start();
        }
    });

    NSStatusBar::systemStatusBar().requestStatusItemWithLength(
        NSVariableStatusItemLength, this, [this](NSStatusItem* item) { statusItemArrived(item); });
}

void KLMenuBarController::statusItemArrived(NSStatusItem* item)
{
    if (!item) {
        std::fprintf(stderr, "Kelvara Menu: the desktop has no system tray; the status item cannot be shown.\n");
        return;
    }
    m_statusItem = item;
    m_statusItem->setImageName(kBarIcon);
    connect(m_statusItem, &NSStatusItem::action, this, &KLMenuBarController::statusItemClicked);
    updateUI();
}

void KLMenuBarController::statusItemClicked()
{
    // A panel that takes the focus when its item is clicked makes us inactive
    // first, and the click monitor closes the popover: the click itself must not
    // open it again.
    constexpr qint64 kSameClickMs = 400;
    if (m_deactivatedAt.isValid() && m_deactivatedAt.elapsed() < kSameClickMs) {
        m_deactivatedAt.invalidate();
        return;
    }
    statusBarButtonTapped();
}

void KLMenuBarController::kelvaraTempDidChangeNotification()
{
    updateUI();
}

void KLMenuBarController::updateUI()
{
    if (!m_statusItem)
        return;
    KLDataManager& settings = KLDataManager::sharedInstance();
    m_statusItem->setImageName(settings.showIconInMenu() ? kBarIcon : QString());

    // The chosen sensors in one fetch; a key without a stored sensor shows "--"
    // and adds nothing to the store.
    QHash<QString, KLSensor*> sensors;
    const bool showTemp = settings.showTempInMenu();
    const QStringList keys = showTemp ? settings.menuSensors(&sensors).value_or(QStringList()) : QStringList();
    if (keys.isEmpty()) {
        m_statusItem->setTitle(QString());
        return;
    }
    // Each square of a tray names its sensor, so a square out of place still reads right.
    QStringList names;
    std::optional<bool> celsius;  // read once, and only for a temperature
    QString title(QStringLiteral(""));
    for (const QString& key : keys) {
        QString text;
        QString name = key;
        if (KLSensor* sensor = sensors.value(key)) {
            name = sensor->name().isEmpty() ? key : sensor->name();
            const int type = sensor->categoryType();
            if (type == KLCategoryTypeTemperature && !celsius)
                celsius = settings.tempUnitCelsius();
            text = KLSensor::fullStringFromValue(sensor->convertedValue(celsius.value_or(true)), type, true);
        }
        title += QLatin1Char(' ') + (text.isNull() ? QStringLiteral("--") : text);
        names.append(name);
    }
    m_statusItem->setValueNames(names);
    m_statusItem->setTitle(title);
}

void KLMenuBarController::statusBarButtonTapped()
{
    if (m_popover && m_popover->isShown())
        closePopover();
    else
        showPopover();
}

void KLMenuBarController::showPopover()
{
    if (!m_statusItem)
        return;
    m_popover->showRelativeToRect(m_statusItem->buttonBounds(), NSRectEdgeMinY);
    updateUI();
    m_eventMonitor.start();
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventMenuOpenPopup));
}

void KLMenuBarController::closePopover()
{
    if (m_popover)
        m_popover->performClose();
    m_eventMonitor.stop();
}
