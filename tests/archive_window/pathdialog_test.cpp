// The folder picker: ExeCute's answer, SelectedPath, Confirmed and Closed, and a
// tree that keeps its place between uses. The user is played by events queued
// before ExeCute starts waiting.
#include "tests/archive_window/fixture.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace tqtest {
namespace {

// Runs `user` once the picker is waiting in its event loop.
bool executeWith(tq::TPathDialog& dialog, std::function<void()> user)
{
    tq::setFolderPickerHandler({});
    QTimer::singleShot(0, &dialog, std::move(user));
    return dialog.ExeCute();
}

} // namespace

TEST_F(ArchiveWindowTest, PickerReturnsTheChosenFolderWithOk)
{
    QDir().mkpath(path("data/inner"));
    EXPECT_EQ(pathDialog->windowTitle(), QStringLiteral("Plaatsen in map..."));
    const bool ok = executeWith(*pathDialog, [&] {
        EXPECT_TRUE(pathDialog->isVisible());
        EXPECT_FALSE(pathDialog->Closed);
        pathDialog->selectFolder(path("data/inner"));
        QTest::mouseClick(pathDialog->btnOk, Qt::LeftButton);
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(pathDialog->Confirmed);
    EXPECT_TRUE(pathDialog->Closed);
    EXPECT_FALSE(pathDialog->isVisible());
    EXPECT_EQ(QDir(pathDialog->SelectedPath).canonicalPath(), QDir(path("data/inner")).canonicalPath());

    // The next use starts where the last one ended.
    const bool again = executeWith(*pathDialog, [&] {
        EXPECT_FALSE(pathDialog->Confirmed) << "reset on showing";
        EXPECT_EQ(QDir(pathDialog->currentFolder()).canonicalPath(), QDir(path("data/inner")).canonicalPath());
        pathDialog->btnOkClick();
    });
    EXPECT_TRUE(again);
}

TEST_F(ArchiveWindowTest, PickerCancelAndOtherClosesReturnFalse)
{
    QDir().mkpath(path("x"));
    EXPECT_FALSE(executeWith(*pathDialog, [&] {
        pathDialog->selectFolder(path("x"));
        QTest::mouseClick(pathDialog->btnAnnuleren, Qt::LeftButton);
    }));
    EXPECT_TRUE(pathDialog->SelectedPath.isEmpty());
    EXPECT_FALSE(pathDialog->Confirmed);

    // Closed by the window system, or by Escape.
    EXPECT_FALSE(executeWith(*pathDialog, [&] { pathDialog->close(); }));
    EXPECT_FALSE(executeWith(*pathDialog, [&] { QTest::keyClick(pathDialog.get(), Qt::Key_Escape); }));
    EXPECT_TRUE(pathDialog->Closed);
}

TEST_F(ArchiveWindowTest, PickerOkWithoutAFolderGivesAnEmptyPath)
{
    EXPECT_TRUE(executeWith(*pathDialog, [&] {
        pathDialog->clearSelection();
        pathDialog->btnOkClick();
    }));
    EXPECT_TRUE(pathDialog->SelectedPath.isEmpty());
}

TEST_F(ArchiveWindowTest, PickerTreeShowsFoldersOnly)
{
    makeFile("tree/file.txt", "x");
    QDir().mkpath(path("tree/folder"));
    pathDialog->show();
    QApplication::processEvents();
    pathDialog->selectFolder(path("tree"));
    const QModelIndex tree = pathDialog->ShellTreeView->currentIndex();
    ASSERT_TRUE(tree.isValid());
    pathDialog->model->fetchMore(tree);
    // Wait for the model to list the folder (it reads folders in the background).
    EXPECT_TRUE(QTest::qWaitFor([&] { return pathDialog->model->rowCount(tree) >= 1; }, 10000));
    ASSERT_EQ(pathDialog->model->rowCount(tree), 1);
    const QModelIndex folder = pathDialog->model->index(0, 0, tree);
    EXPECT_EQ(pathDialog->model->fileName(folder), QStringLiteral("folder"));

    // A right click selects a folder too.
    pathDialog->ShellTreeView->expand(tree);
    QApplication::processEvents();
    pathDialog->ShellTreeView->scrollTo(folder);
    const QRect row = pathDialog->ShellTreeView->visualRect(folder);
    ASSERT_FALSE(row.isEmpty());
    QTest::mouseClick(pathDialog->ShellTreeView->viewport(), Qt::RightButton, {}, row.center());
    EXPECT_EQ(QDir(pathDialog->currentFolder()).canonicalPath(), QDir(path("tree/folder")).canonicalPath());
    pathDialog->hide();
}

} // namespace tqtest
