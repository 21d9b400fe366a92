#include "mail/html_text.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tq::mail {
namespace {

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool oneOf(const std::string& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

// Elements whose content is never text (or is a resource): dropped whole.
bool isHiddenElement(const std::string& name)
{
    return oneOf(name, {"script", "style", "head", "title", "template", "noscript", "object",
                        "iframe", "frameset", "svg", "math", "textarea", "select"});
}

// Elements that stand on lines of their own.
bool isBlockElement(const std::string& name)
{
    return oneOf(name, {"p", "div", "tr", "li", "ul", "ol", "dl", "dt", "dd", "table", "blockquote",
                        "pre", "h1", "h2", "h3", "h4", "h5", "h6", "hr", "address", "section",
                        "article", "header", "footer", "nav", "aside", "main", "form", "fieldset",
                        "center", "body", "html", "caption", "figure", "figcaption", "thead",
                        "tbody", "tfoot"});
}

struct NamedReference {
    const char* name;
    char32_t code;
};

// The character references mail programs write; others stay as they are.
const NamedReference kNamed[] = {
    {"amp", '&'},      {"lt", '<'},        {"gt", '>'},        {"quot", '"'},     {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},     {"reg", 0xAE},      {"trade", 0x2122}, {"euro", 0x20AC},
    {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},  {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"ldquo", 0x201C}, {"rdquo", 0x201D},  {"sbquo", 0x201A},  {"bdquo", 0x201E}, {"laquo", 0xAB},
    {"raquo", 0xBB},   {"bull", 0x2022},   {"middot", 0xB7},   {"deg", 0xB0},     {"sect", 0xA7},
    {"para", 0xB6},    {"pound", 0xA3},    {"yen", 0xA5},      {"cent", 0xA2},    {"times", 0xD7},
    {"divide", 0xF7},  {"plusmn", 0xB1},   {"szlig", 0xDF},    {"auml", 0xE4},    {"ouml", 0xF6},
    {"uuml", 0xFC},    {"Auml", 0xC4},     {"Ouml", 0xD6},     {"Uuml", 0xDC},    {"euml", 0xEB},
    {"iuml", 0xEF},    {"eacute", 0xE9},   {"egrave", 0xE8},   {"ecirc", 0xEA},   {"aacute", 0xE1},
    {"agrave", 0xE0},  {"acirc", 0xE2},    {"oacute", 0xF3},   {"ograve", 0xF2},  {"ocirc", 0xF4},
    {"uacute", 0xFA},  {"ugrave", 0xF9},   {"ucirc", 0xFB},    {"iacute", 0xED},  {"ccedil", 0xE7},
    {"ntilde", 0xF1},  {"Eacute", 0xC9},   {"Egrave", 0xC8},   {"Ccedil", 0xC7},  {"aring", 0xE5},
    {"Aring", 0xC5},   {"oslash", 0xF8},   {"Oslash", 0xD8},   {"aelig", 0xE6},   {"AElig", 0xC6},
    {"iexcl", 0xA1},   {"iquest", 0xBF},   {"shy", 0xAD},      {"zwnj", 0},       {"zwj", 0},
};

void appendCode(std::string& out, char32_t code)
{
    if (code == 0) {
        return;
    }
    if (code == 0xA0) {
        code = ' ';
    }
    const int byte = cp1252::fromUnicode(code);
    out += byte < 0 ? '?' : static_cast<char>(byte);
}

// Decodes the reference at html[i] == '&'; returns the index after it, or
// i + 1 with a plain "&" when it is none.
std::size_t reference(std::string_view html, std::size_t i, std::string& out)
{
    std::size_t j = i + 1;
    if (j < html.size() && html[j] == '#') {
        ++j;
        const bool hex = j < html.size() && (html[j] == 'x' || html[j] == 'X');
        if (hex) {
            ++j;
        }
        char32_t value = 0;
        std::size_t digits = 0;
        while (j < html.size() && digits < 8) {
            const char c = html[j];
            int d = -1;
            if (c >= '0' && c <= '9') {
                d = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                d = c - 'a' + 10;
            } else if (hex && c >= 'A' && c <= 'F') {
                d = c - 'A' + 10;
            }
            if (d < 0) {
                break;
            }
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(d);
            ++digits;
            ++j;
        }
        if (digits == 0) {
            out += '&';
            return i + 1;
        }
        if (j < html.size() && html[j] == ';') {
            ++j;
        }
        // Code points Windows-1252 puts at 128-159 are often written as such.
        if (value >= 0x80 && value <= 0x9F) {
            value = cp1252::toUnicode(static_cast<unsigned char>(value));
        }
        appendCode(out, value > 0x10FFFF ? U'?' : value);
        return j;
    }
    std::size_t end = j;
    while (end < html.size() && end - j < 10 && std::isalnum(static_cast<unsigned char>(html[end]))) {
        ++end;
    }
    const std::string_view name = html.substr(j, end - j);
    for (const NamedReference& r : kNamed) {
        if (name == r.name) {
            appendCode(out, r.code);
            return end < html.size() && html[end] == ';' ? end + 1 : end;
        }
    }
    out += '&';
    return i + 1;
}

class Converter {
public:
    explicit Converter(std::string_view html) : html_(html)
    {
        lowered_.resize(html.size());
        std::transform(html.begin(), html.end(), lowered_.begin(), lower);
    }

    std::vector<std::string> run()
    {
        std::size_t i = 0;
        while (i < html_.size()) {
            const char c = html_[i];
            if (c == '<') {
                i = tag(i);
            } else if (c == '&') {
                std::string decoded;
                i = reference(html_, i, decoded);
                for (const char d : decoded) {
                    text(d);
                }
            } else {
                text(c);
                ++i;
            }
        }
        endLine(false);
        for (std::string& line : lines_) {
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
                line.pop_back();
            }
        }
        while (!lines_.empty() && lines_.back().empty()) {
            lines_.pop_back();
        }
        return lines_;
    }

private:
    void text(char c)
    {
        if (pre_ > 0) {
            if (c == '\n') {
                endLine(true);
            } else if (c != '\r') {
                line_ += c;
            }
            return;
        }
        if (isSpace(c)) {
            blank_ = !line_.empty();
            return;
        }
        if (blank_) {
            line_ += ' ';
            blank_ = false;
        }
        line_ += c;
    }

    // Ends the line; `always`: also an empty one (<br>), otherwise only a
    // line that holds text (block boundaries do not pile up empty lines).
    void endLine(bool always)
    {
        if (always || !line_.empty()) {
            lines_.push_back(line_);
        }
        line_.clear();
        blank_ = false;
    }

    // The tag at html_[i] == '<'; returns the index after it (and after the
    // content of an element whose content is dropped).
    std::size_t tag(std::size_t i)
    {
        if (html_.compare(i, 4, "<!--") == 0) {
            const auto end = html_.find("-->", i + 4);
            return end == std::string_view::npos ? html_.size() : end + 3;
        }
        std::size_t j = i + 1;
        const bool closing = j < html_.size() && html_[j] == '/';
        if (closing) {
            ++j;
        }
        if (j >= html_.size() ||
            !(std::isalpha(static_cast<unsigned char>(html_[j])) || html_[j] == '!' || html_[j] == '?')) {
            text('<');
            return i + 1;
        }
        std::string name;
        while (j < html_.size() && (std::isalnum(static_cast<unsigned char>(html_[j])) || html_[j] == '!' ||
                                    html_[j] == '?')) {
            name += lowered_[j];
            ++j;
        }
        const std::size_t attrStart = j;
        // The end of the tag: a ">" outside quoted attribute values.
        char quote = 0;
        while (j < html_.size() && (quote != 0 || html_[j] != '>')) {
            if (quote != 0 && html_[j] == quote) {
                quote = 0;
            } else if (quote == 0 && (html_[j] == '"' || html_[j] == '\'')) {
                quote = html_[j];
            }
            ++j;
        }
        const std::size_t attrEnd = j;
        const std::size_t after = j < html_.size() ? j + 1 : j;
        if (!closing && isHiddenElement(name)) {
            // Everything up to the matching end tag goes.
            const std::string endTag = "</" + name;
            const auto end = lowered_.find(endTag, after);
            if (end == std::string::npos) {
                return html_.size();
            }
            const auto close = html_.find('>', end);
            return close == std::string_view::npos ? html_.size() : close + 1;
        }
        if (name == "br") {
            endLine(true);
        } else if (name == "pre") {
            endLine(false);
            pre_ = closing ? std::max(0, pre_ - 1) : pre_ + 1;
        } else if (name == "td" || name == "th") {
            if (!closing && !line_.empty()) {
                line_ += '\t';
                blank_ = false;
            }
        } else if (name == "img" && !closing) {
            altText(attrStart, attrEnd);
        } else if (isBlockElement(name)) {
            endLine(false);
        }
        return after;
    }

    // The alt text of an image stands in for it (the image is never loaded).
    void altText(std::size_t from, std::size_t to)
    {
        const std::string_view attrs(lowered_.data() + from, to - from);
        std::size_t pos = 0;
        while ((pos = attrs.find("alt", pos)) != std::string_view::npos) {
            const bool starts = pos == 0 || isSpace(attrs[pos - 1]);
            std::size_t k = pos + 3;
            while (k < attrs.size() && isSpace(attrs[k])) {
                ++k;
            }
            if (!starts || k >= attrs.size() || attrs[k] != '=') {
                pos += 3;
                continue;
            }
            ++k;
            while (k < attrs.size() && isSpace(attrs[k])) {
                ++k;
            }
            std::size_t end;
            if (k < attrs.size() && (attrs[k] == '"' || attrs[k] == '\'')) {
                const char q = attrs[k++];
                end = attrs.find(q, k);
            } else {
                end = k;
                while (end < attrs.size() && !isSpace(attrs[end])) {
                    ++end;
                }
            }
            if (end == std::string_view::npos) {
                end = attrs.size();
            }
            const std::string_view value = html_.substr(from + k, end - k);
            for (std::size_t v = 0; v < value.size();) {
                if (value[v] == '&') {
                    std::string decoded;
                    v = reference(value, v, decoded);
                    for (const char d : decoded) {
                        text(d);
                    }
                } else {
                    text(value[v++]);
                }
            }
            return;
        }
    }

    std::string_view html_;
    std::string lowered_;
    std::vector<std::string> lines_;
    std::string line_;
    bool blank_ = false;
    int pre_ = 0;
};

} // namespace

std::vector<std::string> htmlToText(std::string_view html)
{
    return Converter(html).run();
}

} // namespace tq::mail
