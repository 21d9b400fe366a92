// What Open and Reply make of a message: the reply address of hostile From
// values, the text without MIME preamble and epilogue, quoted-printable text
// back byte for byte, HTML without any resource loaded; and the bounds on a
// message of very many parts.
#include "mail/mail_errors.h"
#include "mail/mail_message.h"
#include "mail/message_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace tq {
namespace {

namespace fs = std::filesystem;

// The lines of a message text (LF line ends), split as the POP3 reader does.
TMailMessage parse(const std::string& text, const mail::ParseOptions& options = {})
{
    std::vector<std::string> header;
    std::vector<std::string> body;
    bool inBody = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!inBody && line.empty()) {
            inBody = true;
            continue;
        }
        (inBody ? body : header).push_back(line);
    }
    mail::ParseOptions o = options;
    o.writeFiles = options.writeFiles && !options.folder.empty();
    TMailMessage message;
    mail::parseMessage(header, body, o, message);
    return message;
}

TEST(ReplyAddress, HostileFromValuesGiveTheRealAddress)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"jan@quill.test", "jan@quill.test"},
        {"Jan de Vries <jan@quill.test>", "jan@quill.test"},
        {"\"<evil@x.test>\" <jan@quill.test>", "jan@quill.test"},
        {"\"Vries, Jan <evil@x.test>\" <jan@quill.test>", "jan@quill.test"},
        {"=?utf-8?q?=3Cevil=40x=2Etest=3E?= <jan@quill.test>", "jan@quill.test"},
        {"=?utf-8?b?PGV2aWxAeC50ZXN0Pg==?=", ""},
        {"=?utf-8?q?=3Cevil=40x=2Etest=3E?=", ""},
        {"jan@quill.test (Jan <evil@x.test>)", "jan@quill.test"},
        {"(<evil@x.test>) Jan <jan@quill.test>", "jan@quill.test"},
        {"Jan <jan(comment)@quill.test>", "jan@quill.test"},
        {"Friends: jan@quill.test, piet@quill.test;", "jan@quill.test"},
        {"Friends: \"<evil@x.test>\" <jan@quill.test>, piet@quill.test;", "jan@quill.test"},
        {"undisclosed-recipients:;", ""},
        {"Jan <@relay.test:jan@quill.test>", "jan@quill.test"},
        {"\"jan de vries\"@quill.test", "\"jan de vries\"@quill.test"},
        {"Jan de Vries", ""},
        {"Jan <jan@quill.test", ""},
    };
    for (const auto& [from, address] : cases) {
        SCOPED_TRACE(from);
        const TMailMessage message = parse("From: " + from + "\nSubject: Hi\n\nbody");
        EXPECT_EQ(message.ReplyAddress, address);
        EXPECT_EQ(mail::replyFields(message).recipient, address);
        EXPECT_EQ(mail::replyFields(message).subject, "Re: Hi");
    }
}

// Every byte value through quoted-printable: =XX in upper and lower case,
// soft breaks anywhere (also after blanks a relay added), literal text.
std::string quotedPrintable(const std::string& bytes, std::size_t lineLength, bool lowerHex)
{
    static const char* upperDigits = "0123456789ABCDEF";
    static const char* lowerDigits = "0123456789abcdef";
    const char* digits = lowerHex ? lowerDigits : upperDigits;
    std::string out;
    std::size_t column = 0;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        std::string piece;
        if (c >= 33 && c <= 126 && c != '=') {
            piece = std::string(1, ch);
        } else {
            piece = std::string("=") + digits[c >> 4] + digits[c & 15];
        }
        if (column + piece.size() > lineLength) {
            out += "= \t\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    }
    return out;
}

TEST(OpenText, QuotedPrintableDecodesBackByteForByte)
{
    std::string bytes;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            if (b != '\r' && b != '\n') { // a line break in the text is a line of its own
                bytes += static_cast<char>(b);
            }
        }
    }
    for (const std::size_t length : {1u, 2u, 3u, 75u, 76u}) {
        for (const bool lower : {false, true}) {
            SCOPED_TRACE(std::to_string(length) + (lower ? " lower" : " upper"));
            const std::string qp = quotedPrintable(bytes, length, lower);
            EXPECT_EQ(mail::openText(parse("Content-Type: text/plain; charset=windows-1252\n"
                                           "Content-Transfer-Encoding: quoted-printable\n\n" + qp)),
                      bytes);
            EXPECT_EQ(mail::openText(parse("Content-Type: multipart/mixed; boundary=B\n\n--B\n"
                                           "Content-Type: text/plain; charset=us-ascii\n"
                                           "Content-Transfer-Encoding: quoted-printable\n\n" +
                                           qp + "\n--B--")),
                      bytes);
        }
    }
}

