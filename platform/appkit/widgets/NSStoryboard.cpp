#include "NSStoryboard.h"

#include <QtGlobal>

#include "NSTableCellView.h"
#include "NSTableRowView.h"
#include "NSViewController.h"

namespace {
NSStoryboard* g_main = nullptr;
}

NSStoryboard::NSStoryboard(QString name)
    : m_name(std::move(name))
{
}

NSStoryboard::~NSStoryboard()
{
    if (g_main == this)
        g_main = nullptr;
}

void NSStoryboard::registerController(const QString& identifier, ControllerFactory factory)
{
    m_controllers.insert(identifier, std::move(factory));
}

void NSStoryboard::registerView(const QString& identifier, ViewFactory factory)
{
    m_views.insert(identifier, std::move(factory));
}

NSViewController* NSStoryboard::instantiateControllerWithIdentifier(const QString& identifier) const
{
    const auto it = m_controllers.constFind(identifier);
    if (it == m_controllers.constEnd()) {
        qWarning("Storyboard %s has no screen named \"%s\"", qPrintable(m_name), qPrintable(identifier));
        return nullptr;
    }
    NSViewController* controller = (*it)();
    if (controller)
        controller->setStoryboard(const_cast<NSStoryboard*>(this));
    return controller;
}

QWidget* NSStoryboard::instantiateViewWithIdentifier(const QString& identifier) const
{
    const auto it = m_views.constFind(identifier);
    if (it == m_views.constEnd())
        return nullptr;
    QWidget* view = (*it)();
    if (auto* cell = qobject_cast<NSTableCellView*>(view))
        cell->setIdentifier(identifier);
    else if (auto* row = qobject_cast<NSTableRowView*>(view))
        row->setIdentifier(identifier);
    return view;
}

NSStoryboard* NSStoryboard::mainStoryboard()
{
    return g_main;
}

void NSStoryboard::setMainStoryboard(NSStoryboard* storyboard)
{
    g_main = storyboard;
}
