#include "KLTranslationWidth.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHash>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

#include "KLDataManager.h"
#include "NSString+KLExtension.h"

namespace KLTranslationWidth {

namespace {

// The string tables are read once per key; they do not change while a program runs.
const QStringList& translations(const QString& key)
{
    static QHash<QString, QStringList> known;
    auto found = known.find(key);
    if (found == known.end()) {
        QStringList texts;
        for (const QString& language : KLDataManager::sharedInstance().allLanguages())
            texts << KLExtension::localizedStringForKey(key, language);
        found = known.insert(key, texts);
    }
    return *found;
}

}  // namespace

int widest(const QFontMetrics& metrics, const QString& key)
{
    int width = metrics.horizontalAdvance(KLExtension::localizedStringForKey(key));
    for (const QString& text : translations(key))
        width = std::max(width, metrics.horizontalAdvance(text));
    return width;
}

int popUpWidth(const QComboBox* popUp, int textWidth)
{
    QStyleOptionComboBox option;
    option.initFrom(popUp);
    option.editable = popUp->isEditable();
    option.frame = popUp->hasFrame();
    // The label is drawn one point in from each side of the edit field.
    const QSize contents(textWidth + 2, popUp->fontMetrics().height());
    return popUp->style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, popUp).width();
}

void fitPopUp(QComboBox* popUp, const QStringList& keys, const QStringList& titles)
{
    const QFontMetrics metrics = popUp->fontMetrics();
    int text = 0;
    for (const QString& key : keys)
        text = std::max(text, widest(metrics, key));
    for (const QString& title : titles)
        text = std::max(text, metrics.horizontalAdvance(title));
    popUp->setMinimumWidth(popUpWidth(popUp, text));
}

int headerWidth(const QWidget* widget, const QString& key)
{
    const int margin = widget->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, widget);
    return widest(QFontMetrics(widget->font()), key) + 2 * margin;
}

}  // namespace KLTranslationWidth
