#pragma once
// A screen: a widget with the appearance lifecycle screens are written
// against. viewDidLoad runs once, when the screen is first shown or first
// asked for its view; viewWillAppear/viewDidAppear on every show and
// viewWillDisappear/viewDidDisappear on every hide. A window being minimised
// and restored is not a disappearance.
#include <QPointer>
#include <QWidget>

class NSStoryboard;
class QDialog;
class QKeyEvent;
class QPushButton;

class NSViewController : public QWidget {
    Q_OBJECT
public:
    explicit NSViewController(QWidget* parent = nullptr);
    ~NSViewController() override;

    // The screen with its view loaded (viewDidLoad has run).
    NSViewController* view();
    bool isViewLoaded() const { return m_viewLoaded; }

    // The controller that presented this one as a sheet, while it is shown.
    NSViewController* presentingViewController() const { return m_presenting; }
    void setPresentingViewController(NSViewController* presenter) { m_presenting = presenter; }

    // Sheets: a window-modal dialog over this screen's window, at the top
    // centre of it, hosting the controller until it is dismissed. The sheet
    // keeps its owner: on dismissal it goes back to the parent it had.
    void presentViewControllerAsSheet(NSViewController* sheet);
    void dismissViewController(NSViewController* sheet);
    // A presented sheet dismissing itself.
    void dismissController();
    NSViewController* presentedViewController() const { return m_presented; }
    // Escape in a presented sheet: what its Cancel button does; by default
    // the sheet is dismissed.
    virtual void cancelOperation();

    // The storyboard this screen came from, else the program's main one.
    NSStoryboard* storyboard() const;
    void setStoryboard(NSStoryboard* storyboard) { m_storyboard = storyboard; }

protected:
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}
    // A key released anywhere in the screen that no widget inside took.
    virtual void keyUp(QKeyEvent*) {}

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void loadView();

    bool m_viewLoaded = false;
    bool m_appeared = false;
    QPointer<NSViewController> m_presenting;
    QPointer<NSViewController> m_presented;
    QPointer<QDialog> m_sheetDialog;
    QPointer<QWidget> m_presentedFormerParent;
    QPointer<QPushButton> m_defaultButton;  // as a sheet: the button Return presses
    NSStoryboard* m_storyboard = nullptr;
};
