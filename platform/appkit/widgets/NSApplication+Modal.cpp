#include "NSApplication+Modal.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>

#include "NSViewController.h"

namespace NSApplicationModal {

void abortModalSessions()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    // Bounded: a popup that reopens itself must not hold the program here.
    for (int i = 0; i < 16; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            break;
        popup->close();
    }
    QList<QPointer<QDialog>> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialogs.append(dialog);
    for (const QPointer<QDialog>& dialog : dialogs) {
        if (!dialog)
            continue;
        // A sheet refuses Escape and the window manager; its presenter takes it down.
        bool dismissed = false;
        for (auto* sheet : dialog->findChildren<NSViewController*>(Qt::FindDirectChildrenOnly)) {
            if (NSViewController* presenter = sheet->presentingViewController()) {
                presenter->dismissViewController(sheet);
                dismissed = true;
            }
        }
        if (dialog && !dismissed)
            dialog->done(QDialog::Rejected);
    }
}

}  // namespace NSApplicationModal
