#include "app/mail/delattach_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TfrmDelAttach::TfrmDelAttach(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmDelAttach"));
    prepareWindow(this, QStringLiteral("Attachments"), QSize(249, 270), Frame::FixedDialog, true);
}

void TfrmDelAttach::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
