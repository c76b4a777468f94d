#include "KLNotiCurrentValueCellView.h"

#include <QHBoxLayout>
#include <QLabel>

KLNotiCurrentValueCellView::KLNotiCurrentValueCellView(QWidget* parent)
    : NSTableCellView(parent)
    , m_textField(new QLabel(QStringLiteral("--"), this))
{
    m_textField->setObjectName(QStringLiteral("textField"));
    QFont text = font();
    text.setPixelSize(13);
    m_textField->setFont(text);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 8, 0);
    layout->addWidget(m_textField);
}
