// Reading retrieved messages: header fields, attachment names from strangers,
// free names, the multipart split and the attachment files it writes.
#include "mail/attach_coder.h"
#include "mail/mail_message.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tq {
namespace {

namespace fs = std::filesystem;

class MailParse : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() /
                ("tq-mail-parse-" + std::to_string(std::random_device{}()));
        folder_ = root_ / "inbox";
        fs::create_directories(root_);
        options_.folder = folder_;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string readFile(const std::string& name) const
    {
        std::ifstream in(folder_ / name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<std::string> filesIn(const fs::path& dir) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            names.push_back(fs::relative(e.path(), dir).generic_string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::vector<std::string> base64Lines(const std::string& data)
    {
        std::vector<std::string> lines;
        std::istringstream in(TAttachCoder::encodeBytes(data, 0));
        std::string line;
        while (std::getline(in, line)) {
            line.pop_back(); // CR
            lines.push_back(line);
        }
        return lines;
    }

    fs::path root_;
    fs::path folder_;
    mail::ParseOptions options_;
    TMailMessage message_;
};

TEST(MailHeaderFields, NamesIgnoreCaseValuesAreCut)
{
    mail::HeaderFields f;
    mail::scanHeaderLine("SUBJECT: Hello there", f);
    mail::scanHeaderLine("from: Piet <piet@quill.test>", f);
    mail::scanHeaderLine("Message-Id: <1@x>", f);
    mail::scanHeaderLine("Content-type: multipart/mixed;", f);
    mail::scanHeaderLine("\tboundary=\"--==abc==\"", f);
    mail::scanHeaderLine("Subject: second subject line is ignored", f);
    EXPECT_EQ(f.subject, "Hello there");
    EXPECT_EQ(f.from, "Piet <piet@quill.test>");
    EXPECT_EQ(f.messageId, "<1@x>");
    EXPECT_EQ(f.contentType, "multipart/mixed;");
    EXPECT_EQ(f.boundary, "--==abc==");

    mail::HeaderFields longOne;
    mail::scanHeaderLine("Subject: " + std::string(300, 'a'), longOne);
    EXPECT_EQ(longOne.subject.size(), mail::kMaxFieldLength);

    // "Subject:" must be the first word; X-Original-Subject is not the subject.
    mail::HeaderFields other;
    mail::scanHeaderLine("X-Original-Subject: no", other);
    mail::scanHeaderLine("Received: from hostname by relay", other);
    EXPECT_EQ(other.subject, "");
    EXPECT_FALSE(other.hasFileName);
}

TEST(MailHeaderFields, BoundaryEncodingAndNames)
{
    mail::HeaderFields f;
    mail::scanHeaderLine("Content-Type: multipart/mixed; BOUNDARY=plain_token; x=y", f);
    EXPECT_EQ(f.boundary, "plain_token");
    mail::HeaderFields p;
    mail::scanHeaderLine("Content-Type: application/pdf; name=\"my report.pdf\"", p);
    mail::scanHeaderLine("content-transfer-encoding: BASE64", p);
    EXPECT_TRUE(p.hasFileName);
    EXPECT_EQ(p.fileName, "my report.pdf");
    EXPECT_EQ(p.transferEncoding, "BASE64");
    mail::HeaderFields d;
    mail::scanHeaderLine("Content-Disposition: attachment;", d);
    mail::scanHeaderLine(" filename=data.csv", d);
    EXPECT_EQ(d.fileName, "data.csv");
    EXPECT_EQ(d.disposition, "attachment;");
    // The extended form of long or non-ASCII names.
    mail::HeaderFields x;
    mail::scanHeaderLine("Content-Disposition: attachment; filename*=UTF-8''caf%C3%A9%20menu.pdf", x);
    EXPECT_EQ(x.fileName, "caf\xE9 menu.pdf");
}

TEST(MailAttachmentNames, StrangersNamesBecomePlainFileNames)
{
    const std::pair<std::string, std::string> cases[] = {
        {"report.pdf", "report.pdf"},
        {"../../etc/passwd", "passwd"},
        {"..\\..\\Windows\\win.ini", "win.ini"},
        {"C:\\Users\\x\\evil.exe", "evil.exe"},
        {"C:evil.exe", "evil.exe"},
        {"/absolute/path.txt", "path.txt"},
        {"..", ""},
        {".", ""},
        {"...", ""},
        {"dir/..", ""},
        {"a\x01\x1f\x7f" "b.txt", "ab.txt"},
        {"line\r\nbreak.txt", "linebreak.txt"},
        {"what?<>|*\".txt", "what______.txt"},
        {"trailing. . ", "trailing"},
        {"  leading.txt", "leading.txt"},
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"NUL.tar.gz", "_NUL.tar.gz"},
        {"com1", "_com1"},
        {"LPT9.doc", "_LPT9.doc"},
        {"console.txt", "console.txt"},
        {"COM10", "COM10"},
        {".profile", ".profile"},
        {"caf\xE9.txt", "caf\xE9.txt"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(mail::sanitizeAttachmentName(in), out) << "name: " << in;
    }
    const std::string longName = std::string(300, 'n') + ".pdf";
    const std::string cut = mail::sanitizeAttachmentName(longName);
    EXPECT_EQ(cut.size(), 200u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
    // Accented letters take two or three bytes on disk; a cut never ends in a blank.
    const std::string accented = mail::sanitizeAttachmentName(std::string(250, '\xE9') + ".pdf");
    std::string twoBytesEach;
    for (int i = 0; i < 98; ++i) {
        twoBytesEach += "\xC3\xA9";
    }
    EXPECT_EQ(cp1252::toUtf8(accented), twoBytesEach + ".pdf");
    EXPECT_EQ(mail::sanitizeAttachmentName(std::string(199, 'a') + " bbbbb"), std::string(199, 'a'));
}

TEST_F(MailParse, FreeNamesGetNumbersBeforeTheExtension)
{
    fs::create_directories(folder_);
    EXPECT_EQ(mail::freeAttachmentName(folder_, "a.txt"), "a.txt");
    std::ofstream(folder_ / "a.txt") << "x";
    EXPECT_EQ(mail::freeAttachmentName(folder_, "a.txt"), "a_1.txt");
    std::ofstream(folder_ / "a_1.txt") << "x";
    EXPECT_EQ(mail::freeAttachmentName(folder_, "a.txt"), "a_2.txt");
    std::ofstream(folder_ / "noext") << "x";
    EXPECT_EQ(mail::freeAttachmentName(folder_, "noext"), "noext_1");
    std::ofstream(folder_ / ".profile") << "x";
    EXPECT_EQ(mail::freeAttachmentName(folder_, ".profile"), ".profile_1");
    std::ofstream(folder_ / "x.tar.gz") << "x";
    EXPECT_EQ(mail::freeAttachmentName(folder_, "x.tar.gz"), "x.tar_1.gz");
}

TEST_F(MailParse, PlainMessageKeepsRawLinesAndFields)
{
    const std::vector<std::string> header = {
        "Return-Path: <a@b>", "From: Jan <jan@quill.test>", "Subject: Hi",
        "Message-ID: <m1@quill>", "Content-Type: text/plain; charset=us-ascii"};
    const std::vector<std::string> body = {"", "line 1", "", "line 3"};
    mail::parseMessage(header, body, options_, message_);
    EXPECT_EQ(message_.Subject, "Hi");
    EXPECT_EQ(message_.From, "Jan <jan@quill.test>");
    EXPECT_EQ(message_.MessageId, "<m1@quill>");
    EXPECT_EQ(message_.ContentType, "text/plain; charset=us-ascii");
    EXPECT_EQ(message_.Header, header);
    EXPECT_EQ(message_.Body, body);
    EXPECT_EQ(message_.RawBody, body);
    EXPECT_TRUE(message_.Attachments.empty());
    EXPECT_FALSE(fs::exists(folder_)) << "nothing written for a plain message";
}

TEST_F(MailParse, MultipartTextGoesToBodyAttachmentsToFiles)
{
    std::string binary;
    for (int i = 0; i < 1000; ++i) {
        binary += static_cast<char>((i * 37) & 0xFF);
    }
    std::vector<std::string> body = {"", "--XX", "Content-Type: text/plain; charset=us-ascii", "",
                                     "Hello", "", "second paragraph", "", "--XX",
                                     "Content-Type: application/octet-stream; name=\"data.bin\"",
                                     "Content-Transfer-Encoding: base64",
                                     "Content-Disposition: attachment; filename=\"data.bin\"", ""};
    for (const auto& l : base64Lines(binary)) {
        body.push_back(l);
    }
    body.insert(body.end(), {"", "--XX", "Content-Type: text/plain; name=\"notes.txt\"", "",
                             "plain attachment", "line two", "", "--XX--", "epilogue"});
    const std::vector<std::string> header = {"Subject: Parts",
                                             "Content-Type: multipart/mixed; boundary=\"XX\""};
    mail::parseMessage(header, body, options_, message_);

    EXPECT_EQ(message_.Boundary, "XX");
    // Preamble (the empty line) and epilogue are no text of the message.
    const std::vector<std::string> expectedBody = {
        "Hello", "", "second paragraph", "\r\nFile \"data.bin\" extracted",
        "\r\nFile \"notes.txt\" extracted"};
    EXPECT_EQ(message_.Body, expectedBody);
    EXPECT_EQ(message_.Attachments, (std::vector<std::string>{"data.bin", "notes.txt"}));
    EXPECT_EQ(readFile("data.bin"), binary);
    EXPECT_EQ(readFile("notes.txt"), "plain attachment\r\nline two\r\n");
    EXPECT_EQ(filesIn(folder_), (std::vector<std::string>{"data.bin", "notes.txt"}))
        << "no temporary files are left";
    EXPECT_EQ(message_.RawBody, body);
}

TEST_F(MailParse, RepeatedNamesGetNumberedAndExistingFilesSurvive)
{
    fs::create_directories(folder_);
    std::ofstream(folder_ / "a.txt") << "old";
    std::vector<std::string> body;
    for (const char* content : {"first", "second"}) {
        body.insert(body.end(), {"--B", "Content-Type: application/octet-stream; name=\"a.txt\"",
                                 "Content-Transfer-Encoding: base64", ""});
        for (const auto& l : base64Lines(content)) {
            body.push_back(l);
        }
        body.push_back("");
    }
    body.push_back("--B--");
    mail::parseMessage({"Content-Type: multipart/mixed; boundary=B"}, body, options_, message_);
    EXPECT_EQ(message_.Attachments, (std::vector<std::string>{"a_1.txt", "a_2.txt"}));
    EXPECT_EQ(readFile("a.txt"), "old");
    EXPECT_EQ(readFile("a_1.txt"), "first");
    EXPECT_EQ(readFile("a_2.txt"), "second");
}

TEST_F(MailParse, HostileNamesStayInsideTheFolder)
{
    std::vector<std::string> body;
    for (const char* name : {"../escape.txt", "..\\..\\escape2.txt", "/tmp/abs.txt", "..", "CON"}) {
        body.insert(body.end(), {"--B", std::string("Content-Disposition: attachment; filename=\"") +
                                            name + "\"",
                                 "", "payload", ""});
    }
    body.push_back("--B--");
    mail::parseMessage({"Content-Type: multipart/mixed; boundary=\"B\""}, body, options_, message_);
    EXPECT_EQ(message_.Attachments,
              (std::vector<std::string>{"escape.txt", "escape2.txt", "abs.txt", "text.tmp", "_CON"}));
    EXPECT_EQ(filesIn(root_), (std::vector<std::string>{"inbox", "inbox/_CON", "inbox/abs.txt",
                                                        "inbox/escape.txt", "inbox/escape2.txt",
                                                        "inbox/text.tmp"}));
}

TEST_F(MailParse, DecodeStartMayRenameAndMoveButNotEscape)
{
    const fs::path other = root_ / "chosen";
    std::vector<std::string> seen;
    int calls = 0;
    options_.decodeStart = [&](std::string& name, fs::path& folder) {
        seen.push_back(name);
        if (calls++ == 0) {
            name = "renamed.dat";
            folder = other;
        } else {
            name = "../../sneaky.dat";
        }
    };
    std::vector<std::string> endSeen;
    options_.decodeEnd = [&](const std::string& name) { endSeen.push_back(name); };
    const std::vector<std::string> body = {"--B", "Content-Type: image/png; name=\"p.png\"", "", "x", "",
                                           "--B", "Content-Type: image/png; name=\"q.png\"", "", "y", "",
                                           "--B--"};
    mail::parseMessage({"Content-Type: multipart/mixed; boundary=B"}, body, options_, message_);
    EXPECT_EQ(seen, (std::vector<std::string>{"p.png", "q.png"}));
    EXPECT_EQ(endSeen, (std::vector<std::string>{"renamed.dat", "sneaky.dat"}));
    EXPECT_EQ(filesIn(other), (std::vector<std::string>{"renamed.dat"}));
    EXPECT_EQ(filesIn(folder_), (std::vector<std::string>{"sneaky.dat"}));
    EXPECT_EQ(message_.Body.back(), "\r\nFile \"sneaky.dat\" extracted");
}

TEST_F(MailParse, UuencodedEmptyAndNamelessParts)
{
    std::vector<std::string> body = {"This is a multi-part message in MIME format.", "--B",
                                     "Content-Type: text/plain", "", "text", "", "--B",
                                     "Content-Type: application/octet-stream; name=\"cat.txt\"",
                                     "Content-Transfer-Encoding: X-UUENCODE", "", "#0V%T", "`", "",
                                     "--B", "Content-Type: application/octet-stream; name=\"empty\"",
                                     "", "", "--B", "Content-Type: text/html", "", "<p>hi</p>", "",
                                     "--B--"};
    mail::parseMessage({"Content-Type: Multipart/Mixed; boundary=B"}, body, options_, message_);
    EXPECT_EQ(message_.Body,
              (std::vector<std::string>{"text",
                                        "\r\nFile \"cat.txt\" extracted",
                                        "\r\nFile \"text.tmp\" extracted"}));
    EXPECT_EQ(readFile("cat.txt"), "Cat");
    EXPECT_EQ(readFile("text.tmp"), "<p>hi</p>\r\n");
    EXPECT_FALSE(fs::exists(folder_ / "empty"));
}

// What today's mail programs send: the text is found wherever it sits, shown
// in the memo's code page, and only real attachments become files.
TEST_F(MailParse, TextOfTodaysMessagesIsFoundAndConverted)
{
    struct Case {
        const char* name;
        std::vector<std::string> header;
        std::vector<std::string> body;
        std::vector<std::string> text;
        bool html;
        std::vector<std::string> files;
    };
    const std::string png = "\x89PNG\r\n\x1a\n";
    const std::vector<std::string> pngLines = base64Lines(png);
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b,
                   std::vector<std::string> c) {
        a.insert(a.end(), b.begin(), b.end());
        a.insert(a.end(), c.begin(), c.end());
        return a;
    };
    const std::vector<Case> cases = {
        {"quoted-printable UTF-8 in an alternative",
         {"Content-Type: multipart/alternative; boundary=B"},
         {"--B", "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable", "",
          "caf=C3=A9 and a soft=", " break", "=3D sign", "", "--B", "Content-Type: text/html; charset=utf-8", "",
          "<p>caf\xC3\xA9</p>", "", "--B--"},
         {"caf\xE9 and a soft break", "= sign"}, false, {}},
        {"base64 single part without Parse", {"Content-Type: text/plain", "Content-Transfer-Encoding: base64"},
         base64Lines("line one\r\nline two\r\n"), {"line one", "line two"}, false, {}},
        {"mixed holding an alternative and an attachment",
         {"Content-Type: multipart/mixed;", " boundary=\"===M\""},
         {"--===M", "Content-Type: multipart/alternative; boundary=\"===A\"", "", "--===A",
          "Content-Type: text/plain; charset=\"iso-8859-1\"", "", "na\xEFve \x80", "", "--===A",
          "Content-Type: text/html", "", "<b>na\xEFve</b>", "", "--===A--", "", "--===M",
          "Content-Type: application/pdf", "Content-Disposition: attachment; filename=\"r.pdf\"", "", "%PDF", "",
          "--===M--"},
         {"na\xEFve ?", "\r\nFile \"r.pdf\" extracted"}, false, {"r.pdf"}},
        {"HTML only, ISO-8859-15", {"Content-Type: text/html; charset=ISO-8859-15"}, {"<p>\xA4 5</p>"},
         {"<p>\x80 5</p>"}, true, {}},
        {"related: HTML with an inline picture",
         {"Content-Type: multipart/related; boundary=R"},
         with({"--R", "Content-Type: text/html; charset=us-ascii", "", "<img src=\"cid:p1\">", "", "--R",
               "Content-Type: image/png", "Content-Transfer-Encoding: base64", "Content-ID: <p1>", ""},
              pngLines, {"--R--"}),
         {"<img src=\"cid:p1\">", "\r\nFile \"image.png\" extracted"}, true, {"image.png"}},
        {"US-ASCII label on 8-bit text and an unknown charset stay as they came",
         {"Content-Type: multipart/mixed; boundary=B"},
         {"--B", "Content-Type: text/plain; charset=us-ascii", "", "\xE9\xFF", "", "--B",
          "Content-Type: text/plain; charset=koi8-r; name=\"k.txt\"", "", "\xC1", "--B--"},
         {"\xE9\xFF", "\r\nFile \"k.txt\" extracted"}, false, {"k.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder_);
        mail::parseMessage(c.header, c.body, options_, message_);
        EXPECT_EQ(message_.Body, c.text);
        EXPECT_EQ(message_.HtmlBody, c.html);
        EXPECT_EQ(message_.Attachments, c.files);
        EXPECT_EQ(fs::exists(folder_) ? filesIn(folder_) : std::vector<std::string>{}, c.files);
        if (c.html && !c.files.empty()) {
            EXPECT_EQ(readFile(c.files[0]), png);
        }
    }
}

TEST(MailHeaderFields, EncodedWordsInSubjectAndSenderAreDecoded)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"=?utf-8?q?Gr=C3=BC=C3=9Fe?=", "Gr\xFC\xDF" "e"},
        {"=?UTF-8?B?4oKsIDEw?= and =?iso-8859-1?q?caf=E9?=", "\x80 10 and caf\xE9"},
        {"=?utf-8?q?a?=  =?utf-8?q?_b?=", "a b"},
        {"=?iso-8859-15?Q?=A4?= =?utf-8?q?=E2=98=83?=", "\x80?"},
        {"plain =?broken", "plain =?broken"},
        {"=?x-unknown?q?=41?=", "A"},
    };
    for (const auto& [value, expected] : cases) {
        mail::HeaderFields fields;
        mail::scanHeaderLine("Subject: " + value, fields);
        mail::scanHeaderLine("From: " + value + " <a@b>", fields);
        EXPECT_EQ(fields.subject, expected) << value;
        EXPECT_EQ(fields.from, expected + " <a@b>") << value;
    }
}

TEST_F(MailParse, SinglePartAttachmentWithParse)
{
    options_.parse = true;
    mail::parseMessage({"Content-Type: application/octet-stream; name=\"one.bin\"",
                        "Content-Transfer-Encoding: base64"},
                       base64Lines("single"), options_, message_);
    EXPECT_EQ(message_.Attachments, (std::vector<std::string>{"one.bin"}));
    EXPECT_EQ(readFile("one.bin"), "single");
}

TEST_F(MailParse, UnwritableFolderIsAClearError)
{
    std::ofstream(root_ / "blocker") << "a file, not a folder";
    options_.folder = root_ / "blocker" / "sub";
    const std::vector<std::string> body = {"--B", "Content-Type: image/png; name=\"p.png\"", "", "x",
                                           "--B--"};
    try {
        mail::parseMessage({"Content-Type: multipart/mixed; boundary=B"}, body, options_, message_);
        FAIL() << "expected an error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("blocker"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace tq
