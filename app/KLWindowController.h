#pragma once
// The main window: "Kelvara", the split view of the sidebar and the pane of
// the selected item, under the application menu. It comes back at the size
// and place it had when it was last closed; closing it ends Kelvara.
#include <QMainWindow>

class KLMasterViewController;
class KLMenuController;
class QAction;
class QSplitter;

// Where the window's size and place are kept, in the settings suite.
inline constexpr const char* KLMainWindowGeometryKey = "KLMainWindowGeometry";

class KLWindowController : public QMainWindow {
    Q_OBJECT
public:
    explicit KLWindowController(QWidget* parent = nullptr);
    ~KLWindowController() override;

    // Called once the window's contents exist.
    void windowDidLoad();

    KLMasterViewController* masterViewController() const { return m_master; }
    KLMenuController* menuController() const { return m_menuController; }
    QSplitter* splitView() const { return m_splitView; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void localizeMenus();
    void updateSplitViewDivider();

    QSplitter* m_splitView = nullptr;
    KLMasterViewController* m_master = nullptr;
    KLMenuController* m_menuController = nullptr;
    QAction* m_quitAction = nullptr;
};
