#include "compress/niveau_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TNiveau::TNiveau(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TNiveau"));
    prepareWindow(this, QStringLiteral("Compressie instellingen"), QSize(269, 116), Frame::ToolWindow, true);
}

void TNiveau::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
