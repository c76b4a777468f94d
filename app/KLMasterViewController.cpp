#include "KLMasterViewController.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <optional>

#include "Dispatch.h"
#include "JSKDevice.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLDeepLink.h"
#include "KLMainCellView.h"
#include "KLPrivilegeRequest.h"
#include "KLSystemFiles.h"
#include "KLTableRowView.h"
#include "NSAppearance.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSImage.h"
#include "NSNotificationCenter.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "SMCServices.h"
#include "ui_KLMasterViewController.h"

namespace {

constexpr const char* kOpenPopupNotice = "KLMenuBarControllerShouldOpenPopupNotification";
const QString kMainCell = QStringLiteral("mainCellIdentifier");
const QString kTableRow = QStringLiteral("tableRow");

// Without the kernel's SMC driver the readings come from the simulated Mac.
bool readingsAreSimulated()
{
    return !KLSystemFiles::exists(QString::fromLatin1(smc::kApplesmcDevicePath));
}

QString deviceIconName(long family)
{
    switch (family) {
    case JSKDeviceFamilyMacmini:
        return QStringLiteral("ico_macmini");
    case JSKDeviceFamilyMacPro:
        return QStringLiteral("ico_macpro");
    case JSKDeviceFamilyiMac:
        return QStringLiteral("ico_imac");
    default:
        return QStringLiteral("ico_macbook");
    }
}

void setPixelSize(QWidget* widget, int size, QFont::Weight weight)
{
    QFont font = widget->font();
    font.setPixelSize(size);
    font.setWeight(weight);
    widget->setFont(font);
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

}  // namespace

KLMasterViewController::KLMasterViewController(QWidget* parent)
    : KLViewController(parent)
    , m_ui(std::make_unique<Ui::KLMasterViewController>())
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("masterViewController"));
    setFocusPolicy(Qt::NoFocus);
    m_ui->tableView->setFocusPolicy(Qt::StrongFocus);
    m_ui->tableView->setDataSource(this);
    m_ui->tableView->setDelegate(this);
    connect(m_ui->tableView, &NSTableView::action, this, &KLMasterViewController::tableViewSelected);
    setPixelSize(m_ui->nameTextField, 14, QFont::DemiBold);
    setPixelSize(m_ui->deviceNoteTextField, 11, QFont::Normal);
    m_ui->deviceNoteTextField->setForegroundRole(QPalette::PlaceholderText);
    setAutoFillBackground(true);
}

KLMasterViewController::~KLMasterViewController() = default;

NSTableView* KLMasterViewController::tableView() const
{
    return m_ui->tableView;
}

void KLMasterViewController::setSplitViewPane(QWidget* pane)
{
    m_pane = pane;
    if (pane && !pane->layout()) {
        auto* layout = new QVBoxLayout(pane);
        layout->setContentsMargins(0, 0, 0, 0);
    }
}

NSViewController* KLMasterViewController::paneViewController() const
{
    if (!m_pane || !m_pane->layout() || m_pane->layout()->count() == 0)
        return nullptr;
    return qobject_cast<NSViewController*>(m_pane->layout()->itemAt(0)->widget());
}

NSViewController* KLMasterViewController::screenWithIdentifier(const QString& identifier)
{
    NSStoryboard* board = storyboard();
    NSViewController* screen = board ? board->instantiateControllerWithIdentifier(identifier) : nullptr;
    if (!screen)
        return nullptr;
    screen->setParent(m_pane ? m_pane.data() : static_cast<QWidget*>(this));
    screen->hide();
    return screen;
}

void KLMasterViewController::viewDidLoad()
{
    KLViewController::viewDidLoad();
    m_notificationsViewController =
        screenWithIdentifier(QStringLiteral("notificationsViewController"));
    m_fileLoggingViewController =
        screenWithIdentifier(QStringLiteral("fileLoggingViewController"));
    m_settingsViewController =
        screenWithIdentifier(QStringLiteral("settingsViewController"));
    m_detailViewController = paneViewController();
    reloadData();
    if (!m_categories.isEmpty())
        selectCellAtRow(0);
}

void KLMasterViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    NSNotificationCenter& local = NSNotificationCenter::defaultCenter();
    NSDistributedNotificationCenter& distributed = NSDistributedNotificationCenter::defaultCenter();
    local.addObserver(this, QString::fromLatin1(KLDataManagerDidGenerateDatasetNotification),
                      [this](const NSNotification&) { dataManagerDidGenerateDatasetNotification(); });
    distributed.addObserver(this, QString::fromLatin1(KLDataManagerLanguageDidChangeNotification),
                            [this](const NSNotification&) { dataManagerLanguageDidChangeNotification(); });
    distributed.addObserver(this, NSAppearance::themeChangedNotification(),
                            [this](const NSNotification&) { updateUI(); });
    local.addObserver(this, QString::fromLatin1(KLApplicationDidReceiveDeepLinkNotification),
                      [this](const NSNotification& notification) { handleDeepLink(notification); });
    updateUI();
}

void KLMasterViewController::reloadData()
{
    m_categories.clear();
    for (KLCategory* category : KLCategory::allObjects()) {
        if (!category->sensors().isEmpty())
            m_categories << category;
    }
    m_menuItems.clear();
    for (KLCategory* category : m_categories)
        m_menuItems << KLMenuItem::menuItemWithCategory(category);
    for (unsigned type : {KLMenuItemTypeNotifications, KLMenuItemTypeFileLogging, KLMenuItemTypeSettings})
        m_menuItems << KLMenuItem::menuItemWithType(type);
    updateUI();
}

