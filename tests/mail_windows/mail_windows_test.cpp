// The mail windows driven offscreen: what the user sees and what is stored,
// and (with the real servers of tests/mail/servers.sh) the memo mailed from the
// send window coming back through the receive window, replies, deletion,
// refusals, and messages written by another program (Python's email package).
#include "app/seams.h"
#include "app/mail/delattach_window.h"
#include "app/mail/mail_security.h"
#include "app/mail/mail_settings.h"
#include "app/mail/password_store.h"
#include "app/mail/mail_window.h"
#include "app/mail/mailontvangen_window.h"
#include "crypto/linecipher.h"
#include "mail/net/smtp_client.h"
#include "platform/codepage.h"
#include "platform/desktop/settings.h"
#include "tests/mail/fake_server.h"
#include "tests/support/mail_check.h"
#include "tests/support/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <memory>
#include <random>

namespace tqtest {
namespace {

using tq::TMail;
using tq::TmailOntvangen;

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

QString u(const std::string& bytes)
{
    return QString::fromStdString(tq::cp1252::toUtf8(bytes));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file name without the "_1", "_2", ... that makes it free in a folder.
QString withoutNumber(const QString& name)
{
    QString out = name;
    out.replace(QRegularExpression(QStringLiteral("_[0-9]+(\\.[^.]*)?$")), QStringLiteral("\\1"));
    return out;
}

QString pythonScript()
{
    return QStringLiteral(TQ_TEST_DATA_DIR "/mail_messages.py");
}

class MailWindows : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        tq::prompts::setInputHandler([this](QWidget*, const QString& title, const QString& label, QString& value,
                                            tq::prompts::Echo echo) {
            inputs.push_back(title + QLatin1Char('|') + label + QLatin1Char('|') + value +
                             (echo == tq::prompts::Echo::Password ? QStringLiteral("|masked") : QString()));
            if (answers.empty()) {
                return false;
            }
            value = answers.front();
            answers.erase(answers.begin());
            return true;
        });
        tq::setFileDialogRunner([this](QWidget*, const tq::FileRequest& request) {
            requests.push_back(request);
            QString path;
            if (request.kind == tq::FileRequest::Kind::Save) {
                QDir().mkpath(dir.filePath(QStringLiteral("saved")));
                path = dir.filePath(QStringLiteral("saved/") + request.fileName);
            } else if (!files.empty()) {
                path = files.front();
                files.erase(files.begin());
            }
            return path.isEmpty() ? QStringList() : QStringList{path};
        });
        start();
        // The start-up's delayed clear of the memo must not empty a test's text.
        while (program().frmMemo().delayedClear->isActive()) {
            QTest::qWait(20);
        }
        mail = &program().mail();
        recv = &program().mailOntvangen();
    }

    void TearDown() override
    {
        tq::prompts::setInputHandler({});
        tq::setFileDialogRunner({});
        WindowTest::TearDown();
    }

    bool serversPresent() const { return !smtpPort.empty() && !pop3Port.empty(); }

    static void activate(QWidget* w)
    {
        w->show();
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w)) << "the window never became active";
        QApplication::processEvents();
    }

    // Shows the send window with every field filled for the test mailbox.
    // The account fields are stored too, so that an activation that comes late
    // loads the same texts.
    void prepareSend(const QString& subject, const QString& recipient)
    {
        const std::vector<std::pair<const char*, QString>> values = {
            {"OutServername", QString::fromStdString(env("TQ_SMTP_HOST"))},
            {"OutUsername", QStringLiteral("client.quill.test")},
            {"OutName", QStringLiteral("Jan de Vries")},
            {"OutSender", QStringLiteral("jan@quill.test")},
            {"OutReplyadress", QStringLiteral("antwoord@quill.test")}};
        for (const auto& [name, text] : values) {
            tq::mailsettings::store(name, text, tq::mailsettings::kSendKeys);
        }
        activate(mail);
        mail->SmtpClient.Port = static_cast<std::uint16_t>(std::stoi(smtpPort));
        mail->SmtpClient.TimeOut = 10000;
        mail->FormActivate();
        mail->edtOntvanger->setText(recipient);
        mail->edtOnderwerp->setText(subject);
    }

    // Shows the receive window for the test mailbox over a plain connection
    // the user agreed to.
    void prepareReceive(const QString& password = QString::fromStdString(env("TQ_MAIL_PASSWORD")),
                        const QString& user = QString::fromStdString(env("TQ_MAIL_USER")))
    {
        const QString host = QString::fromStdString(env("TQ_POP3_HOST"));
        const auto port = static_cast<std::uint16_t>(std::stoi(pop3Port));
        tq::mailsettings::store("InServername", host, tq::mailsettings::kReceiveKeys);
        tq::mailsettings::store("InUsername", user, tq::mailsettings::kReceiveKeys);
        tq::mailsettings::store("InPassword", password, tq::mailsettings::kReceiveKeys);
        tq::mailsecurity::store(tq::mailsecurity::Direction::Receive, {tq::TSecurity::None, port, false, ""});
        tq::mailsecurity::acceptClearText(tq::TMailAccount{user, host, port}.text());
        activate(recv);
        recv->Pop3Client.Port = static_cast<std::uint16_t>(std::stoi(pop3Port));
        recv->Pop3Client.TimeOut = 10000;
        recv->Pop3Client.SetAttachFilePath(dir.filePath(QStringLiteral("listing")));
        recv->FormActivate();
    }

    QStringList listed() const
    {
        QStringList subjects;
        for (int i = 0; i < recv->listBerichten->count(); ++i) {
            subjects << recv->listBerichten->item(i)->text();
        }
        return subjects;
    }

    // Receives until every subject is listed (delivery takes a moment); false
    // when they do not all come within 20 seconds.
    bool receiveUntilListed(const QStringList& subjects)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            if (recv->Pop3Client.Connected()) {
                recv->Pop3Client.Disconnect();
            }
            prepareReceive();
            recv->btnOphalenClick();
            const QStringList now = listed();
            bool all = true;
            for (const QString& s : subjects) {
                all = all && now.contains(s);
            }
            if (all) {
                return true;
            }
            QTest::qWait(200);
        }
        return false;
    }

    void select(const QString& subject)
    {
        const QStringList now = listed();
        const int row = static_cast<int>(now.indexOf(subject));
        ASSERT_GE(row, 0) << subject.toStdString();
        recv->listBerichten->setCurrentRow(row);
    }

    // The message file in the server's mailbox whose header holds the unique
    // number that ends `subject` (uniqueSubject; the subject itself may be
    // encoded). Every message found is checked against the wire's line limit.
    QString maildirFile(const QString& subject) const
    {
        const QByteArray number = subject.section(QLatin1Char(' '), -1).toLatin1();
        for (const char* sub : {"/new", "/cur"}) {
            QDir folder(QString::fromStdString(env("TQ_MAILDIR")) + QLatin1String(sub));
            for (const QString& name : folder.entryList(QDir::Files)) {
                const QByteArray data = readAll(folder.filePath(name));
                if (data.left(data.indexOf("\n\n")).contains(number)) {
                    expectMailLinesWithinLimit(folder.filePath(name).toStdString());
                    return folder.filePath(name);
                }
            }
        }
        return QString();
    }

    QJsonObject inspect(const QString& file)
    {
        QProcess python;
        python.start(QStringLiteral("python3"), {pythonScript(), QStringLiteral("inspect"), file});
        python.waitForFinished(30000);
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    static QString uniqueSubject(const char* what)
    {
        static std::mt19937_64 rng(std::random_device{}());
        return QString::fromLatin1(what) + QLatin1Char(' ') + QString::number(rng() % 1000000000);
    }

    std::string smtpPort = env("TQ_SMTP_PORT");
    std::string pop3Port = env("TQ_POP3_PORT");
    std::string address = env("TQ_MAIL_ADDRESS");
    TMail* mail = nullptr;
    TmailOntvangen* recv = nullptr;
    QStringList files;
    QStringList answers;
    QStringList inputs;
    std::vector<tq::FileRequest> requests;
};

#define REQUIRE_SERVERS()                                                                                    \
    if (!serversPresent())                                                                                   \
    GTEST_SKIP() << "mail servers not running: start them with `bash tests/mail/servers.sh start DIR` and "   \
                    "source DIR/env"

