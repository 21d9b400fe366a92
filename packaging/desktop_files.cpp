// tarnquill-desktop-files: writes the files the installed program needs on
// freedesktop.org desktops, from the program's own artwork and texts:
//
//   DIR/applications/tarnquill.desktop      the desktop entry (Exec=tarnquill %f)
//   DIR/mime/packages/tarnquill.xml         the .x, .crp and .tqs file types
//   DIR/icons/hicolor/NxN/apps/tarnquill.png   the icon in several sizes
//
// Usage: tarnquill-desktop-files DIR
//        tarnquill-desktop-files --ico FILE   (the Windows icon file)
#include "app/toolimages.h"
#include "platform/desktop/freedesktop.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPixmap>

#include <cstdio>
#include <string>

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool writeText(const QString& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        std::fprintf(stderr, "tarnquill-desktop-files: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeImage(const QString& path, const QPixmap& pixmap, const char* format)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter writer(path, format);
    if (!writer.write(pixmap.toImage())) {
        std::fprintf(stderr, "tarnquill-desktop-files: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--ico")) {
        return writeImage(args[1], tq::programIcon(48), "ico") ? 0 : 1;
    }
    if (args.size() != 1) {
        std::fputs("Usage: tarnquill-desktop-files DIR\n       tarnquill-desktop-files --ico FILE\n", stderr);
        return 2;
    }
    const QString dir = args[0];
    const auto& types = tq::freedesktop::fileTypes();
    bool ok = writeText(dir + QStringLiteral("/applications/") + QString::fromLatin1(tq::freedesktop::kDesktopId),
                        tq::freedesktop::desktopEntry("tarnquill", types));
    ok = writeText(dir + QStringLiteral("/mime/packages/") + QString::fromLatin1(tq::freedesktop::kMimePackage),
                   tq::freedesktop::mimePackage(types)) && ok;
    for (const int size : kIconSizes) {
        const QString path = dir + QStringLiteral("/icons/hicolor/%1x%1/apps/tarnquill.png").arg(size);
        ok = writeImage(path, tq::programIcon(size), "png") && ok;
    }
    return ok ? 0 : 1;
}
