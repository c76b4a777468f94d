#pragma once
// The sensor row of the popover's list: the shared sensor row with a lighter,
// smaller name, so a row fits the list's 20 points.
#include "KLSensorCellView.h"

class KLPopupSensorCellView : public KLSensorCellView {
    Q_OBJECT
public:
    explicit KLPopupSensorCellView(QWidget* parent = nullptr);
    void awakeFromNib() override;
    void updateUI() override;

private:
    // The kind of sensor the value's room was made for.
    int m_valueCategoryType = -1;
};
