// Checks of a mail message as other programs see it: the wire's line limit,
// and what Python's email package reads from a message file
// (tests/mail_windows/mail_messages.py fields FILE).
#pragma once

#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

namespace tqtest {

// The longest line of a message file, line ends (LF or CR LF) not counted.
inline std::size_t longestMailLine(const std::string& bytes)
{
    std::size_t longest = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::size_t length = end - start;
        if (length > 0 && bytes[end - 1] == '\r') {
            --length;
        }
        longest = std::max(longest, length);
        start = end + 1;
    }
    return longest;
}

inline std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every message a test delivers goes through this: no line over 998 octets.
inline void expectMailLinesWithinLimit(const std::string& path)
{
    const std::string bytes = fileBytes(path);
    ASSERT_FALSE(bytes.empty()) << path;
    EXPECT_LE(longestMailLine(bytes), 998u) << path;
}

// The Python that reads messages; tests that need it skip without it (the
// Windows build under wine).
inline const char* pythonProgram()
{
    return "/usr/bin/python3";
}

inline bool havePython()
{
#ifdef _WIN32
    return false;
#else
    std::error_code ec;
    return std::filesystem::exists(pythonProgram(), ec);
#endif
}

// What Python's parser reads from the message file at `path`: defects,
// subject, from_name, from_address, to, longest_line, text_cte,
// text_charset, text_lines_sha256, filenames (UTF-8) and text_lines (the
// text part's bytes, lines joined by LF). Empty when python3 failed.
inline std::map<std::string, std::string> pythonMailFields(const std::string& script, const std::string& path)
{
    std::map<std::string, std::string> fields;
    // The outputs go to the temporary folder, never beside the message (a
    // mailbox folder takes every file in it for a message).
    static int counter = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                       ("tq-mail-fields-" + std::to_string(std::random_device{}()) + "-" +
                                        std::to_string(counter++));
    const std::string out = base.string() + ".out";
    const std::string err = base.string() + ".err";
    struct Remove {
        std::string a, b;
        ~Remove()
        {
            std::error_code ec;
            std::filesystem::remove(a, ec);
            std::filesystem::remove(b, ec);
        }
    } remove{out, err};
    if (tq::testing::runProcess(pythonProgram(), {script, "fields", path}, path, out, err) != 0) {
        ADD_FAILURE() << "python3 " << script << " fields " << path << ": " << fileBytes(err);
        return fields;
    }
    const std::string text = fileBytes(out);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) {
            std::string value;
            for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2) {
                value += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
            }
            fields[line.substr(0, tab)] = value;
        }
        start = end + 1;
    }
    return fields;
}

} // namespace tqtest
