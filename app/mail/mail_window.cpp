#include "app/mail/mail_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TMail::TMail(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TMail"));
    prepareWindow(this, QStringLiteral("Send e-mail"), QSize(393, 277), Frame::FixedDialog, false);
}

void TMail::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
