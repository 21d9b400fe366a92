#include "app/memo_filedialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QSettings>
#include <QStandardPaths>

namespace tq {
namespace {

MemoFileDialogRunner& runner()
{
    static MemoFileDialogRunner instance;
    return instance;
}

QString& desktopOverride()
{
    static QString folder;
    return folder;
}

QString runStandardDialog(QWidget* parent, const MemoFileRequest& request)
{
    // A desktop folder that does not exist (common on Linux) would otherwise turn
    // into a proposed file name; start in the home folder instead.
    QString folder = request.folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    QFileDialog dialog(parent, request.title, folder);
    dialog.setNameFilter(request.filter);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (request.kind == MemoFileRequest::Kind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(request.defaultSuffix);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog.selectedFiles().first();
}

} // namespace

QString runMemoFileDialog(QWidget* parent, const MemoFileRequest& request)
{
    if (runner()) {
        return runner()(parent, request);
    }
    return runStandardDialog(parent, request);
}

MemoFileDialogRunner setMemoFileDialogRunner(MemoFileDialogRunner r)
{
    MemoFileDialogRunner old = std::move(runner());
    runner() = std::move(r);
    return old;
}

QString desktopFolder()
{
    if (!desktopOverride().isNull()) {
        return desktopOverride();
    }
#ifdef _WIN32
    const QSettings shellFolders(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
        QSettings::NativeFormat);
    return shellFolders.value(QStringLiteral("Desktop")).toString();
#else
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
#endif
}

void setDesktopFolderOverride(const QString& folder)
{
    desktopOverride() = folder;
}

std::filesystem::path toFsPath(const QString& path)
{
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace tq
