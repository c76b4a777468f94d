#include "KLFanSetCellView.h"

#include "KLFanSet.h"
#include "ui_KLFanSetCellView.h"

KLFanSetCellView::KLFanSetCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanSetCellView>())
{
    ui->setupUi(this);
    QFont text = font();
    text.setPixelSize(13);
    ui->nameTextField->setFont(text);
    // The name sits on the row's own background, selected or not.
    QPalette clear = ui->nameTextField->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    ui->nameTextField->setPalette(clear);
    connect(ui->nameTextField, &QLineEdit::editingFinished, this, &KLFanSetCellView::controlTextDidEndEditing);
    connect(ui->removeButton, &QToolButton::clicked, this, &KLFanSetCellView::removeButtonTapped);
}

KLFanSetCellView::~KLFanSetCellView() = default;

void KLFanSetCellView::setFanSet(KLFanSet* fanSet)
{
    m_fanSet = fanSet;
    updateUI();
}

void KLFanSetCellView::updateUI()
{
    ui->nameTextField->setText(m_fanSet ? m_fanSet->name() : QString());
    ui->nameTextField->setCursorPosition(0);
}

void KLFanSetCellView::prepareForReuse()
{
    // The set may belong to a context that is gone by the time the row is used again.
    m_fanSet = nullptr;
    m_delegate = nullptr;
}

void KLFanSetCellView::controlTextDidEndEditing()
{
    if (m_delegate && m_fanSet)
        m_delegate->fanSetCellViewShouldChangeName(ui->nameTextField->text(), m_fanSet);
}

void KLFanSetCellView::removeButtonTapped()
{
    if (m_delegate && m_fanSet)
        m_delegate->fanSetCellViewShouldRemoveFanSet(m_fanSet);
}

QLineEdit* KLFanSetCellView::nameTextField() const { return ui->nameTextField; }
QToolButton* KLFanSetCellView::removeButton() const { return ui->removeButton; }
