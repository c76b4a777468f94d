#include "KLSettingsViewController.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryFile>
#include <QUrlQuery>

#include "JSKDevice.h"
#include "KLAnalyticsHelper.h"
#include "KLDataManager.h"
#include "KLDropdownSettingsViewController.h"
#include "KLSupportLinks.h"
#include "KLUtils.h"
#include "NSAlert.h"
#include "NSAppearance.h"
#include "NSBundle.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSFileManager.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "SUUpdater.h"
#include "ui_KLSettingsViewController.h"

using KLExtension::localizedStringForKey;

namespace {

KLSettingsViewController::ProcessStarter& processStarter()
{
    static KLSettingsViewController::ProcessStarter starter;
    return starter;
}

KLSettingsViewController::URLOpener& urlOpener()
{
    static KLSettingsViewController::URLOpener opener;
    return opener;
}

KLSettingsViewController::MenuComponentLoader& menuComponentLoader()
{
    static KLSettingsViewController::MenuComponentLoader loader;
    return loader;
}

bool startProcess(const QString& program, const QStringList& arguments)
{
    if (processStarter())
        return processStarter()(program, arguments);
    return QProcess::startDetached(program, arguments);
}

bool openURL(const QUrl& url)
{
    if (urlOpener())
        return urlOpener()(url);
    return QDesktopServices::openUrl(url);
}

// A title on a button: a lone '&' would become a keyboard mnemonic.
QString buttonTitle(const QString& key)
{
    return localizedStringForKey(key).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

const char* const kSegmentKeys[] = {"settings-screen-update-frequency-fast-title",
                                    "settings-screen-update-frequency-medium-title",
                                    "settings-screen-update-frequency-slow-title"};

// The kernel's version as major.minor.patch ("6.8.0" of "6.8.0-45-generic").
QString systemVersion()
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d+)\\.(\\d+)(?:\\.(\\d+))?")).match(QSysInfo::kernelVersion());
    if (!match.hasMatch())
        return QSysInfo::kernelVersion();
    return QStringLiteral("%1.%2.%3")
        .arg(match.captured(1).toLong())
        .arg(match.captured(2).toLong())
        .arg(match.captured(3).toLong());
}

}  // namespace

KLSettingsViewController::KLSettingsViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLSettingsViewController>())
{
    ui->setupUi(this);
}

KLSettingsViewController::~KLSettingsViewController()
{
    // A shown sheet goes back here before the sheet itself goes.
    if (presentedViewController())
        dismissViewController(presentedViewController());
    delete m_dropdownSettingsViewController;
}

void KLSettingsViewController::setProcessStarterForTesting(ProcessStarter starter)
{
    processStarter() = std::move(starter);
}

void KLSettingsViewController::setURLOpenerForTesting(URLOpener opener)
{
    urlOpener() = std::move(opener);
}

void KLSettingsViewController::setMenuComponentLoaderForTesting(MenuComponentLoader loader)
{
    menuComponentLoader() = std::move(loader);
}

void KLSettingsViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    if (NSStoryboard* board = storyboard()) {
        m_dropdownSettingsViewController = qobject_cast<KLDropdownSettingsViewController*>(
            board->instantiateControllerWithIdentifier(QStringLiteral("dropdownSettingsViewController")));
    }
    if (m_dropdownSettingsViewController)
        m_dropdownSettingsViewController->hide();
    updateUI();
}

void KLSettingsViewController::updateMakerLinkColor()
{
    // The maker's name reads as a link, not as a button.
    ui->nudraButton->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px 2px; color: %1; }"
                                                  "QPushButton:hover { text-decoration: underline; }")
                                       .arg(KLExtension::appLinkColor().name()));
}

