#include "tests/encryption/encryption_fixture.h"

#include "compress/compress.h"
#include "crypto/crpfile.h"

#include <QApplication>
#include <QFile>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace tqtest {

void EncryptionTest::SetUp()
{
    WindowTest::SetUp();
    tq::setDesktopFolderOverride(dir.path());
    tq::setFileDialogRunner([this](QWidget*, const tq::FileRequest& request) {
        dialogRequests.push_back(request);
        if (dialogAnswers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << request.title.toStdString();
            return QStringList();
        }
        const QString answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        // An empty answer cancels the dialog.
        return answer.isEmpty() ? QStringList() : QStringList{answer};
    });
}

void EncryptionTest::TearDown()
{
    tq::setFileDialogRunner({});
    tq::setDesktopFolderOverride(QString());
    WindowTest::TearDown();
}

tq::TfrmMemo& EncryptionTest::window(const QStringList& arguments)
{
    tq::TfrmMemo& w = start(arguments);
    w.delayedClear->stop();
    return w;
}

void EncryptionTest::letEventsThrough()
{
    QTest::qSleep(15);
}

void EncryptionTest::setKeys(tq::TfrmMemo& w, int k1, int k2, int k3, int k4)
{
    w.Scale1->setValue(k1);
    w.scale2->setValue(k2);
    w.Scale3->setValue(k3);
    w.Scale4->setValue(k4);
}

std::string EncryptionTest::readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return "<missing>";
    }
    const QByteArray b = f.readAll();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

void EncryptionTest::writeBytes(const QString& path, const std::string& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string EncryptionTest::storedText(const QString& path)
{
    tq::TCompress engine;
    return tq::crp::LoadText(engine, tq::toFsPath(path));
}

} // namespace tqtest
