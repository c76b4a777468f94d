#pragma once
// The default button of a sheet or alert: Return presses it wherever the focus
// is. A Qt dialog hands the default to any button that takes the focus (its
// "auto default"), so after a click on another button Return would press that
// one again; here no button of the dialog takes it, also one made later (a row
// added to a sheet). Space still presses the focused button.
class QDialog;
class QPushButton;

namespace NSWindowDefaultButton {

// defaultButton may be null: then Return presses no button.
void setDefaultButton(QDialog* dialog, QPushButton* defaultButton);

}  // namespace NSWindowDefaultButton
