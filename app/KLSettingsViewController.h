#pragma once
// The settings pane: opening Kelvara Menu at login, update checks, the
// interface language, the temperature unit, what the menu-bar item shows and
// its dropdown's layout (a sheet), Kelvara Helper's poll frequency, feedback
// mail, links to the maker and the version.
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

#include "KLViewController.h"

namespace Ui {
class KLSettingsViewController;
}
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class KLDropdownSettingsViewController;

class KLSettingsViewController : public KLViewController {
    Q_OBJECT
public:
    explicit KLSettingsViewController(QWidget* parent = nullptr);
    ~KLSettingsViewController() override;

    // Where the outside world is reached; tests put recorders here. A process
    // start answers whether the program could be started.
    using ProcessStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
    using URLOpener = std::function<bool(const QUrl& url)>;
    using MenuComponentLoader = std::function<void(bool forceOpen)>;
    // An empty function puts the real one back.
    static void setProcessStarterForTesting(ProcessStarter starter);
    static void setURLOpenerForTesting(URLOpener opener);
    static void setMenuComponentLoaderForTesting(MenuComponentLoader loader);

    KLDropdownSettingsViewController* dropdownSettingsViewController() const { return m_dropdownSettingsViewController; }
    // The segment shown as selected, -1 when none is.
    int selectedUpdateFrequencySegment() const;

    void updateUI();
    // Feedback pictures wait here for the mail program; those older than a
    // day go at the next press and at Kelvara's start.
    static QString feedbackSnapshotFolder();
    static void removeOldFeedbackSnapshots();

    // Actions.
    void openAtLoginButtonTapped();
    void autoCheckUpdateButtonTapped();
    void celsiusButtonTapped();
    void fahrenheitButtonTapped();
    void showTempInMenuButtonTapped();
    void showIconInMenuButtonTapped();
    void editMenuDropdownButtonTapped();
    void languagePopUpButtonTapped(int index);
    void updateFrequencySegmentedControlValueChanged(int segment);
    void checkUpdatesButtonTapped();
    void sendFeedbackButtonTapped();
    void supportButtonTapped();
    void rateAndReviewButtonTapped();
    void nudraButtonTapped();

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void configureUI() override;
    void localizeUI() override;
    void appearanceDidChange() override { updateMakerLinkColor(); }

private:
    void updateMakerLinkColor();
    void dataManagerSettingsDidChangeNotification();
    void dataManagerLanguageDidChangeNotification();
    void selectCurrentLanguage();
    void openAddress(const char* address);

    std::unique_ptr<Ui::KLSettingsViewController> ui;
    QButtonGroup* m_updateFrequencySegments = nullptr;
    // Made once, presented again on each press; owned here while not shown.
    KLDropdownSettingsViewController* m_dropdownSettingsViewController = nullptr;
};
