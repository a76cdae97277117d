// The unsaved file (results-unsaved.jsonl): facts that no store could take,
// one JSON line each, in the order they came. A line is written whole or not
// at all, so that a full disk never leaves half a line for the next one to be
// glued to; a line that cannot be read back (cut by a crash, edited by hand)
// is named and kept aside in the file beside it (results-unsaved.bad), and the
// run it belonged to gets an event saying that a fact of it is missing.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "record.h"

namespace results {

// The kind of the event that marks a fact of a run as missing.
inline constexpr const char* kRecordGap = "RECORD GAP";

// Appends every entry as one line, all of them or none: a short write is cut
// back to where the file ended. False when they could not be written.
bool AppendUnsaved(const std::string& path, std::span<const Entry> entries);

struct UnsavedContents {
    std::vector<Entry> entries;  // the lines read, in order, with the gap events
    // 1-based numbers of the lines that could not be read.
    std::vector<int> badLines;
};

// Reads the unsaved file at `path`. Lines that cannot be read are appended to
// `badPath`, and for each an event of kRecordGap is added to the run whose
// uuid it names, else to the run of the line before it (or after it). False
// (nothing to load) when the bad lines could not be kept aside; a missing
// file reads as empty.
bool ReadUnsaved(const std::string& path, const std::string& badPath, UnsavedContents* contents,
                 std::string* error);

}  // namespace results
