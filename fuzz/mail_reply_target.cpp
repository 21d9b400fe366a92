// Fuzz target: the SMTP and POP3 reply readers, fed by a fake line source that
// hands the input over as the socket does: line by line, long lines in pieces
// (the piece length is chosen by the first input byte), then "" once closed.
//
// Properties: an SMTP reply returned is its last line, not empty and not a
// continuation; a whole line is never longer than allowed and ends in LF
// unless the connection closed; message lines hold no line end and no header
// line is empty; the counts read from words are exactly their digits' value.
#include "fuzz/fuzz_support.h"
#include "mail/mail_errors.h"
#include "mail/reply_reader.h"

namespace {

class FakeLines {
public:
    FakeLines(std::string_view text, std::size_t piece) : text_(text), piece_(piece) {}
    std::string next()
    {
        if (pos_ >= text_.size()) {
            return std::string();
        }
        std::size_t end = text_.find('\n', pos_);
        end = end == std::string_view::npos ? text_.size() : end + 1;
        end = std::min(end, pos_ + piece_);
        std::string line(text_.substr(pos_, end - pos_));
        pos_ = end;
        return line;
    }
    bool closed() const { return pos_ >= text_.size(); }

private:
    std::string_view text_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

constexpr std::size_t kMaxLine = 256;

void smtpReplies(std::string_view text, std::size_t piece)
{
    FakeLines lines(text, piece);
    while (!lines.closed()) {
        std::string last;
        int seen = 0;
        try {
            const std::string reply =
                tq::mail::readSmtpReply([&] { return lines.next(); }, [&](const std::string& line) {
                    last = line;
                    ++seen;
                });
            TQ_FUZZ_CHECK(!reply.empty() && !tq::mail::isReplyContinuation(reply));
            TQ_FUZZ_CHECK(reply == last && seen >= 1 && seen <= tq::mail::kMaxReplyLines);
        } catch (const tq::EMailError&) {
            TQ_FUZZ_CHECK(lines.closed() || seen == tq::mail::kMaxReplyLines);
            return;
        }
    }
}

void pop3Replies(std::string_view text, std::size_t piece)
{
    FakeLines lines(text, piece);
    auto nextLine = [&] {
        std::string line = tq::mail::readWholeLine([&] { return lines.next(); }, kMaxLine);
        TQ_FUZZ_CHECK(!line.empty() && line.size() <= kMaxLine + piece);
        TQ_FUZZ_CHECK(line.back() == '\n' || lines.closed());
        return line;
    };
    try {
        const std::string reply = nextLine();
        const std::string first = tq::mail::replyWord(reply, 0);
        // Only a reply whose first word, at its very start, is "+OK" succeeds.
        TQ_FUZZ_CHECK(tq::mail::replyIsOk(reply) == (reply.rfind("+OK", 0) == 0 && first == "+OK"));
        TQ_FUZZ_CHECK(first.find_first_of(" \t\r\n") == std::string::npos);
        const std::string count = tq::mail::replyWord(reply, 1);
        const long long value = tq::mail::replyCount(count);
        const bool digits = !count.empty() && count.size() <= 18 &&
                            count.find_first_not_of("0123456789") == std::string::npos;
        TQ_FUZZ_CHECK(value == (digits ? std::stoll(count) : 0));

        std::vector<std::string> header;
        std::vector<std::string> body;
        tq::mail::readMessageLines(nextLine, header, body);
        for (const auto& line : header) {
            TQ_FUZZ_CHECK(!line.empty() && line.back() != '\r' && line.back() != '\n');
        }
        for (const auto& line : body) {
            TQ_FUZZ_CHECK(line.empty() || (line.back() != '\r' && line.back() != '\n'));
        }
    } catch (const tq::EMailError&) {
        // The connection closed before the final ".", or a line was too long.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    smtpReplies(text, piece);
    pop3Replies(text, piece);
    return 0;
}
