#include "archive/compresskey_window.h"

#include "app/windowsetup.h"

#include <QShowEvent>

namespace tq {

TfrmCompressKey::TfrmCompressKey(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmCompressKey"));
    prepareWindow(this, QStringLiteral("Compressie sleutel"), QSize(207, 133), Frame::ToolWindow, true);
}

void TfrmCompressKey::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

} // namespace tq
