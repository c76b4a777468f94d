#include "KLTextField.h"

KLTextField::KLTextField(QWidget* parent)
    : QLineEdit(parent)
{
}

void KLTextField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (m_customDelegate)
        m_customDelegate->textFieldDidBecomeFirstResponder(this);
}
