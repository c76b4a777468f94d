#pragma once
// The sensor row of the popover's list: the shared sensor row with a lighter,
// smaller name, so a row fits the list's 20 points.
#include "KLSensorCellView.h"

class KLPopupSensorCellView : public KLSensorCellView {
    Q_OBJECT
public:
    explicit KLPopupSensorCellView(QWidget* parent = nullptr);
    void awakeFromNib() override;
};
