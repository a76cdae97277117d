// The one line a technician reads on row 21 about the record: plain words
// that fit the row. A notice is made from its longest, most telling wording
// down to its shortest, and the first that fits is shown, so that it is
// shortened by what it says rather than cut in the middle of a word.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

namespace results {

// Row 21 is 80 columns wide; a notice keeps a column free at each side.
inline constexpr std::size_t kNoticeWidth = 78;

// The first of `wordings` that fits kNoticeWidth; the last one cut at a word
// when none does.
std::string FitNotice(std::initializer_list<std::string> wordings);

// A store's or the file system's trouble in a technician's words: "disk
// full", "read-only", "locked by another program", ... (`why` as it was
// given when none of them says it).
std::string PlainTrouble(const std::string& why);

}  // namespace results