TEST_F(MailWindows, TextsCaptionsAndHintsAreExact)
{
    struct Row {
        QWidget* widget;
        QString text;
        QString hint;
    };
    auto labelOf = [](QWidget* field) {
        for (QLabel* label : field->parentWidget()->findChildren<QLabel*>()) {
            if (label->buddy() == field) {
                return label->text();
            }
        }
        return QString();
    };
    tq::TfrmDelAttach& attach = program().frmDelAttach();
    const std::vector<Row> rows = {
        {mail->edtServername, "SMTP server adress:", "SMTP server adres"},
        {mail->edtUsername, "Username:", "Gebruikersnaam"},
        {mail->edtName, "Sender name:", "Naam verzender"},
        {mail->edtSender, "Sender adress:", "Verzend adres"},
        {mail->edtReplyAdress, "Reply adress:", "Antwoord adres"},
        {mail->edtOntvanger, "Send to...:", "Email adres ontvanger"},
        {mail->edtOnderwerp, "Subject:", "Onderwerp van email"},
        {mail->mailDateTime, "Send date:", "Datum van verzending"},
        {recv->edtServername, "POP3 server adress:", "POP3 mail server"},
        {recv->edtUsername, "Username:", "Gebruikersnaam"},
        {recv->edtPassword, "Password:", "Paswoord"},
        {recv->listBerichten, "Subjects:", "Ontvangen e-mail berichten"},
        {attach.FileList, "Files:", "Huidige bijlagen"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(labelOf(row.widget), row.text);
        EXPECT_EQ(row.widget->toolTip(), row.hint) << row.text.toStdString();
    }
    EXPECT_EQ(mail->chkCoderen->text(), "Encrypt before sending");
    EXPECT_EQ(mail->chkCoderen->toolTip(), "Bericht eerst coderen voor verzending");
    EXPECT_FALSE(mail->chkCoderen->isChecked());
    EXPECT_EQ(mail->edtOnderwerp->text(), "Geen");
    EXPECT_EQ(mail->mailDateTime->dateTime(), QDateTime(QDate(1981, 10, 15), QTime(14, 20, 53)));
    EXPECT_TRUE(mail->mailDateTime->calendarPopup());
    const std::vector<std::pair<QPushButton*, const char*>> buttons = {
        {mail->btnVerzenden, "&Send"},       {mail->btnAnnuleren, "&Cancel"}, {mail->btnBijlagen, "&Attachments"},
        {recv->btnOphalen, "&Receive"},      {recv->btnSluiten, "&Close"},    {attach.btnVerwijderen, "&Remove"},
        {attach.btnSluiten, "&Close"},       {attach.btnToevoegen, "&Add file"}};
    for (const auto& [button, caption] : buttons) {
        EXPECT_EQ(button->text(), caption);
    }
    EXPECT_EQ(recv->Beantwoorden1->text(), "&Beantwoorden");
    EXPECT_EQ(recv->Verwijderen->text(), "Ver&wijderen");
    EXPECT_EQ(attach.Verwijderen1->text(), "&Verwijderen");
    EXPECT_EQ(recv->edtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(recv->CloseTimer->interval(), 10000);
    EXPECT_TRUE(recv->CloseTimer->isSingleShot());
    EXPECT_FALSE(recv->CloseTimer->isActive());
    EXPECT_EQ(attach.Timer->interval(), 200);
    EXPECT_EQ(mail->SmtpClient.Charset, "us-ascii");
    EXPECT_EQ(mail->SmtpClient.Port, 25);
    EXPECT_EQ(recv->Pop3Client.Port, 110);
    EXPECT_FALSE(recv->Pop3Client.Parse);
    EXPECT_FALSE(recv->Pop3Client.DeleteOnRead);

    activate(mail);
    EXPECT_TRUE(mail->lblOntvanger->font().bold());
    EXPECT_FALSE(program().frmMemo().isEnabled());
    mail->btnAnnulerenClick();
    EXPECT_TRUE(program().frmMemo().isEnabled());
}

// Account values are stored enciphered when their field is left (user name
// and password of the receive window at every change) and come back into the
// fields at every activation; a first run shows empty fields.
TEST_F(MailWindows, AccountValuesAreStoredEncipheredAndComeBack)
{
    activate(mail);
    for (QLineEdit* field :
         {mail->edtServername, mail->edtUsername, mail->edtName, mail->edtSender, mail->edtReplyAdress}) {
        EXPECT_TRUE(field->text().isEmpty()) << field->objectName().toStdString();
    }
    struct Value {
        QLineEdit* field;
        const char* name;
        QString text;
    };
    const std::vector<Value> sendValues = {
        {mail->edtServername, "OutServername", "smtp.readable-server.test"},
        {mail->edtUsername, "OutUsername", "quill-user"},
        {mail->edtName, "OutName", QStringLiteral("J\u00e9r\u00f4me de Vries")},
        {mail->edtSender, "OutSender", "jerome@readable-server.test"},
        {mail->edtReplyAdress, "OutReplyadress", "answers@readable-server.test"},
    };
    for (const Value& v : sendValues) {
        v.field->setFocus();
        v.field->setText(v.text);
        if (v.field == mail->edtReplyAdress) {
            // Leaving the sender copied it here without storing it.
            EXPECT_FALSE(tq::settings::contains("OutReplyadress"));
        }
        mail->edtOntvanger->setFocus();
        QApplication::processEvents();
        if (v.field == mail->edtSender) {
            EXPECT_EQ(mail->edtReplyAdress->text(), v.text);
        }
    }
    EXPECT_EQ(mail->SmtpClient.Host, "smtp.readable-server.test");
    EXPECT_EQ(mail->SmtpClient.UserID, "quill-user");

    activate(recv);
    for (QLineEdit* field : {recv->edtServername, recv->edtUsername, recv->edtPassword}) {
        EXPECT_TRUE(field->text().isEmpty()) << field->objectName().toStdString();
    }
    recv->edtServername->setFocus();
    recv->edtServername->setText(QStringLiteral("pop.readable-server.test"));
    recv->edtUsername->setFocus();
    QTest::keyClicks(recv->edtUsername, QStringLiteral("inbox-user"));
    recv->edtPassword->setFocus();
    // Every keystroke writes the password; the stored text changes every time.
    std::string before = tq::settings::readString("InPassword");
    const QString password = QStringLiteral("geheim");
    for (int i = 0; i < password.size(); ++i) {
        QTest::keyClick(recv->edtPassword, password[i].toLatin1());
        const std::string stored = tq::settings::readString("InPassword");
        EXPECT_NE(stored, before);
        EXPECT_EQ(tq::mailsettings::load("InPassword", tq::mailsettings::kReceiveKeys),
                  QStringLiteral("inbox-user@pop.readable-server.test:110\n") + password.left(i + 1));
        before = stored;
    }
    recv->btnOphalen->setFocus();
    QApplication::processEvents();

    // Nothing readable in the store; every value deciphers to its field.
    const QByteArray store = readAll(dir.filePath(QStringLiteral("config/tarnquill.ini")));
    ASSERT_FALSE(store.isEmpty());
    for (const char* readable : {"readable", "quill-user", "inbox-user", "geheim", "Vries"}) {
        EXPECT_FALSE(store.contains(readable)) << readable;
    }
    for (const Value& v : sendValues) {
        EXPECT_EQ(tq::mailsettings::load(v.name, tq::mailsettings::kSendKeys), v.text) << v.name;
    }
    EXPECT_EQ(tq::mailsettings::load("InServername", tq::mailsettings::kReceiveKeys), "pop.readable-server.test");
    EXPECT_EQ(tq::mailsettings::load("InUsername", tq::mailsettings::kReceiveKeys), "inbox-user");

    // Activation puts the stored texts back.
    mail->btnAnnulerenClick();
    recv->btnSluitenClick();
    for (const Value& v : sendValues) {
        v.field->setText(QStringLiteral("changed"));
    }
    recv->edtPassword->setText(QStringLiteral("changed"));
    activate(mail);
    for (const Value& v : sendValues) {
        EXPECT_EQ(v.field->text(), v.text) << v.name;
    }
    activate(recv);
    EXPECT_EQ(recv->edtPassword->text(), password);
}

// A keyring that runs but cannot be read: the activation shows why in the
// status bar (an error box there would activate the window again and again),
// Receive stops with the error, and no password is taken from elsewhere.
TEST_F(MailWindows, FailingKeyringIsReported)
{
    struct Broken : tq::TKeyring {
        bool available() override { return true; }
        std::optional<QString> read(const std::string&) override { throw tq::EKeyringError("The keyring is locked."); }
        bool write(const std::string&, const QString&) override { return false; }
        void remove(const std::string&) override {}
    };
    auto previous = tq::setKeyring(std::make_unique<Broken>());
    tq::mailsettings::store("InServername", QStringLiteral("127.0.0.1"), tq::mailsettings::kReceiveKeys);
    tq::mailsettings::store("InPassword", QStringLiteral("obscured"), tq::mailsettings::kReceiveKeys);
    activate(recv);
    EXPECT_EQ(recv->statusText(), "The keyring is locked.");
    EXPECT_EQ(recv->edtPassword->text(), QString());
    EXPECT_TRUE(errors.empty());
    recv->btnOphalenClick();
    EXPECT_EQ(errors, (std::vector<QString>{"The keyring is locked."}));
    EXPECT_FALSE(recv->Pop3Client.Connected());
    EXPECT_TRUE(recv->btnOphalen->isEnabled());
    tq::setKeyring(std::move(previous));
}

// The memo, mailed from the send window, arrives as well-formed MIME and comes
// back through the receive window: in the clear with two attachments, and
// encrypted (cipher text in the mail, decrypted in the memo afterwards).
TEST_F(MailWindows, MemoMailedAndReceivedBack)
{
    REQUIRE_SERVERS();
    // Every byte value, and a name in Windows-1252.
    QByteArray allBytes;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            allBytes.append(static_cast<char>(b));
        }
    }
    const QString binaryPath = makeFile(QStringLiteral("all-bytes.bin"), allBytes);
    const std::string accentedName = "r\xE9sum\xE9 \x80.txt";
    const QString accentedPath = makeFile(u(accentedName), QByteArray("caf\xc3\xa9\r\n.\r\nend"));
    const std::string memoText = "Hallo wereld,\r\n.\r\ncaf\xE9 \x80 5 \xA0 end\r\n\r\nlast line";

    struct Case {
        const char* name;
        bool encrypt;
        bool attachments;
    };
    for (const Case& c : {Case{"plain", false, true}, Case{"encrypted", true, false}}) {
        SCOPED_TRACE(c.name);
        // (A reply of the case before left its attachments there.)
        QDir(dir.filePath(QStringLiteral("listing"))).removeRecursively();
        tq::TfrmMemo& memo = program().frmMemo();
        memo.Memo->setText(memoText);
        const QString subject = uniqueSubject(c.name);
        prepareSend(subject, QStringLiteral("Tester <%1>").arg(QString::fromStdString(address)));
        mail->chkCoderen->setChecked(c.encrypt);
        if (c.attachments) {
            // The first click opens the file dialog at once, later ones the list.
            files = {binaryPath, accentedPath};
            mail->btnBijlagenClick();
            EXPECT_FALSE(program().frmDelAttach().isVisible());
            mail->btnBijlagenClick();
            EXPECT_TRUE(program().frmDelAttach().isVisible());
            program().frmDelAttach().btnToevoegenClick();
            EXPECT_EQ(program().frmDelAttach().FileList->count(), 2);
            program().frmDelAttach().close();
        }
        const QDateTime sent = QDateTime::currentDateTime();
        mail->btnVerzendenClick();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
        EXPECT_FALSE(mail->isVisible()) << "a sent message closes the window";
        EXPECT_TRUE(memo.isEnabled());
        EXPECT_EQ(memo.Memo->text(), memoText) << "decrypted again after sending";
        EXPECT_TRUE(mail->SmtpClient.PostMessage.Attachments.empty());

        // What a parser of today sees in the mailbox.
        ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
        const QString file = maildirFile(subject);
        ASSERT_FALSE(file.isEmpty());
        const QJsonObject seen = inspect(file);
        EXPECT_TRUE(seen["defects"].toArray().isEmpty()) << QJsonDocument(seen).toJson().toStdString();
        EXPECT_EQ(seen["mailer"].toString(), "Microsoft Office Outlook, Build 11.0.5510");
        const QDateTime date = QDateTime::fromString(seen["date"].toString(), Qt::ISODate);
        EXPECT_LE(std::llabs(date.secsTo(sent)), 120) << seen["date"].toString().toStdString();
        const QJsonArray parts = seen["parts"].toArray();
        ASSERT_EQ(parts.size(), c.attachments ? 3 : 1);
        const QJsonObject text = parts[0].toObject();
        EXPECT_EQ(text["charset"].toString(), "windows-1252");
        EXPECT_EQ(text["cte"].toString(), "quoted-printable");
        const QByteArray textBytes = QByteArray::fromHex(text["bytes"].toString().toLatin1());
        if (c.encrypt) {
            EXPECT_TRUE(tq::IsCipherText(textBytes.trimmed().toStdString()));
        } else {
            EXPECT_TRUE(textBytes.contains("caf\xE9 \x80 5 \xA0 end")) << textBytes.toStdString();
        }
        if (c.attachments) {
            EXPECT_EQ(parts[1].toObject()["filename"].toString(), "all-bytes.bin");
            EXPECT_EQ(parts[1].toObject()["sha256"].toString(),
                      QCryptographicHash::hash(allBytes, QCryptographicHash::Sha256).toHex());
            EXPECT_EQ(parts[2].toObject()["sha256"].toString(),
                      QCryptographicHash::hash(readAll(accentedPath), QCryptographicHash::Sha256).toHex());
        }

        // Open: the memo holds the text (the empty line in front dropped) and
        // each attachment is offered in the save dialog. The memo has changes
        // that were never saved: No to discarding them keeps it and the window.
        requests.clear();
        select(subject + QChar(0xA0));
        memo.Memo->setText("typed, not saved");
        answerYes = false;
        recv->listBerichtenDblClick();
        EXPECT_EQ(lastQuestion, "The memo has changes that are not saved. Discard them?");
        EXPECT_EQ(memo.Memo->text(), "typed, not saved");
        EXPECT_TRUE(recv->isVisible());
        answerYes = true;
        recv->listBerichtenDblClick();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
        EXPECT_FALSE(recv->isVisible());
        EXPECT_TRUE(recv->CloseTimer->isActive());
        EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("listing"))).entryList(QDir::Files).isEmpty())
            << "listing the mailbox leaves no attachment files behind";
        if (c.encrypt) {
            EXPECT_TRUE(memo.Gecodeerd());
            memo.imgButtonDecoderenClick();
            EXPECT_EQ(memo.Memo->text(), memoText);
        } else {
            // The names proposed are free in the attachment folder, which the
            // listing filled already: "_1" may stand before the extension.
            ASSERT_EQ(requests.size(), 2u);
            EXPECT_EQ(requests[0].title, "Save attachments in...");
            EXPECT_EQ(withoutNumber(requests[0].fileName), "all-bytes.bin");
            EXPECT_EQ(withoutNumber(requests[1].fileName), u(accentedName));
            EXPECT_EQ(memo.Memo->text(), memoText + "\r\n\r\nFile \"" + requests[0].fileName.toStdString() +
                                             "\" extracted\r\n\r\nFile \"" +
                                             tq::cp1252::fromUtf8Lossy(requests[1].fileName.toStdString()) +
                                             "\" extracted");
            EXPECT_EQ(readAll(dir.filePath(QStringLiteral("saved/")) + requests[0].fileName), allBytes);
            EXPECT_EQ(readAll(dir.filePath(QStringLiteral("saved/")) + requests[1].fileName), readAll(accentedPath));
        }

        // Reply: four lines in front of the text, recipient and subject in the
        // send window, a note in the main window.
        ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
        select(subject + QChar(0xA0));
        memo.Memo->setText("typed, not saved");
        answerYes = false;
        recv->Beantwoorden1Click();
        EXPECT_EQ(memo.Memo->text(), "typed, not saved");
        EXPECT_TRUE(recv->isVisible());
        answerYes = true;
        recv->Beantwoorden1Click();
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(memo.Memo->lines().at(2), "----- Original Message -----");
        EXPECT_EQ(memo.Memo->text().substr(0, 36), "\r\n\r\n----- Original Message -----\r\n\r\n");
        EXPECT_EQ(memo.panel(0), "Reply to message.");
        EXPECT_EQ(mail->edtOntvanger->text(), "jan@quill.test");
        EXPECT_EQ(mail->edtOnderwerp->text(), QStringLiteral("Re: ") + subject + QChar(0xA0));
        EXPECT_FALSE(recv->isVisible());

        // Done with it: delete it on the server, after a question that names it
        // (No keeps it).
        ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
        select(subject + QChar(0xA0));
        answerYes = false;
        recv->VerwijderenClick();
        EXPECT_EQ(lastQuestion, QStringLiteral("Bericht \"%1\" van de server verwijderen?").arg(subject + QChar(0xA0)));
        EXPECT_TRUE(listed().contains(subject + QChar(0xA0)));
        answerYes = true;
        recv->VerwijderenClick();
        EXPECT_FALSE(listed().contains(subject + QChar(0xA0)));
        recv->btnSluitenClick();
    }
}

