#pragma once
// A plain cell with one text: the live value column of the overheat rules.
#include "NSTableCellView.h"

class QLabel;

class KLNotiCurrentValueCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLNotiCurrentValueCellView(QWidget* parent = nullptr);
    QLabel* textField() const { return m_textField; }

private:
    QLabel* m_textField;
};
