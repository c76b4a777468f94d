#pragma once
// The application's palette, and colours that follow light and dark.
#include <QColor>
#include <QString>

class QWidget;

namespace KLExtension {

QColor appLightBlueColor();
QColor appBlueColor();
QColor appGreenColor();
QColor appOrangeColor();
QColor appRedColor();
// Behind small white text (selected segments, chips): the blue darkened until
// white reads at 4.5:1 on it, which appBlue's 3.8:1 does not.
QColor appDeepBlueColor();
// Link text on the window: the deep blue in light, the dark palette's link
// colour in dark; each reads at 4.5:1 or more where appBlue reads at 3.3:1.
QColor appLinkColor();

// "RRGGBB" read as a hexadecimal number, with an optional "0x"; black when the
// text does not start with a hexadecimal digit.
QColor colorWithHexString(const QString& text);
// dark while the appearance is dark, else light.
QColor colorFromLightStyleColor(const QColor& light, const QColor& dark);
// A text field or box in a table row: in the dark appearance its base takes
// the controls' colour, or it vanishes into the table. It keeps following the
// appearance by itself; every other colour follows the window's.
void setTableFieldColors(QWidget* field);

}  // namespace KLExtension
