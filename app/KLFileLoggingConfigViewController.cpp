#include "KLFileLoggingConfigViewController.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLFileLoggingCategoryEnabledCellView.h"
#include "KLFileLoggingSensorEnabledCellView.h"
#include "KLSensor.h"
#include "NSDistributedNotificationCenter.h"
#include "NSOpenPanel.h"
#include "NSString+KLExtension.h"
#include "NSWorkspace.h"
#include "TSSwitch.h"
#include "ui_KLFileLoggingConfigViewController.h"

namespace {

const QString kSensorColumn = QStringLiteral("sensorColumn");
constexpr int kCheckColumnWidth = 64;

QString localized(const char* key)
{
    return KLExtension::localizedStringForKey(QString::fromLatin1(key));
}

QFont pixelFont(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// The file name of the stored path; the default name when the path names no
// file ("/a/logs/", an existing folder, "..", ""): the chosen folder itself
// must never become the log.
QString logFileName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || QFileInfo(path).isDir())
        return QString::fromLatin1(KLFileLoggingDefaultFileName);
    return name;
}

}  // namespace

KLFileLoggingConfigViewController::KLFileLoggingConfigViewController(QWidget* parent)
    : KLViewController(parent)
    , ui(std::make_unique<Ui::KLFileLoggingConfigViewController>())
{
    ui->setupUi(this);
}

KLFileLoggingConfigViewController::~KLFileLoggingConfigViewController() = default;

NSOutlineView* KLFileLoggingConfigViewController::outlineView() const
{
    return ui->outlineView;
}

const QList<KLCategory*>& KLFileLoggingConfigViewController::categories()
{
    if (!m_categoriesFetched) {
        m_categories = KLCategory::allObjects();
        m_categoriesFetched = true;
    }
    return m_categories;
}

void KLFileLoggingConfigViewController::configureUI()
{
    ui->fileLoggingSectionField->setFont(pixelFont(font(), 15, QFont::DemiBold));
    ui->sensorsSectionField->setFont(pixelFont(font(), 15, QFont::DemiBold));
    ui->filePathTitleField->setFont(pixelFont(font(), 13, QFont::Normal));
    ui->resetModeTitleField->setFont(pixelFont(font(), 13, QFont::Normal));
    ui->pathControl->setFont(pixelFont(font(), 12, QFont::Normal));
    ui->pathControl->installEventFilter(this);

    m_resetSegments = new QButtonGroup(this);
    m_resetSegments->setExclusive(true);
    m_resetSegments->addButton(ui->resetNeverSegment, KLFileLoggingResetModeNever);
    m_resetSegments->addButton(ui->resetOnStartupSegment, KLFileLoggingResetModeLaunch);
    m_resetSegments->addButton(ui->resetEveryDaySegment, KLFileLoggingResetModeDaily);
    for (QAbstractButton* segment : m_resetSegments->buttons())
        segment->setMinimumWidth(96);
    styleSegments();

    connect(ui->loggingEnabledSwitch, &TSSwitch::action, this,
            &KLFileLoggingConfigViewController::loggingEnabledSwitchValueChanged);
    connect(ui->chooseFolderButton, &QPushButton::clicked, this,
            &KLFileLoggingConfigViewController::chooseFolderButtonTapped);
    connect(ui->openFileButton, &QPushButton::clicked, this, &KLFileLoggingConfigViewController::openButtonTapped);
    connect(ui->revealButton, &QPushButton::clicked, this,
            &KLFileLoggingConfigViewController::revealInFinderButtonTapped);
    connect(m_resetSegments, &QButtonGroup::idClicked, this,
            &KLFileLoggingConfigViewController::resetLogFileSegmentedControlValueChanged);

    NSOutlineView* outline = ui->outlineView;
    outline->setDataSource(this);
    outline->setDelegate(this);
    outline->setSelectionHighlightStyle(NSTableViewSelectionHighlightStyleNone);
    // The viewport, which narrows when the rows come to need a scroll bar.
    outline->viewport()->installEventFilter(this);
    fitColumns();
    outline->expandItem(nullptr, true);
}

void KLFileLoggingConfigViewController::localizeUI()
{
    ui->fileLoggingSectionField->setText(localized("file-logging-screen-file-logging-section-field"));
    ui->sensorsSectionField->setText(localized("file-logging-screen-sensors-section-field"));
    ui->filePathTitleField->setText(localized("file-logging-screen-file-path-title-field"));
    ui->resetModeTitleField->setText(localized("file-logging-screen-reset-mode-title-field"));
    ui->resetNeverSegment->setText(localized("file-logging-screen-reset-mode-never-title"));
    ui->resetOnStartupSegment->setText(localized("file-logging-screen-reset-mode-on-app-startup-title"));
    ui->resetEveryDaySegment->setText(localized("file-logging-screen-reset-mode-every-day-title"));
    ui->resetNeverSegment->setToolTip(localized("file-logging-screen-reset-mode-never-tool-tip"));
    ui->resetOnStartupSegment->setToolTip(localized("file-logging-screen-reset-mode-on-app-startup-tool-tip"));
    ui->resetEveryDaySegment->setToolTip(localized("file-logging-screen-reset-mode-every-day-tool-tip"));
    ui->openFileButton->setText(localized("file-logging-screen-open-file-button"));
    ui->revealButton->setText(localized("file-logging-screen-reveal-button"));
    ui->chooseFolderButton->setText(localized("file-logging-screen-choose-folder-button"));
    const auto& columns = ui->outlineView->tableColumns();
    if (columns.size() == 2) {
        columns[0]->setTitle(localized("file-logging-screen-sensors-header"));
        columns[1]->setTitle(localized("file-logging-screen-enable-logging-header"));
    }
    fitColumns();
}

