#pragma once
// The sidebar's cell ("mainCellIdentifier"): an icon and a title.
#include <memory>

#include "NSTableCellView.h"

class QLabel;
namespace Ui {
class KLMainCellView;
}

class KLMainCellView : public NSTableCellView {
    Q_OBJECT
public:
    explicit KLMainCellView(QWidget* parent = nullptr);
    ~KLMainCellView() override;

    QLabel* imageView() const;
    QLabel* textField() const;
    // The icon by name, drawn for the current appearance at the cell's scale.
    void setImageNamed(const QString& name);

private:
    std::unique_ptr<Ui::KLMainCellView> m_ui;
};
