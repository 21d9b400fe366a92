// Program entry of Tarnquill.
#include "app/mainwindow.h"
#include "app/program.h"
#include "app/single_instance.h"
#include "app/toolimages.h"
#include "platform/version.h"

#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before any window system is needed, so they work without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnquill %s\n", tq::kVersionText);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs("Usage: tarnquill [FILE]\n"
                   "Keeps a memo and protects it with a key set; keeps compressed .X archives.\n"
                   "FILE is a .crp memo file (opened once the keys are confirmed) or a .X\n"
                   "archive (opened in the archive window). When Tarnquill runs already for\n"
                   "this user, FILE is handed to it and this start ends.\n"
                   "\n"
                   "  --help     show this text and end\n"
                   "  --version  show the version and end\n",
                   stdout);
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
    // One program per user: a later start hands its file to the one that runs.
    const QString handed = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).absoluteFilePath();
    tq::TSingleInstance instance(tq::TSingleInstance::userServerName());
    switch (instance.start(handed)) {
    case tq::TSingleInstance::Outcome::HandedOver:
        return 0;
    case tq::TSingleInstance::Outcome::NoAnswer:
        std::fputs("tarnquill: Tarnquill runs already but did not take the file; try again.\n", stderr);
        return 1;
    case tq::TSingleInstance::Outcome::Listening:
    case tq::TSingleInstance::Outcome::Alone:
        break;
    }
    tq::TProgram program(arguments);
    QObject::connect(&instance, &tq::TSingleInstance::argumentReceived, &program.frmMemo(),
                     [&program](const QString& path) {
                         tq::TfrmMemo& memo = program.frmMemo();
                         memo.runCommand([&memo, path] { memo.argumentHandedOver(path); });
                     });
    program.start();
    return QApplication::exec();
}
