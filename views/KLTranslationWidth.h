#pragma once
// Room for a text in whichever language the user picks: controls sized to the
// widest translation keep their size, and their text, across languages.
#include <QStringList>

class QComboBox;
class QFontMetrics;
class QWidget;

namespace KLTranslationWidth {

// The width of the widest translation of key among the programs' languages.
int widest(const QFontMetrics& metrics, const QString& key);
// The width a table header section of this widget needs for every translation of key.
int headerWidth(const QWidget* widget, const QString& key);
// The width a pop-up needs to show a title as wide as textWidth without cutting it.
int popUpWidth(const QComboBox* popUp, int textWidth);
// Keeps the pop-up at least wide enough for every translation of the keys and
// for the further titles.
void fitPopUp(QComboBox* popUp, const QStringList& keys, const QStringList& titles = {});

}  // namespace KLTranslationWidth
