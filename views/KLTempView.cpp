#include "KLTempView.h"

#include <QCursor>
#include <QPainter>
#include <QPainterPath>
#include <QWhatsThis>

#include "KLSensor.h"
#include "KLUtils.h"
#include "NSColor+KLExtension.h"
#include "NSImage.h"
#include "ui_KLTempView.h"

namespace {

constexpr int kGapWithButton = 34;
constexpr int kGapWithoutButton = 15;
constexpr double kFallbackCornerRadius = 8;

QString orDashes(const QString& text)
{
    return text.isNull() ? QStringLiteral("--") : text;
}

QColor fallbackColorFor(const QString& imageName)
{
    if (imageName == QLatin1String("ico_normal"))
        return KLExtension::appGreenColor();
    if (imageName == QLatin1String("ico_high"))
        return KLExtension::appOrangeColor();
    if (imageName == QLatin1String("ico_ok"))
        return KLExtension::appBlueColor();
    return KLExtension::appRedColor();
}

QFont pixelFont(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

void setElidedText(QLabel* label, const QString& text, int width)
{
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(width, 0)));
    label->setToolTip(label->text() == text ? QString() : text);
}

}  // namespace

KLTempBackgroundView::KLTempBackgroundView(QWidget* parent)
    : QWidget(parent)
{
}

void KLTempBackgroundView::setImage(const QString& name, const QColor& fallback)
{
    if (name == m_imageName && fallback == m_fallback)
        return;
    m_imageName = name;
    m_fallback = fallback;
    update();
}

void KLTempBackgroundView::paintEvent(QPaintEvent*)
{
    if (m_imageName.isEmpty())
        return;
    QPainter painter(this);
    // Drawn into a picture at twice the size, the painter scales; render for that.
    const qreal scale = std::max(devicePixelRatioF(), painter.deviceTransform().m11());
    const QString key = QStringLiteral("%1/%2x%3@%4/%5")
                            .arg(m_imageName)
                            .arg(width())
                            .arg(height())
                            .arg(scale)
                            .arg(KLUtils::isDarkMode());
    if (key != m_cacheKey) {
        m_cacheKey = key;
        m_cache = NSImage::pixmapNamed(m_imageName, size(), scale);
    }
    if (!m_cache.isNull()) {
        painter.drawPixmap(0, 0, m_cache);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fallback);
    painter.drawRoundedRect(QRectF(rect()), kFallbackCornerRadius, kFallbackCornerRadius);
}

KLTempView::KLTempView(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::KLTempView>())
{
    ui->setupUi(this);
    const QFont base = font();
    ui->cpuTempTitleField->setFont(pixelFont(base, 13, QFont::DemiBold));
    ui->cpuTempValueField->setFont(pixelFont(base, 30, QFont::Bold));
    ui->shortDescriptionField->setFont(pixelFont(base, 12, QFont::Medium));
    ui->infoButton->setFont(pixelFont(base, 11, QFont::Bold));
    // White on the coloured picture, whatever the appearance.
    ui->contentView->setStyleSheet(QStringLiteral("QLabel { color: white; background: transparent; }"));
    ui->infoButtonArea->setStyleSheet(QStringLiteral(
        "QToolButton { color: white; border: 1.5px solid rgba(255, 255, 255, 0.9); border-radius: 9px;"
        " background: transparent; padding: 0px; font-family: serif; }"
        "QToolButton:hover { background: rgba(255, 255, 255, 0.18); }"
        "QToolButton:pressed { background: rgba(255, 255, 255, 0.32); }"));
    // The button's corner keeps its size, so showing the button needs no new layout.
    QSizePolicy buttonPolicy = ui->infoButton->sizePolicy();
    buttonPolicy.setRetainSizeWhenHidden(true);
    ui->infoButton->setSizePolicy(buttonPolicy);
    connect(ui->infoButton, &QToolButton::clicked, this, &KLTempView::infoButtonTapped);
    updateUI();
}

KLTempView::~KLTempView() = default;

void KLTempView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    updateUI();
}

QString KLTempView::backgroundImageNameForStatus(int status)
{
    switch (status) {
    case KLSensorStatusNormalTemp:
    case KLSensorStatusZeroSpeed:
    case KLSensorStatusNormalSpeed:
        return QStringLiteral("ico_normal");
    case KLSensorStatusHighTemp:
    case KLSensorStatusHighSpeed:
        return QStringLiteral("ico_high");
    case KLSensorStatusOK:
    case KLSensorStatusSkipped:
        return QStringLiteral("ico_ok");
    default:
        return QStringLiteral("ico_max");
    }
}

void KLTempView::updateUI()
{
    KLSensor* const sensor = m_sensor;
    m_title = orDashes(sensor ? sensor->fullName() : QString());
    ui->cpuTempValueField->setText(orDashes(sensor ? sensor->fullStringValue() : QString()));
    m_shortDescription = orDashes(sensor ? sensor->statusDisplay() : QString());
    const QString explanation = sensor ? sensor->statusExplanation() : QString();
    const bool explained = !explanation.isNull();
    ui->infoButton->setVisible(explained);
    ui->infoButton->setToolTip(explanation);
    const int gap = explained ? kGapWithButton : kGapWithoutButton;
    if (ui->shortDescriptionFieldTrailingConstraint->sizeHint().width() != gap) {
        ui->shortDescriptionFieldTrailingConstraint->changeSize(gap, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        ui->shortDescriptionRow->invalidate();
    }
    const QString image = backgroundImageNameForStatus(sensor ? sensor->statusEnum() : 0);
    ui->cpuTempBgImageView->setImage(image, fallbackColorFor(image));
    showTexts();
}

void KLTempView::showTexts()
{
    const QMargins margins = ui->contentLayout->contentsMargins();
    const int room = width() - margins.left();
    setElidedText(ui->cpuTempTitleField, m_title, room - kGapWithoutButton);
    setElidedText(ui->shortDescriptionField, m_shortDescription,
                  room - ui->shortDescriptionFieldTrailingConstraint->sizeHint().width());
}

QString KLTempView::backgroundImageName() const
{
    return ui->cpuTempBgImageView->imageName();
}

int KLTempView::shortDescriptionFieldTrailingConstant() const
{
    return ui->shortDescriptionFieldTrailingConstraint->sizeHint().width();
}

QLabel* KLTempView::cpuTempTitleField() const { return ui->cpuTempTitleField; }
QLabel* KLTempView::cpuTempValueField() const { return ui->cpuTempValueField; }
QLabel* KLTempView::shortDescriptionField() const { return ui->shortDescriptionField; }
QToolButton* KLTempView::infoButton() const { return ui->infoButton; }

void KLTempView::infoButtonTapped()
{
    const QString help = ui->infoButton->toolTip();
    if (help.isEmpty())
        return;
    QWhatsThis::showText(QCursor::pos(), help, ui->infoButton);
}

void KLTempView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showTexts();
}
