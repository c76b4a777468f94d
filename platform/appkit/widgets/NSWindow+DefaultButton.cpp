#include "NSWindow+DefaultButton.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QPushButton>

namespace NSWindowDefaultButton {

void setDefaultButton(QDialog* dialog, QPushButton* defaultButton)
{
    if (!dialog)
        return;
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        button->setAutoDefault(false);
    if (defaultButton) {
        defaultButton->setDefault(false);  // setting it again registers it with this dialog
        defaultButton->setDefault(true);
    }
    // A button made since took the default as it took the focus: give it back.
    QPointer<QPushButton> chosen(defaultButton);
    QObject::connect(qApp, &QApplication::focusChanged, dialog, [dialog, chosen](QWidget*, QWidget* now) {
        auto* button = qobject_cast<QPushButton*>(now);
        if (!button || button->window() != dialog || !button->autoDefault())
            return;
        button->setAutoDefault(false);
        if (button == chosen)
            return;
        button->setDefault(false);
        if (chosen)
            chosen->setDefault(true);
    });
}

}  // namespace NSWindowDefaultButton
