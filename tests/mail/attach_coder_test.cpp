// Attachment coder: line layout of both encoders, decoders against the
// encoders and against a plain reference base64, tolerance of the decoders.
#include "mail/attach_coder.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tq {
namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

std::string randomBytes(std::mt19937& rng, std::size_t n)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(byte(rng));
    }
    return s;
}

// Bit-by-bit base64 of RFC 4648, without line breaks.
std::string referenceBase64(const std::string& data)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : data) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        count += 8;
        while (count >= 6) {
            out += alphabet[(bits >> (count - 6)) & 63];
            count -= 6;
        }
    }
    if (count > 0) {
        out += alphabet[(bits << (6 - count)) & 63];
    }
    while (out.size() % 4 != 0) {
        out += '=';
    }
    return out;
}

TEST(AttachCoderBase64, FortySixBytesGiveSixtyAndFourCharacterLines)
{
    const std::string data(46, 'x');
    const auto lines = linesOf(TAttachCoder::encodeBytes(data, TAttachCoder::MethodBase64));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 60u);
    EXPECT_EQ(lines[1].size(), 4u);
    EXPECT_EQ(lines[1].substr(2), "==");
}

TEST(AttachCoderBase64, MatchesReferenceAndRoundTripsOnRandomData)
{
    std::mt19937 rng(7);
    for (std::size_t n = 0; n < 300; n += (n < 100 ? 1 : 17)) {
        const std::string data = randomBytes(rng, n);
        const std::string coded = TAttachCoder::encodeBytes(data, TAttachCoder::MethodBase64);
        const auto lines = linesOf(coded);
        ASSERT_EQ(lines.size(), (n + 44) / 45) << n;
        std::string joined;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i + 1 < lines.size()) {
                EXPECT_EQ(lines[i].size(), 60u) << "full 45-byte block, size " << n;
            }
            joined += lines[i];
        }
        EXPECT_EQ(joined, referenceBase64(data)) << n;
        EXPECT_EQ(TAttachCoder::decodeText(coded, TAttachCoder::MethodBase64), data) << n;
    }
}

TEST(AttachCoderBase64, LastGroupFill)
{
    EXPECT_EQ(TAttachCoder::encodeBytes("a", 0), "YQ==\r\n");
    EXPECT_EQ(TAttachCoder::encodeBytes("ab", 0), "YWI=\r\n");
    EXPECT_EQ(TAttachCoder::encodeBytes("abc", 0), "YWJj\r\n");
    EXPECT_EQ(TAttachCoder::encodeBytes("", 0), "");
}

TEST(AttachCoderBase64, DecoderSkipsBoundariesShortLinesAndForeignCharacters)
{
    std::mt19937 rng(11);
    const std::string data = randomBytes(rng, 500);
    // Another program's layout: 76-character lines, LF endings, noise.
    const std::string plain = referenceBase64(data);
    std::string text = "====================54535abcdef====\r\n";
    for (std::size_t i = 0; i < plain.size(); i += 76) {
        text += plain.substr(i, 76) + "\n";
    }
    text += "--\r\n";
    text.insert(text.find('\n') + 5, " \t*!"); // characters outside the alphabet
    EXPECT_EQ(TAttachCoder::decodeText(text, TAttachCoder::MethodBase64), data);
}

TEST(AttachCoderBase64, FillStopsTheGroup)
{
    EXPECT_EQ(TAttachCoder::decodeText("YQ==\r\n", 0), "a");
    EXPECT_EQ(TAttachCoder::decodeText("YWI=\r\n", 0), "ab");
    // A group may span lines; lines of two characters or fewer are skipped.
    EXPECT_EQ(TAttachCoder::decodeText("YWJjYW\r\nJjYQ==\r\n", 0), "abcabca");
    EXPECT_EQ(TAttachCoder::decodeText("YWJj\r\nYW\r\n", 0), "abc");
}

TEST(AttachCoderUuencode, PublishedExampleAndFinalLine)
{
    // "Cat" is the classic uuencode example: "#0V%T".
    EXPECT_EQ(TAttachCoder::encodeBytes("Cat", TAttachCoder::MethodUUEncode), "#0V%T\r\n`\r\n");
    // Value 0 is the grave accent, never a blank.
    EXPECT_EQ(TAttachCoder::encodeBytes(std::string(3, '\0'), 1), "#````\r\n`\r\n");
    EXPECT_EQ(TAttachCoder::encodeBytes("", 1), "`\r\n");
}

TEST(AttachCoderUuencode, LineLayoutAndRoundTrip)
{
    std::mt19937 rng(3);
    for (std::size_t n = 0; n < 200; ++n) {
        const std::string data = randomBytes(rng, n);
        const std::string coded = TAttachCoder::encodeBytes(data, TAttachCoder::MethodUUEncode);
        const auto lines = linesOf(coded);
        ASSERT_EQ(lines.size(), (n + 44) / 45 + 1) << n;
        EXPECT_EQ(lines.back(), "`");
        std::size_t total = 0;
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const std::size_t count = static_cast<unsigned char>(lines[i][0]) - 32u;
            EXPECT_EQ(lines[i].size(), 1 + (count + 2) / 3 * 4) << n;
            for (const char c : lines[i]) {
                EXPECT_TRUE(c >= 33 && c <= 96) << "character " << int(c) << " in size " << n;
            }
            total += count;
        }
        EXPECT_EQ(total, n);
        EXPECT_EQ(TAttachCoder::decodeText(coded, TAttachCoder::MethodUUEncode), data) << n;
    }
}

TEST(AttachCoderUuencode, DecoderIgnoresBeginEndAndStopsAtZeroLine)
{
    EXPECT_EQ(TAttachCoder::decodeText("begin 644 cat.txt\n#0V%T\n`\nend\n", 1), "Cat");
    EXPECT_EQ(TAttachCoder::decodeText("#0V%T\r\n`\r\n#0V%T\r\n", 1), "Cat");
    // Traditional encoders write a blank for 0.
    EXPECT_EQ(TAttachCoder::decodeText("#    \n`\n", 1), std::string(3, '\0'));
}

TEST(AttachCoderStreams, EventsWrapTheWorkAndStreamsAreRequired)
{
    std::istringstream in("hello world");
    std::ostringstream out;
    std::vector<std::string> events;
    TAttachCoder coder;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.OnBeginEncode = [&] { events.push_back("begin:" + out.str()); };
    coder.OnEndEncode = [&] { events.push_back("end:" + out.str()); };
    coder.Encode();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "begin:");
    EXPECT_EQ(events[1], "end:aGVsbG8gd29ybGQ=\r\n");

    std::istringstream back(out.str());
    std::ostringstream plain;
    coder.InputStream = &back;
    coder.OutputStream = &plain;
    int decodeEvents = 0;
    coder.OnBeginDecode = [&] { ++decodeEvents; };
    coder.OnEndDecode = [&] { ++decodeEvents; };
    coder.Decode();
    EXPECT_EQ(plain.str(), "hello world");
    EXPECT_EQ(decodeEvents, 2);

    TAttachCoder missing;
    EXPECT_THROW(missing.Encode(), std::runtime_error);
    EXPECT_THROW(missing.Decode(), std::runtime_error);
}

} // namespace
} // namespace tq