// Messages written by another program: the text wherever it sits, converted to
// the memo's code page, decoded subjects, attachments and inline pictures as
// files; the first line of a text is kept. Then Delete of the middle one of
// three leaves the other two.
TEST_F(MailWindows, MessagesOfOtherProgramsOpenAsWritten)
{
    REQUIRE_SERVERS();
    const QString prefix = uniqueSubject("other");
    QProcess python;
    python.start(QStringLiteral("python3"), {pythonScript(), QStringLiteral("send"),
                                             QString::fromStdString(env("TQ_SMTP_HOST")),
                                             QString::fromStdString(smtpPort), QString::fromStdString(address), prefix});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();

    struct Case {
        const char* name;
        QString subject;
        std::string memo;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {"alternative", {}, "Plain first line\r\nsecond line", {}},
        {"mixed", {}, "Mixed text\r\n\r\nFile \"report.bin\" extracted", {"report.bin"}},
        {"related", {}, "Related text\r\n\r\nFile \"image.png\" extracted", {"image.png"}},
        {"htmlonly", {}, "Only HTML here", {}},
        {"utf8", QStringLiteral(" utf8 Gr\u00fc\u00dfe \u20ac"), "Gr\xFC\xDF" "e aus K\xF6ln ?", {}},
        {"latin1", {}, "caf\xE9 cr\xE8me", {}},
        {"qp", {}, "First line stays\r\nna\xEFve second\r\n\r\nFile \"notes.txt\" extracted", {"notes.txt"}},
        {"htmlres", {}, "Local resources\r\n[picture]", {}},
    };
    QStringList subjects;
    for (const Case& c : cases) {
        subjects << prefix + (c.subject.isEmpty() ? QStringLiteral(" ") + QString::fromLatin1(c.name) : c.subject);
    }
    ASSERT_TRUE(receiveUntilListed(subjects)) << listed().join(QLatin1Char('\n')).toStdString();
    tq::TfrmMemo& memo = program().frmMemo();
    answerYes = true; // each message replaces the one before; delete asks

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_TRUE(receiveUntilListed({subjects[static_cast<int>(i)]}));
        requests.clear();
        select(subjects[static_cast<int>(i)]);
        recv->listBerichtenDblClick();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
        std::string text = memo.Memo->text();
        for (const tq::FileRequest& request : requests) {
            const std::string name = request.fileName.toStdString();
            const std::string plain = withoutNumber(request.fileName).toStdString();
            const auto at = text.find(name);
            if (at != std::string::npos) {
                text.replace(at, name.size(), plain);
            }
        }
        while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
            text.resize(text.size() - 2);
        }
        EXPECT_EQ(text, cases[i].memo);
        ASSERT_EQ(requests.size(), cases[i].files.size());
        for (std::size_t k = 0; k < requests.size(); ++k) {
            EXPECT_EQ(withoutNumber(requests[k].fileName).toStdString(), cases[i].files[k]);
        }
    }
    // The sender of the UTF-8 message, decoded, answers a reply.
    ASSERT_TRUE(receiveUntilListed({subjects[4]}));
    select(subjects[4]);
    recv->Beantwoorden1Click();
    EXPECT_EQ(mail->edtOntvanger->text(), "juergen@quill.test");
    EXPECT_EQ(mail->edtOnderwerp->text(), QStringLiteral("Re: ") + subjects[4]);
    // A display name that decodes to another address is not answered.
    ASSERT_TRUE(receiveUntilListed({subjects[7]}));
    select(subjects[7]);
    recv->Beantwoorden1Click();
    EXPECT_EQ(mail->edtOntvanger->text(), "hostile@quill.test");

    // Delete the middle one of three; then the rest.
    ASSERT_TRUE(receiveUntilListed(subjects));
    select(subjects[1]);
    recv->VerwijderenClick();
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(listed().contains(subjects[1]));
    EXPECT_TRUE(listed().contains(subjects[0]));
    EXPECT_TRUE(listed().contains(subjects[2]));
    for (int i = 0; i < subjects.size(); ++i) {
        if (listed().contains(subjects[i])) {
            select(subjects[i]);
            recv->VerwijderenClick();
        }
    }
    for (const QString& s : subjects) {
        EXPECT_FALSE(listed().contains(s));
    }
    recv->btnSluitenClick();
}

