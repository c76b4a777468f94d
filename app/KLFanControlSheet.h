#pragma once
// What the detail screen needs of the fan-rules sheet it presents: the mode
// the sheet opens in, and who hears that the sheet saved. The sheet's class
// implements both; the screen finds it through the storyboard identifier
// "fanControlViewController" and reaches it through this interface only.
class KLFanControlViewDelegate;

class KLFanControlSheet {
public:
    virtual ~KLFanControlSheet() = default;
    // A KLFanControlMode: the part of the rules the sheet opens on.
    virtual unsigned preferredMode() const = 0;
    virtual void setPreferredMode(unsigned mode) = 0;
    virtual void setFanControlDelegate(KLFanControlViewDelegate* delegate) = 0;
};

class KLFanControlViewDelegate {
public:
    virtual ~KLFanControlViewDelegate() = default;
    virtual void fanControlViewControllerDidSaveData(KLFanControlSheet* sheet) = 0;
};
