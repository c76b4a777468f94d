#include "KLFanSetDetailCellView.h"

#include <QSignalBlocker>
#include <algorithm>
#include <climits>
#include <cmath>

#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSColor+KLExtension.h"
#include "ui_KLFanSetDetailCellView.h"

KLFanSetDetailCellView::KLFanSetDetailCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanSetDetailCellView>())
{
    ui->setupUi(this);
    setMinimumHeight(kRowHeight);
    QFont text = font();
    text.setPixelSize(13);
    ui->nameTextField->setFont(text);
    ui->speedTextField->setFont(text);
    ui->speedTextField->setCustomDelegate(this);
    ui->speedTextField->setText(QStringLiteral("--"));
    connect(ui->speedSlider, &QSlider::valueChanged, this, &KLFanSetDetailCellView::speedSliderValueChanged);
    connect(ui->speedSlider, &QSlider::sliderReleased, this, &KLFanSetDetailCellView::speedSliderReleased);
    connect(ui->speedTextField, &QLineEdit::editingFinished, this, &KLFanSetDetailCellView::controlTextDidEndEditing);
}

KLFanSetDetailCellView::~KLFanSetDetailCellView() = default;

void KLFanSetDetailCellView::setSensor(KLSensor* sensor)
{
    m_sensor = sensor;
    double speed = 0;
    if (m_fanSet && sensor) {
        const std::optional<KLFanSpeeds> speeds = m_fanSet->valueDict();
        if (speeds)
            speed = speeds->value(sensor->key()).toDouble();
    }
    m_forcedValue = KLUtils::truncatedInt(speed);
    if (m_forcedValue < 1)
        m_forcedValue = sensor ? KLUtils::truncatedInt(sensor->minValue()) : 0;
    updateUI();
}

int KLFanSetDetailCellView::percentage(int speed, double minValue, double maxValue)
{
    const double range = maxValue - minValue;
    if (range == 0 || std::isnan(range))
        return speed >= maxValue ? 100 : 0;
    const int shown = KLUtils::truncatedInt((speed - minValue) / range * 100);
    // A speed set as a whole share of the range (a speed button) lost the
    // fraction of an rpm that truncating it dropped: it shows that share.
    if (shown >= 0 && shown < 100 && KLFanControlLogic::speedForFraction(shown / 100.0, minValue, maxValue) != speed &&
        KLFanControlLogic::speedForFraction((shown + 1) / 100.0, minValue, maxValue) == speed)
        return shown + 1;
    return shown;
}

void KLFanSetDetailCellView::updateUI()
{
    const QString name = m_sensor ? m_sensor->name() : QString();
    ui->nameTextField->setText(name.isEmpty() ? QStringLiteral("--") : name);
    const double min = m_sensor ? m_sensor->minValue() : 0;
    const double max = m_sensor ? m_sensor->maxValue() : 0;
    KLExtension::setTableFieldColors(ui->speedTextField);
    ui->speedTextField->setText(
        QStringLiteral("%1 (%2%)").arg(m_forcedValue).arg(percentage(m_forcedValue, min, max)));
    // Filling the row is no choice of the user's.
    const QSignalBlocker quiet(ui->speedSlider);
    ui->speedSlider->setRange(KLUtils::truncatedInt(min), KLUtils::truncatedInt(max));
    ui->speedSlider->setValue(m_forcedValue);
}

void KLFanSetDetailCellView::speedSliderValueChanged(int value)
{
    m_forcedValue = value;
    updateUI();
    // A drag is told once, at release; a key press, a click on the track or a
    // wheel step is a whole change of its own and is told at once.
    if (!ui->speedSlider->isSliderDown())
        tellSpeed(m_forcedValue, true);
}

void KLFanSetDetailCellView::speedSliderReleased()
{
    m_forcedValue = ui->speedSlider->value();
    updateUI();
    tellSpeed(m_forcedValue, true);
}

bool KLFanSetDetailCellView::textFieldDidBecomeFirstResponder(KLTextField*)
{
    ui->speedTextField->setText(QString::number(m_forcedValue));
    return true;
}

long long KLFanSetDetailCellView::integerValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        const int digit = text.at(i).unicode() - '0';
        if (value > (LLONG_MAX - digit) / 10)
            return negative ? LLONG_MIN : LLONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

void KLFanSetDetailCellView::controlTextDidEndEditing()
{
    // The delegate stores the speed and fills the row again; the field keeps
    // what was typed until then.
    if (!m_sensor)
        return;
    const double typed = static_cast<double>(integerValue(ui->speedTextField->text()));
    const double clamped = std::max(m_sensor->minValue(), std::min(typed, m_sensor->maxValue()));
    tellSpeed(KLUtils::truncatedInt(clamped), false);
}

void KLFanSetDetailCellView::tellSpeed(int speed, bool viaSlider)
{
    if (m_delegate)
        m_delegate->fanSetDetailCellViewDidChangeSpeed(speed, m_sensor, viaSlider);
}

QLabel* KLFanSetDetailCellView::nameTextField() const { return ui->nameTextField; }
QSlider* KLFanSetDetailCellView::speedSlider() const { return ui->speedSlider; }
KLTextField* KLFanSetDetailCellView::speedTextField() const { return ui->speedTextField; }