void KLMasterViewController::updateUI()
{
    const JSKDSystemReport* system = JSKDevice::device().systemInfo();
    m_ui->iconImageView->setPixmap(NSImage::pixmapNamed(deviceIconName(system ? system->family : 0),
                                                        m_ui->iconImageView->size(), devicePixelRatioF()));
    const QString hostName = system ? system->hostName : QString();
    m_ui->nameTextField->setText(hostName.isEmpty() ? QStringLiteral("--") : hostName);
    // Nobody should take the simulated Mac's readings for their machine's.
    const bool simulated = system && readingsAreSimulated();
    m_ui->deviceNoteTextField->setVisible(simulated);
    if (simulated)
        m_ui->deviceNoteTextField->setText(
            KLExtension::localizedStringForKey(QStringLiteral("side-bar-simulated-device"))
                .replace(QLatin1String("%@"), system->rawModelString));

    const QColor background = KLExtension::colorFromLightStyleColor(KLExtension::colorWithHexString("E6E6E9"),
                                                                    KLExtension::colorWithHexString("353537"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    setPalette(palette);
    m_ui->tableView->viewport()->setAutoFillBackground(false);
    setTextColor(m_ui->nameTextField, KLExtension::colorFromLightStyleColor(KLExtension::colorWithHexString("464646"),
                                                                            Qt::white));
    // Dimmer than the name, still 5:1 on the sidebar.
    QPalette note = m_ui->deviceNoteTextField->palette();
    note.setColor(QPalette::PlaceholderText,
                  KLExtension::colorFromLightStyleColor(QColor(96, 96, 100), QColor(170, 170, 174)));
    m_ui->deviceNoteTextField->setPalette(note);

    m_ui->tableView->reloadData();
    // Every item in view whatever the pane, so the window never gets so low
    // that the sidebar scrolls.
    const int rows = m_ui->tableView->numberOfRows();
    const QRect last = m_ui->tableView->rectOfRow(rows - 1);
    m_ui->tableView->setMinimumHeight((rows > 0 ? last.bottom() + 1 : 0) + 2 * m_ui->tableView->frameWidth());
    if (m_selectedRow >= 0 && m_selectedRow < int(m_menuItems.size()))
        m_ui->tableView->selectRowIndexes({m_selectedRow}, false);
}

int KLMasterViewController::numberOfRowsInTableView(NSTableView*)
{
    return int(m_menuItems.size());
}

QWidget* KLMasterViewController::viewForTableColumn(NSTableView* tableView, NSTableColumn*, int row)
{
    auto* cell = tableView->makeView<KLMainCellView>(kMainCell, this);
    if (!cell)
        cell = new KLMainCellView;
    if (row >= 0 && row < int(m_menuItems.size())) {
        const KLMenuItem& item = m_menuItems[row];
        setPixelSize(cell->textField(), 13, QFont::Normal);
        cell->textField()->setText(item.title);
        cell->textField()->setToolTip(item.title);
        cell->setImageNamed(item.iconName);
        setTextColor(cell->textField(), KLExtension::colorFromLightStyleColor(
                                            KLExtension::colorWithHexString("464646"), Qt::white));
    }
    return cell;
}

NSTableRowView* KLMasterViewController::rowViewForRow(NSTableView* tableView, int)
{
    if (auto* row = tableView->makeView<NSTableRowView>(kTableRow, this))
        return row;
    auto* row = new KLTableRowView;
    row->setIdentifier(kTableRow);
    return row;
}

void KLMasterViewController::setDetailCategory(const KLMenuItem& item)
{
    if (m_detailViewController)
        QMetaObject::invokeMethod(m_detailViewController.data(), "setCategory", Q_ARG(KLCategory*, item.category));
}

void KLMasterViewController::showPaneViewController(NSViewController* screen)
{
    if (!m_pane || !screen)
        return;
    QLayout* layout = m_pane->layout();
    if (NSViewController* current = paneViewController()) {
        layout->removeWidget(current);
        current->hide();
    }
    if (screen->parentWidget() != m_pane)
        screen->setParent(m_pane);
    layout->addWidget(screen);
    screen->show();
}

void KLMasterViewController::selectCellAtRow(int row)
{
    if (row < 0 || row >= int(m_menuItems.size())) {
        if (m_selectedRow >= 0 && m_selectedRow < int(m_menuItems.size()))
            m_ui->tableView->selectRowIndexes({m_selectedRow}, false);
        else
            m_ui->tableView->deselectAll();
        return;
    }
    m_selectedRow = row;
    // The highlighted row is always the one on show.
    if (m_ui->tableView->selectedRow() != row)
        m_ui->tableView->selectRowIndexes({row}, false);
    const KLMenuItem item = m_menuItems[row];
    NSViewController* screen = nullptr;
    if (item.isCategoryItem()) {
        setDetailCategory(item);
        screen = m_detailViewController;
    } else if (item.type == KLMenuItemTypeNotifications) {
        screen = m_notificationsViewController;
    } else if (item.type == KLMenuItemTypeFileLogging) {
        screen = m_fileLoggingViewController;
    } else {
        screen = m_settingsViewController;
    }
    NSViewController* shown = paneViewController();
    if (!(item.isCategoryItem() && shown && shown == m_detailViewController))
        showPaneViewController(screen);
}

void KLMasterViewController::tableViewSelected(NSTableView* sender)
{
    selectCellAtRow(sender->selectedRow());
}

void KLMasterViewController::keyUp(QKeyEvent*)
{
    selectCellAtRow(m_ui->tableView->selectedRow());
}

void KLMasterViewController::dataManagerDidGenerateDatasetNotification()
{
    // The item on show, whether the user or a link chose it, stays chosen
    // wherever the new catalogue puts it.
    std::optional<KLMenuItem> shown;
    if (m_selectedRow >= 0 && m_selectedRow < int(m_menuItems.size()))
        shown = m_menuItems[m_selectedRow];
    reloadData();
    int row = -1;
    if (shown) {
        for (int i = 0; i < int(m_menuItems.size()) && row < 0; ++i)
            if (m_menuItems[i].type == shown->type && m_menuItems[i].category == shown->category)
                row = i;
        for (int i = 0; i < int(m_menuItems.size()) && row < 0; ++i)
            if (m_menuItems[i].type == shown->type)
                row = i;
    }
    if (row < 0 && !m_categories.isEmpty())
        row = 0;
    if (row >= 0)
        selectCellAtRow(row);
}

void KLMasterViewController::dataManagerLanguageDidChangeNotification()
{
    reloadData();
}

void KLMasterViewController::handleDeepLink(const NSNotification& notification)
{
    const QString path = notification.object.toString();
    if (KLDeepLink::fanRuleMode(path)) {
        int row = 0;
        for (int i = 0; i < int(m_categories.size()); ++i) {
            if (m_categories[i]->type() == KLCategoryTypeFan) {
                row = i;
                break;
            }
        }
        if (row < int(m_menuItems.size()))
            m_ui->tableView->selectRowIndexes({row}, false);
        selectCellAtRow(row);
        if (m_detailViewController)
            QMetaObject::invokeMethod(m_detailViewController.data(), "handleDeepLink", Q_ARG(QString, path));
    } else if (KLDeepLink::isPrivilegeLink(path)) {
        // Links that come while one is being answered add nothing: the answer
        // opens Kelvara Menu's popover once.
        if (m_privilegeLinkPending)
            return;
        m_privilegeLinkPending = true;
        QPointer<KLMasterViewController> self(this);
        KLPrivilegeRequest::request(this, [self](bool granted) {
            if (self)
                self->m_privilegeLinkPending = false;
            if (granted) {
                dispatch_async(dispatch_get_main_queue(), [] {
                    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
                        QString::fromLatin1(kOpenPopupNotice), {}, {}, true);
                });
            }
        });
    }
}
