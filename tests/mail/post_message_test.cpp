// Outgoing message layout: recipients, header lines and their order, the
// boundary, the single-part and multipart body streams, SMTP transparency and
// refusal of header injection.
#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "mail/mail_message.h"
#include "mail/post_message.h"
#include "platform/codepage.h"
#include "tests/support/mail_check.h"

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
    EXPECT_EQ(mail::dotStuffed(mail::buildBody(m, mtPlain, "us-ascii", "", uuMime)),
              "..\r\n..hidden\r\na.b\r\n\r\n...x\r\n");
}

TEST(MailBody, EntriesWithLineBreaksCannotEndTheData)
{
    TPostMessage m;
    m.Body = {"one\r\n.\r\nMAIL FROM:<x@y>", "two\n.", "three\r"};
    const std::string body = mail::dotStuffed(mail::buildBody(m, mtPlain, "us-ascii", "", uuMime));
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
                                 ".end\r\n"
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
    const std::string body = mail::dotStuffed(mail::buildBody(m, mtPlain, "us-ascii", "B", uuCode));
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

// Long lines, 8-bit bytes, unbreakable and folded headers, names with
// specials, several recipients and 8-bit attachment names: Python's email
// package and this program's own reader both take back exactly what was
// written, and no line is longer than the wire allows.
TEST(MailLayout, EveryCaseReadsBackExactly)
{
    if (!tqtest::havePython()) {
        GTEST_SKIP() << "python3 is not available";
    }
    TempFolder folder;
    std::mt19937 rng(7);
    std::string cipher;
    for (int i = 0; i < 3000; ++i) {
        cipher += static_cast<char>(222 + rng() % 34);
    }
    std::string words;
    for (int i = 0; i < 40; ++i) {
        words += (i > 0 ? " word" : "word") + std::to_string(i);
    }
    std::vector<std::string> many;
    std::string manyJoined;
    for (int i = 0; i < 40; ++i) {
        many.push_back("Person " + std::to_string(i) + " <p" + std::to_string(i) + "@quill.test>");
        manyJoined += (i > 0 ? "," : "") + std::string("p") + std::to_string(i) + "@quill.test";
    }
    const std::string accented = "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt"; // UTF-8, as on disk
    const std::string longName = std::string(150, 'n') + "\xC3\xA9.bin";
    const std::string accentedPath = folder.write(accented, "caf\xC3\xA9");
    const std::string longPath = folder.write(longName, std::string(100, '\0'));
    const std::string plainPath = folder.write("plain.bin", "data");

    struct Case {
        const char* name;
        std::function<void(TPostMessage&)> change;
        std::string cte; // of the text
    };
    const std::vector<Case> cases = {
        {"short 7-bit text", [](TPostMessage&) {}, ""},
        {"long line", [](TPostMessage& m) { m.Body = {std::string(300, 'x') + " end", "short"}; }, "quoted-printable"},
        {"8-bit text, blanks and = at line ends",
         [](TPostMessage& m) { m.Body = {"caf\xE9 \x80 5 \xA0 end ", "a=b\t", ".dot", "", "last"}; },
         "quoted-printable"},
        {"cipher text", [&](TPostMessage& m) { m.Body = {cipher}; }, "quoted-printable"},
        {"unbreakable subject", [](TPostMessage& m) { m.Subject = std::string(1500, 'a'); }, ""},
        {"long subject with blanks", [&](TPostMessage& m) { m.Subject = words; }, ""},
        {"name with a comma", [](TPostMessage& m) { m.FromName = "Vries, Jan"; }, ""},
        {"name with quotes", [](TPostMessage& m) { m.FromName = "Jan \"de\" \\ Vries"; }, ""},
        {"unbreakable name with a comma", [](TPostMessage& m) { m.FromName = std::string(1200, 'v') + ",j"; }, ""},
        {"8-bit subject and name",
         [](TPostMessage& m) {
             m.Subject = "Gr\xFC\xDF \x80 \xA0";
             m.FromName = "J\xE9r\xF4me";
         },
         ""},
        {"name that reads as an address", [](TPostMessage& m) { m.FromName = "=?utf-8?Q?x?= <evil@quill.test>"; }, ""},
        {"several recipients",
         [](TPostMessage& m) {
             m.ToAddress = mail::splitRecipients("a@quill.test; B <b@quill.test>, \"C, D\" <c@quill.test>");
         },
         ""},
        {"forty recipients", [&](TPostMessage& m) { m.ToAddress = many; }, ""},
        {"8-bit attachment names",
         [&](TPostMessage& m) {
             m.Body = {"caf\xE9"};
             m.Attachments = {accentedPath, plainPath, longPath};
         },
         "quoted-printable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPostMessage m;
        m.FromAddress = "jan@quill.test";
        m.FromName = "Jan de Vries";
        m.ToAddress = {"piet@quill.test"};
        m.Subject = "Hallo";
        m.LocalProgram = "Microsoft Office Outlook, Build 11.0.5510";
        m.Body = {"Hallo"};
        c.change(m);
        const mail::TComposedMessage composed = mail::composeMessage(m, mtPlain, "us-ascii", uuMime, rng);
        const std::string text = composed.text();
        const std::string file = (folder.path() / "message.eml").u8string();
        {
            std::ofstream out(file, std::ios::binary);
            out << text;
        }
        auto seen = tqtest::pythonMailFields(TQ_TEST_DATA_DIR "/../mail_windows/mail_messages.py", file);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen["defects"], "");
        EXPECT_LE(std::stoul(seen["longest_line"]), mail::kMaxLineLength);
        EXPECT_EQ(seen["subject"], cp1252::toUtf8(m.Subject));
        EXPECT_EQ(seen["from_name"], cp1252::toUtf8(m.FromName));
        EXPECT_EQ(seen["from_address"], "jan@quill.test");
        std::string to;
        for (const std::string& entry : m.ToAddress) {
            to += (to.empty() ? "" : ",") + mail::bareAddress(entry);
        }
        EXPECT_EQ(seen["to"], to);
        EXPECT_EQ(seen["text_cte"], c.cte);
        std::string lines;
        for (const std::string& line : mail::bodyLines(m)) {
            lines += (lines.empty() ? "" : "\n") + line;
        }
        EXPECT_EQ(seen["text_lines"], lines);
        std::string names;
        for (const std::string& path : m.Attachments) {
            names += (names.empty() ? "" : "/") + mail::fileNameOf(path);
        }
        EXPECT_EQ(seen["filenames"], names);
        if (c.cte == "quoted-printable" && composed.boundary.empty()) {
            EXPECT_LE(tqtest::longestMailLine(composed.body), mail::kMaxCodedLineLength);
        }
        if (c.name == std::string("long subject with blanks")) {
            EXPECT_LE(tqtest::longestMailLine(text), mail::kFoldWidth) << "folded at its blanks";
        }

        // This program's reader.
        std::vector<std::string> header;
        std::vector<std::string> body;
        std::size_t start = 0;
        bool inBody = false;
        while (start < text.size()) {
            const std::size_t end = text.find("\r\n", start);
            const std::string line = text.substr(start, end - start);
            if (!inBody && line.empty()) {
                inBody = true;
            } else {
                (inBody ? body : header).push_back(line);
            }
            start = end + 2;
        }
        mail::ParseOptions options;
        options.folder = folder.path() / "received";
        TMailMessage received;
        mail::parseMessage(header, body, options, received);
        if (m.Subject.size() < mail::kMaxFieldLength / 4) {
            EXPECT_EQ(received.Subject, m.Subject);
        }
        std::vector<std::string> expected = mail::bodyLines(m);
        // The empty line in front of the text is the text of a single-part
        // message; in front of a multipart one it is the preamble, not text.
        if (m.Attachments.empty()) {
            expected.insert(expected.begin(), "");
        }
        for (const std::string& path : m.Attachments) {
            expected.push_back("\r\nFile \"" + cp1252::fromUtf8Lossy(mail::fileNameOf(path)) + "\" extracted");
        }
        EXPECT_EQ(received.Body, expected);
        std::filesystem::remove_all(options.folder);
    }
}

} // namespace
} // namespace tq
