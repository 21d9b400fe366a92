#include "tests/support/window_fixture.h"

#include "app/seams.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/settings.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace tqtest {

void WindowTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    // The program registers its file types at every start: into one XDG home
    // for the whole run (written once), never the real one, and with no
    // system-wide copies to defer to.
    static QTemporaryDir xdgHome;
    qputenv("XDG_DATA_HOME", xdgHome.filePath("share").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", xdgHome.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", xdgHome.filePath("system").toLocal8Bit());
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
    tq::setPrintDialogHandler({});
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
        EXPECT_TRUE(QTest::qWaitFor([clear] { return !clear->isActive(); }, 5000))
            << "the start-up clear of the memo never ran";
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

// Answers the next real question boxes by key, in order: Yes with the space bar
// on its button, No with Escape. Their texts go to `texts`.
void answerBoxes(std::vector<bool> answers, QStringList& texts)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, answers, &texts]() mutable {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || answers.empty()) {
            return;
        }
        texts << box->text();
        const bool yes = answers.front();
        answers.erase(answers.begin());
        if (yes) {
            QTest::keyClick(box->button(QMessageBox::Yes), Qt::Key_Space);
        } else {
            QTest::keyClick(box, Qt::Key_Escape);
        }
        if (answers.empty()) {
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace tqtest