void KLSettingsViewController::configureUI()
{
    QFont title = font();
    title.setPixelSize(22);
    title.setBold(true);
    ui->settingsSectionField->setFont(title);
    QFont field = font();
    field.setPixelSize(13);
    field.setBold(true);
    for (QLabel* label : {ui->behaviorField, ui->languageField, ui->tempUnitField, ui->menuBarField,
                          ui->updateFrequencyField})
        label->setFont(field);
    QFont small = font();
    small.setPixelSize(12);
    for (QWidget* about : {static_cast<QWidget*>(ui->nudraField), static_cast<QWidget*>(ui->nudraButton),
                           static_cast<QWidget*>(ui->versionField)})
        about->setFont(small);
    updateMakerLinkColor();

    // The pop-up lists the languages by their English names, once.
    KLDataManager& data = KLDataManager::sharedInstance();
    const QLocale english(QLocale::English);
    ui->languagePopUpButton->clear();
    for (const QString& code : data.allLanguages()) {
        const QLocale locale(code);
        if (locale.language() == QLocale::C)
            continue;
        ui->languagePopUpButton->addItem(QLocale::languageToString(locale.language()), code);
    }
    selectCurrentLanguage();

    m_updateFrequencySegments = new QButtonGroup(this);
    m_updateFrequencySegments->setExclusive(true);
    m_updateFrequencySegments->addButton(ui->fastSegment, KLUpdateFrequencyHigh);
    m_updateFrequencySegments->addButton(ui->mediumSegment, KLUpdateFrequencyMedium);
    m_updateFrequencySegments->addButton(ui->slowSegment, KLUpdateFrequencyLow);

    // The chosen segment stands out as in a segmented control.
    for (QAbstractButton* segment : m_updateFrequencySegments->buttons()) {
        connect(segment, &QAbstractButton::toggled, segment, [segment](bool checked) {
            // Only these two roles are set; the rest follows the window's palette.
            QPalette palette;
            palette.setResolveMask(0);
            if (checked) {
                palette.setColor(QPalette::Button, KLExtension::appDeepBlueColor());
                palette.setColor(QPalette::ButtonText, Qt::white);
            }
            segment->setPalette(palette);
        });
    }

    connect(ui->openAtLoginButton, &QCheckBox::clicked, this, &KLSettingsViewController::openAtLoginButtonTapped);
    connect(ui->autoCheckUpdateButton, &QCheckBox::clicked, this, &KLSettingsViewController::autoCheckUpdateButtonTapped);
    connect(ui->celsiusButton, &QRadioButton::clicked, this, &KLSettingsViewController::celsiusButtonTapped);
    connect(ui->fahrenheitButton, &QRadioButton::clicked, this, &KLSettingsViewController::fahrenheitButtonTapped);
    connect(ui->showTempInMenuButton, &QCheckBox::clicked, this, &KLSettingsViewController::showTempInMenuButtonTapped);
    connect(ui->showIconInMenuButton, &QCheckBox::clicked, this, &KLSettingsViewController::showIconInMenuButtonTapped);
    connect(ui->editMenuDropdownButton, &QPushButton::clicked, this,
            &KLSettingsViewController::editMenuDropdownButtonTapped);
    connect(ui->languagePopUpButton, &QComboBox::activated, this, &KLSettingsViewController::languagePopUpButtonTapped);
    connect(m_updateFrequencySegments, &QButtonGroup::idClicked, this,
            &KLSettingsViewController::updateFrequencySegmentedControlValueChanged);
    connect(ui->checkUpdatesButton, &QPushButton::clicked, this, &KLSettingsViewController::checkUpdatesButtonTapped);
    connect(ui->sendFeedbackButton, &QPushButton::clicked, this, &KLSettingsViewController::sendFeedbackButtonTapped);
    connect(ui->supportButton, &QPushButton::clicked, this, &KLSettingsViewController::supportButtonTapped);
    connect(ui->rateAndReviewButton, &QPushButton::clicked, this, &KLSettingsViewController::rateAndReviewButtonTapped);
    connect(ui->nudraButton, &QPushButton::clicked, this, &KLSettingsViewController::nudraButtonTapped);
}

void KLSettingsViewController::localizeUI()
{
    ui->settingsSectionField->setText(localizedStringForKey(QStringLiteral("settings-screen-settings-section-field")));
    ui->behaviorField->setText(localizedStringForKey(QStringLiteral("settings-screen-behavior-field")));
    ui->openAtLoginButton->setText(buttonTitle(QStringLiteral("settings-screen-open-at-login-button")));
    ui->autoCheckUpdateButton->setText(
        buttonTitle(QStringLiteral("settings-screen-check-for-updates-automatically-button")));
    ui->autoCheckUpdateButton->setToolTip(
        localizedStringForKey(QStringLiteral("settings-screen-check-for-updates-automatically-button")));
    ui->languageField->setText(localizedStringForKey(QStringLiteral("settings-screen-language-field")));
    ui->tempUnitField->setText(localizedStringForKey(QStringLiteral("settings-screen-temperature-unit-field")));
    ui->celsiusButton->setText(buttonTitle(QStringLiteral("settings-screen-celsius-button")));
    ui->fahrenheitButton->setText(buttonTitle(QStringLiteral("settings-screen-fahrenheit-button")));
    ui->menuBarField->setText(localizedStringForKey(QStringLiteral("settings-screen-menu-bar-field")));
    ui->showTempInMenuButton->setText(buttonTitle(QStringLiteral("settings-screen-show-temperature-button")));
    ui->showIconInMenuButton->setText(buttonTitle(QStringLiteral("settings-screen-show-icon-button")));
    ui->editMenuDropdownButton->setText(buttonTitle(QStringLiteral("settings-screen-edit-dropdown-button")));
    ui->updateFrequencyField->setText(localizedStringForKey(QStringLiteral("settings-screen-update-frequency-field")));
    QAbstractButton* segments[] = {ui->fastSegment, ui->mediumSegment, ui->slowSegment};
    for (int i = 0; i < 3; ++i)
        segments[i]->setText(buttonTitle(QString::fromLatin1(kSegmentKeys[i])));
    ui->checkUpdatesButton->setText(buttonTitle(QStringLiteral("settings-screen-check-for-updates-button")));
    ui->sendFeedbackButton->setText(buttonTitle(QStringLiteral("settings-screen-send-feedback-button")));
    ui->supportButton->setText(buttonTitle(QStringLiteral("settings-screen-support-button")));
    ui->rateAndReviewButton->setText(buttonTitle(QStringLiteral("settings-screen-rate-and-review-button")));
    ui->nudraField->setText(localizedStringForKey(QStringLiteral("settings-screen-nudra-field")));
    const QVariantMap info = NSBundle::mainBundle().infoDictionary();
    ui->versionField->setText(QStringLiteral("%1 %2 (%3)").arg(
        localizedStringForKey(QStringLiteral("settings-screen-version-field")),
        info.value(QStringLiteral("CFBundleShortVersionString")).toString(),
        info.value(QStringLiteral("CFBundleVersion")).toString()));
}

void KLSettingsViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    // The language may have been chosen elsewhere (the application menu) while hidden.
    selectCurrentLanguage();
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLDataManagerSettingsDidChangeNotification),
                       [this](const NSNotification&) { dataManagerSettingsDidChangeNotification(); });
    center.addObserver(this, QString::fromLatin1(KLDataManagerLanguageDidChangeNotification),
                       [this](const NSNotification&) { dataManagerLanguageDidChangeNotification(); });
    center.addObserver(this, NSAppearance::themeChangedNotification(),
                       [this](const NSNotification&) { updateMakerLinkColor(); });
}

void KLSettingsViewController::updateUI()
{
    KLDataManager& data = KLDataManager::sharedInstance();
    ui->openAtLoginButton->setChecked(data.openAtLogin());
    ui->autoCheckUpdateButton->setChecked(data.autoCheckUpdate());
    ui->celsiusButton->setChecked(data.tempUnitCelsius());
    ui->fahrenheitButton->setChecked(!ui->celsiusButton->isChecked());
    ui->showTempInMenuButton->setChecked(data.showTempInMenu());
    ui->showIconInMenuButton->setChecked(data.showIconInMenu());
    if (QAbstractButton* segment = m_updateFrequencySegments->button(int(data.updateFrequency()))) {
        segment->setChecked(true);
    } else if (QAbstractButton* shown = m_updateFrequencySegments->checkedButton()) {
        // A stored number without a segment selects none.
        m_updateFrequencySegments->setExclusive(false);
        shown->setChecked(false);
        m_updateFrequencySegments->setExclusive(true);
    }
}

int KLSettingsViewController::selectedUpdateFrequencySegment() const
{
    return m_updateFrequencySegments ? m_updateFrequencySegments->checkedId() : -1;
}

void KLSettingsViewController::dataManagerSettingsDidChangeNotification()
{
    updateUI();
}

void KLSettingsViewController::dataManagerLanguageDidChangeNotification()
{
    localizeUI();
    // The pop-up follows a language chosen in another window or program.
    selectCurrentLanguage();
    updateUI();
}

void KLSettingsViewController::selectCurrentLanguage()
{
    const int index = ui->languagePopUpButton->findData(KLDataManager::sharedInstance().currentLanguage());
    if (index >= 0)
        ui->languagePopUpButton->setCurrentIndex(index);
}

void KLSettingsViewController::openAtLoginButtonTapped()
{
    KLDataManager::sharedInstance().setOpenAtLogin(ui->openAtLoginButton->isChecked());
    if (menuComponentLoader())
        menuComponentLoader()(false);
    else
        KLUtils::loadMenuAppComponentWithForceOpen(false);
}

void KLSettingsViewController::autoCheckUpdateButtonTapped()
{
    // The updater hears what was stored, not what the box shows.
    KLDataManager& data = KLDataManager::sharedInstance();
    data.setAutoCheckUpdate(ui->autoCheckUpdateButton->isChecked());
    SUUpdater::sharedUpdater().setAutomaticallyChecksForUpdates(data.autoCheckUpdate());
}

void KLSettingsViewController::celsiusButtonTapped()
{
    // A pressed radio button stays on; its partner follows the settings notice.
    ui->celsiusButton->setChecked(true);
    KLDataManager::sharedInstance().setTempUnitCelsius(true);
}

void KLSettingsViewController::fahrenheitButtonTapped()
{
    ui->fahrenheitButton->setChecked(true);
    KLDataManager::sharedInstance().setTempUnitCelsius(false);
}

void KLSettingsViewController::showTempInMenuButtonTapped()
{
    KLDataManager::sharedInstance().setShowTempInMenu(ui->showTempInMenuButton->isChecked());
}

