#pragma once
// Stands in the right pane for a screen this build does not have yet: the
// item's name and, in muted text, that the pane comes later.
#include "KLViewController.h"

class QLabel;

class KLPlaceholderViewController : public KLViewController {
    Q_OBJECT
public:
    explicit KLPlaceholderViewController(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const { return m_title; }

protected:
    void configureUI() override;
    void localizeUI() override;

private:
    QString m_title;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_messageLabel = nullptr;
};
