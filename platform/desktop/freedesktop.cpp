#include "platform/desktop/freedesktop.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace tq::freedesktop {
namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool isGroupHeader(const std::string& line)
{
    const std::string t = trim(line);
    return !t.empty() && t.front() == '[' && t.back() == ']';
}

// The key of a "key=value" line, or empty.
std::string lineKey(const std::string& line)
{
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : trim(std::string_view(line).substr(0, eq));
}

std::string xmlEscape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

const char* const kDefaultGroup = "[Default Applications]";

} // namespace

const std::vector<FileType>& fileTypes()
{
    static const std::vector<FileType> types = {
        {"x", "application/x-tarnquill-archive", "Tarnquill archive"},
        {"crp", "application/x-tarnquill-memo", "Tarnquill encrypted memo"},
        {"tqs", "application/x-tarnquill-sealed", "Tarnquill sealed memo or archive"},
    };
    return types;
}

FileType fileTypeFor(std::string_view extension)
{
    const std::string ext = lower(extension);
    for (const FileType& t : fileTypes()) {
        if (t.extension == ext) {
            return t;
        }
    }
    return {ext, "application/x-tarnquill-" + ext, "Tarnquill ." + ext + " file"};
}

std::string quoteExecArgument(std::string_view argument)
{
    if (argument.find_first_of("\n\r") != std::string_view::npos) {
        throw std::invalid_argument("A program path with a line break cannot be named in a desktop entry");
    }
    const bool plain = !argument.empty() && std::all_of(argument.begin(), argument.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c >= 0x80;
    });
    if (plain) {
        return std::string(argument);
    }
    // Quoting rule: inside double quotes, " ` $ and \ take a backslash. Then the
    // string rule of the file format doubles every backslash once more, and a
    // literal % is written %%.
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (const char c : quoted) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '%') {
            out += "%%";
        } else {
            out += c;
        }
    }
    return out;
}

std::string firstExecArgument(std::string_view execValue)
{
    // Undo the string escapes first.
    std::string value;
    for (std::size_t i = 0; i < execValue.size(); ++i) {
        const char c = execValue[i];
        if (c == '\\' && i + 1 < execValue.size()) {
            const char n = execValue[++i];
            value += n == 's' ? ' ' : n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            value += c;
        }
    }
    const std::string s = trim(value);
    std::string arg;
    if (!s.empty() && s.front() == '"') {
        for (std::size_t i = 1; i < s.size(); ++i) {
            if (s[i] == '\\' && i + 1 < s.size()) {
                arg += s[++i];
            } else if (s[i] == '"') {
                break;
            } else {
                arg += s[i];
            }
        }
    } else {
        arg = s.substr(0, s.find_first_of(" \t"));
    }
    std::string out;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        out += arg[i];
        if (arg[i] == '%' && i + 1 < arg.size() && arg[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

std::string desktopEntry(std::string_view program, const std::vector<FileType>& types)
{
    std::string mime;
    for (const FileType& t : types) {
        mime += t.mimeType + ';';
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tarnquill\n"
           "GenericName=Memo protection\n"
           "Comment=Encrypted memos (.crp) and compressed archives (.X)\n"
           "Exec=" + quoteExecArgument(program) + " %f\n"
           "Icon=tarnquill\n"
           "Terminal=false\n"
           "Categories=Utility;TextEditor;\n"
           "MimeType=" + mime + "\n";
}

std::string mimePackage(const std::vector<FileType>& types)
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const FileType& t : types) {
        out << "  <mime-type type=\"" << xmlEscape(t.mimeType) << "\">\n"
            << "    <comment>" << xmlEscape(t.comment) << "</comment>\n"
            << "    <generic-icon name=\"tarnquill\"/>\n";
        if (t.extension == "x") {
            // Lower-case *.x names belong to other formats too (GNU ld scripts,
            // RPC definitions): only *.X is taken by name, case-sensitively, and
            // an archive under any other name is known by its layout. A frame
            // file opens with its directory length and entry count (two base-255
            // pairs); an empty one is 00 02 00 00. Otherwise the first entry's
            // record follows at byte 4: its size in decimal digits padded with
            // spaces to 11 bytes (a 32-bit size never fills byte 14), then its
            // kind 1, 2 or 3 at byte 15. Text never holds those control bytes.
            out << "    <glob pattern=\"*.X\" case-sensitive=\"true\"/>\n"
                << "    <magic priority=\"50\">\n"
                << "      <match type=\"big32\" offset=\"0\" value=\"0x00020000\"/>\n"
                << "      <match type=\"byte\" offset=\"4\" value=\"0x30\" mask=\"0xf0\">\n"
                << "        <match type=\"byte\" offset=\"14\" value=\"0x20\">\n";
            for (const char* kind : {"1", "2", "3"}) {
                out << "          <match type=\"byte\" offset=\"15\" value=\"" << kind << "\"/>\n";
            }
            out << "        </match>\n"
                << "      </match>\n"
                << "    </magic>\n";
        } else {
            out << "    <glob pattern=\"*." << xmlEscape(t.extension) << "\"/>\n";
        }
        out << "  </mime-type>\n";
    }
    out << "</mime-info>\n";
    return out.str();
}

std::string withDefaultApplication(std::string_view mimeappsText, std::string_view mimeType,
                                   std::string_view desktopId)
{
    std::vector<std::string> lines = splitLines(mimeappsText);
    const std::string entry = std::string(mimeType) + '=' + std::string(desktopId);
    // Find the group, then the key within it (or the place after its last line).
    std::size_t group = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (trim(lines[i]) == kDefaultGroup) {
            group = i;
            break;
        }
    }
    if (group == lines.size()) {
        if (!lines.empty() && !trim(lines.back()).empty()) {
            lines.emplace_back();
        }
        lines.emplace_back(kDefaultGroup);
        lines.push_back(entry);
    } else {
        std::size_t insertAt = group + 1;
        bool replaced = false;
        for (std::size_t i = group + 1; i < lines.size() && !isGroupHeader(lines[i]); ++i) {
            if (lineKey(lines[i]) == mimeType) {
                lines[i] = entry;
                replaced = true;
                break;
            }
            if (!trim(lines[i]).empty()) {
                insertAt = i + 1;
            }
        }
        if (!replaced) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        }
    }
    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += '\n';
    }
    return out;
}

std::string defaultApplication(std::string_view mimeappsText, std::string_view mimeType)
{
    bool inGroup = false;
    for (const std::string& line : splitLines(mimeappsText)) {
        if (isGroupHeader(line)) {
            inGroup = trim(line) == kDefaultGroup;
        } else if (inGroup && lineKey(line) == mimeType) {
            const std::string value = trim(std::string_view(line).substr(line.find('=') + 1));
            return value.substr(0, value.find(';'));
        }
    }
    return {};
}

} // namespace tq::freedesktop
