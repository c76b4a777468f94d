#pragma once
// An editable text field that tells its delegate when it gains the keyboard
// focus, so a cell can show the bare number for editing.
#include <QLineEdit>
#include <QPointer>

class KLTextField;

class KLTextFieldDelegate {
public:
    virtual ~KLTextFieldDelegate() = default;
    // The answer is ignored, as the field's callers expect.
    virtual bool textFieldDidBecomeFirstResponder(KLTextField* /*textField*/) { return false; }
};

class KLTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit KLTextField(QWidget* parent = nullptr);

    KLTextFieldDelegate* customDelegate() const { return m_customDelegate; }
    void setCustomDelegate(KLTextFieldDelegate* delegate) { m_customDelegate = delegate; }

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    KLTextFieldDelegate* m_customDelegate = nullptr;
};
