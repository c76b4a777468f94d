#pragma once
// A cell of a view-based table: a widget the table makes once per identifier
// and row slot and hands out again, after prepareForReuse, on later reloads.
#include <QString>
#include <QWidget>

class NSTableCellView : public QWidget {
    Q_OBJECT
public:
    explicit NSTableCellView(QWidget* parent = nullptr);

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString& identifier) { m_identifier = identifier; }

    // Called by the table before a cell it made earlier is used for another row.
    virtual void prepareForReuse() {}

private:
    QString m_identifier;
};
