#pragma once
// A cell of a view-based table: a widget the table makes once per identifier
// and row slot and hands out again, after prepareForReuse, on later reloads.
#include <QString>
#include <QWidget>

// How a cell draws its contents over its row's background.
enum NSBackgroundStyle {
    NSBackgroundStyleNormal = 0,
    NSBackgroundStyleEmphasized = 1,  // over a strong selection colour
};

class NSTableCellView : public QWidget {
    Q_OBJECT
public:
    explicit NSTableCellView(QWidget* parent = nullptr);

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString& identifier) { m_identifier = identifier; }

    // Called by the table before a cell it made earlier is used for another row.
    virtual void prepareForReuse() {}

    // Set by the table from its row (whose palette already turns texts to the
    // highlighted text colour when emphasized).
    NSBackgroundStyle backgroundStyle() const { return m_backgroundStyle; }
    virtual void setBackgroundStyle(NSBackgroundStyle style);

private:
    QString m_identifier;
    NSBackgroundStyle m_backgroundStyle = NSBackgroundStyleNormal;
};