// Refusals and short fields: a status text or a question, never a window
// left disabled; nothing is sent in the clear when encryption was asked for.
TEST_F(MailWindows, RefusalsAndShortFieldsLeaveTheWindowsUsable)
{
    REQUIRE_SERVERS();
    tq::TfrmMemo& memo = program().frmMemo();
    memo.Memo->setText("short test");

    // A recipient of 2 to 4 characters: connected, but not sent.
    prepareSend(uniqueSubject("short"), QStringLiteral("a@bc"));
    mail->btnVerzendenClick();
    EXPECT_EQ(mail->statusText(), "Not all fields filled in.");
    EXPECT_TRUE(mail->SmtpClient.Connected());
    EXPECT_TRUE(mail->isVisible());
    EXPECT_TRUE(mail->btnVerzenden->isEnabled());
    mail->btnAnnulerenClick();
    EXPECT_FALSE(mail->SmtpClient.Connected());
    EXPECT_TRUE(memo.isEnabled());

    // A field of one character: no connection at all.
    prepareSend(uniqueSubject("short"), QString::fromStdString(address));
    mail->edtServername->setText(QStringLiteral("x"));
    mail->btnVerzendenClick();
    EXPECT_EQ(mail->statusText(), "Not all fields filled in.");
    EXPECT_FALSE(mail->SmtpClient.Connected());

    // Encryption declined at the bits question: the memo is not mailed.
    prepareSend(uniqueSubject("declined"), QString::fromStdString(address));
    memo.Scale4->setValue(3);
    mail->chkCoderen->setChecked(true);
    answerYes = false;
    mail->btnVerzendenClick();
    EXPECT_EQ(lastQuestion, "Weet u zeker dat u 96 bits codering wilt gebruiken.");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "The memo was not encrypted, so the message was not sent.");
    EXPECT_FALSE(mail->SmtpClient.Connected());
    EXPECT_EQ(memo.Memo->text(), "short test");
    EXPECT_TRUE(mail->btnVerzenden->isEnabled());
    EXPECT_TRUE(mail->pnlHeader->isEnabled());
    mail->btnAnnulerenClick();
    errors.clear();

    // A refused HELO: the retry question, then user name and server name; the
    // second HELO with the answered name is taken.
    prepareSend(uniqueSubject("helo"), QStringLiteral("a@bc"));
    mail->edtUsername->setText(QStringLiteral("bad name"));
    answerYes = true;
    answers = {QStringLiteral("client.quill.test"), QString::fromStdString(env("TQ_SMTP_HOST"))};
    mail->btnVerzendenClick();
    EXPECT_EQ(lastQuestion, "Incorrect username / password, Retry?.");
    EXPECT_EQ(inputs, (QStringList{"Incorrect username / password|Username|bad name",
                                   "Incorrect username / password|Servername|"}));
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_TRUE(mail->SmtpClient.Connected());
    EXPECT_EQ(mail->statusText(), "Not all fields filled in.");
    mail->btnAnnulerenClick();
    inputs.clear();
    answerYes = false;

    // A server name the resolver does not know fails with the lookup's text;
    // only a lookup that timed out or was cancelled asks for the name again.
    // (The password is typed again for that server, which does not get the
    // other one's; a plain connection to it is agreed to when asked.)
    prepareReceive();
    recv->edtServername->setFocus();
    recv->edtServername->setText(QStringLiteral("no-such-host.invalid"));
    recv->edtPassword->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(recv->edtPassword->text(), QString());
    recv->edtPassword->setText(QStringLiteral("typed again"));
    recv->btnOphalen->setFocus();
    answerYes = true;
    recv->btnOphalenClick();
    answerYes = false;
    EXPECT_TRUE(inputs.isEmpty());
    EXPECT_EQ(errors, (std::vector<QString>{"Host Lookup Failed"}));
    EXPECT_FALSE(recv->Pop3Client.Connected());
    EXPECT_TRUE(recv->btnOphalen->isEnabled());
    recv->btnSluitenClick();
    errors.clear();

    // A wrong password: the retry question; No ends with the error shown and
    // the controls back, Yes with the right password logs in.
    prepareReceive(QStringLiteral("wrong"));
    recv->btnOphalenClick();
    EXPECT_EQ(lastQuestion, "Incorrect username / password, Retry?.");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Authentication failed");
    EXPECT_TRUE(recv->btnOphalen->isEnabled());
    EXPECT_TRUE(recv->pnlSettings->isEnabled());
    EXPECT_FALSE(recv->Pop3Client.Connected());

    answerYes = true;
    answers = {QString::fromStdString(env("TQ_MAIL_USER")), QString::fromStdString(env("TQ_MAIL_PASSWORD"))};
    prepareReceive(QStringLiteral("wrong"));
    recv->btnOphalenClick();
    EXPECT_EQ(inputs.size(), 2);
    EXPECT_EQ(inputs.value(0), "Incorrect username / password|Username|" + QString::fromStdString(env("TQ_MAIL_USER")));
    EXPECT_EQ(inputs.value(1), "Incorrect username / password|Password||masked") << "masked and empty";
    EXPECT_TRUE(recv->Pop3Client.Connected());
    EXPECT_TRUE(recv->statusText().startsWith("Connection, Nr. of messages: "));
    EXPECT_EQ(recv->listBerichten->count(), 0) << "stopped by the refusal until Receive is pressed again";
    EXPECT_EQ(errors.size(), 1u);
    // Closed with the session open: the close timer ends it.
    recv->btnSluitenClick();
    EXPECT_FALSE(recv->isVisible());
    EXPECT_TRUE(recv->Pop3Client.Connected());
    ASSERT_TRUE(recv->CloseTimer->isActive());
    recv->CloseTimerTimer();
    EXPECT_FALSE(recv->Pop3Client.Connected());
    EXPECT_FALSE(recv->CloseTimer->isActive());
}

