#include "tests/app/fixture.h"

#include "app/prompts.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/settings.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace tqtest {

void WindowTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    tq::settings::setStorageOverride(dir.filePath("config/tarnquill.ini").toStdString());
    tq::autostart::setFolderOverride(dir.filePath("autostart").toStdString());
    tq::prompts::setQuestionHandler([this](QWidget*, const QString&, const QString& text, tq::prompts::Icon icon) {
        ++questions;
        lastQuestion = text;
        lastQuestionIcon = icon;
        return answerYes;
    });
    tq::prompts::setErrorHandler([this](QWidget*, const QString&, const QString& text) { errors.push_back(text); });
}

void WindowTest::TearDown()
{
    program_.reset();
    tq::prompts::setQuestionHandler({});
    tq::prompts::setErrorHandler({});
    tq::settings::setStorageOverride({});
    tq::autostart::setFolderOverride({});
    tq::TfrmMemo::setPrintDialogRunner({});
}

tq::TfrmMemo& WindowTest::create(const QStringList& arguments)
{
    program_ = std::make_unique<tq::TProgram>(arguments);
    return program_->frmMemo();
}

tq::TfrmMemo& WindowTest::start(const QStringList& arguments)
{
    create(arguments);
    program_->start();
    QApplication::processEvents();
    // The window empties the memo 100 ms after it was created; on a loaded
    // machine that timer could otherwise fire in the middle of a test.
    auto* clear = program_->frmMemo().findChild<QTimer*>(QStringLiteral("delayedClear"));
    if (clear != nullptr) {
        QTest::qWaitFor([clear] { return !clear->isActive(); }, 5000);
    }
    return program_->frmMemo();
}

QString WindowTest::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(content);
    }
    return path;
}

std::vector<QString> captions(const QMenu* menu)
{
    std::vector<QString> out;
    for (QAction* a : menu->actions()) {
        out.push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return out;
}

} // namespace tqtest
