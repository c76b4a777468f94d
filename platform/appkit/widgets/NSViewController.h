#pragma once
// A screen: a widget with the appearance lifecycle screens are written
// against. viewDidLoad runs once, when the screen is first shown or first
// asked for its view; viewWillAppear/viewDidAppear on every show and
// viewWillDisappear/viewDidDisappear on every hide. A window being minimised
// and restored is not a disappearance.
#include <QPointer>
#include <QWidget>

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

protected:
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void loadView();

    bool m_viewLoaded = false;
    bool m_appeared = false;
    QPointer<NSViewController> m_presenting;
};