// Types text as a user does, character by character, whatever the script.
void typeInto(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// An account whose name and password hold letters Windows-1252 has no place
// for signs in as UTF-8 through both windows, by a retry whose real input
// boxes are typed into: the user name box shows the name tried, the password
// box is masked and starts empty. Before its first plain connection the
// receive window asks whether the password may cross the network readable.
TEST_F(MailWindows, RetryBoxesAreMaskedAndAccountsBeyondAsciiSignIn)
{
    REQUIRE_SERVERS();
    const QString user = QString::fromStdString(env("TQ_MAIL_USER2"));
    const QString password = QString::fromStdString(env("TQ_MAIL_PASSWORD2"));
    ASSERT_FALSE(user.isEmpty() || env("TQ_SUBMISSION_PORT").empty()) << "servers.sh of this tree";
    tq::prompts::setInputHandler({});
    tq::prompts::setCertificateHandler([](QWidget*, const QString&, const QString&, const QString&) { return true; });
    struct Box {
        QString shown;
        bool masked;
    };
    std::vector<Box> boxes;
    QStringList typed;
    QTimer typist;
    typist.setInterval(20);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        QLineEdit* edit = box != nullptr ? box->findChild<QLineEdit*>() : nullptr;
        if (edit == nullptr || !box->isVisible()) {
            return;
        }
        boxes.push_back({edit->text(), edit->echoMode() == QLineEdit::Password});
        edit->selectAll();
        typeInto(edit, typed.isEmpty() ? QString() : typed.takeFirst());
        QTest::keyClick(edit, Qt::Key_Return);
    });
    typist.start();

    // Receiving: the plain connection declined, then agreed to.
    prepareReceive(QStringLiteral("wrong"), user);
    tq::settings::remove("InClearText");
    answerYes = false;
    recv->btnOphalenClick();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(lastQuestion.startsWith("The connection to 127.0.0.1 is not secured")) << lastQuestion.toStdString();
    EXPECT_EQ(recv->statusText(), "Not connected: the password would cross the network readable.");
    EXPECT_FALSE(recv->Pop3Client.Connected());
    answerYes = true;
    typed = {user, password};
    recv->btnOphalenClick();
    EXPECT_EQ(questions, 3) << "plain connection, then the retry";
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_TRUE(recv->Pop3Client.Connected());
    EXPECT_EQ(recv->statusText(), "Connection, Nr. of messages: 0");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].shown, user);
    EXPECT_FALSE(boxes[0].masked);
    EXPECT_EQ(boxes[1].shown, QString());
    EXPECT_TRUE(boxes[1].masked);
    recv->btnSluitenClick();
    recv->CloseTimerTimer();

    // Sending over STARTTLS with sign-in, the wrong password stored.
    boxes.clear();
    tq::mailsecurity::store(tq::mailsecurity::Direction::Send,
                            {tq::TSecurity::StartTls, static_cast<std::uint16_t>(std::stoi(env("TQ_SUBMISSION_PORT"))),
                             true, user.toStdString()});
    tq::mailsettings::store("OutPassword", QStringLiteral("wrong"), tq::mailsettings::kSendKeys);
    program().frmMemo().Memo->setText("signed in");
    prepareSend(uniqueSubject("utf8 sign-in"), QString::fromStdString(address));
    typed = {user, password};
    mail->btnVerzendenClick();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_EQ(lastQuestion, "Incorrect username / password, Retry?.");
    EXPECT_FALSE(mail->isVisible()) << "sent";
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].shown, user);
    EXPECT_FALSE(boxes[0].masked);
    EXPECT_EQ(boxes[1].shown, QString());
    EXPECT_TRUE(boxes[1].masked);
    tq::prompts::setCertificateHandler({});
}

// The listing reads headers only: the status bar counts "n of N", and no
// attachment is decoded or offered until the message is opened.
TEST_F(MailWindows, ListingCountsAndDecodesNothingUntilOpened)
{
    REQUIRE_SERVERS();
    const QString subject = uniqueSubject("listing");
    QFile file(dir.filePath(QStringLiteral("big.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(200000, 'b'));
    file.close();
    tq::TSmtpClient smtp;
    smtp.Host = env("TQ_SMTP_HOST");
    smtp.Port = static_cast<std::uint16_t>(std::stoi(smtpPort));
    smtp.UserID = "client.quill.test";
    smtp.Connect();
    smtp.PostMessage.FromAddress = "jan@quill.test";
    smtp.PostMessage.ToAddress = {address};
    smtp.PostMessage.Subject = subject.toStdString();
    smtp.PostMessage.Body = {"with a file"};
    smtp.PostMessage.Attachments = {file.fileName().toStdString()};
    smtp.SendPostMessage();
    smtp.Disconnect();

    QStringList statuses;
    QObject watch;
    QObject::connect(recv->StatusBar, &QStatusBar::messageChanged, &watch,
                     [&](const QString& text) { statuses << text; });
    requests.clear();
    ASSERT_TRUE(receiveUntilListed({subject}));
    const QString count = QString::number(recv->Pop3Client.MessageCount());
    for (int n = 1; n <= recv->Pop3Client.MessageCount(); ++n) {
        EXPECT_TRUE(statuses.contains(QStringLiteral("Connection, Nr. of messages: ") + count + QStringLiteral(", ") +
                                      QString::number(n) + QStringLiteral(" of ") + count))
            << n << " of " << count.toStdString();
    }
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("listing"))).entryList(QDir::Files).isEmpty());
    select(subject);
    recv->listBerichtenDblClick();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(withoutNumber(requests[0].fileName), "big.bin");
    EXPECT_EQ(program().frmMemo().Memo->text(), "with a file\r\n\r\nFile \"" + requests[0].fileName.toStdString() +
                                                   "\" extracted");

    ASSERT_TRUE(receiveUntilListed({subject}));
    select(subject);
    recv->VerwijderenClick();
    recv->btnSluitenClick();
}

