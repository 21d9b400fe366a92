#include "app/lock/locked_panel.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tq {

LockedPanel::LockedPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LockedPanel"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(2);

    auto* sign = new QLabel(this);
    sign->setAlignment(Qt::AlignCenter);
    sign->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    layout->addWidget(sign);

    title_ = new QLabel(QStringLiteral("The memo is locked."), this);
    title_->setObjectName(QStringLiteral("lblLocked"));
    title_->setAlignment(Qt::AlignCenter);
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title_->setFont(big);
    layout->addWidget(title_);

    auto* hint = new QLabel(QStringLiteral("Its text is sealed in memory. The passphrase of its sealed file shows it "
                                           "again, unchanged."),
                            this);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    layout->addSpacing(12);

    unlock_ = new QPushButton(QStringLiteral("Unlock..."), this);
    unlock_->setObjectName(QStringLiteral("btnUnlock"));
    unlock_->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(unlock_);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(3);

    setFocusProxy(unlock_);
    connect(unlock_, &QPushButton::clicked, this, &LockedPanel::unlockRequested);
}

} // namespace tq
