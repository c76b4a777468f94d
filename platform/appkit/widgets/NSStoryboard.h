#pragma once
// A program's table of screens and table cells by identifier: each screen
// or cell prototype the program names is registered with a factory, and
// instantiateControllerWithIdentifier / a table's makeViewWithIdentifier
// make them through it.
#include <QHash>
#include <QString>
#include <functional>

class NSViewController;
class QWidget;

class NSStoryboard {
public:
    using ControllerFactory = std::function<NSViewController*()>;
    using ViewFactory = std::function<QWidget*()>;

    explicit NSStoryboard(QString name = {});
    ~NSStoryboard();

    QString name() const { return m_name; }
    void registerController(const QString& identifier, ControllerFactory factory);
    void registerView(const QString& identifier, ViewFactory factory);
    bool hasView(const QString& identifier) const { return m_views.contains(identifier); }
    bool hasController(const QString& identifier) const { return m_controllers.contains(identifier); }

    // A new controller (the caller owns it) that knows this storyboard; null
    // with a message on standard error for an unknown identifier.
    NSViewController* instantiateControllerWithIdentifier(const QString& identifier) const;
    // A new cell or row view carrying the identifier; null when none is registered.
    QWidget* instantiateViewWithIdentifier(const QString& identifier) const;

    // The program's storyboard, set once at start; null until then.
    static NSStoryboard* mainStoryboard();
    static void setMainStoryboard(NSStoryboard* storyboard);

private:
    QString m_name;
    QHash<QString, ControllerFactory> m_controllers;
    QHash<QString, ViewFactory> m_views;
};
