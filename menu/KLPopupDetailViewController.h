#pragma once
// The detail popover of a hovered sensor in Kelvara Menu's popover: the value
// tile, the show-in-menu switch, the history graph with its time range and
// the sensor's description. Every setting of the sensor redraws it.
#include <memory>

#include "KLViewController.h"
#include "RZLineGraphViewDelegate.h"

class KLSensor;
namespace Ui {
class KLPopupDetailViewController;
}

class KLPopupDetailViewController : public KLViewController, public RZLineGraphViewDelegate {
    Q_OBJECT
public:
    explicit KLPopupDetailViewController(QWidget* parent = nullptr);
    ~KLPopupDetailViewController() override;

    KLSensor* sensor() const { return m_sensor; }
    // Also with the same sensor or none: a poll tick refreshes this way.
    void setSensor(KLSensor* sensor);

    void updateUI();
    void updateGraphUI();

    void menuBarSwitchValueChanged();
    void graphSegmentedControlValueChanged();

    using RZLineGraphViewDelegate::lineGraphView;
    std::optional<QString> lineGraphView(RZLineGraphView* graphView, double value, int index) override;

    Ui::KLPopupDetailViewController& outlets() const { return *ui; }

protected:
    void viewDidLoad() override;
    void viewWillAppear() override;
    void configureUI() override;
    void localizeUI() override;
    void appearanceDidChange() override
    {
        configureUI();
        updateUI();
    }

private:
    std::unique_ptr<Ui::KLPopupDetailViewController> ui;
    KLSensor* m_sensor = nullptr;
};
