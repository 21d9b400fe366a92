#include "archive/compressie_window.h"

#include "app/windowsetup.h"

#include <QCloseEvent>
#include <QFileInfo>

namespace tq {

TfrmCompressie::TfrmCompressie(QWidget*)
    : QWidget(nullptr)
{
    setObjectName(QStringLiteral("TfrmCompressie"));
    prepareWindow(this, QStringLiteral("Compressie"), QSize(439, 279), Frame::Sizeable, false);
    // Opens centred on the desktop.
    centreOver(this, nullptr);
}

void TfrmCompressie::ReadFile(const QString& path)
{
    setWindowTitle(QStringLiteral("Compressie - ") + QFileInfo(path).fileName());
}

void TfrmCompressie::closeEvent(QCloseEvent* event)
{
    // Closing only hides the window; it keeps its contents for the next showing.
    event->accept();
    emit closed();
}

} // namespace tq
