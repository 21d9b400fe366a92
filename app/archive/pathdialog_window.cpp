#include "app/archive/pathdialog_window.h"

#include "app/seams.h"
#include "app/windowsetup.h"

#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace tq {
namespace {

struct FolderPickerSeam;

// Where the tree opens the first time: the desktop when there is one, else home.
QString startFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) {
        return desktop;
    }
    return QDir::homePath();
}

} // namespace

TPathDialog::TPathDialog(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TPathDialog"));
    prepareWindow(this, QStringLiteral("Plaatsen in map..."), QSize(444, 254), Frame::FixedDialog, true);

    model = new QFileSystemModel(this);
    // Folders only, hidden ones included, so that every folder can be reached;
    // the drives (Windows) or the file-system root (elsewhere) are the top level.
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives | QDir::Hidden);
    model->setRootPath(QString());

    ShellTreeView = new QTreeView(this);
    ShellTreeView->setObjectName(QStringLiteral("ShellTreeView"));
    ShellTreeView->setModel(model);
    for (int column = 1; column < model->columnCount(); ++column) {
        ShellTreeView->hideColumn(column);
    }
    ShellTreeView->setHeaderHidden(true);
    ShellTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView->setFixedHeight(201);
    // A right click selects a folder as a left click does.
    ShellTreeView->setContextMenuPolicy(Qt::PreventContextMenu);

    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnAnnuleren = new QPushButton(QStringLiteral("Annuleren"), this);
    btnAnnuleren->setObjectName(QStringLiteral("btnAnnuleren"));
    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 0, 8, 0);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnAnnuleren);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(ShellTreeView);
    layout->addLayout(buttons);
    layout->addWidget(StatusBar);

    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnAnnuleren, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    // Folders are read in the background: once the folders on the way to the
    // selected one are listed, the tree shows the selection again.
    const auto showSelection = [this] {
        if (scrollPending_) {
            QTimer::singleShot(0, this, [this] {
                if (scrollPending_ && ShellTreeView->currentIndex().isValid()) {
                    ShellTreeView->scrollTo(ShellTreeView->currentIndex(), QAbstractItemView::PositionAtCenter);
                }
            });
        }
    };
    connect(model, &QFileSystemModel::directoryLoaded, this, showSelection);
    connect(model, &QFileSystemModel::layoutChanged, this, showSelection);
    connect(model, &QFileSystemModel::rowsInserted, this, showSelection);
    connect(ShellTreeView, &QTreeView::pressed, this, [this] { scrollPending_ = false; });
    connect(ShellTreeView, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        // A double click opens a folder; it does not confirm.
        ShellTreeView->setExpanded(index, true);
    });
}

bool TPathDialog::ExeCute()
{
    show();
    raise();
    activateWindow();
    if (const auto& handler = installedHandler<FolderPickerSeam, FolderPickerHandler>()) {
        handler(*this);
    }
    if (!Closed) {
        QEventLoop loop;
        connect(this, &TPathDialog::closedDialog, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return Confirmed;
}

QString TPathDialog::currentFolder() const
{
    const QModelIndexList selected = ShellTreeView->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return QString();
    }
    const QString path = model->filePath(selected.first());
    // Entries without a file-system path (a virtual top level) give nothing.
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return QString();
    }
    return QDir::toNativeSeparators(path);
}

void TPathDialog::selectFolder(const QString& folder)
{
    const QModelIndex index = model->index(QDir::fromNativeSeparators(folder));
    if (!index.isValid()) {
        return;
    }
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
        ShellTreeView->expand(parent);
    }
    ShellTreeView->setCurrentIndex(index);
    ShellTreeView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    ShellTreeView->scrollTo(index, QAbstractItemView::PositionAtCenter);
    scrollPending_ = true;
}

void TPathDialog::clearSelection()
{
    ShellTreeView->selectionModel()->clearSelection();
}

void TPathDialog::btnOkClick()
{
    SelectedPath = currentFolder();
    Closed = true;
    Confirmed = true;
    closingByOk_ = true;
    close();
    closingByOk_ = false;
}

void TPathDialog::btnCancelClick()
{
    SelectedPath.clear();
    Confirmed = false;
    close();
}

FolderPickerHandler setFolderPickerHandler(FolderPickerHandler handler)
{
    return replaceHandler<FolderPickerSeam>(std::move(handler));
}

void TPathDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
        Closed = false;
        Confirmed = false;
        if (!startPlaced_) {
            startPlaced_ = true;
            selectFolder(startFolder());
        }
        ShellTreeView->viewport()->update();
        ShellTreeView->setFocus();
        QTimer::singleShot(0, this, [this] {
            if (ShellTreeView->currentIndex().isValid()) {
                ShellTreeView->scrollTo(ShellTreeView->currentIndex(), QAbstractItemView::PositionAtCenter);
            }
        });
    }
    QWidget::showEvent(event);
}

void TPathDialog::closeEvent(QCloseEvent* event)
{
    if (!closingByOk_) {
        Confirmed = false;
    }
    Closed = true;
    event->accept();
    emit closedDialog();
}

void TPathDialog::hideEvent(QHideEvent* event)
{
    // Hidden without a close (the program ending): the wait must end all the same.
    if (!Closed && !event->spontaneous()) {
        Confirmed = false;
        Closed = true;
        emit closedDialog();
    }
    QWidget::hideEvent(event);
}

void TPathDialog::keyPressEvent(QKeyEvent* event)
{
    if (!dialogKey(event, [this] { btnOkClick(); }, [this] { btnCancelClick(); })) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace tq
