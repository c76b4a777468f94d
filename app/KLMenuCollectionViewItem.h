#pragma once
// A chip of the detail screen's menu-bar strip: the name of one sensor shown
// in the menu-bar title, white on a blue gradient.
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
namespace Ui {
class KLMenuCollectionViewItem;
}

class KLMenuCollectionViewItem : public QWidget {
    Q_OBJECT
public:
    explicit KLMenuCollectionViewItem(QWidget* parent = nullptr);
    ~KLMenuCollectionViewItem() override;

    static QString cellIdentifier() { return QStringLiteral("menuCollectionViewItem"); }
    // The chip's size for a sensor key: its text's width + 10 by 21.
    static QSize cellSizeWithRepresentedObject(const QString& key);

    QString representedObject() const { return m_key; }
    void setRepresentedObject(const QString& key);
    QLabel* menuTextField() const;

    QSize sizeHint() const override { return m_size; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QString titleForKey(const QString& key);
    static QFont chipFont();

    std::unique_ptr<Ui::KLMenuCollectionViewItem> ui;
    QString m_key;
    QSize m_size{10, 21};
};
