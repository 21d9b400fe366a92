#include "app/mail/mailontvangen_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TmailOntvangen::TmailOntvangen(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TmailOntvangen"));
    prepareWindow(this, QStringLiteral("Receive e-mail"), QSize(392, 351), Frame::FixedDialog, true);
}

void TmailOntvangen::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