// Close while connecting, listing or opening: the work stops, the POP3
// session ends (the mailbox is not left locked) and no error box follows.
TEST_F(MailWindows, CloseDuringWorkEndsTheSessionQuietly)
{
    using tq::test::FakeServer;
    struct Case {
        const char* name;
        std::string silentOn; // the command left unanswered ("" for the greeting)
    };
    answerYes = true; // the plain sign-in to the fake server is agreed to
    for (const Case& c : std::vector<Case>{{"connect", ""}, {"listing", "TOP"}, {"open", "RETR"}}) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        server.greeting = c.silentOn.empty() ? FakeServer::kSilent : "+OK fake";
        auto pop3 = FakeServer::pop3({"Subject: one\r\n\r\ntext", "Subject: two\r\n\r\ntext"});
        server.respond = [&](const std::string& line) {
            if (line == "CAPA") {
                return std::string("+OK\nTOP\n.");
            }
            if (line.rfind("TOP ", 0) == 0) {
                return c.silentOn == "TOP" ? FakeServer::kSilent : pop3("RETR" + line.substr(3, line.size() - 5));
            }
            return !c.silentOn.empty() && line.rfind(c.silentOn, 0) == 0 ? FakeServer::kSilent : pop3(line);
        };
        tq::mailsettings::store("InServername", QStringLiteral("127.0.0.1"), tq::mailsettings::kReceiveKeys);
        tq::mailsettings::store("InUsername", QStringLiteral("piet"), tq::mailsettings::kReceiveKeys);
        tq::mailsettings::store("InPassword", QStringLiteral("pw"), tq::mailsettings::kReceiveKeys);
        tq::mailsecurity::Choice plain;
        plain.port = server.port();
        tq::mailsecurity::store(tq::mailsecurity::Direction::Receive, plain);
        activate(recv);
        recv->FormActivate();
        recv->Pop3Client.TimeOut = 20000;
        errors.clear();
        if (c.silentOn == "RETR") {
            recv->btnOphalenClick();
            ASSERT_EQ(listed(), (QStringList{"one", "two"}));
            select(QStringLiteral("two"));
            QTimer::singleShot(300, recv->btnSluiten, &QPushButton::click);
            recv->listBerichtenDblClick();
        } else {
            QTimer::singleShot(300, recv->btnSluiten, &QPushButton::click);
            recv->btnOphalenClick();
        }
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
        EXPECT_FALSE(recv->isVisible());
        EXPECT_FALSE(recv->Pop3Client.Connected());
        EXPECT_TRUE(program().frmMemo().isEnabled());
        for (int i = 0; i < 50 && !server.clientClosed(); ++i) {
            QTest::qWait(20);
        }
        EXPECT_TRUE(server.clientClosed()) << "the session is ended";
        EXPECT_TRUE(recv->btnOphalen->isEnabled());
    }
}

// A 50 KB memo with a selection, mailed with "Encrypt before sending": the
// whole memo goes out encrypted as quoted-printable within the line limits,
// Python's parser finds no defect and decodes the cipher text exactly, and the
// memo is as before afterwards.
TEST_F(MailWindows, LargeEncryptedMemoSurvivesTheRelay)
{
    REQUIRE_SERVERS();
    std::string memoText;
    std::mt19937 rng(11);
    while (memoText.size() < 50 * 1024) {
        const std::size_t length = 1 + rng() % 150;
        for (std::size_t i = 0; i < length; ++i) {
            memoText += static_cast<char>(32 + rng() % 95);
        }
        memoText += "\r\n";
    }
    memoText += "last line \xE9";
    tq::TfrmMemo& memo = program().frmMemo();
    memo.Memo->setText(memoText);
    memo.Memo->setSelection(100, 40);
    const QString subject = uniqueSubject("large");
    prepareSend(subject, QString::fromStdString(address));
    mail->chkCoderen->setChecked(true);
    mail->btnVerzendenClick();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_FALSE(mail->isVisible());
    EXPECT_EQ(memo.Memo->text(), memoText);

    // Opened from the receive window, the text decrypts to the memo.
    ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
    memo.Memo->setText("replaced");
    memo.setMemoModified(false);
    select(subject + QChar(0xA0));
    recv->listBerichtenDblClick();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_TRUE(memo.Gecodeerd());
    memo.imgButtonDecoderenClick();
    EXPECT_TRUE(memo.Memo->text() == memoText);

    const QString file = maildirFile(subject);
    ASSERT_FALSE(file.isEmpty());
    tq::CipherKeys keys;
    keys.key1 = 5;
    keys.key2 = 7;
    keys.key3 = 10;
    auto seen = pythonMailFields(pythonScript().toStdString(), file.toStdString());
    EXPECT_EQ(seen["defects"], "");
    EXPECT_EQ(seen["text_cte"], "quoted-printable");
    EXPECT_EQ(seen["subject"], subject.toStdString() + "\xC2\xA0");
    // The cipher text as Python decodes it: one line, the whole memo in it.
    const std::string& cipher = seen["text_lines"];
    EXPECT_TRUE(tq::IsCipherText(cipher));
    EXPECT_EQ(cipher.size(), memoText.size() * 16);
    EXPECT_TRUE(tq::LineCipher().DeCodeLinePasses(cipher, keys, 2) == memoText);
    const QByteArray data = readAll(file);
    EXPECT_LE(longestMailLine(data.mid(data.indexOf("\n\n")).toStdString()), 76u) << "quoted-printable body";
}

// Answers the next passphrase dialog as a user would: types `passphrase` into
// its field (both fields of a new passphrase) and presses Enter. The dialog's
// title is added to `titles`.
void typeWhenAsked(const QString& passphrase, QStringList& titles)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [passphrase, &titles, tries, poll] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        auto* first = dialog != nullptr ? dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphrase")) : nullptr;
        if (first == nullptr) {
            if (++*tries < 500) {
                QTimer::singleShot(20, *poll);
            }
            return;
        }
        titles << dialog->windowTitle();
        QTest::keyClicks(first, passphrase);
        QLineEdit* last = first;
        if (auto* second = dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphraseAgain"))) {
            QTest::keyClicks(second, passphrase);
            last = second;
        }
        QTest::keyClick(last, Qt::Key_Return);
        *poll = nullptr;
    };
    QTimer::singleShot(0, *poll);
}

