#pragma once
// Finds controls drawn over one another: a layout squeezed below its least
// size puts a button over the pop-up beside it, which no check of a single
// control's own text sees. Controls are labels (their text), buttons, pop-ups,
// fields, sliders, scroll bars, headers, switches, segmented controls, level
// bars and graphs under a widget, each compared where it can be seen: clipped
// by its ancestors (a table's viewport hides rows scrolled out of it), within
// its own window. A control's own parts (a pop-up's field, a graph's labels) are
// the control's. Each finding reads "a «text» and b «text» overlap by W×H at (x, y)".
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

#include "KLLevelIndicator.h"
#include "KLSegmentedControl.h"
#include "RZLineGraphView.h"
#include "TSSwitch.h"

namespace OverlappingControls {

inline bool isControl(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty() || !label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget)
           || qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
           || qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QHeaderView*>(widget)
           || qobject_cast<const TSSwitch*>(widget) || qobject_cast<const KLSegmentedControl*>(widget)
           || qobject_cast<const KLLevelIndicator*>(widget) || dynamic_cast<const RZLineGraphView*>(widget);
}

// What the widget draws, in its own coordinates: a label its text where its
// alignment puts it (a label often stretches beyond its text), any other
// control the whole of itself.
inline QRect drawnRect(const QWidget* widget)
{
    auto* label = qobject_cast<const QLabel*>(widget);
    if (!label || label->text().isEmpty())
        return widget->rect();
    const QRect contents = label->contentsRect().marginsRemoved(QMargins(label->margin(), label->margin(),
                                                                         label->margin(), label->margin()));
    const int flags = int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
    return label->fontMetrics().boundingRect(contents, flags, label->text()) & contents;
}

// The part of the widget that can be seen, in its window's coordinates.
inline QRect visibleRect(const QWidget* widget)
{
    const QWidget* window = widget->window();
    QRect visible = drawnRect(widget).translated(widget->mapTo(window, QPoint(0, 0)));
    for (const QWidget* parent = widget->parentWidget(); parent && visible.isValid(); parent = parent->parentWidget()) {
        visible &= QRect(parent->mapTo(window, QPoint(0, 0)), parent->size());
        if (parent == window)
            break;
    }
    return visible;
}

inline QString describe(const QWidget* widget)
{
    QString name = widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                                  : widget->objectName();
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    else if (auto* box = qobject_cast<const QComboBox*>(widget))
        text = box->currentText();
    else if (auto* field = qobject_cast<const QLineEdit*>(widget))
        text = field->text();
    return text.isEmpty() ? name : QStringLiteral("%1 «%2»").arg(name, text);
}

// Every pair of controls under root (root included) that overlap where they
// are seen, among the widgets shown with root.
inline QStringList find(const QWidget* root)
{
    struct Shown {
        const QWidget* widget;
        QRect rect;
    };
    QList<Shown> controls;
    for (const QWidget* widget : QList<const QWidget*>{root} + root->findChildren<const QWidget*>()) {
        if ((widget != root && !widget->isVisibleTo(root)) || !isControl(widget))
            continue;
        bool part = false;
        for (const QWidget* parent = widget->parentWidget(); parent && !part; parent = parent->parentWidget()) {
            part = isControl(parent);
            if (parent == root)
                break;
        }
        const QRect rect = visibleRect(widget);
        if (!part && !rect.isEmpty())
            controls.append({widget, rect});
    }
    QStringList found;
    for (qsizetype i = 0; i < controls.size(); ++i) {
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            const QRect both = controls[i].rect & controls[j].rect;
            if (controls[i].widget->window() != controls[j].widget->window() || both.isEmpty())
                continue;
            found << QStringLiteral("%1 and %2 overlap by %3×%4 at (%5, %6)")
                         .arg(describe(controls[i].widget), describe(controls[j].widget))
                         .arg(both.width()).arg(both.height()).arg(both.x()).arg(both.y());
        }
    }
    return found;
}

}  // namespace OverlappingControls
