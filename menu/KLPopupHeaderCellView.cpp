#include "KLPopupHeaderCellView.h"

#include <QHBoxLayout>
#include <QLabel>

#include "NSColor+KLExtension.h"

KLPopupHeaderCellView::KLPopupHeaderCellView(QWidget* parent)
    : NSTableCellView(parent)
    , m_textField(new QLabel(this))
{
    m_textField->setObjectName(QStringLiteral("textField"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->addWidget(m_textField);
    QFont font = m_textField->font();
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    m_textField->setFont(font);
    m_textField->setTextFormat(Qt::PlainText);
    awakeFromNib();
}

void KLPopupHeaderCellView::awakeFromNib()
{
    QPalette palette = m_textField->palette();
    palette.setColor(QPalette::WindowText, KLExtension::appBlueColor());
    m_textField->setPalette(palette);
}
