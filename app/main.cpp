// Program entry of Tarnquill.
#include "app/mainwindow.h"
#include "app/program.h"
#include "app/toolimages.h"

#include <QIcon>

int main(int argc, char** argv)
{
    tq::TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnquill"));
    QApplication::setOrganizationName(QStringLiteral("Tarnquill"));
    QApplication::setWindowIcon(QIcon(tq::programIcon(32)));
    // The program ends when the main window closes (after its question), not when
    // the last visible window does: the main window may sit in the tray or stay
    // invisible while only the archive window is open.
    QApplication::setQuitOnLastWindowClosed(false);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    tq::TProgram program(arguments);
    program.start();
    return QApplication::exec();
}
