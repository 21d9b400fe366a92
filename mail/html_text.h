// The plain text of an HTML message, for the memo.
//
// A message that has only an HTML text is shown as the text a reader sees:
// tags dropped, blocks and <br> as line breaks, character references decoded.
// Nothing the HTML refers to is ever loaded: no style sheet, image, frame or
// script, no file and no network (links and @import rules are just text that
// is dropped with the element holding it). The work is linear in the size of
// the HTML, whatever it holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tq::mail {

// The lines of the text of `html` (Windows-1252, as are the lines returned).
// Blanks at the end of a line and empty lines at the end are dropped; a run
// of white space inside a line reads as one blank (except inside <pre>).
std::vector<std::string> htmlToText(std::string_view html);

} // namespace tq::mail
