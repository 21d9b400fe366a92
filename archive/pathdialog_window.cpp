#include "archive/pathdialog_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TPathDialog::TPathDialog(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TPathDialog"));
    prepareWindow(this, QStringLiteral("Plaatsen in map..."), QSize(444, 254), Frame::FixedDialog, true);
}

void TPathDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
