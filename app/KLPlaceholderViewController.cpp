#include "KLPlaceholderViewController.h"

#include <QLabel>
#include <QVBoxLayout>

#include "NSString+KLExtension.h"

KLPlaceholderViewController::KLPlaceholderViewController(QWidget* parent)
    : KLViewController(parent)
{
    setObjectName(QStringLiteral("placeholderViewController"));
}

void KLPlaceholderViewController::setTitle(const QString& title)
{
    m_title = title;
    if (m_titleLabel)
        m_titleLabel->setText(title);
}

void KLPlaceholderViewController::configureUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(8);
    m_titleLabel = new QLabel(m_title, this);
    m_titleLabel->setObjectName(QStringLiteral("titleTextField"));
    QFont font = m_titleLabel->font();
    font.setPixelSize(20);
    font.setWeight(QFont::DemiBold);
    m_titleLabel->setFont(font);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel = new QLabel(this);
    m_messageLabel->setObjectName(QStringLiteral("messageTextField"));
    m_messageLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setForegroundRole(QPalette::PlaceholderText);
    layout->addStretch(1);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_messageLabel);
    layout->addStretch(1);
}

void KLPlaceholderViewController::localizeUI()
{
    m_titleLabel->setText(m_title);
    m_messageLabel->setText(KLExtension::localizedStringForKey(QStringLiteral("placeholder-pane-message")));
}
