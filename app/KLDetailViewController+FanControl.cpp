// The fan control box of the detail screen: the mode pop-up, the fan table,
// the speed buttons with the link toggle, and the fan-rules sheet.
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLDeepLink.h"
#include "KLDetailViewController.h"
#include "KLFanCondition.h"
#include "KLFanControlCells.h"
#include "KLFanControlLogic.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLPrivilegeRequest.h"
#include "KLSensor.h"
#include "NSDistributedNotificationCenter.h"
#include "NSImage.h"
#include "NSString+KLExtension.h"
#include "Dispatch.h"
#include "ui_KLDetailViewController.h"

KLFanSet* KLDetailViewController::selectedFanSet() const
{
    return KLFanControlLogic::selectedFanSet();
}

KLFanControlSheet* KLDetailViewController::fanControlSheet() const
{
    return dynamic_cast<KLFanControlSheet*>(m_fanControlViewController.get());
}

void KLDetailViewController::updateFanControlUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const unsigned mode = settings.fanControlMode();
    const bool fanSetMode = mode == KLFanControlModeFanSet;
    ui->fanManualUtilBox->setVisible(fanSetMode);
    m_fanControlTableViewTopConstraint = fanSetMode ? 58 : 12;

    KLFanControlCells::showLink(ui->fanManualUtilLinkButton, settings.manualLinkEnabled());

    NSTableView* table = ui->fanControlTableView;
    table->reloadData();
    KLFanControlCells::selectFan(table, m_sensors, m_selectedFan);
    // Tall enough for every fan, so the box holds no empty space.
    table->setFixedHeight(int(table->rowHeight() * std::max<qsizetype>(m_sensors.size(), 1)) + 2);

    m_fanSetNames = KLFanControlCells::fillModeButton(ui->fanControlModeButton, mode, settings.fanSetName());
    // The pop-up is as wide as its widest item, which may be a set's name.
    updateLeftColumnWidth();
}

void KLDetailViewController::fanControlModeButtonTapped()
{
    // The latest choice, against the names the pop-up showed then. A choice
    // made while the question is pending replaces the earlier one.
    m_chosenModeIndex = ui->fanControlModeButton->currentIndex();
    m_chosenModeFanSetNames = m_fanSetNames;
    if (m_modeChoicePending)
        return;
    m_modeChoicePending = true;
    QPointer<KLDetailViewController> self(this);
    KLPrivilegeRequest::request(this, [self](bool granted) {
        if (!self)
            return;
        self->m_modeChoicePending = false;
        self->applyChosenMode(granted);
    });
}

void KLDetailViewController::applyChosenMode(bool granted)
{
    if (!granted) {
        // The alert follows, shown once by the request.
        updateFanControlUI();
        KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlAuthorizationFailed));
        return;
    }
    const QStringList shown = m_chosenModeFanSetNames;
    const KLFanControlLogic::PopUpChoice choice =
        KLFanControlLogic::choiceForPopUpIndex(m_chosenModeIndex, int(shown.size()));
    QString value;
    if (choice.mode == KLFanControlModeSystem) {
        handleChangeFanControlMode(KLFanControlModeSystem, nullptr);
        value = QStringLiteral("System");
    } else if (choice.mode == KLFanControlModeAutoBoost) {
        if (!KLFanCondition::allObjects().isEmpty())
            handleChangeFanControlMode(KLFanControlModeAutoBoost, nullptr);
        else
            updateFanControlUI();
        presentFanControlSheet(KLFanControlModeAutoBoost);
        value = QStringLiteral("Auto Boost");
    } else {
        // By the name the item showed: a set deleted since is not replaced by its neighbour.
        KLFanSet* set = choice.fanSetIndex >= 0 ? KLFanControlLogic::fanSetNamed(shown[choice.fanSetIndex]) : nullptr;
        handleChangeFanControlMode(KLFanControlModeFanSet, set);
        value = QStringLiteral("Manual");
    }
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlChangeMode), {{QStringLiteral("value"), value}});
}

void KLDetailViewController::handleChangeFanControlMode(unsigned mode, KLFanSet* fanSet)
{
    KLFanControlLogic::storeFanControlMode(mode, fanSet);
    updateFanControlUI();
}

bool KLDetailViewController::isFanControlSheetShown() const
{
    return m_fanControlViewController && m_fanControlViewController->presentingViewController();
}

void KLDetailViewController::presentFanControlSheet(unsigned preferredMode)
{
    KLFanControlSheet* sheet = fanControlSheet();
    // The mode is the shown sheet's own until it closes: Save applies it.
    if (!sheet || isFanControlSheetShown() || presentedViewController())
        return;
    sheet->setPreferredMode(preferredMode);
    presentViewControllerAsSheet(m_fanControlViewController.get());
}

void KLDetailViewController::showFanControlViewControllerWithPreferredMode(unsigned mode)
{
    // One sheet: while it is shown or being asked for, another request changes nothing.
    if (m_fanControlSheetRequested || isFanControlSheetShown())
        return;
    m_fanControlSheetRequested = true;
    QPointer<KLDetailViewController> self(this);
    KLPrivilegeRequest::request(this, [self, mode](bool granted) {
        if (!self)
            return;
        self->m_fanControlSheetRequested = false;
        if (granted)
            self->presentFanControlSheet(mode);
    });
}

void KLDetailViewController::handleDeepLink(const QString& path)
{
    const std::optional<int> mode = KLDeepLink::fanRuleMode(path);
    if (mode)
        showFanControlViewControllerWithPreferredMode(unsigned(*mode));
}

void KLDetailViewController::fanControlViewControllerDidSaveData(KLFanControlSheet* sheet)
{
    if (sheet)
        handleChangeFanControlMode(sheet->preferredMode(), nullptr);
}

void KLDetailViewController::editFanRulesButtonTapped()
{
    showFanControlViewControllerWithPreferredMode(KLDataManager::sharedInstance().fanControlMode());
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlTapEditFanRules));
}

void KLDetailViewController::handleChangeFanSpeedViaButtonWithPercent(double percent)
{
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, QStringLiteral("button"));
}

void KLDetailViewController::handleChangeFanSpeedWithPercent(double percent)
{
    KLFanControlLogic::applySpeedFraction(m_sensors, m_selectedFan, percent);
    updateFanControlUI();
}

void KLDetailViewController::fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider)
{
    if (!sensor)
        return;
    m_selectedFan = sensor;
    const double percent = KLFanControlLogic::fractionForSpeed(speed, sensor->minValue(), sensor->maxValue());
    handleChangeFanSpeedWithPercent(percent);
    KLFanControlLogic::logSpeedChange(percent, viaSlider ? QStringLiteral("slider") : QStringLiteral("textfield"));
}

void KLDetailViewController::fanManualUtilLinkButtonTapped()
{
    KLFanControlLogic::storeManualLink(ui->fanManualUtilLinkButton->isChecked());
    updateFanControlUI();
}

void KLDetailViewController::fanControlTableViewSelected()
{
    m_selectedFan = KLFanControlCells::selectedFan(ui->fanControlTableView, m_sensors, m_selectedFan);
}

void KLDetailViewController::fanControllerShouldUpdateNotification()
{
    if (!m_category || m_category->type() != KLCategoryTypeFan)
        return;
    QPointer<KLDetailViewController> self(this);
    dispatch_after_seconds(1.0, dispatch_get_main_queue(), [self] {
        if (self)
            self->updateFanControlUI();
    });
}
