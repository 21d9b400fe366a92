#include "app/help_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TfrmHelp::TfrmHelp(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmHelp"));
    prepareWindow(this, QStringLiteral("Help"), QSize(671, 426), Frame::FixedSingle, true);
}

void TfrmHelp::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
