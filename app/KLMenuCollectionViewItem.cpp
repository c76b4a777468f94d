#include "KLMenuCollectionViewItem.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "KLSensor.h"
#include "NSColor+KLExtension.h"
#include "ui_KLMenuCollectionViewItem.h"

KLMenuCollectionViewItem::KLMenuCollectionViewItem(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::KLMenuCollectionViewItem>())
{
    ui->setupUi(this);
    ui->menuTextField->setFont(chipFont());
    QPalette palette = ui->menuTextField->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    ui->menuTextField->setPalette(palette);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

KLMenuCollectionViewItem::~KLMenuCollectionViewItem() = default;

QLabel* KLMenuCollectionViewItem::menuTextField() const
{
    return ui->menuTextField;
}

QFont KLMenuCollectionViewItem::chipFont()
{
    QFont font;
    font.setPixelSize(13);
    return font;
}

QString KLMenuCollectionViewItem::titleForKey(const QString& key)
{
    const QList<KLSensor*> sensors = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
    const QString name = sensors.isEmpty() ? QString() : sensors.first()->name();
    return name.isEmpty() ? QStringLiteral("--") : name;
}

QSize KLMenuCollectionViewItem::cellSizeWithRepresentedObject(const QString& key)
{
    const QFontMetricsF metrics(chipFont());
    return {int(std::ceil(metrics.horizontalAdvance(titleForKey(key)))) + 10, 21};
}

void KLMenuCollectionViewItem::setRepresentedObject(const QString& key)
{
    m_key = key;
    ui->menuTextField->setText(titleForKey(key));
    m_size = cellSizeWithRepresentedObject(key);
    updateGeometry();
}

void KLMenuCollectionViewItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 3, 3);
    // Top to bottom, the strong colour first.
    QLinearGradient gradient(0, 0, 0, height());
    // Faded only so far that the white name still reads on a white strip.
    QColor faded = KLExtension::appDeepBlueColor();
    faded.setAlphaF(0.9f);
    gradient.setColorAt(0, KLExtension::appDeepBlueColor());
    gradient.setColorAt(1, faded);
    painter.fillPath(shape, gradient);
}
