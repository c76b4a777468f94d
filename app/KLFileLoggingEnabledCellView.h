#pragma once
// What the check boxes of the file-logging outline share: the box follows the
// stored list of logged sensors and, while logging is off, is disabled;
// toggling it adds its sensors' missing keys to the list or takes them out.
#include <QStringList>
#include <optional>

#include "NSTableCellView.h"

class QCheckBox;

class KLFileLoggingEnabledCellView : public NSTableCellView {
    Q_OBJECT
public:
    QCheckBox* checkButton() const { return m_checkButton; }

    void updateUI();
    void checkButtonValueChanged();

protected:
    using NSTableCellView::NSTableCellView;
    // The box from the cell's interface file, once it is set up.
    void setCheckButton(QCheckBox* checkButton);
    // The keys the box stands for; none while the cell shows nothing.
    virtual std::optional<QStringList> sensorKeys() const = 0;
    // Whether the box shows on for this stored list.
    virtual bool isLogged(const QStringList& logged) const = 0;

    void changeEvent(QEvent* event) override;

private:
    void fitCheckBoxToAppearance();

    QCheckBox* m_checkButton = nullptr;
};
