// The on/off switch in each of its looks, on a window-coloured host with room
// for the knob's shadow and the focus ring.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>
#include <cstdio>

#include "Pictures.h"
#include "TSSwitch.h"

namespace {

struct Host {
    QWidget widget;
    TSSwitch* control;

    Host()
    {
        widget.resize(70, 50);
        widget.setAutoFillBackground(true);
        control = new TSSwitch(&widget);
        const QSize size = TSSwitch::sizeForTrack({50, 30});
        control->setGeometry((70 - size.width()) / 2, (50 - size.height()) / 2, size.width(), size.height());
    }
};

void press(TSSwitch& control)
{
    const QPointF at(control.width() / 4.0, control.height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonPress, at, control.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&control, &event);
}

bool switchPictures(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    bool ok = true;
    // Hidden switches take each new look at once, so nothing is caught mid-way.
    const struct {
        const char* name;
        bool checked;
        bool enabled;
        bool pressed;
    } looks[] = {{"switch-off", false, true, false},         {"switch-on", true, true, false},
                 {"switch-pressed", false, true, true},      {"switch-pressed-on", true, true, true},
                 {"switch-disabled-off", false, false, false}, {"switch-disabled-on", true, false, false}};
    for (const auto& look : looks) {
        Host host;
        host.control->setChecked(look.checked);
        host.control->setEnabled(look.enabled);
        if (look.pressed)
            press(*host.control);
        ok &= pictures.save(host.widget, QString::fromLatin1(look.name), dark, scale);
    }

    // Keyboard focus needs a shown, active window.
    Host host;
    host.control->setChecked(true);
    host.widget.show();
    host.widget.activateWindow();
    drain();
    host.widget.setAttribute(Qt::WA_KeyboardFocusChange);
    host.control->setFocus(Qt::TabFocusReason);
    drain();
    if (!host.control->hasFocus())
        std::fprintf(stderr, "kelvara_pictures: the switch did not get the keyboard focus\n");
    ok &= pictures.save(host.widget, QStringLiteral("switch-focus"), dark, scale);
    return ok;
}

const PictureSetRegistration registration("switch", switchPictures);

}  // namespace
