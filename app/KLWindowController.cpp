#include "KLWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

#include "KLDataManager.h"
#include "KLMainStoryboard.h"
#include "KLMasterViewController.h"
#include "KLMenuController.h"
#include "NSAppearance.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"

namespace {

constexpr int kSidebarWidth = 230;

}  // namespace

KLWindowController::KLWindowController(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kelvara"));
    setObjectName(QStringLiteral("mainWindow"));
    setAttribute(Qt::WA_QuitOnClose);
    // No minimum of its own: the window's least size is what the sidebar and
    // the pane's screen need (their layouts), so no screen is ever cut.

    NSStoryboard& board = KLMainStoryboard::storyboard();
    m_splitView = new QSplitter(Qt::Horizontal, this);
    m_splitView->setObjectName(QStringLiteral("splitView"));
    m_splitView->setChildrenCollapsible(false);
    m_splitView->setHandleWidth(1);
    m_master = qobject_cast<KLMasterViewController*>(
        board.instantiateControllerWithIdentifier(QStringLiteral("masterViewController")));
    if (!m_master)
        m_master = new KLMasterViewController;
    m_master->setMinimumWidth(200);
    m_master->setMaximumWidth(320);
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("detailPane"));
    m_splitView->addWidget(m_master);
    m_splitView->addWidget(pane);
    m_splitView->setStretchFactor(0, 0);
    m_splitView->setStretchFactor(1, 1);
    m_splitView->setSizes({kSidebarWidth, 1100 - kSidebarWidth});
    m_master->setSplitViewPane(pane);
    updateSplitViewDivider();
    // The category screen starts in the right pane.
    if (NSViewController* detail = board.instantiateControllerWithIdentifier(QStringLiteral("detailViewController")))
        pane->layout()->addWidget(detail);
    setCentralWidget(m_splitView);

    QMenu* applicationMenu = menuBar()->addMenu(QStringLiteral("Kelvara"));
    applicationMenu->setObjectName(QStringLiteral("applicationMenu"));
    auto* languageMenu = applicationMenu->addMenu(QString());
    languageMenu->setObjectName(QStringLiteral("languageMenu"));
    applicationMenu->addSeparator();
    m_quitAction = applicationMenu->addAction(QString(), QKeySequence::Quit, this, &QWidget::close);
    m_quitAction->setObjectName(QStringLiteral("quitAction"));
    m_menuController = new KLMenuController(languageMenu, this);
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLDataManagerLanguageDidChangeNotification),
        [this](const NSNotification&) { localizeMenus(); });
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, NSAppearance::themeChangedNotification(), [this](const NSNotification&) { updateSplitViewDivider(); });
    localizeMenus();

    const QByteArray geometry = KLDataManager::sharedInstance().userDefaults().dataForKey(KLMainWindowGeometryKey);
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        resize(1100, 700);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - rect().center());
        }
    }
    windowDidLoad();
}

KLWindowController::~KLWindowController()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

void KLWindowController::windowDidLoad()
{
    // Nothing to add after loading: Qt widgets draw into their window's backing store already.
}

void KLWindowController::updateSplitViewDivider()
{
    const QColor divider = KLExtension::colorFromLightStyleColor(KLExtension::colorWithHexString("CFCFD2"),
                                                                 KLExtension::colorWithHexString("161616"));
    m_splitView->setStyleSheet(QStringLiteral("QSplitter::handle { background: %1; }").arg(divider.name()));
}

void KLWindowController::localizeMenus()
{
    m_quitAction->setText(KLExtension::localizedStringForKey(QStringLiteral("main-menu-quit")));
}

void KLWindowController::closeEvent(QCloseEvent* event)
{
    KLDataManager::sharedInstance().userDefaults().setObject(saveGeometry(), KLMainWindowGeometryKey);
    QMainWindow::closeEvent(event);
}
