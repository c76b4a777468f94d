#pragma once
// A modal alert over a QMessageBox: message, informative text, a style that
// picks the icon (critical, informational, else warning) and buttons in the
// order added, the first being the default. runModal answers
// NSAlertFirstButtonReturn + the index of the button pressed.
//
// Tests answer the next alert through setNextAnswerForTesting instead of
// letting it block; that alert then records what it asked.
#include <QString>
#include <QStringList>
#include <optional>

enum NSAlertStyle {
    NSAlertStyleWarning = 0,
    NSAlertStyleInformational = 1,
    NSAlertStyleCritical = 2,
};

enum : int {
    NSAlertFirstButtonReturn = 1000,
    NSAlertSecondButtonReturn = 1001,
    NSAlertThirdButtonReturn = 1002,
};

class QWidget;

class NSAlert {
public:
    QString messageText() const { return m_messageText; }
    void setMessageText(const QString& text) { m_messageText = text; }
    QString informativeText() const { return m_informativeText; }
    void setInformativeText(const QString& text) { m_informativeText = text; }
    NSAlertStyle alertStyle() const { return m_style; }
    void setAlertStyle(NSAlertStyle style) { m_style = style; }
    void addButtonWithTitle(const QString& title) { m_buttons << title; }
    QStringList buttonTitles() const { return m_buttons; }

    // Blocks until a button is pressed; an alert without buttons has "OK".
    int runModal(QWidget* parent = nullptr);

    // What an answered alert asked.
    struct Asked {
        QString messageText;
        QString informativeText;
        NSAlertStyle style = NSAlertStyleWarning;
        QStringList buttons;
    };
    // The next runModal returns response at once, without showing anything.
    static void setNextAnswerForTesting(int response);
    // Whether the answer set above is still waiting for an alert.
    static bool hasPendingAnswerForTesting();
    // The last alert answered through the hook; taking it clears it.
    static std::optional<Asked> takeAskedForTesting();

private:
    QString m_messageText;
    QString m_informativeText;
    NSAlertStyle m_style = NSAlertStyleWarning;
    QStringList m_buttons;
};
