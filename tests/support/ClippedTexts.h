#pragma once
// Finds texts wider than the room their control gives them: labels, pop-ups
// (every item, not only the chosen one), buttons, check boxes, fields, table
// headers and segmented controls under a widget, as laid out now. Each finding
// reads "object: «text» needs N, has M".
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionHeader>
#include <QTextDocument>
#include <QToolButton>

#include "KLSegmentedControl.h"

namespace ClippedTexts {

inline int textWidth(const QFontMetrics& metrics, const QString& text)
{
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// The text as drawn: without the mnemonic marks.
inline QString shown(QString text)
{
    text.replace(QLatin1String("&&"), QString(QChar(0xE000)));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(0xE000), QLatin1Char('&'));
    return text;
}

inline QString describe(const QWidget* widget, const QString& text, int needed, int available)
{
    const QString name = widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                                         : widget->objectName();
    return QStringLiteral("%1: «%2» needs %3, has %4").arg(name, text).arg(needed).arg(available);
}

// One point is left to rounding: widths are measured in whole points.
inline void check(QStringList& found, const QWidget* widget, const QString& text, int needed, int available)
{
    if (!text.isEmpty() && needed > available + 1)
        found << describe(widget, text, needed, available);
}

inline void checkLabel(QStringList& found, const QLabel* label)
{
    if (label->text().isEmpty())
        return;
    if (label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
        return;
    int available = label->contentsRect().width() - 2 * label->margin();
    if (label->indent() > 0)
        available -= label->indent();
    if (!label->wordWrap()) {
        check(found, label, label->text(), textWidth(label->fontMetrics(), label->text()), available);
        return;
    }
    // A wrapping label cuts only a word longer than its width.
    for (const QString& word : label->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        check(found, label, word, label->fontMetrics().horizontalAdvance(word), available);
}

inline void checkComboBox(QStringList& found, const QComboBox* box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    option.subControls = QStyle::SC_All;
    // The label is drawn one point in from each side of the edit field.
    const int available =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width() - 2;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemData(i, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator"))
            continue;
        const int icon = box->itemIcon(i).isNull() ? 0 : box->iconSize().width() + 4;
        check(found, box, box->itemText(i), textWidth(box->fontMetrics(), box->itemText(i)) + icon, available);
    }
}

inline void checkButton(QStringList& found, const QAbstractButton* button)
{
    const QString text = shown(button->text());
    if (text.isEmpty())
        return;
    const int needed = textWidth(button->fontMetrics(), text);
    const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (auto* push = qobject_cast<const QPushButton*>(button)) {
        option.features = push->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
        if (push->menu())
            option.features |= QStyleOptionButton::HasMenu;
        const QRect contents = push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
        const int indicator = push->menu() ? push->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, push) : 0;
        check(found, button, text, needed + icon, contents.width() - indicator);
    } else if (qobject_cast<const QCheckBox*>(button)) {
        const QRect contents = button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
        check(found, button, text, needed + icon, contents.width());
    } else if (qobject_cast<const QRadioButton*>(button)) {
        const QRect contents = button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
        check(found, button, text, needed + icon, contents.width());
    } else if (auto* tool = qobject_cast<const QToolButton*>(button)) {
        const bool withIcon = tool->toolButtonStyle() != Qt::ToolButtonTextOnly && !tool->icon().isNull();
        if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && withIcon)
            return;
        const int frame = tool->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, tool);
        check(found, button, text, needed + (withIcon ? icon : 0), tool->width() - frame);
    }
}

inline void checkLineEdit(QStringList& found, const QLineEdit* field)
{
    if (field->text().isEmpty() || field->echoMode() != QLineEdit::Normal)
        return;
    QStyleOptionFrame option;
    option.initFrom(field);
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
    QRect contents = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    contents = contents.marginsRemoved(field->textMargins());
    // A line edit keeps two points free on each side of its text.
    check(found, field, field->text(), textWidth(field->fontMetrics(), field->text()), contents.width() - 4);
}

inline void checkHeader(QStringList& found, const QHeaderView* header)
{
    const QAbstractItemModel* model = header->model();
    if (!model || header->orientation() != Qt::Horizontal)
        return;
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int logical = 0; logical < header->count(); ++logical) {
        if (header->isSectionHidden(logical))
            continue;
        const QString text = model->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
        QFont font = header->font();
        const QVariant own = model->headerData(logical, Qt::Horizontal, Qt::FontRole);
        if (own.isValid())
            font = qvariant_cast<QFont>(own);
        check(found, header, text, textWidth(QFontMetrics(font), text) + 2 * margin, header->sectionSize(logical));
    }
}

inline void checkSegments(QStringList& found, const KLSegmentedControl* control)
{
    for (int segment = 0; segment < control->segmentCount(); ++segment) {
        const QString text = control->labelForSegment(segment);
        check(found, control, text, textWidth(control->fontMetrics(), text), control->rectForSegment(segment).width());
    }
}

// Every clipped text under root (root included) among the widgets shown with it.
inline QStringList find(const QWidget* root)
{
    QStringList found;
    QList<const QWidget*> widgets{root};
    for (const QWidget* child : root->findChildren<QWidget*>())
        widgets << child;
    for (const QWidget* widget : widgets) {
        if (widget != root && !widget->isVisibleTo(root))
            continue;
        if (widget->width() <= 0)
            continue;
        if (auto* label = qobject_cast<const QLabel*>(widget))
            checkLabel(found, label);
        else if (auto* box = qobject_cast<const QComboBox*>(widget))
            checkComboBox(found, box);
        else if (auto* button = qobject_cast<const QAbstractButton*>(widget))
            checkButton(found, button);
        else if (auto* field = qobject_cast<const QLineEdit*>(widget))
            checkLineEdit(found, field);
        else if (auto* header = qobject_cast<const QHeaderView*>(widget))
            checkHeader(found, header);
        else if (auto* segments = qobject_cast<const KLSegmentedControl*>(widget))
            checkSegments(found, segments);
    }
    return found;
}

}  // namespace ClippedTexts
