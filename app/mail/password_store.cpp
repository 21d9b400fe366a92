#include "app/mail/password_store.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace tq {
namespace {

constexpr const char* kService = "Tarnquill";
// A keyring that does not answer within this time counts as absent.
constexpr int kJobTimeOutMs = 5000;

// Runs a QtKeychain job to its end; false when it did not finish in time.
bool runJob(QKeychain::Job& job)
{
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kJobTimeOutMs, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    if (!finished) {
        loop.exec();
    }
    return finished;
}

class DesktopKeyring : public TKeyring {
public:
    bool available() override
    {
        if (!probed_) {
            probed_ = true;
            QKeychain::ReadPasswordJob job(QString::fromLatin1(kService));
            job.setKey(QStringLiteral("probe"));
            available_ = runJob(job) && (job.error() == QKeychain::NoError ||
                                         job.error() == QKeychain::EntryNotFound);
        }
        return available_;
    }

    std::optional<QString> read(const std::string& name) override
    {
        QKeychain::ReadPasswordJob job(QString::fromLatin1(kService));
        job.setKey(QString::fromStdString(name));
        if (!runJob(job) || job.error() != QKeychain::NoError) {
            return std::nullopt;
        }
        return job.textData();
    }

    bool write(const std::string& name, const QString& secret) override
    {
        QKeychain::WritePasswordJob job(QString::fromLatin1(kService));
        job.setKey(QString::fromStdString(name));
        job.setTextData(secret);
        return runJob(job) && job.error() == QKeychain::NoError;
    }

    void remove(const std::string& name) override
    {
        QKeychain::DeletePasswordJob job(QString::fromLatin1(kService));
        job.setKey(QString::fromStdString(name));
        runJob(job);
    }

private:
    bool probed_ = false;
    bool available_ = false;
};

std::unique_ptr<TKeyring>& installed()
{
    static std::unique_ptr<TKeyring> k;
    return k;
}

} // namespace

TKeyring& keyring()
{
    if (!installed()) {
        installed() = std::make_unique<DesktopKeyring>();
    }
    return *installed();
}

std::unique_ptr<TKeyring> setKeyring(std::unique_ptr<TKeyring> k)
{
    std::unique_ptr<TKeyring> old = std::move(installed());
    installed() = std::move(k);
    return old;
}

TPasswordStore::TPasswordStore(std::string name, Obscured obscured)
    : name_(std::move(name))
    , obscured_(std::move(obscured))
{
}

bool TPasswordStore::obscuredOnly()
{
    return !keyring().available();
}

QString TPasswordStore::read()
{
    TKeyring& k = keyring();
    if (!k.available()) {
        return obscured_.load();
    }
    if (auto secret = k.read(name_)) {
        return *secret;
    }
    // Kept in the settings before a keyring ran: move it there.
    const QString password = obscured_.load();
    if (!password.isEmpty() && k.write(name_, password)) {
        obscured_.remove();
    }
    return password;
}

void TPasswordStore::write(const QString& password)
{
    TKeyring& k = keyring();
    if (k.available() && k.write(name_, password)) {
        obscured_.remove();
        return;
    }
    obscured_.store(password);
}

} // namespace tq
