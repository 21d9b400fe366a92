// Program entry of Tarnquill.
#include "app/mainwindow.h"
#include "app/program.h"
#include "app/toolimages.h"
#include "platform/version.h"

#include <QIcon>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before any window system is needed, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnquill %s\n", tq::kVersionText);
        return 0;
    }
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
