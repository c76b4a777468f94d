#pragma once
// The base of every screen. configureUI runs once, when the view loads;
// localizeUI before every appearance, so texts follow a language change.
// At every disappearance, and when the screen goes, every observation it made
// on the local and the distributed notice centre is dropped: a screen
// observes with itself (`this`) as the owner, in viewWillAppear.
#include <optional>

#include "NSViewController.h"

class KLViewController : public NSViewController {
    Q_OBJECT
public:
    explicit KLViewController(QWidget* parent = nullptr);
    ~KLViewController() override;

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    virtual void configureUI() {}
    virtual void localizeUI() {}
    // Before an appearance, when the light/dark appearance changed while the
    // screen was hidden (and so not observing the theme notice): a screen that
    // follows that notice redoes its look here.
    virtual void appearanceDidChange() {}
    // Ends the editing of this screen's text field that has the keyboard focus,
    // as a click elsewhere would, so the field hands over what was typed. Tool
    // buttons take no focus: an action runs this first, before it reloads rows
    // and the typed text would be replaced by the stored one.
    void commitEditing();

private:
    void removeObservers();

    // Dark or not when the screen was last hidden; empty while shown.
    std::optional<bool> m_hiddenDark;
};
