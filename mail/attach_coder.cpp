#include "mail/attach_coder.h"

#include "platform/base64.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace tq {
namespace {

constexpr std::size_t kBlockSize = 45;

// Uuencode writes value 0 as the grave accent and 1..63 as codes 33..95.
char uuChar(unsigned value)
{
    value &= 0x3F;
    return value == 0 ? '`' : static_cast<char>(32 + value);
}

unsigned uuValue(char c)
{
    return (static_cast<unsigned>(static_cast<unsigned char>(c)) - 32U) & 0x3FU;
}

void encodeBlockUu(const unsigned char* data, std::size_t n, std::string& line)
{
    line += uuChar(static_cast<unsigned>(n));
    for (std::size_t i = 0; i < n; i += 3) {
        const unsigned b0 = data[i];
        const unsigned b1 = i + 1 < n ? data[i + 1] : 0;
        const unsigned b2 = i + 2 < n ? data[i + 2] : 0;
        line += uuChar(b0 >> 2);
        line += uuChar(((b0 << 4) | (b1 >> 4)) & 63);
        line += uuChar(((b1 << 2) | (b2 >> 6)) & 63);
        line += uuChar(b2 & 63);
    }
}

void checkStreams(std::istream* in, std::ostream* out)
{
    if (in == nullptr || out == nullptr) {
        throw std::runtime_error("Attachment coder: no input or output stream");
    }
}

void checkWritten(std::ostream& out)
{
    if (!out) {
        throw std::runtime_error("Attachment coder: cannot write the output");
    }
}

// Base64 decoder state carried across lines: a group of four may span lines.
class Base64Decoder {
public:
    explicit Base64Decoder(std::ostream& out) : out_(out) {}

    void line(std::string_view text)
    {
        if (text.size() <= 2 || text.substr(0, 4) == "====") {
            return;
        }
        std::string bytes;
        for (const char c : text) {
            if (c == '=') {
                // Fill is meaningful only in the third or fourth place.
                if (count_ >= 2) {
                    group_[count_++] = -1;
                } else {
                    continue;
                }
            } else {
                const int v = base64::value(c);
                if (v < 0) {
                    continue;
                }
                group_[count_++] = v;
            }
            if (count_ == 4) {
                flush(bytes);
            }
        }
        out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    void flush(std::string& bytes)
    {
        count_ = 0;
        if (group_[0] < 0 || group_[1] < 0) {
            return;
        }
        const unsigned v0 = static_cast<unsigned>(group_[0]);
        const unsigned v1 = static_cast<unsigned>(group_[1]);
        bytes += static_cast<char>((v0 << 2) | (v1 >> 4));
        if (group_[2] < 0) {
            return;
        }
        const unsigned v2 = static_cast<unsigned>(group_[2]);
        bytes += static_cast<char>(((v1 & 15) << 4) | (v2 >> 2));
        if (group_[3] < 0) {
            return;
        }
        const unsigned v3 = static_cast<unsigned>(group_[3]);
        bytes += static_cast<char>(((v2 & 3) << 6) | v3);
    }

    std::ostream& out_;
    int group_[4] = {0, 0, 0, 0};
    int count_ = 0;
};

// Decodes one uuencoded line; returns false at the final (count 0) line.
bool decodeUuLine(std::string_view text, std::ostream& out)
{
    if (text.empty()) {
        return true;
    }
    if (text.substr(0, 6) == "begin " || text == "end") {
        return true;
    }
    const unsigned count = uuValue(text[0]);
    if (count == 0) {
        return false;
    }
    std::string bytes;
    std::size_t pos = 1;
    while (bytes.size() < count) {
        unsigned v[4];
        for (unsigned& x : v) {
            x = pos < text.size() ? uuValue(text[pos]) : 0;
            ++pos;
        }
        const unsigned char b[3] = {
            static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4)),
            static_cast<unsigned char>(((v[1] & 15) << 4) | (v[2] >> 2)),
            static_cast<unsigned char>(((v[2] & 3) << 6) | v[3]),
        };
        for (int i = 0; i < 3 && bytes.size() < count; ++i) {
            bytes += static_cast<char>(b[i]);
        }
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return true;
}

} // namespace

void TAttachCoder::Encode()
{
    checkStreams(InputStream, OutputStream);
    if (OnBeginEncode) {
        OnBeginEncode();
    }
    std::istream& in = *InputStream;
    std::ostream& out = *OutputStream;
    unsigned char block[kBlockSize];
    std::string line;
    for (;;) {
        in.read(reinterpret_cast<char*>(block), kBlockSize);
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n == 0) {
            break;
        }
        line.clear();
        if (Method == MethodUUEncode) {
            encodeBlockUu(block, n, line);
        } else {
            base64::append(line, block, n);
        }
        line += "\r\n";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        checkWritten(out);
        Yield.tick();
        if (n < kBlockSize) {
            break;
        }
    }
    if (Method == MethodUUEncode) {
        out << uuChar(0) << "\r\n";
        checkWritten(out);
    }
    if (OnEndEncode) {
        OnEndEncode();
    }
}

void TAttachCoder::Decode()
{
    checkStreams(InputStream, OutputStream);
    if (OnBeginDecode) {
        OnBeginDecode();
    }
    std::istream& in = *InputStream;
    std::ostream& out = *OutputStream;
    std::string line;
    Base64Decoder base64(out);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (Method == MethodUUEncode) {
            if (!decodeUuLine(line, out)) {
                break;
            }
        } else {
            base64.line(line);
        }
        checkWritten(out);
        Yield.tick();
    }
    if (OnEndDecode) {
        OnEndDecode();
    }
}

std::string TAttachCoder::encodeBytes(std::string_view data, int method)
{
    std::istringstream in{std::string(data)};
    std::ostringstream out;
    TAttachCoder coder;
    coder.Method = method;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Encode();
    return out.str();
}

std::string TAttachCoder::decodeText(std::string_view text, int method)
{
    std::istringstream in{std::string(text)};
    std::ostringstream out;
    TAttachCoder coder;
    coder.Method = method;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Decode();
    return out.str();
}

} // namespace tq
