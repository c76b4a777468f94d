#include "NSColor+KLExtension.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "KLUtils.h"
#include "NSAppearance.h"

namespace KLExtension {

namespace {

void fitFieldBase(QWidget* field)
{
    // Setting the palette is itself a palette change.
    static bool fitting = false;
    if (fitting)
        return;
    fitting = true;
    QPalette colours;
    colours.setResolveMask(0);
    if (KLUtils::isDarkMode())
        colours.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
    field->setPalette(colours);
    fitting = false;
}

// Sets the field's base again when the palette around it changes.
class FieldBaseFollower : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            fitFieldBase(static_cast<QWidget*>(watched));
        return false;
    }
};

}  // namespace

QColor appLightBlueColor() { return QColor(11, 150, 246); }
QColor appBlueColor() { return QColor(11, 130, 250); }
QColor appGreenColor() { return QColor(70, 216, 117); }
QColor appOrangeColor() { return QColor(255, 149, 0); }
QColor appRedColor() { return QColor(255, 59, 48); }
QColor appDeepBlueColor() { return QColor(10, 100, 210); }
QColor appLinkColor()
{
    return colorFromLightStyleColor(appDeepBlueColor(), NSAppearance::darkPalette().color(QPalette::Link));
}

QColor colorWithHexString(const QString& text)
{
    // As a scanner reads a hexadecimal integer: leading spaces, an optional
    // "0x", then as many hex digits as there are; the value saturates at 32 bits.
    QStringView rest = QStringView(text).trimmed();
    if (rest.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        rest = rest.mid(2);
    quint64 value = 0;
    qsizetype digits = 0;
    for (const QChar c : rest) {
        const int digit = c.isDigit() ? c.unicode() - '0'
                          : (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                              ? c.toLower().unicode() - 'a' + 10
                              : -1;
        if (digit < 0)
            break;
        value = std::min<quint64>(value * 16 + static_cast<quint64>(digit), 0xFFFFFFFFull);
        ++digits;
    }
    if (digits == 0)
        return QColor(0, 0, 0);
    return QColor(static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>(value & 0xFF));
}

QColor colorFromLightStyleColor(const QColor& light, const QColor& dark)
{
    return KLUtils::isDarkMode() ? dark : light;
}

void setTableFieldColors(QWidget* field)
{
    if (!field)
        return;
    fitFieldBase(field);
    const char* const following = "KLFollowsTableFieldColors";
    if (!field->property(following).toBool()) {
        field->setProperty(following, true);
        field->installEventFilter(new FieldBaseFollower(field));
    }
}

}  // namespace KLExtension
