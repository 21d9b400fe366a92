#include "crypto/sleutel_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TfrmSleutel::TfrmSleutel(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmSleutel"));
    prepareWindow(this, QStringLiteral("Keys"), QSize(235, 163), Frame::ToolWindow, true);
}

void TfrmSleutel::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
