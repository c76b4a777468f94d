#include "NSViewController.h"

#include <QShowEvent>
#include <QTimer>

NSViewController::NSViewController(QWidget* parent)
    : QWidget(parent)
{
}

NSViewController::~NSViewController() = default;

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
