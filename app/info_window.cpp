#include "app/info_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

Tinfo::Tinfo(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("Tinfo"));
    prepareWindow(this, QStringLiteral("About"), QSize(297, 141), Frame::FixedSingle, true);
}

void Tinfo::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
