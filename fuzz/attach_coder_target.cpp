// Fuzz target: the attachment decoders (base64 and uuencode) and the reading of
// attachment names from header lines (quoted, plain and RFC 2231 forms).
//
// Properties: any bytes encoded by either method decode to the same bytes;
// decoding any text never gives more bytes than its lines could hold (base64:
// fewer than its characters; uuencode: at most 63 a line, as a line's count
// says, with missing characters read as 0, as trailing blanks cut off by mail
// transports mean); a name
// taken from a header is cut to its field length and reduces to a plain file
// name that stays the same when reduced again.
#include "fuzz/fuzz_support.h"
#include "mail/attach_coder.h"
#include "mail/mail_message.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    for (const int method : {TAttachCoder::MethodBase64, TAttachCoder::MethodUUEncode}) {
        const std::string decoded = TAttachCoder::decodeText(text, method);
        const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        TQ_FUZZ_CHECK(decoded.size() <= (method == TAttachCoder::MethodBase64 ? text.size() : 63 * lines));
        TQ_FUZZ_CHECK(TAttachCoder::decodeText(TAttachCoder::encodeBytes(text, method), method) == text);
    }

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        mail::HeaderFields fields;
        mail::scanHeaderLine(text.substr(start, end - start), fields);
        TQ_FUZZ_CHECK(fields.fileName.size() <= mail::kMaxFieldLength);
        const std::string name = mail::sanitizeAttachmentName(fields.fileName);
        TQ_FUZZ_CHECK(name.find_first_of("/\\:") == std::string::npos);
        TQ_FUZZ_CHECK(mail::sanitizeAttachmentName(name) == name);
        start = end + 1;
    }
    return 0;
}
