#include "NSViewController.h"

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "NSStoryboard.h"

namespace {

// The window of a sheet: only its controller closes it, not Escape or the
// window manager.
class SheetDialog : public QDialog {
public:
    using QDialog::QDialog;
    bool closing = false;
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (!closing)
            event->ignore();
    }
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
    auto* dialog = new SheetDialog(host, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(sheet->windowTitle().isEmpty() ? host->windowTitle() : sheet->windowTitle());
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    m_presentedFormerParent = sheet->parentWidget();
    sheet->setParent(dialog);
    layout->addWidget(sheet);
    // Set before it shows, so its appearance already sees its presenter.
    sheet->m_presenting = this;
    m_presented = sheet;
    m_sheetDialog = dialog;
    sheet->show();
    dialog->adjustSize();
    dialog->show();
    // Placed once shown, when its window frame is known: the frame's top at
    // the top of the window's contents, centred across it.
    const QRect area = host->geometry();
    dialog->move(area.x() + (area.width() - dialog->frameGeometry().width()) / 2, area.y());
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