void KLFileLoggingConfigViewController::viewWillAppear()
{
    KLViewController::viewWillAppear();
    NSDistributedNotificationCenter& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLDataManagerFileLoggingSensorKeysDidChangeNotification),
                       [this](const NSNotification& notice) { dataManagerFileLoggingSensorKeysDidChangeNotification(notice); });
    center.addObserver(this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
                       [this](const NSNotification& notice) { kelvaraTempDidChangeNotification(notice); });
    updateUI();
}

void KLFileLoggingConfigViewController::updateUI()
{
    updateConfigureUI();
    ui->outlineView->reloadData();
}

void KLFileLoggingConfigViewController::updateConfigureUI()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const bool enabled = settings.fileLoggingEnabled();
    const QString path = settings.fileLoggingPath();
    ui->loggingEnabledSwitch->setChecked(enabled);
    showPath(path);
    // Kelvara Helper makes the file at its next tick: checked again on every poll notice.
    ui->openFileButton->setEnabled(!path.isEmpty() && QFileInfo(path).isFile());
    ui->chooseFolderButton->setEnabled(enabled);
    ui->resetLogFileSegmentedControl->setEnabled(enabled);
    ui->revealButton->setEnabled(true);
    if (QAbstractButton* segment = m_resetSegments ? m_resetSegments->button(int(settings.fileLoggingResetMode())) : nullptr)
        segment->setChecked(true);
    else if (m_resetSegments && m_resetSegments->checkedButton()) {
        // A mode outside the three shows no segment.
        m_resetSegments->setExclusive(false);
        m_resetSegments->checkedButton()->setChecked(false);
        m_resetSegments->setExclusive(true);
    }
}

void KLFileLoggingConfigViewController::loggingEnabledSwitchValueChanged(TSSwitch* sender)
{
    KLDataManager::sharedInstance().setFileLoggingEnabled(sender->isChecked());
    updateUI();
}

void KLFileLoggingConfigViewController::chooseFolderButtonTapped()
{
    std::shared_ptr<NSOpenPanel> panel = NSOpenPanel::openPanel();
    panel->setCanChooseFiles(false);
    panel->setCanChooseDirectories(true);
    const QString current = KLDataManager::sharedInstance().fileLoggingPath();
    if (!current.isEmpty())
        panel->setDirectoryURL(QUrl::fromLocalFile(QFileInfo(current).path()));
    QPointer<KLFileLoggingConfigViewController> screen(this);
    NSOpenPanel* chooser = panel.get();
    panel->beginSheetModalForWindow(window(), [screen, chooser](NSModalResponse response) {
        if (response != NSModalResponseOK || !chooser->URL().isLocalFile())
            return;
        KLDataManager& settings = KLDataManager::sharedInstance();
        // The folder changes, the file keeps its name.
        settings.setFileLoggingPath(QDir(chooser->URL().toLocalFile()).filePath(logFileName(settings.fileLoggingPath())));
        if (screen)
            screen->updateConfigureUI();
    });
}

void KLFileLoggingConfigViewController::openButtonTapped()
{
    NSWorkspace::sharedWorkspace().openFile(KLDataManager::sharedInstance().fileLoggingPath());
}

void KLFileLoggingConfigViewController::revealInFinderButtonTapped()
{
    NSWorkspace::sharedWorkspace().openFile(QFileInfo(KLDataManager::sharedInstance().fileLoggingPath()).path());
}

void KLFileLoggingConfigViewController::resetLogFileSegmentedControlValueChanged()
{
    const int selected = m_resetSegments->checkedId();
    if (selected >= 0)
        KLDataManager::sharedInstance().setFileLoggingResetMode(unsigned(selected));
}

void KLFileLoggingConfigViewController::kelvaraTempDidChangeNotification(const NSNotification&)
{
    updateConfigureUI();
}

void KLFileLoggingConfigViewController::dataManagerFileLoggingSensorKeysDidChangeNotification(const NSNotification&)
{
    ui->outlineView->reloadData();
}

int KLFileLoggingConfigViewController::numberOfChildrenOfItem(NSOutlineView*, void* item)
{
    if (!item)
        return int(categories().size());
    if (auto* category = dynamic_cast<KLCategory*>(static_cast<NSManagedObject*>(item)))
        return int(category->sensors().size());
    return 0;
}

