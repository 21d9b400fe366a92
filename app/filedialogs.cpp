#include "app/filedialogs.h"

#include <QDir>
#include <QFileInfo>

#include <QFileDialog>

namespace tq {
namespace {

FileDialogRunner& installedRunner()
{
    static FileDialogRunner runner;
    return runner;
}

const QString kAllFilesPattern = QStringLiteral("*.*");

// A start name or pattern as the dialog shows it: "*.*" is every file.
QString dialogName(const QString& name)
{
    return name == kAllFilesPattern ? QStringLiteral("*") : name;
}

// "*.X|*.X" as a Qt name filter: the description and the dialog's patterns.
QString qtFilter(const QString& filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? filter : filter.left(bar);
    return description + QStringLiteral(" (") + dialogPatterns(filter).join(QLatin1Char(' ')) + QLatin1Char(')');
}

QStringList runQtDialog(QWidget* parent, const FileRequest& request)
{
    // A start folder that does not exist (a missing desktop folder is common on
    // Linux) would otherwise turn into a proposed file name.
    QString folder = request.folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    QFileDialog dialog(parent, request.title, folder);
    QStringList filters{qtFilter(request.filter)};
    for (const QString& more : request.moreFilters) {
        filters.push_back(qtFilter(more));
    }
    dialog.setNameFilters(filters);
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
    }
    switch (request.kind) {
    case FileRequest::Kind::OpenOne:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case FileRequest::Kind::OpenMany:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        break;
    case FileRequest::Kind::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
        break;
    }
    // The start name may be a pattern ("*.crp"), as on Windows: typed over, or
    // confirmed, it filters the list.
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(dialogName(request.fileName));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

} // namespace

QStringList dialogPatterns(const QString& filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString patterns = bar < 0 ? filter : filter.mid(bar + 1);
    QStringList all;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = dialogName(pattern.trimmed());
        // File systems that tell letter case apart would hide "a.x" behind the
        // pattern "*.X", so each pattern is offered in both cases.
        for (const QString& variant : {p, p.toLower(), p.toUpper()}) {
            if (!all.contains(variant)) {
                all.push_back(variant);
            }
        }
    }
    return all;
}

QStringList runFileDialog(QWidget* parent, const FileRequest& request)
{
    if (installedRunner()) {
        return installedRunner()(parent, request);
    }
    return runQtDialog(parent, request);
}

QString runSingleFileDialog(QWidget* parent, const FileRequest& request)
{
    const QStringList chosen = runFileDialog(parent, request);
    return chosen.isEmpty() ? QString() : chosen.first();
}

FileDialogRunner setFileDialogRunner(FileDialogRunner runner)
{
    FileDialogRunner old = std::move(installedRunner());
    installedRunner() = std::move(runner);
    return old;
}

} // namespace tq
