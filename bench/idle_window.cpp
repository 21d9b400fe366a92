// tarnquill-idle-window: the smallest Qt program with one shown window. bench/idle.sh
// measures it beside the program so that the figures carry the cost of Qt and the
// X server that no program can avoid.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("idle"));
    window.resize(320, 200);
    window.show();
    return app.exec();
}
