#include "NSAlert.h"

#include <QMessageBox>
#include <QPushButton>

#include "NSWindow+DefaultButton.h"

namespace {
std::optional<int> g_nextAnswer;
std::optional<NSAlert::Asked> g_asked;
}  // namespace

int NSAlert::runModal(QWidget* parent)
{
    if (g_nextAnswer) {
        const int answer = *g_nextAnswer;
        g_nextAnswer.reset();
        g_asked = Asked{m_messageText, m_informativeText, m_style, m_buttons};
        return answer;
    }
    QMessageBox box(parent);
    box.setIcon(m_style == NSAlertStyleCritical        ? QMessageBox::Critical
                : m_style == NSAlertStyleInformational ? QMessageBox::Information
                                                       : QMessageBox::Warning);
    box.setText(m_messageText);
    box.setInformativeText(m_informativeText);
    QList<QAbstractButton*> buttons;
    if (m_buttons.isEmpty())
        buttons << box.addButton(QMessageBox::Ok);
    for (const QString& title : m_buttons)
        buttons << box.addButton(title, QMessageBox::AcceptRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    NSWindowDefaultButton::setDefaultButton(&box, box.defaultButton());
    box.exec();
    const int index = int(buttons.indexOf(box.clickedButton()));
    return NSAlertFirstButtonReturn + std::max(0, index);
}

void NSAlert::setNextAnswerForTesting(int response)
{
    g_nextAnswer = response;
}

bool NSAlert::hasPendingAnswerForTesting()
{
    return g_nextAnswer.has_value();
}

std::optional<NSAlert::Asked> NSAlert::takeAskedForTesting()
{
    std::optional<Asked> asked = std::move(g_asked);
    g_asked.reset();
    return asked;
}
