// The batch reader fed any file: every line must be shown exactly once and
// in order, comment lines only shown, and no line may be lost, split or
// joined, whatever bytes or line ends the file holds. The hand is not
// connected (as after a start-up without one), so every command completes
// at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch.h"
#include "fuzz_check.h"
#include "fuzz_dir.h"
#include "zhand.h"

namespace {

// The station's hand, never connected.
ZHand& Hand() {
    static ZHand hand;
    return hand;
}

// Lines of a text as the station reads every text file: ends at LF, a CR
// before it (or at the very end) is part of the line end.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// What RunBatchFile shows for a file, with no hand answering.
std::string Expected(const std::string& text) {
    std::string shown;
    for (const std::string& line : Lines(text)) {
        shown += line + "\n";
        if (!line.empty() && line[0] == '#') continue;
        // A command that does not fit the driver's buffer (as a C string,
        // with its CR) is refused; the error text then stays empty.
        if (std::string(line.c_str()).size() + 1 >= ZHand::BufferSize) shown += "Error \n";
    }
    return shown;
}

// Runs the batch with standard output going to a memory file; returns what it shows.
std::string Run(const std::string& name) {
    static int capture = memfd_create("batch-output", MFD_CLOEXEC);
    static int saved = dup(STDOUT_FILENO);
    std::fflush(stdout);
    if (ftruncate(capture, 0) != 0 || lseek(capture, 0, SEEK_SET) != 0) std::abort();
    dup2(capture, STDOUT_FILENO);
    RunBatchFile(Hand(), name);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    std::string shown;
    char buffer[65536];
    lseek(capture, 0, SEEK_SET);
    for (ssize_t n; (n = read(capture, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    return shown;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzDir::Get();
    // As after a start-up without a hand: port 0 cannot be opened, so every
    // command completes at once and sends nothing.
    Hand().Initialize(0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FuzzDir::Inside inside;
    WriteFile("batch.txt", text);
    std::string shown = Run("batch.txt");
    std::string expected = Expected(text);
    FUZZ_CHECK(shown == expected, "shown \"%s\"\nexpected \"%s\"", Visible(shown).c_str(),
               Visible(expected).c_str());
    FUZZ_CHECK(ReadFile("batch.txt") == text, "the batch file changed");
    // A name that is no file, or a directory, shows nothing.
    FUZZ_CHECK(Run("missing.txt").empty() && Run(".").empty(), "a missing batch file showed text");
    return 0;
}
