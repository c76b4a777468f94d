#pragma once
// The category header of the popover's sensor list: the upper-cased name in
// the application's blue.
#include "NSTableCellView.h"

class QLabel;

class KLPopupHeaderCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLPopupHeaderCellView(QWidget* parent = nullptr);
    void awakeFromNib();
    QLabel* textField() const { return m_textField; }

private:
    QLabel* m_textField;
};
