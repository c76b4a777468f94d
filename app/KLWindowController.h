#pragma once
// The main window: "Kelvara", the split view of the sidebar and the pane of
// the selected item.
#include <QMainWindow>

class KLWindowController : public QMainWindow {
    Q_OBJECT
public:
    explicit KLWindowController(QWidget* parent = nullptr);
    ~KLWindowController() override;

    // Called once the window's contents exist.
    void windowDidLoad();
};
