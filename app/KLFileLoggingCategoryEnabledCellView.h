#pragma once
// The check box of a category in the file-logging outline: on while every
// sensor of the category is logged. Toggling it adds the category's missing
// sensors to the stored list, or takes all of them out.
#include <memory>

#include "KLFileLoggingEnabledCellView.h"

class KLCategory;
namespace Ui {
class KLFileLoggingCategoryEnabledCellView;
}

class KLFileLoggingCategoryEnabledCellView : public KLFileLoggingEnabledCellView {
    Q_OBJECT
public:
    explicit KLFileLoggingCategoryEnabledCellView(QWidget* parent = nullptr);
    ~KLFileLoggingCategoryEnabledCellView() override;

    KLCategory* category() const { return m_category; }
    void setCategory(KLCategory* category);

protected:
    std::optional<QStringList> sensorKeys() const override;
    bool isLogged(const QStringList& logged) const override;

private:
    std::unique_ptr<Ui::KLFileLoggingCategoryEnabledCellView> ui;
    KLCategory* m_category = nullptr;
};