void* KLFileLoggingConfigViewController::child(NSOutlineView*, int index, void* item)
{
    if (!item)
        return index < categories().size() ? itemFor(categories().at(index)) : nullptr;
    if (auto* category = dynamic_cast<KLCategory*>(static_cast<NSManagedObject*>(item))) {
        const QList<KLSensor*> sensors = category->sensors();
        return index < sensors.size() ? itemFor(sensors.at(index)) : nullptr;
    }
    return nullptr;
}

bool KLFileLoggingConfigViewController::isItemExpandable(NSOutlineView*, void* item)
{
    auto* category = item ? dynamic_cast<KLCategory*>(static_cast<NSManagedObject*>(item)) : nullptr;
    return category && !category->sensors().isEmpty();
}

QWidget* KLFileLoggingConfigViewController::viewForTableColumn(NSOutlineView* outlineView, NSTableColumn* tableColumn,
                                                               void* item)
{
    auto* object = static_cast<NSManagedObject*>(item);
    auto* category = dynamic_cast<KLCategory*>(object);
    auto* sensor = dynamic_cast<KLSensor*>(object);
    if (!category && !sensor)
        return nullptr;
    if (tableColumn && tableColumn->identifier() == kSensorColumn) {
        QWidget* cell = outlineView->makeViewWithIdentifier(category ? QStringLiteral("categoryCell")
                                                                     : QStringLiteral("sensorCell"),
                                                            this);
        // A group by its name in the chosen language, as the popover's headers.
        if (auto* field = cell ? cell->findChild<QLabel*>(QStringLiteral("textField")) : nullptr)
            field->setText(category ? category->localizedName() : sensor->name());
        return cell;
    }
    if (category) {
        auto* cell = outlineView->makeView<KLFileLoggingCategoryEnabledCellView>(QStringLiteral("categoryEnabledCell"), this);
        if (cell)
            cell->setCategory(category);
        return cell;
    }
    auto* cell = outlineView->makeView<KLFileLoggingSensorEnabledCellView>(QStringLiteral("sensorEnabledCell"), this);
    if (cell)
        cell->setSensor(sensor);
    return cell;
}

QWidget* KLFileLoggingConfigViewController::makeNameCellView(bool category)
{
    auto* cell = new NSTableCellView;
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(6, 0, 6, 0);
    auto* field = new QLabel(cell);
    field->setObjectName(QStringLiteral("textField"));
    field->setFont(pixelFont(field->font(), 13, category ? QFont::DemiBold : QFont::Normal));
    field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(field);
    return cell;
}

void KLFileLoggingConfigViewController::styleSegments()
{
    // One control of three joined segments, the chosen one in the accent
    // colour; the sheet's palette colours are taken when it is set.
    static const QString sheet = QStringLiteral(
        "QPushButton { border: 1px solid palette(mid); border-left-width: 0; background: palette(button);"
        " color: palette(button-text); padding: 4px 12px; }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); }"
        "QPushButton:disabled { color: palette(mid); }"
        "QPushButton:checked:disabled { background: palette(mid); color: palette(button); }"
        "#resetNeverSegment { border-left-width: 1px; border-top-left-radius: 5px; border-bottom-left-radius: 5px; }"
        "#resetEveryDaySegment { border-top-right-radius: 5px; border-bottom-right-radius: 5px; }");
    ui->resetLogFileSegmentedControl->setStyleSheet(QString());
    ui->resetLogFileSegmentedControl->setStyleSheet(sheet);
}

void KLFileLoggingConfigViewController::changeEvent(QEvent* event)
{
    KLViewController::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && isViewLoaded())
        styleSegments();
}

void KLFileLoggingConfigViewController::showPath(const QString& path)
{
    m_shownPath = QDir::toNativeSeparators(path);
    ui->pathControl->setToolTip(m_shownPath);
    const int room = ui->pathControl->contentsRect().width();
    ui->pathControl->setText(ui->pathControl->fontMetrics().elidedText(m_shownPath, Qt::ElideMiddle, std::max(room, 40)));
}

void KLFileLoggingConfigViewController::fitColumns()
{
    const auto& columns = ui->outlineView->tableColumns();
    if (columns.size() != 2)
        return;
    // The check column is as wide as its heading, which some languages make long.
    const int heading = QFontMetrics(ui->outlineView->font()).horizontalAdvance(columns[1]->title()) + 24;
    const int check = std::max(kCheckColumnWidth, heading);
    // The names take the rest; below their least the outline scrolls sideways.
    columns[1]->setWidth(check);
    columns[0]->setWidth(std::max(120, ui->outlineView->viewport()->width() - check));
}

bool KLFileLoggingConfigViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == ui->pathControl)
            showPath(m_shownPath);
        else if (watched == ui->outlineView->viewport())
            fitColumns();
    }
    return KLViewController::eventFilter(watched, event);
}
