#include "KLWindowController.h"

KLWindowController::KLWindowController(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kelvara"));
    windowDidLoad();
}

KLWindowController::~KLWindowController() = default;

void KLWindowController::windowDidLoad()
{
}
