#include "KLViewController.h"

#include <QApplication>
#include <QLineEdit>

#include "KLUtils.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"

KLViewController::KLViewController(QWidget* parent)
    : NSViewController(parent)
{
}

KLViewController::~KLViewController()
{
    removeObservers();
}

void KLViewController::viewDidLoad()
{
    NSViewController::viewDidLoad();
    configureUI();
}

void KLViewController::viewWillAppear()
{
    NSViewController::viewWillAppear();
    if (m_hiddenDark && *m_hiddenDark != KLUtils::isDarkMode())
        appearanceDidChange();
    m_hiddenDark.reset();
    localizeUI();
}

void KLViewController::viewWillDisappear()
{
    m_hiddenDark = KLUtils::isDarkMode();
    removeObservers();
    NSViewController::viewWillDisappear();
}

void KLViewController::commitEditing()
{
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (field && isAncestorOf(field))
        field->clearFocus();
}

void KLViewController::removeObservers()
{
    // The same address a subclass passes as `this`: the QObject base comes first.
    const void* const owner = this;
    NSDistributedNotificationCenter::defaultCenter().removeObserver(owner);
    NSNotificationCenter::defaultCenter().removeObserver(owner);
}
