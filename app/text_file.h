// Files named by the technician: read whole and as stored, and split into
// lines the way every text file of the station is read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reads the regular file `name` (used as given; relative to the working
// directory) byte for byte into `bytes`. False when it cannot be opened, is
// not a regular file (a directory, a device, a pipe) or cannot be read; then
// `bytes` is empty.
bool ReadFileBytes(const std::string& name, std::string& bytes);

// The text of a file that DOS tools wrote: it ends at the first Ctrl-Z byte
// (0x1A), and whatever follows is not part of it.
std::string_view TextBeforeEndMark(std::string_view text);

// Splits text into its lines, without their line ends. A line ends at LF; a CR
// right before the LF is part of the line end (files written on other systems),
// and so is a CR that ends the text. A last line without a line end counts; a
// text that ends in a line end has no empty line after it. Nothing else is
// changed: blanks and case stay, and an empty text has no lines.
std::vector<std::string> SplitTextLines(std::string_view text);
