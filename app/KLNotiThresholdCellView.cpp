#include "KLNotiThresholdCellView.h"

#include <QEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "KLNotiRuleStore.h"
#include "KLUtils.h"
#include "KLSensor.h"
#include "NSColor+KLExtension.h"
#include "ui_KLNotiThresholdCellView.h"

KLNotiThresholdCellView::KLNotiThresholdCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLNotiThresholdCellView>())
{
    ui->setupUi(this);
    ui->thresholdTextField->setCustomDelegate(this);
    // Leaving the field ends the edit even when nothing was typed, so the
    // live values never stay paused.
    ui->thresholdTextField->installEventFilter(this);
    connect(ui->thresholdTextField, &QLineEdit::editingFinished, this, &KLNotiThresholdCellView::controlTextDidEndEditing);
}

KLNotiThresholdCellView::~KLNotiThresholdCellView() = default;

void KLNotiThresholdCellView::setNotification(const KLNotification& notification)
{
    m_notification = notification;
    updateUI();
}

void KLNotiThresholdCellView::updateUI()
{
    KLExtension::setTableFieldColors(ui->thresholdTextField);
    if (!m_notification || !m_notification->threshold || std::isnan(*m_notification->threshold)) {
        ui->thresholdTextField->setText(QStringLiteral("--"));
        return;
    }
    KLSensor* sensor = m_notification->sensor();
    const QString unit = sensor ? sensor->unitString() : KLSensor::unitStringFromCategoryType(0, false);
    ui->thresholdTextField->setText(QStringLiteral("%1 %2").arg(KLUtils::truncatedInt(*m_notification->threshold)).arg(unit));
}

bool KLNotiThresholdCellView::textFieldDidBecomeFirstResponder(KLTextField*)
{
    if (m_notification && m_notification->threshold && !std::isnan(*m_notification->threshold))
        ui->thresholdTextField->setText(QString::number(KLUtils::truncatedInt(*m_notification->threshold)));
    m_editing = true;
    if (m_delegate)
        m_delegate->notiThresholdCellViewDidBeginEditing();
    return true;
}

bool KLNotiThresholdCellView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->thresholdTextField && event->type() == QEvent::FocusOut)
        controlTextDidEndEditing();
    return NSTableCellView::eventFilter(watched, event);
}

std::optional<int> KLNotiThresholdCellView::thresholdFromText(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    const qsizetype digits = i;
    long long value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i)
        value = std::min<long long>(value * 10 + (text.at(i).unicode() - '0'), INT_MAX);
    if (i == digits)
        return std::nullopt;
    return int(negative ? -value : value);
}

void KLNotiThresholdCellView::controlTextDidEndEditing()
{
    if (!m_editing)
        return;
    m_editing = false;
    if (m_notification) {
        const std::optional<int> typed = thresholdFromText(ui->thresholdTextField->text());
        std::optional<KLNotification> stored;
        if (typed) {
            m_notification->threshold = *typed;
            stored = KLNotiRuleStore::edit(*m_notification, [&typed](KLNotification& rule) { rule.threshold = *typed; });
        } else {
            const QList<KLNotification> rules = KLNotiRuleStore::rules();
            if (const qsizetype i = rules.indexOf(*m_notification); i >= 0)
                stored = rules.at(i);
        }
        if (stored)
            m_notification = stored;
    }
    updateUI();
    // Return ends the edit as leaving the field does.
    ui->thresholdTextField->clearFocus();
    if (m_delegate)
        m_delegate->notiThresholdCellViewDidEndEditing();
}

KLTextField* KLNotiThresholdCellView::thresholdTextField() const { return ui->thresholdTextField; }
