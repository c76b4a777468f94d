#include "KLMainCellView.h"

#include "NSImage.h"
#include "ui_KLMainCellView.h"

KLMainCellView::KLMainCellView(QWidget* parent)
    : NSTableCellView(parent)
    , m_ui(std::make_unique<Ui::KLMainCellView>())
{
    m_ui->setupUi(this);
    setIdentifier(QStringLiteral("mainCellIdentifier"));
}

KLMainCellView::~KLMainCellView() = default;

QLabel* KLMainCellView::imageView() const
{
    return m_ui->imageView;
}

QLabel* KLMainCellView::textField() const
{
    return m_ui->textField;
}

void KLMainCellView::setImageNamed(const QString& name)
{
    m_ui->imageView->setPixmap(NSImage::pixmapNamed(name, m_ui->imageView->size(), devicePixelRatioF()));
}
