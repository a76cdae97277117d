#include "batch.h"

#include <cstdio>
#include <string_view>

#include "text_file.h"
#include "zhand.h"

namespace {

// Prints text as it stands: it comes from a file or the hand, never a format.
void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int SendAndShow(ZHand& hand, const std::string& command) {
    std::string reply;
    int result = hand.Command(command.c_str(), &reply);
    if (!reply.empty()) {
        Print("-> ");
        Print(reply);
        Print("\n");
    }
    if (result != 0) {
        std::string text;
        hand.Command(("err " + std::to_string(result)).c_str(), &text);
        Print("Error ");
        Print(text);
        Print("\n");
    }
    std::fflush(stdout);
    return result;
}

void RunBatchFile(ZHand& hand, const std::string& name) {
    std::string contents;
    if (!ReadFileBytes(name, contents)) return;
    for (const std::string& line : SplitTextLines(contents)) {
        Print(line);
        Print("\n");
        std::fflush(stdout);
        if (!line.empty() && line[0] == '#') continue;
        SendAndShow(hand, line);
    }
}
