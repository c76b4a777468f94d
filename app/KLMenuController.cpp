#include "KLMenuController.h"

#include <QAction>
#include <QActionGroup>
#include <QLocale>
#include <QMenu>

#include "KLDataManager.h"
#include "NSDistributedNotificationCenter.h"
#include "NSString+KLExtension.h"

namespace {

// The language's name in English, as the "en" locale names the identifier.
QString englishDisplayName(const QString& code)
{
    const QLocale locale(code);
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return {};
    return QLocale::languageToString(locale.language());
}

}  // namespace

KLMenuController::KLMenuController(QMenu* languageMenu, QObject* parent)
    : QObject(parent)
    , m_languageMenu(languageMenu)
    , m_languageGroup(new QActionGroup(this))  // exclusive: choosing the language in use keeps its tick
{
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLDataManagerLanguageDidChangeNotification),
        [this](const NSNotification&) { dataManagerLanguageDidChangeNotification(); });
    updateUI();
}

KLMenuController::~KLMenuController()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

void KLMenuController::dataManagerLanguageDidChangeNotification()
{
    updateUI();
}

void KLMenuController::updateUI()
{
    if (!m_languageMenu)
        return;
    m_languageMenu->setTitle(KLExtension::localizedStringForKey(QStringLiteral("main-menu-language")));
    m_languageMenu->clear();
    // The menu deletes its items, and each deleted item leaves the group.
    KLDataManager& data = KLDataManager::sharedInstance();
    const QStringList& languages = data.allLanguages();
    const QString current = data.currentLanguage();
    for (int i = 0; i < int(languages.size()); ++i) {
        const QString name = englishDisplayName(languages[i]);
        if (name.isEmpty())
            continue;
        QAction* item = m_languageMenu->addAction(name);
        item->setData(i);
        item->setCheckable(true);
        m_languageGroup->addAction(item);
        item->setChecked(languages[i] == current);
        connect(item, &QAction::triggered, this, [this, item] { languageSubMenuItemTapped(item); });
    }
}

void KLMenuController::languageSubMenuItemTapped(QAction* sender)
{
    const QStringList& languages = KLDataManager::sharedInstance().allLanguages();
    const int tag = sender->data().toInt();
    if (tag >= 0 && tag < int(languages.size()))
        KLDataManager::sharedInstance().setCurrentLanguage(languages[tag]);
}
