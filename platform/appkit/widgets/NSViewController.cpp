#include "NSViewController.h"

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "NSStoryboard.h"
#include "NSWindow+DefaultButton.h"

namespace {

// The window of a sheet: only its controller closes it, not the window
// manager; Escape asks the controller to cancel.
class SheetDialog : public QDialog {
public:
    SheetDialog(QWidget* host, NSViewController* sheet)
        : QDialog(host, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
        , m_host(host)
        , m_sheet(sheet)
    {
    }
    bool closing = false;
    void reject() override
    {
        if (m_sheet)
            m_sheet->cancelOperation();
    }

    // Centred across the host, at the top of its contents. Until the window
    // manager framed the sheet, its frame is taken to be like the host's.
    void place()
    {
        QWindow* handle = windowHandle();
        if (!m_host || !handle)
            return;
        const QRect area = m_host->geometry();
        QMargins frame = handle->frameMargins();
        if (frame.isNull() && m_host->windowHandle())
            frame = m_host->windowHandle()->frameMargins();
        const int frameWidth = width() + frame.left() + frame.right();
        const QPoint topLeft(area.x() + (area.width() - frameWidth) / 2, area.y());
        // Shown, the window's own frame position; before, the widget's, which its showing applies.
        if (handle->isExposed())
            handle->setFramePosition(topLeft);
        else
            move(topLeft);
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QDialog::showEvent(event);
        if (event->spontaneous())
            return;
        // The sheet's appearance has filled it by now, and the window is not
        // mapped yet: size and place it before the window manager sees it.
        if (QLayout* content = layout())
            content->activate();
        resize(sizeHint().expandedTo(minimumSizeHint()));
        setAttribute(Qt::WA_Moved);
        place();
        if (QWindow* handle = windowHandle())
            handle->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Framed and shown: the frame's real width is known now.
        if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            place();
        }
        return QDialog::eventFilter(watched, event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (!closing)
            event->ignore();
    }

private:
    QPointer<QWidget> m_host;
    QPointer<NSViewController> m_sheet;
};

}  // namespace

NSViewController::NSViewController(QWidget* parent)
    : QWidget(parent)
{
}

NSViewController::~NSViewController()
{
    // A sheet still shown goes back to its owner before this window goes.
    if (m_presented)
        dismissViewController(m_presented);
}

NSStoryboard* NSViewController::storyboard() const
{
    return m_storyboard ? m_storyboard : NSStoryboard::mainStoryboard();
}

void NSViewController::presentViewControllerAsSheet(NSViewController* sheet)
{
    if (!sheet || sheet == this || sheet->m_presenting || m_presented)
        return;
    QWidget* host = window();
    auto* dialog = new SheetDialog(host, sheet);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(sheet->windowTitle().isEmpty() ? host->windowTitle() : sheet->windowTitle());
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    m_presentedFormerParent = sheet->parentWidget();
    // Loaded first, so the dialog is sized from its real content.
    sheet->view();
    sheet->setParent(dialog);
    layout->addWidget(sheet);
    // The button the interface file marks as default is the dialog's own:
    // Return presses it whichever button was clicked or focused last.
    if (!sheet->m_defaultButton) {
        const QList<QPushButton*> buttons = sheet->findChildren<QPushButton*>();
        const auto marked = std::find_if(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isDefault(); });
        sheet->m_defaultButton = marked == buttons.end() ? nullptr : *marked;
    }
    NSWindowDefaultButton::setDefaultButton(dialog, sheet->m_defaultButton);
    // Set before it shows, so its appearance already sees its presenter.
    sheet->m_presenting = this;
    m_presented = sheet;
    m_sheetDialog = dialog;
    sheet->show();
    // Sized and placed as it shows, once its content is filled (SheetDialog).
    dialog->show();
}

void NSViewController::dismissViewController(NSViewController* sheet)
{
    if (!sheet || sheet != m_presented)
        return;
    if (auto* dialog = static_cast<SheetDialog*>(m_sheetDialog.data())) {
        dialog->closing = true;
        dialog->hide();
        dialog->layout()->removeWidget(sheet);
        dialog->deleteLater();
    }
    sheet->setParent(m_presentedFormerParent);
    sheet->m_presenting = nullptr;
    m_presented = nullptr;
    m_sheetDialog = nullptr;
    m_presentedFormerParent = nullptr;
}

void NSViewController::dismissController()
{
    if (m_presenting)
        m_presenting->dismissViewController(this);
}

void NSViewController::cancelOperation()
{
    dismissController();
}

void NSViewController::keyReleaseEvent(QKeyEvent* event)
{
    keyUp(event);
    event->accept();
}

NSViewController* NSViewController::view()
{
    loadView();
    return this;
}

void NSViewController::loadView()
{
    if (m_viewLoaded)
        return;
    m_viewLoaded = true;
    viewDidLoad();
}

void NSViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window system's show after a minimise is not an appearance.
    if (event->spontaneous() || m_appeared)
        return;
    loadView();
    m_appeared = true;
    viewWillAppear();
    QPointer<NSViewController> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->m_appeared)
            self->viewDidAppear();
    });
}

void NSViewController::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous() || !m_appeared)
        return;
    m_appeared = false;
    viewWillDisappear();
    viewDidDisappear();
}
