#pragma once
// The fan box's wiring, the same in Kelvara and Kelvara Menu: a controller
// whose .ui has the box's outlets under the same names and whose box handlers
// are public.
#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include "KLFanControlCells.h"
#include "NSTableView.h"

namespace KLFanControlBox {

template <class Controller, class Ui>
void connectActions(Controller* controller, Ui* ui)
{
    QObject::connect(ui->fanControlTableView, &NSTableView::action, controller,
                     [controller] { controller->fanControlTableViewSelected(); });
    QObject::connect(ui->fanControlModeButton, &QComboBox::activated, controller,
                     [controller] { controller->fanControlModeButtonTapped(); });
    QObject::connect(ui->fanControlEditButton, &QPushButton::clicked, controller,
                     [controller] { controller->editFanRulesButtonTapped(); });
    KLFanControlCells::connectSpeedButtons(ui->fanManualUtil25Button, ui->fanManualUtil50Button, ui->fanManualUtil75Button,
                                           ui->fanManualUtil100Button, controller,
                                           [controller](double percent) { controller->handleChangeFanSpeedViaButtonWithPercent(percent); });
    QObject::connect(ui->fanManualUtilLinkButton, &QToolButton::clicked, controller,
                     [controller] { controller->fanManualUtilLinkButtonTapped(); });
}

}  // namespace KLFanControlBox
