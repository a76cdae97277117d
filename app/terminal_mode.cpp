#include "terminal_mode.h"

#include <cstdio>
#include <string>

#include "batch.h"
#include "console.h"
#include "loaders.h"
#include "station.h"

namespace {

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Shows a utility's prompt and reads the file name, kept as typed.
std::string AskFileName(const char* prompt) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    return ReadLine();
}

}  // namespace

void TerminalMode() {
    ClearScreen();
    std::fputs("TERMINAL MODE - Type 'X' to eXit.\t\t\t", stdout);
    std::fputs("S/N: ", stdout);
    std::fwrite(serialNumber.data(), 1, serialNumber.size(), stdout);
    std::fputs("\n\n", stdout);

    for (;;) {
        std::fputs(">> ", stdout);
        std::fflush(stdout);
        std::string line = UpperCase(ReadLine());
        if (line == "X") return;
        if (line == "BATCH") {
            RunBatchFile(AskFileName("Run Batch File: "));
            continue;
        }
        if (line == "FIRMWARE") {
            LoadFirmware(AskFileName("Load Firmware: "));
            continue;
        }
        if (line == "EEPROM") {
            LoadEeprom(AskFileName("Load EEPROM: "));
            line = "RESET";  // whatever the loader's outcome
        }
        lastResult = SendAndShow(line);
    }
}
