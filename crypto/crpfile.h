// The encrypted memo file (.crp): the memo's text, normally cipher text,
// compressed by the byte-pair compressor.
//
// File layout: the 506-byte code table, the code bytes of the stored text, and
// the trailer 0xFF 0x00 followed by the engine's name (a single space for the
// memo's engine), so every file ends in FF 00 20. No signature, no length, no
// keys: whoever opens a file needs the key set that encrypted it.
//
// Stored text: the memo's lines joined without any separator. After the encrypt
// command the memo is one line of cipher text, so the file holds exactly that.
//
// Memo text: the memo is a classic multi-line edit control. Its text is its
// lines joined by CR LF; a final line break does not start another line; adding
// a line puts a break before it (unless the text is empty or already ends with
// one) and after it. Opening a file adds the stored text as one line, so the
// text the decrypt command sees is the cipher text plus CR LF. The first
// decryption pass turns that break into one extra code, which the second pass
// drops as a lone final code, so the typed text comes back exactly.
//
// Plain C++ (no Qt): the main window and tarnquill-cli share these steps.
#pragma once

#include "compress/compress.h"
#include "crypto/linecipher.h"
#include "memo/memo_lines.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tq::crp {

// Called with the progress values of the save (15, 30, 45, 60, 75, 90) and the
// open (33, 66, 98) after each step; may be empty.
using Progress = std::function<void(int percent)>;

// Skip value of table building when nothing else is given (the settings
// window's default).
constexpr std::int32_t kDefaultSkip = 2;

// --- Memo line rules -----------------------------------------------------------

// (The breaks and lines themselves: memo/memo_lines.h.)
// The memo text after adding `line` as a line to a memo holding `text`.
std::string AddLine(std::string text, std::string_view line);
// Sum of the lengths of the memo's lines (line breaks do not count).
std::size_t TotalLineLength(std::string_view text);

// --- Stored text ----------------------------------------------------------------

// The stored text of a memo: its lines joined without separators.
std::string StoredText(const std::vector<std::string>& lines);

// The stored text from the data decompression yields for a whole file. The
// trailer decodes to 0x00 0x20 after the text (its 0xFF is an escape that takes
// the next two bytes literally) and an odd-length text gains one 0x00 before
// it. So: when the data ends in 00 20, those two bytes go, and then one 0x00
// when one is left at the end; the text itself may hold code 0 (cipher text
// can). Data that does not end in 00 20 (a foreign trailer or none) is taken up
// to its first code 0.
std::string StoredTextFromDecoded(std::string_view decoded);

// --- Engine steps ----------------------------------------------------------------

// Compresses the memo's lines into `path` with `engine` (Reset, Grow, AppendText
// of every line, BuildTable(skip), SortTable, CompressData, PrependTable,
// SaveToFile). The sort runs with the engine's time limit (on, 255 ms after
// Reset). An abort flag set on the engine during the work ends table building
// early; Cancel keeps the file from being written. The write is atomic. Returns
// false when Cancel kept the file from being written. Throws the engine's
// CompressFileError or CompressMemoryError.
bool SaveLines(TCompress& engine, const std::vector<std::string>& lines, std::int32_t skip,
               const std::filesystem::path& path, const Progress& progress = {});

// Reads `path` with `engine` (Reset, LoadFromFile, SplitTable, DecompressData,
// GetText) and returns the stored text. Throws CompressFileError.
std::string LoadText(TCompress& engine, const std::filesystem::path& path, const Progress& progress = {});

// --- Whole commands without a window (tarnquill-cli, tests) ------------------

// The key set: the cipher's key triple and key 4 (passes minus one).
struct KeySet {
    CipherKeys cipher;
    int key4 = 1;
    int passes() const { return key4 + 1; }
};

// What the encrypt command leaves in a memo holding `memoText`: the text
// unchanged when its lines are all empty, otherwise key 4 + 1 passes of the
// cipher over the whole text, line breaks included.
std::string EncryptMemoText(LineCipher& cipher, std::string_view memoText, const KeySet& keys);
// What the decrypt command leaves: key 4 + 1 passes of decryption, breaks
// normalised as the memo holds them; the text unchanged when its lines are empty.
std::string DecryptMemoText(LineCipher& cipher, std::string_view memoText, const KeySet& keys);

// Save as for a memo holding `memoText`: encrypts first unless the text has the
// form of cipher text (IsCipherText), then stores the memo's lines.
bool SaveMemo(TCompress& engine, LineCipher& cipher, std::string_view memoText, const KeySet& keys,
              std::int32_t skip, const std::filesystem::path& path);
// Open for a file: the stored text added as a line to an empty memo, then
// decrypted. Returns the memo text.
std::string OpenMemo(TCompress& engine, LineCipher& cipher, const std::filesystem::path& path, const KeySet& keys);

} // namespace tq::crp
