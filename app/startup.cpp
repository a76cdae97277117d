#include "startup.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "raw_terminal.h"
#include "station.h"
#include "test_log.h"

namespace {

constexpr int kMinColumns = 80;
constexpr int kMinRows = 23;
constexpr int kIoThreadPriority = 15;

void RequireTerminal() {
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && EnterRawMode()) return;
    std::fprintf(stderr, "zhand-station: standard input and output must be a terminal.\n");
    std::exit(1);
}

void WarnSmallTerminal() {
    int rows = 0;
    int columns = 0;
    if (!TerminalSize(&rows, &columns)) return;
    if (columns >= kMinColumns && rows >= kMinRows) return;
    std::printf("Warning: terminal %dx%d, the form needs %dx%d.\n", columns, rows, kMinColumns,
                kMinRows);
}

}  // namespace

int PortFromLine(const std::string& line) {
    if (line.empty()) return 1;
    return static_cast<std::int8_t>(static_cast<unsigned char>(line[0]) - '0');
}

const char* ConnectionHint(int result) {
    if (result == -9) return "ZorvathHand not found!";
    if (result == -2) return "Communications port not available...";
    return "";
}

void StartUp(Station& station) {
    RequireTerminal();
    WarnSmallTerminal();

    std::printf("Please select a communications port [1]: ");
    int port = PortFromLine(ReadLine());

    station.lastResult = station.hand.Initialize(port, kIoThreadPriority);
    if (station.lastResult != 0) {
        std::printf("\n\nInitialization error: %d\n", station.lastResult);
        std::fputs(ConnectionHint(station.lastResult), stdout);
        std::printf("\n\nContinue (Y/N)? ");
        FlushKeys();  // only a key pressed after the question answers it
        int answer = GetKey();
        if (answer >= 0 && std::toupper(answer) == 'N') {
            std::putchar('\n');
            std::exit(1);
        }
    }

    LoadPrefs(station);
}
