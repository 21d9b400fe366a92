#include "tests/lock/lock_fixture.h"

#include "app/lock/locked_panel.h"
#include "app/seams.h"

#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace tqtest {

void LockTest::SetUp()
{
    WindowTest::SetUp();
    tq::prompts::setPassphraseHandler(
        [this](QWidget*, const tq::prompts::PassphraseRequest&, tq::sealed::SecretBytes& out) {
            ++passphraseQuestions;
            if (passphraseAnswers.empty()) {
                ADD_FAILURE() << "unexpected passphrase question";
                return false;
            }
            out = tq::sealed::SecretBytes::copyOf(passphraseAnswers.front());
            passphraseAnswers.pop_front();
            return true;
        });
}

void LockTest::TearDown()
{
    tq::prompts::setPassphraseHandler({});
    WindowTest::TearDown();
}

tq::TfrmMemo& LockTest::startWithSealedMemo(std::string_view memo, const std::string& passphrase)
{
    tq::TfrmMemo& w = start();
    const auto pass = tq::sealed::SecretBytes::copyOf(passphrase);
    const std::optional<std::string> file = tq::sealed::Seal(memo, pass, kFast);
    const QString path = dir.filePath(QStringLiteral("memo.tqs"));
    QFile f(path);
    EXPECT_TRUE(file && f.open(QIODevice::WriteOnly));
    f.write(file->data(), static_cast<qint64>(file->size()));
    f.close();
    passphraseAnswers.push_back(passphrase);
    w.runCommand([&w, path] { w.OpenSealedFile(path, QStringLiteral("Tarnquill - memo.tqs")); });
    return w;
}

void LockTest::clickUnlock(tq::TfrmMemo& w, const std::string& passphrase)
{
    passphraseAnswers.push_back(passphrase);
    QTest::mouseClick(w.Lock->panel()->unlockButton(), Qt::LeftButton);
}

QByteArray runPumping(const QString& program, const QStringList& args, int* exitCode)
{
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    p.start(program, args);
    loop.exec();
    const bool ended = p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit
                       && p.error() != QProcess::FailedToStart;
    if (!ended) {
        p.kill();
        p.waitForFinished(2000);
    }
    if (exitCode != nullptr) {
        *exitCode = ended ? p.exitCode() : -1;
    }
    return p.readAllStandardOutput();
}

} // namespace tqtest