void KLSettingsViewController::showIconInMenuButtonTapped()
{
    KLDataManager::sharedInstance().setShowIconInMenu(ui->showIconInMenuButton->isChecked());
}

void KLSettingsViewController::editMenuDropdownButtonTapped()
{
    if (!m_dropdownSettingsViewController)
        return;
    presentViewControllerAsSheet(m_dropdownSettingsViewController);
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSettingsTapEditDropdownButton));
}

void KLSettingsViewController::languagePopUpButtonTapped(int index)
{
    const QString code = ui->languagePopUpButton->itemData(index).toString();
    KLDataManager& data = KLDataManager::sharedInstance();
    if (index < 0 || !data.allLanguages().contains(code))
        return;
    data.setCurrentLanguage(code);
}

void KLSettingsViewController::updateFrequencySegmentedControlValueChanged(int segment)
{
    if (segment >= 0)
        KLDataManager::sharedInstance().setUpdateFrequency(unsigned(segment));
}

void KLSettingsViewController::checkUpdatesButtonTapped()
{
    NSAlert alert;
    alert.setAlertStyle(NSAlertStyleInformational);
    alert.setMessageText(localizedStringForKey(QStringLiteral("settings-screen-no-update-feed-message")));
    alert.setInformativeText(localizedStringForKey(QStringLiteral("settings-screen-no-update-feed-informative-text")));
    alert.runModal(window());
}

void KLSettingsViewController::sendFeedbackButtonTapped()
{
    const QVariantMap info = NSBundle::mainBundle().infoDictionary();
    const QString shortVersion = info.value(QStringLiteral("CFBundleShortVersionString")).toString();
    const QString build = info.value(QStringLiteral("CFBundleVersion")).toString();
    const JSKDSystemReport* report = JSKDevice::device().systemInfo();
    const QString model = report && !report->rawModelString.isEmpty() ? report->rawModelString : QStringLiteral("--");
    const QString subject = QStringLiteral("[Feedback][Kelvara %1 (%2)]").arg(shortVersion, build);
    const QString body = QStringLiteral("\n\n\n\n\n--------------------------------\nModel: %1\nLinux: %2\n")
                             .arg(model, systemVersion());
    const QString recipient = QString::fromLatin1(KLSupportMailAddress);

    // The window as it looks now goes along as a picture; the file stays for
    // the mail program, which reads it after this returns, and goes a day later.
    removeOldFeedbackSnapshots();
    QString snapshot;
    const QString folder = feedbackSnapshotFolder();
    QTemporaryFile file(folder + QStringLiteral("/Kelvara Feedback XXXXXX.png"));
    file.setAutoRemove(false);
    if (!folder.isEmpty() && QDir().mkpath(folder) &&
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) && file.open() &&
        window()->grab().save(&file, "PNG")) {
        snapshot = file.fileName();
        file.close();
    } else if (!file.fileName().isEmpty()) {
        file.remove();
    }
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), subject, QStringLiteral("--body"), body};
    if (!snapshot.isEmpty())
        arguments << QStringLiteral("--attach") << snapshot;
    arguments << recipient;
    if (startProcess(QStringLiteral("xdg-email"), arguments))
        return;

    // No mail helper: a mail link carries everything but the picture.
    if (!snapshot.isEmpty())
        QFile::remove(snapshot);
    QUrl mail(QStringLiteral("mailto:") + recipient);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), subject);
    query.addQueryItem(QStringLiteral("body"), body);
    mail.setQuery(query);
    openURL(mail);
}

QString KLSettingsViewController::feedbackSnapshotFolder()
{
    const QString container = NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier(
        QString::fromLatin1(KLAppGroupSuiteName));
    if (container.isEmpty())
        return {};
    return container + QStringLiteral("/Library/Caches/Feedback");
}

void KLSettingsViewController::removeOldFeedbackSnapshots()
{
    const QString folder = feedbackSnapshotFolder();
    if (folder.isEmpty())
        return;
    const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
    const QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("Kelvara Feedback *.png")},
                                                  QDir::Files | QDir::Hidden | QDir::System);
    // Removing a link removes the link only, never what it points at.
    for (const QFileInfo& info : files) {
        if (info.isSymLink() || info.lastModified() < dayAgo)
            QFile::remove(info.absoluteFilePath());
    }
}

void KLSettingsViewController::openAddress(const char* address)
{
    openURL(QUrl(QString::fromLatin1(address)));
}

void KLSettingsViewController::supportButtonTapped()
{
    openAddress(KLSupportWebAddress);
}

void KLSettingsViewController::rateAndReviewButtonTapped()
{
    openAddress(KLRateAndReviewWebAddress);
}

void KLSettingsViewController::nudraButtonTapped()
{
    openAddress(KLMakerWebAddress);
}
