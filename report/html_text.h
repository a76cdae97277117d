// Text on its way into the HTML report: every string from the store (serial
// numbers, initials, test names, event texts, file names) passes through
// here, so that "<script>" typed as a serial number shows as text.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace report {

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// Text for an element's content or an attribute value in quotes: & < > " '
// as character references, control characters other than tab and line end
// as U+FFFD, and not UTF-8 made so.
std::string EscapeHtml(std::string_view text);

// JSON to be placed inside a <script> element: "<", ">" and "&" (which only
// occur inside strings) and the line separators U+2028/U+2029 as \u escapes,
// so no text can end the element or start markup.
std::string JsonForScript(const nlohmann::json& value);

}  // namespace report
