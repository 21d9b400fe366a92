// Outgoing message layout: recipients, header lines and their order, the
// boundary, the single-part and multipart body streams, SMTP transparency and
// refusal of header injection.
#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "mail/post_message.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace tq {
namespace {

namespace fs = std::filesystem;

TPostMessage sampleMessage()
{
    TPostMessage m;
    m.FromAddress = "jan@quill.test";
    m.FromName = "Jan Jansen";
    m.ToAddress = {"Piet <piet@quill.test>", "SMTP:kees@quill.test"};
    m.ToCarbonCopy = {"anna@quill.test"};
    m.ToBlindCarbonCopy = {"geheim@quill.test"};
    m.Subject = "Hallo";
    m.LocalProgram = "Microsoft Office Outlook, Build 11.0.5510";
    m.Date = "14:20:53";
    m.ReplyTo = "antwoord@quill.test";
    m.Body = {"Regel 1", ".", "Regel 3"};
    return m;
}

class TempFolder {
public:
    TempFolder()
    {
        path_ = fs::temp_directory_path() /
                ("tq-mail-test-" + std::to_string(std::random_device{}()) + "-" +
                 std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string write(const std::string& name, const std::string& data) const
    {
        std::ofstream out(path_ / name, std::ios::binary);
        out << data;
        return (path_ / name).u8string();
    }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

TEST(MailRecipients, BareAddressForms)
{
    EXPECT_EQ(mail::bareAddress("Piet Puk <piet@quill.test>"), "piet@quill.test");
    EXPECT_EQ(mail::bareAddress("SMTP:piet@quill.test"), "piet@quill.test");
    EXPECT_EQ(mail::bareAddress("piet@quill.test"), "piet@quill.test");
    // The angle brackets win over a colon in the display name.
    EXPECT_EQ(mail::bareAddress("Re: Piet <piet@quill.test>"), "piet@quill.test");
    EXPECT_EQ(mail::bareAddress("  "), "");
    EXPECT_EQ(mail::bareAddress("Naam <>"), "");
}

TEST(MailHeader, OrderAndLayoutOfAllLines)
{
    const auto header = mail::buildHeader(sampleMessage(), mtPlain, "us-ascii", "");
    const std::vector<std::string> expected = {
        "From: Jan Jansen<jan@quill.test>",
        "To: Piet <piet@quill.test>,SMTP:kees@quill.test",
        "CC: anna@quill.test",
        "Subject: Hallo",
        "X-Mailer: Microsoft Office Outlook, Build 11.0.5510",
        "Reply-To: antwoord@quill.test",
        "Date: 14:20:53",
        "Mime-Version: 1.0",
        "Content-Type: text/plain; charset=us-ascii",
    };
    EXPECT_EQ(header, expected);
}

TEST(MailHeader, OptionalLinesAndBlindCopiesStayOut)
{
    TPostMessage m = sampleMessage();
    m.ToCarbonCopy.clear();
    m.ReplyTo.clear();
    m.Date.clear();
    const auto header = mail::buildHeader(m, mtHtml, "iso-8859-1", "");
    for (const auto& line : header) {
        EXPECT_NE(line.rfind("CC:", 0), 0u) << line;
        EXPECT_NE(line.rfind("Reply-To:", 0), 0u) << line;
        EXPECT_NE(line.rfind("Date:", 0), 0u) << line;
        EXPECT_EQ(line.find("geheim"), std::string::npos) << "BCC leaked: " << line;
    }
    EXPECT_EQ(header.back(), "Content-Type: text/html; charset=iso-8859-1");
    EXPECT_EQ(mail::buildHeader(m, mtEnriched, "x", "").back(), "Content-Type: text/enriched; charset=x");
    EXPECT_EQ(mail::buildHeader(m, mtSgml, "x", "").back(), "Content-Type: text/sgml; charset=x");
    EXPECT_EQ(mail::buildHeader(m, mtTabSeperated, "x", "").back(),
              "Content-Type: text/tab-separated-values; charset=x");
}

TEST(MailHeader, MultipartContentType)
{
    const auto header = mail::buildHeader(sampleMessage(), mtPlain, "us-ascii", "B0");
    EXPECT_EQ(header.back(), "Content-Type: multipart/mixed; boundary=\"B0\"");
}

TEST(MailHeader, NamedHeaderReplacementIgnoresCaseAndEmptyRemoves)
{
    std::vector<std::string> header = {"From: a", "subject: old", "X-Mailer: m"};
    mail::setHeader(header, "Subject", "new");
    EXPECT_EQ(header, (std::vector<std::string>{"From: a", "Subject: new", "X-Mailer: m"}));
    mail::setHeader(header, "X-MAILER", "");
    EXPECT_EQ(header, (std::vector<std::string>{"From: a", "Subject: new"}));
    mail::setHeader(header, "Date", "today");
    EXPECT_EQ(header.back(), "Date: today");
    // A name that is only the start of another one is a different header.
    mail::setHeader(header, "Subj", "x");
    EXPECT_EQ(header.size(), 4u);
    EXPECT_EQ(header[1], "Subject: new");
}

TEST(MailBoundary, FormAndLetters)
{
    std::mt19937 rng(1);
    std::set<char> letters;
    for (int i = 0; i < 400; ++i) {
        const std::string b = mail::makeBoundary(rng);
        ASSERT_EQ(b.size(), 35u) << b;
        EXPECT_EQ(b.substr(0, 25), std::string(20, '=') + "54535");
        EXPECT_EQ(b.substr(31), "====");
        for (std::size_t k = 25; k < 31; ++k) {
            ASSERT_TRUE(b[k] >= 'a' && b[k] <= 'y') << b;
            letters.insert(b[k]);
        }
    }
    EXPECT_EQ(letters.size(), 25u) << "all of a..y occur, z never";
}

TEST(MailBody, DotStuffingAndLineEnds)
{
    TPostMessage m;
    m.Body = {".", ".hidden", "a.b", "", "..x"};
    EXPECT_EQ(mail::buildBody(m, mtPlain, "us-ascii", "", uuMime),
              "..\r\n..hidden\r\na.b\r\n\r\n...x\r\n");
}

TEST(MailBody, EntriesWithLineBreaksCannotEndTheData)
{
    TPostMessage m;
    m.Body = {"one\r\n.\r\nMAIL FROM:<x@y>", "two\n.", "three\r"};
    const std::string body = mail::buildBody(m, mtPlain, "us-ascii", "", uuMime);
    EXPECT_EQ(body, "one\r\n..\r\nMAIL FROM:<x@y>\r\ntwo\r\n..\r\nthree\r\n");
    EXPECT_EQ(body.find("\r\n.\r\n"), std::string::npos);
}

TEST(MailBody, MultipartLayoutToTheByte)
{
    TempFolder folder;
    const std::string data(46, 'x');
    const std::string path = folder.write("report.txt", data);
    TPostMessage m;
    m.Body = {"Hi", ".end"};
    m.Attachments = {path};
    const std::string b = "====================54535abcdef====";
    std::vector<std::string> events;
    mail::BodyEvents ev;
    ev.encodeStart = [&](const std::string& f) { events.push_back("start " + f); };
    ev.encodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
    const std::string body = mail::buildBody(m, mtPlain, "us-ascii", b, uuMime, ev);
    const std::string expected = "--" + b + "\r\n" +
                                 "Content-Type: text/plain; charset=us-ascii\r\n"
                                 "\r\n"
                                 "Hi\r\n"
                                 "..end\r\n"
                                 "\r\n--" + b + "\r\n" +
                                 "Content-Type: application/octet-stream; name=\"report.txt\"\r\n"
                                 "Content-Transfer-Encoding: base64\r\n"
                                 "Content-Disposition: attachment; filename=\"report.txt\"\r\n"
                                 "\r\n" +
                                 TAttachCoder::encodeBytes(data, 0) + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(body, expected);
    EXPECT_EQ(events, (std::vector<std::string>{"start " + path, "end " + path}));
}

TEST(MailBody, UuencodedAttachmentIsLabelledAndStuffed)
{
    TempFolder folder;
    // 59 bytes: the last block has 14 bytes, whose count character is ".".
    std::string data;
    for (int i = 0; i < 59; ++i) {
        data += static_cast<char>(i * 7);
    }
    const std::string path = folder.write("b.bin", data);
    TPostMessage m;
    m.Attachments = {path};
    const std::string body = mail::buildBody(m, mtPlain, "us-ascii", "B", uuCode);
    EXPECT_NE(body.find("Content-Transfer-Encoding: X-UUENCODE\r\n"), std::string::npos);
    EXPECT_EQ(body.find("base64"), std::string::npos);
    const std::string coded = TAttachCoder::encodeBytes(data, TAttachCoder::MethodUUEncode);
    ASSERT_NE(coded.find("\r\n."), std::string::npos) << "the case under test";
    std::string stuffed = coded;
    stuffed.replace(stuffed.find("\r\n.") + 2, 1, "..");
    EXPECT_NE(body.find(stuffed), std::string::npos);
    EXPECT_EQ(body.find("\r\n.\r\n"), std::string::npos);
}

TEST(MailBody, MissingAttachmentIsReportedAndRefused)
{
    TempFolder folder;
    TPostMessage m;
    const std::string path = (folder.path() / "gone.bin").u8string();
    m.Attachments = {path};
    std::string reported;
    mail::BodyEvents ev;
    ev.attachmentNotFound = [&](const std::string& f) { reported = f; };
    try {
        mail::buildBody(m, mtPlain, "us-ascii", "B", uuMime, ev);
        FAIL() << "a missing attachment must not be sent";
    } catch (const EMailError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(reported, path);
}

TEST(MailHeaderInjection, LineBreaksInAnyHeaderValueAreRefused)
{
    using Setter = void (*)(TPostMessage&);
    const Setter setters[] = {
        [](TPostMessage& m) { m.Subject = "Hi\r\nBcc: victim@x"; },
        [](TPostMessage& m) { m.Subject = "Hi\nX: y"; },
        [](TPostMessage& m) { m.FromName = "Jan\r"; },
        [](TPostMessage& m) { m.FromAddress = "a@b>\r\nRCPT TO:<c@d"; },
        [](TPostMessage& m) { m.ToAddress.push_back("x@y\r\nDATA"); },
        [](TPostMessage& m) { m.ToCarbonCopy.push_back("x@y\n"); },
        [](TPostMessage& m) { m.ToBlindCarbonCopy.push_back("\rx@y"); },
        [](TPostMessage& m) { m.ReplyTo = "r@x\nY: z"; },
        [](TPostMessage& m) { m.Date = "now\n"; },
        [](TPostMessage& m) { m.LocalProgram = "mailer\r\n"; },
        [](TPostMessage& m) { m.Subject = std::string("nul\0byte", 8); },
    };
    for (const Setter set : setters) {
        TPostMessage m = sampleMessage();
        set(m);
        EXPECT_THROW(mail::checkHeaderSafety(m, "us-ascii"), EMailError);
    }
    EXPECT_NO_THROW(mail::checkHeaderSafety(sampleMessage(), "us-ascii"));
    EXPECT_THROW(mail::checkHeaderSafety(sampleMessage(), "us-ascii\r\nX: y"), EMailError);
}

} // namespace
} // namespace tq
