// Attachment coder: base64 (method 0) and uuencode (method 1).
//
// Encoding reads the input in blocks of 45 bytes and writes one line, ended by
// CR LF, for each block: 60 characters of base64 for a full block, or for
// uuencode the alphabet character of the block's byte count followed by the
// four-character groups (no "=" fill). Uuencode output ends with one line
// holding the character for 0 ("`"). No "begin" or "end" lines are written.
//
// Decoding is line by line and forgiving: base64 skips lines that start with
// "====" (MIME boundaries) or hold two characters or fewer, and every character
// outside the alphabet; uuencode reads each line's count character and stops at
// a line whose count is 0.
#pragma once

#include "platform/yield.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tq {

class TAttachCoder {
public:
    enum : int { MethodBase64 = 0, MethodUUEncode = 1 };

    // 0 = base64, 1 = uuencode.
    int Method = MethodBase64;
    // Streams used by Encode and Decode; the caller owns them.
    std::istream* InputStream = nullptr;
    std::ostream* OutputStream = nullptr;

    std::function<void()> OnBeginEncode;
    std::function<void()> OnEndEncode;
    std::function<void()> OnBeginDecode;
    std::function<void()> OnEndDecode;

    // Ticked after every block or line, so that a host can keep its windows alive.
    YieldHook Yield;

    // Input stream to output stream. Throws std::runtime_error when a stream
    // is missing or the output cannot be written.
    void Encode();
    void Decode();

    // Convenience forms on strings (no events).
    static std::string encodeBytes(std::string_view data, int method);
    static std::string decodeText(std::string_view text, int method);
};

} // namespace tq
