#include "archive/filedialogs_window.h"

#include <QFileDialog>

namespace tq {
namespace {

FileDialogRunner& installedRunner()
{
    static FileDialogRunner runner;
    return runner;
}

// "*.X|*.X" as a Qt name filter. File systems that tell letter case apart would
// hide "a.x" behind the pattern "*.X", so each pattern is offered in both cases.
QString qtFilter(const QString& filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? filter : filter.left(bar);
    const QString patterns = bar < 0 ? filter : filter.mid(bar + 1);
    QStringList all;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = pattern.trimmed();
        for (const QString& variant : {p, p.toLower(), p.toUpper()}) {
            if (!all.contains(variant)) {
                all.push_back(variant);
            }
        }
    }
    return description + QStringLiteral(" (") + all.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QStringList runQtDialog(QWidget* parent, const FileRequest& request)
{
    QFileDialog dialog(parent, request.title);
    dialog.setNameFilter(qtFilter(request.filter));
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
    // A wildcard start name only selects the filter; it is not a file name.
    if (!request.fileName.contains(QLatin1Char('*'))) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

} // namespace

QStringList runFileDialog(QWidget* parent, const FileRequest& request)
{
    if (installedRunner()) {
        return installedRunner()(parent, request);
    }
    return runQtDialog(parent, request);
}

FileDialogRunner setFileDialogRunner(FileDialogRunner runner)
{
    FileDialogRunner old = std::move(installedRunner());
    installedRunner() = std::move(runner);
    return old;
}

} // namespace tq
