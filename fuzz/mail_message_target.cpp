// Fuzz target: a retrieved message (header fields, MIME parts, RFC 2231 names,
// base64, uuencoded and quoted-printable parts) decoded into text and
// attachment files.
//
// Properties: attachment files are written only directly inside the
// attachment folder, one plain file for every name reported, and every
// reported name is a plain file name that stays the same when reduced again.
#include "fuzz/fuzz_support.h"
#include "mail/mail_errors.h"
#include "mail/mail_message.h"

#include <algorithm>

namespace {

// Splits the bytes at LF (a CR before it goes too), as the POP3 reader hands
// lines over: the header up to the first empty line, then the body.
void splitMessage(std::string_view text, std::vector<std::string>& header, std::vector<std::string>& body)
{
    bool inHeader = true;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        start = end + 1;
        if (inHeader && line.empty()) {
            inHeader = false;
            continue;
        }
        (inHeader ? header : body).push_back(std::move(line));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq;
    if (size == 0) {
        return 0;
    }
    const std::filesystem::path box = fuzz::scratchFolder() / "box";
    const std::filesystem::path folder = box / "attachments";
    fuzz::removeAll(box);

    std::vector<std::string> header;
    std::vector<std::string> body;
    splitMessage(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), header, body);
    mail::ParseOptions options;
    options.parse = (data[0] & 1) != 0;
    options.folder = folder;
    TMailMessage message;
    try {
        mail::parseMessage(header, body, options, message);
    } catch (const EMailError& e) {
        // Only the limit on parts may refuse a message.
        TQ_FUZZ_CHECK(std::string(e.what()).find("MIME parts") != std::string::npos);
        return 0;
    }

    for (const auto& name : message.Attachments) {
        TQ_FUZZ_CHECK(!name.empty() && name.find_first_of("/\\:") == std::string::npos);
        TQ_FUZZ_CHECK(mail::sanitizeAttachmentName(name) == name);
        TQ_FUZZ_CHECK(std::filesystem::is_regular_file(
            std::filesystem::symlink_status(mail::pathInFolder(folder, name))));
    }
    std::vector<std::filesystem::path> written;
    for (const auto& rel : fuzz::treeBelow(box)) {
        if (rel != "attachments") {
            written.push_back(rel);
            TQ_FUZZ_CHECK(rel.parent_path() == "attachments");
        }
    }
    TQ_FUZZ_CHECK(written.size() == message.Attachments.size());
    return 0;
}
