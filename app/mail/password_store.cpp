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
        if (!runJob(job)) {
            throw EKeyringError("The keyring did not answer, so the password could not be read.");
        }
        if (job.error() == QKeychain::EntryNotFound) {
            return std::nullopt;
        }
        if (job.error() != QKeychain::NoError) {
            throw EKeyringError("The password could not be read from the keyring: " +
                                job.errorString().toStdString());
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

void writeEntry(TKeyring& k, const std::string& name, const TMailAccount& account, const QString& password)
{
    if (!k.write(name, password)) {
        throw EKeyringError("The keyring did not store the password of " + account.text().toStdString() +
                            "; it is not kept anywhere else. Try again, or check the keyring.");
    }
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

QString TMailAccount::text() const
{
    return user + QLatin1Char('@') + server + QLatin1Char(':') + QString::number(port);
}

TPasswordStore::TPasswordStore(std::string name, Obscured obscured, std::function<TMailAccount()> account)
    : name_(std::move(name))
    , obscured_(std::move(obscured))
    , account_(std::move(account))
{
}

std::string TPasswordStore::entryName(const TMailAccount& account) const
{
    return name_ + " " + account.text().toStdString();
}

bool TPasswordStore::obscuredOnly()
{
    return !keyring().available();
}

// The settings value holds "account\npassword"; a value without the account
// line is one of earlier versions and belongs to whichever account reads it
// first. Nothing when it belongs to another account.
std::optional<QString> TPasswordStore::obscuredFor(const TMailAccount& account)
{
    const QString stored = obscured_.load();
    const int breakAt = stored.indexOf(QLatin1Char('\n'));
    if (breakAt >= 0 && stored.left(breakAt) != account.text()) {
        return std::nullopt;
    }
    return stored.mid(breakAt + 1);
}

QString TPasswordStore::read()
{
    // Until this read succeeds, no field holds a known password.
    known_.reset();
    const TMailAccount account = account_();
    TKeyring& k = keyring();
    QString password;
    if (!k.available()) {
        password = obscuredFor(account).value_or(QString());
        if (!password.isEmpty() && !obscured_.load().contains(QLatin1Char('\n'))) {
            // Claimed now, so that another account does not get it as well.
            obscured_.store(account.text() + QLatin1Char('\n') + password);
        }
    } else if (auto secret = k.read(entryName(account))) {
        password = *secret;
    } else if (auto old = k.read(name_)) {
        // The one entry of the window that earlier versions kept.
        password = *old;
        writeEntry(k, entryName(account), account, password);
        k.remove(name_);
    } else if (auto kept = obscuredFor(account); kept && !kept->isEmpty()) {
        // Kept in the settings before a keyring ran: move it there.
        password = *kept;
        writeEntry(k, entryName(account), account, password);
        obscured_.remove();
    }
    known_ = account;
    knownPassword_ = password;
    return password;
}

void TPasswordStore::write(const QString& password)
{
    const TMailAccount account = account_();
    if (known_ && *known_ == account && knownPassword_ == password) {
        return;
    }
    TKeyring& k = keyring();
    if (k.available()) {
        writeEntry(k, entryName(account), account, password);
    } else {
        obscured_.store(account.text() + QLatin1Char('\n') + password);
    }
    known_ = account;
    knownPassword_ = password;
}

QString TPasswordStore::settle(const QString& shown)
{
    if (known_ && *known_ == account_()) {
        write(shown);
        return shown;
    }
    return read();
}

void TPasswordStore::edited(const QString& password)
{
    if (obscuredOnly()) {
        write(password);
    }
}

} // namespace tq