TEST(OpenText, OnlyTheTextOfTheMessageReachesTheMemo)
{
    struct Case {
        const char* name;
        std::string message;
        std::string open;
        std::string reply = {}; // the text after Reply's four lines, when not `open`
    };
    const std::vector<Case> cases = {
        {"single part: the empty line in front goes", "Subject: s\n\n\nfirst\n\nthird", "first\r\n\r\nthird",
         "\r\nfirst\r\n\r\nthird"},
        {"multipart: the text's own empty first line stays",
         "Content-Type: multipart/mixed; boundary=B\n\n\n--B\nContent-Type: text/plain\n\n\nsecond\n--B--",
         "\r\nsecond"},
        {"preamble and epilogue",
         "Content-Type: multipart/mixed; boundary=\"B\"\n\nThis is a multi-part message in MIME format.\n\n"
         "--B\nContent-Type: text/plain\n\nThe text\nline 2\n--B--\n\nThe epilogue.\n",
         "The text\r\nline 2"},
        {"nested, with preambles and epilogues",
         "Content-Type: multipart/mixed; boundary=O\n\nouter preamble\n--O\n"
         "Content-Type: multipart/alternative; boundary=I\n\ninner preamble\n--I\n"
         "Content-Type: text/plain\n\nplain\n--I\nContent-Type: text/html\n\n<p>html</p>\n--I--\ninner epilogue\n"
         "--O--\nouter epilogue",
         "plain"},
        {"HTML with local resources",
         "Content-Type: text/html\n\n<html><head><link rel=\"stylesheet\" href=\"file:///dev/zero\">"
         "<style>@import url(\"file:///etc/passwd\"); @import 'file:///dev/zero'; p { color: red }</style>"
         "<title>T</title><script src=\"file:///dev/zero\">x()</script></head>\n"
         "<body style=\"background: url(file:///dev/zero)\"><p>First <b>bold</b>\n  line</p>"
         "<img src=\"file:///dev/zero\" alt=\"[picture]\"><iframe src=\"file:///dev/zero\">frame</iframe>"
         "<div>caf&eacute; &amp; &#8364;5 &lt;tag&gt;<br>next</div><table><tr><td>a</td><td>b</td></tr></table>"
         "<pre> keep   this\n  too</pre></body></html>",
         "First bold line\r\n[picture]\r\ncaf\xE9 & \x80" "5 <tag>\r\nnext\r\na\tb\r\n keep   this\r\n  too"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mail::openText(parse(c.message)), c.open);
        EXPECT_EQ(mail::replyText(parse(c.message)),
                  "\r\n\r\n----- Original Message -----\r\n\r\n" + (c.reply.empty() ? c.open : c.reply));
    }
}

class ManyParts : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("tq-many-parts-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    static std::string partsNamedAlike(int parts)
    {
        std::string text = "Content-Type: multipart/mixed; boundary=B\n\n";
        for (int i = 0; i < parts; ++i) {
            text += "--B\nContent-Type: application/octet-stream; name=\"same.txt\"\n\nx\n";
        }
        return text + "--B--";
    }
    fs::path folder_;
};

TEST_F(ManyParts, AHundredThousandPartsAreRefusedAndNamesAreFoundAtOnce)
{
    mail::ParseOptions options;
    options.folder = folder_;
    try {
        parse(partsNamedAlike(100000), options);
        ADD_FAILURE() << "no error";
    } catch (const EMailError& e) {
        EXPECT_STREQ(e.what(), "The message has more than 1000 MIME parts (the limit for one message)");
    }
    // Up to the limit every part is written, under names numbered in order.
    const TMailMessage message = parse(partsNamedAlike(1000), options);
    ASSERT_EQ(message.Attachments.size(), 1000u);
    EXPECT_EQ(message.Attachments[0], "same.txt");
    EXPECT_EQ(message.Attachments[1], "same_1.txt");
    EXPECT_EQ(message.Attachments[999], "same_999.txt");
    // A later message finds a free name past the thousand taken ones.
    const std::string next = mail::freeAttachmentName(folder_, "same.txt");
    EXPECT_FALSE(fs::exists(folder_ / next));
    EXPECT_EQ(next.substr(0, 5), "same_");
    // Without a folder nothing is written, the names are listed all the same.
    mail::ParseOptions listOnly;
    listOnly.writeFiles = false;
    EXPECT_EQ(parse(partsNamedAlike(3), listOnly).Attachments,
              (std::vector<std::string>{"same.txt", "same.txt", "same.txt"}));
}

} // namespace
} // namespace tq