// "Seal before sending": the memo (every byte value it can hold, long lines)
// crosses the real servers as ASCII armour within 76-character lines and
// opens in the receive window with its passphrase, typed into the real
// dialog; a wrong passphrase and a tampered copy are refused with the memo
// left alone. The same block, quoted in a reply, opens with Edit > "Unseal
// text", and tarnquill-cli reads the delivered message and writes armour the
// memo opens.
TEST_F(MailWindows, SealedMemoCrossesTheServersAsArmour)
{
    REQUIRE_SERVERS();
    std::string memoText;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            memoText += static_cast<char>(c);
        }
    }
    memoText += "\r\n.\r\n" + std::string(3000, 'w') + " \xE9\r\n\r\nlast line";
    const QString pass = QStringLiteral("Zegel van Jan 2026");
    tq::TfrmMemo& memo = program().frmMemo();
    memo.SealParams = {1, 8};
    memo.Memo->setText(memoText);
    memo.setMemoModified(false);
    const QString subject = uniqueSubject("sealed");
    prepareSend(subject, QString::fromStdString(address));

    // One of the two boxes, or neither.
    mail->chkCoderen->setChecked(true);
    mail->chkVerzegelen->setChecked(true);
    EXPECT_FALSE(mail->chkCoderen->isChecked());
    mail->chkCoderen->setChecked(true);
    EXPECT_FALSE(mail->chkVerzegelen->isChecked());
    mail->chkVerzegelen->setChecked(true);

    QStringList titles;
    typeWhenAsked(pass, titles);
    mail->btnVerzendenClick();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_EQ(titles, QStringList{"Seal before sending"});
    EXPECT_FALSE(mail->isVisible()) << "a sent message closes the window";
    EXPECT_TRUE(memo.Memo->text() == memoText) << "the memo itself stays as it was";

    // On the server: one 7-bit us-ascii text, no line over 76, nothing of the memo.
    ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
    const QString file = maildirFile(subject);
    ASSERT_FALSE(file.isEmpty());
    const QByteArray stored = readAll(file);
    const QByteArray body = stored.mid(stored.indexOf("\n\n") + 2);
    EXPECT_LE(longestMailLine(stored.toStdString()), 76u);
    EXPECT_TRUE(body.trimmed().startsWith("-----BEGIN TARNQUILL SEALED MESSAGE-----\n")) << body.left(60).toStdString();
    EXPECT_TRUE(body.trimmed().endsWith("-----END TARNQUILL SEALED MESSAGE-----"));
    EXPECT_FALSE(stored.contains("wwwwwwww"));
    const QJsonObject seen = inspect(file);
    EXPECT_TRUE(seen["defects"].toArray().isEmpty()) << QJsonDocument(seen).toJson().toStdString();
    ASSERT_EQ(seen["parts"].toArray().size(), 1);
    const QJsonObject text = seen["parts"].toArray()[0].toObject();
    EXPECT_EQ(text["charset"].toString(), "us-ascii");
    EXPECT_TRUE(text["cte"].toString().isEmpty() || text["cte"].toString() == "7bit") << text["cte"].toString().toStdString();

    // A tampered copy beside it: one base64 character changed.
    const QString tamperedSubject = subject + QLatin1Char('0');
    {
        const int headerEnd = static_cast<int>(stored.indexOf("\n\n"));
        QByteArray header = stored.left(headerEnd);
        const QByteArray number = subject.section(QLatin1Char(' '), -1).toLatin1();
        header.replace(number, number + '0');
        QByteArray tampered = header + stored.mid(headerEnd);
        const int at = static_cast<int>(tampered.indexOf("-----BEGIN")) + 41 + 100;
        tampered[at] = tampered[at] == 'A' ? 'B' : 'A';
        const QString maildir = QString::fromStdString(env("TQ_MAILDIR"));
        const QString name = QStringLiteral("%1.tampered%2.quill").arg(QDateTime::currentSecsSinceEpoch()).arg(number);
        QFile out(maildir + QStringLiteral("/tmp/") + name);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(tampered);
        out.close();
        ASSERT_TRUE(QFile::rename(out.fileName(), maildir + QStringLiteral("/new/") + name));
    }
    ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0), tamperedSubject + QChar(0xA0)}));

    struct Open {
        QString subject;
        QString passphrase;
        bool opens;
    };
    for (const Open& o : {Open{subject, QStringLiteral("Zegel van Piet"), false},
                          Open{tamperedSubject, pass, false}, Open{subject, pass, true}}) {
        SCOPED_TRACE(o.subject.toStdString() + " with " + o.passphrase.toStdString());
        memo.Memo->setText("before");
        memo.setMemoModified(false);
        errors.clear();
        titles.clear();
        select(o.subject + QChar(0xA0));
        typeWhenAsked(o.passphrase, titles);
        recv->listBerichtenDblClick();
        EXPECT_EQ(titles, QStringList{"Open sealed message"});
        if (o.opens) {
            EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
            EXPECT_TRUE(memo.Memo->text() == memoText);
            EXPECT_FALSE(memo.memoModified());
            EXPECT_FALSE(recv->isVisible());
        } else {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0], "Wrong passphrase, or the file is damaged.");
            EXPECT_EQ(memo.Memo->text(), "before");
            EXPECT_TRUE(recv->isVisible()) << "the window stays for another try";
            EXPECT_EQ(recv->statusText(), "The sealed message was not opened.");
        }
    }

    // The block quoted in a reply, pasted into the memo: Edit > "Unseal text"
    // puts the memo in its place and keeps the text around it.
    QAction* unsealText = memo.findChild<QAction*>(QStringLiteral("mnuTekstOntzegelen"));
    ASSERT_NE(unsealText, nullptr);
    EXPECT_EQ(unsealText->text(), "Unseal text");
    errors.clear();
    memo.Memo->setText("Nothing sealed here.");
    unsealText->trigger();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("The memo holds no sealed text.")) << errors[0].toStdString();
    EXPECT_EQ(memo.Memo->text(), "Nothing sealed here.");
    std::string quoted = "Jan wrote:\r\n";
    for (const QByteArray& line : body.split('\n')) {
        quoted += "> " + line.toStdString() + "\r\n";
    }
    quoted += "Thanks.";
    const std::string endLine = "-----END TARNQUILL SEALED MESSAGE-----";
    const std::string expected = quoted.substr(0, quoted.find("> -----BEGIN")) + memoText +
                                 quoted.substr(quoted.find(endLine) + endLine.size());
    errors.clear();
    titles.clear();
    memo.Memo->setText(quoted);
    typeWhenAsked(pass, titles);
    unsealText->trigger();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_EQ(titles, QStringList{"Unseal text"});
    EXPECT_TRUE(memo.Memo->text() == expected);
    EXPECT_EQ(memo.panel(1), "Text unsealed.");
    memo.Memo->undo();
    EXPECT_TRUE(memo.Memo->text() == quoted) << "Undo brings the block back";

    // tarnquill-cli opens the delivered message, and its armour opens in the memo.
    const QString passFile = makeFile(QStringLiteral("pass.txt"), pass.toUtf8() + "\n");
    const QString memoFile = makeFile(QStringLiteral("memo.txt"), QByteArray::fromStdString(memoText));
    const QString outFile = dir.filePath(QStringLiteral("unsealed.txt"));
    const QString armourFile = dir.filePath(QStringLiteral("memo.asc"));
    EXPECT_EQ(QProcess::execute(QStringLiteral(TQ_CLI_PATH),
                                {QStringLiteral("unseal"), QStringLiteral("--passphrase-file"), passFile, file, outFile}),
              0);
    EXPECT_TRUE(readAll(outFile).toStdString() == memoText);
    EXPECT_EQ(QProcess::execute(QStringLiteral(TQ_CLI_PATH),
                                {QStringLiteral("seal"), QStringLiteral("--armor"), QStringLiteral("--weak"),
                                 QStringLiteral("--ops"), QStringLiteral("1"), QStringLiteral("--mem"),
                                 QStringLiteral("8"), QStringLiteral("--passphrase-file"), passFile, memoFile,
                                 armourFile}),
              0);
    const QByteArray armour = readAll(armourFile);
    EXPECT_TRUE(armour.startsWith("-----BEGIN TARNQUILL SEALED MESSAGE-----\n"));
    EXPECT_LE(longestMailLine(armour.toStdString()), 76u);
    memo.Memo->setText(armour.toStdString());
    titles.clear();
    typeWhenAsked(pass, titles);
    unsealText->trigger();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_TRUE(memo.Memo->text() == memoText + "\r\n") << "the block's own line break stays";
}

