// Batch files: text files of hand commands, one per line, run from terminal
// mode. Lines beginning with "#" are shown and not sent.
#pragma once

#include <string>

class ZHand;

// Sends `command` to the hand and shows the outcome: "-> reply" when the hand
// answered something, and on a non-zero result "Error " with the hand's text
// for it (asked with "err N"). Returns the command's result code.
int SendAndShow(ZHand& hand, const std::string& command);

// Shows and runs every line of the file `name` (used as given). A file that
// cannot be opened is ignored without a word.
void RunBatchFile(ZHand& hand, const std::string& name);
