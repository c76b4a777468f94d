#pragma once
// The application menu's Language submenu: one item per language Kelvara
// speaks, the chosen one checked. Choosing one writes the setting; the
// language notice that follows rebuilds the submenu and every open screen.
#include <QObject>
#include <QPointer>

class QAction;
class QActionGroup;
#include <QMenu>

class KLMenuController : public QObject {
    Q_OBJECT
public:
    // Builds the submenu now and on every language change.
    explicit KLMenuController(QMenu* languageMenu, QObject* parent = nullptr);
    ~KLMenuController() override;

    QMenu* languageMenu() const { return m_languageMenu; }
    void updateUI();
    void languageSubMenuItemTapped(QAction* sender);

private:
    void dataManagerLanguageDidChangeNotification();

    QPointer<QMenu> m_languageMenu;
    QActionGroup* m_languageGroup;
};