// A send that fails or is stopped leaves the memo as it was before it was
// encrypted for sending, the main window idle and the send window ready for
// another try, with the status saying what happened.
TEST_F(MailWindows, FailedOrStoppedSendGivesEverythingBack)
{
    REQUIRE_SERVERS();
    tq::TfrmMemo& memo = program().frmMemo();
    const std::string memoText = "first line\r\nsecond line";
    struct Case {
        const char* name;
        bool stop;
    };
    for (const Case& c : {Case{"refused by the server", false}, Case{"stopped", true}}) {
        SCOPED_TRACE(c.name);
        errors.clear();
        memo.Memo->setText(memoText);
        prepareSend(uniqueSubject("failing"), QString::fromStdString(address));
        mail->chkCoderen->setChecked(true);
        if (c.stop) {
            mail->SmtpClient.OnSendStart = [this] { mail->btnAnnuleren->click(); };
        } else {
            mail->edtSender->setText(QStringLiteral("no such <sender"));
        }
        mail->btnVerzendenClick();
        mail->SmtpClient.OnSendStart = nullptr;
        EXPECT_EQ(memo.Memo->text(), memoText);
        EXPECT_TRUE(memo.ControlsEnabled);
        EXPECT_TRUE(mail->btnVerzenden->isEnabled());
        EXPECT_TRUE(mail->btnBijlagen->isEnabled());
        EXPECT_TRUE(mail->pnlHeader->isEnabled());
        if (c.stop) {
            EXPECT_TRUE(errors.empty());
            EXPECT_EQ(mail->statusText(), "Not sent: the send was stopped.");
            EXPECT_FALSE(mail->isVisible());
            EXPECT_TRUE(memo.isEnabled());
        } else {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_TRUE(errors[0].startsWith(QLatin1Char('5'))) << errors[0].toStdString();
            EXPECT_EQ(mail->statusText(), QStringLiteral("Not sent: ") + errors[0]);
            EXPECT_TRUE(mail->isVisible());
            mail->btnAnnulerenClick();
        }
    }
}

// What the user sees when the server fails after the message went out, on a
// scripted server: a refused QUIT after the message was taken still counts
// as sent (the memo is decrypted again, the window closes); a refusal, a lost
// connection or a silent server gives the memo back and says what happened.
TEST_F(MailWindows, ServerFailuresAfterTheMessageAreReported)
{
    using tq::test::FakeServer;
    tq::TfrmMemo& memo = program().frmMemo();
    const std::string memoText = "first line\r\nsecond line";
    struct Case {
        const char* name;
        std::string quitReply;
        std::string dotReply;
        QString error;  // shown in the error box, "" for none
        QString status; // the send window's status afterwards
    };
    const std::vector<Case> cases = {
        {"refused QUIT", "500 confused", "250 queued", "",
         "Message sent; the server answered QUIT with: 500 confused"},
        {"refused message", "221 bye", "554 5.6.0 refused", "554 5.6.0 refused", "Not sent: 554 5.6.0 refused"},
        {"lost connection", "221 bye", FakeServer::kDropPrefix, "Connection closed by the server",
         "Not sent: Connection closed by the server"},
        {"silent server", "221 bye", FakeServer::kSilent, "Socket readln timed out",
         "Not sent: Socket readln timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        FakeServer server;
        server.respond = [&c](const std::string& line) {
            if (line == "QUIT") {
                return c.quitReply;
            }
            return line == "." ? c.dotReply : FakeServer::smtpDefault(line);
        };
        memo.Memo->setText(memoText);
        activate(mail);
        for (QLineEdit* field : {mail->edtServername, mail->edtUsername, mail->edtName, mail->edtSender,
                                 mail->edtReplyAdress, mail->edtOntvanger}) {
            field->setText(field == mail->edtServername ? QStringLiteral("127.0.0.1")
                                                        : QStringLiteral("jan@quill.test"));
        }
        mail->SmtpClient.Port = server.port();
        mail->SmtpClient.TimeOut = 500;
        mail->chkCoderen->setChecked(true);
        mail->btnVerzendenClick();
        EXPECT_EQ(memo.Memo->text(), memoText);
        EXPECT_TRUE(memo.ControlsEnabled);
        EXPECT_EQ(mail->statusText(), c.status);
        if (c.error.isEmpty()) {
            EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
            EXPECT_FALSE(mail->isVisible());
        } else {
            EXPECT_EQ(errors, std::vector<QString>{c.error});
            EXPECT_TRUE(mail->btnVerzenden->isEnabled());
            mail->btnAnnulerenClick();
        }
        EXPECT_FALSE(mail->SmtpClient.Connected());
    }
}

// The bits question of the encrypt command, asked while the send window has
// the main window disabled, is a real message box that takes keys: Y answers
// it, the memo goes out encrypted, and a date chosen for this send is back at
// its start value afterwards.
TEST_F(MailWindows, BitsQuestionDuringASendTakesKeys)
{
    REQUIRE_SERVERS();
    tq::prompts::setQuestionHandler({});
    tq::TfrmMemo& memo = program().frmMemo();
    memo.Memo->setText("short test");
    memo.Scale4->setValue(3);
    const QString subject = uniqueSubject("keys");
    prepareSend(subject, QString::fromStdString(address));
    mail->chkCoderen->setChecked(true);
    mail->mailDateTime->setDate(QDate(2001, 2, 3));
    ASSERT_FALSE(memo.isEnabled());

    QString asked;
    bool boxEnabled = false;
    bool forced = false;
    QElapsedTimer clock;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        for (QWidget* w : QApplication::topLevelWidgets()) {
            // (A disabled box is no active modal widget, but it is shown.)
            if (box == nullptr && w->isVisible()) {
                box = qobject_cast<QMessageBox*>(w);
            }
        }
        if (box == nullptr) {
            return;
        }
        if (asked.isEmpty()) {
            asked = box->text();
            // The main window disabled anew while the question is open (as an
            // activation of the send window does): a box that belongs to it
            // would be disabled with it.
            memo.setEnabled(true);
            memo.setEnabled(false);
            boxEnabled = box->isEnabled();
            clock.start();
            QTest::keyClick(box, Qt::Key_Y);
        } else if (clock.elapsed() > 5000) {
            forced = true; // the key did not reach it
            box->done(QMessageBox::No);
        }
    });
    watcher.start();
    mail->btnVerzendenClick();
    watcher.stop();
    EXPECT_EQ(asked, "Weet u zeker dat u 96 bits codering wilt gebruiken.");
    EXPECT_TRUE(boxEnabled);
    EXPECT_FALSE(forced);
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
    EXPECT_EQ(memo.Memo->text(), "short test");
    EXPECT_EQ(mail->mailDateTime->date(), QDate(1981, 10, 15));
    EXPECT_EQ(mail->sendMoment().date(), QDate::currentDate());

    ASSERT_TRUE(receiveUntilListed({subject + QChar(0xA0)}));
    recv->btnSluitenClick();
    const QJsonObject seen = inspect(maildirFile(subject));
    EXPECT_TRUE(seen["date"].toString().startsWith("2001-02-03")) << seen["date"].toString().toStdString();
}

// Receiving 100 messages of 20 KB: run by hand, with the mailbox to itself,
// to see how long a listing takes (--gtest_also_run_disabled_tests).
TEST_F(MailWindows, DISABLED_ListingOfAHundredMessages)
{
    REQUIRE_SERVERS();
    tq::TSmtpClient smtp;
    smtp.Host = env("TQ_SMTP_HOST");
    smtp.Port = static_cast<std::uint16_t>(std::stoi(smtpPort));
    smtp.UserID = "client.quill.test";
    smtp.Connect();
    const QString prefix = uniqueSubject("load");
    QStringList subjects;
    const std::string line(78, 'x');
    for (int i = 0; i < 100; ++i) {
        smtp.PostMessage.FromAddress = "jan@quill.test";
        smtp.PostMessage.ToAddress = {address};
        smtp.PostMessage.Subject = (prefix + QLatin1Char(' ') + QString::number(i)).toStdString();
        smtp.PostMessage.Body.assign(256, line); // 20 KB
        smtp.SendPostMessage();
        subjects << prefix + QLatin1Char(' ') + QString::number(i);
    }
    smtp.Disconnect();
    ASSERT_TRUE(receiveUntilListed(subjects));
    recv->Pop3Client.Disconnect();
    prepareReceive();
    QElapsedTimer clock;
    clock.start();
    recv->btnOphalenClick();
    const qint64 ms = clock.elapsed();
    std::printf("Listing of %d messages: %lld ms\n", recv->listBerichten->count(), static_cast<long long>(ms));
    EXPECT_GE(recv->listBerichten->count(), 100);
    for (const QString& s : subjects) {
        select(s);
        recv->Pop3Client.DeleteMessage(recv->listBerichten->currentRow() + 1);
    }
    recv->Pop3Client.Disconnect();
}

} // namespace
} // namespace tqtest
