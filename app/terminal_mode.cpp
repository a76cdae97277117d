#include "terminal_mode.h"

#include <cstdio>
#include <optional>
#include <string>

#include "batch.h"
#include "console.h"
#include "link_wait.h"
#include "loaders.h"
#include "station.h"

namespace {

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Shows a utility's prompt and reads the file name, kept as typed; nothing
// when the keyboard has gone.
std::optional<std::string> AskFileName(const char* prompt) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string name = ReadLine();
    if (InputEnded()) return std::nullopt;
    return name;
}

// After a line whose exchange found the port gone: says so and waits for
// the hand as a test does, resetting it once it is back. Esc gives up the
// wait; the next line tries the port again.
void AwaitLostHand(Station& station) {
    std::fputs("Link to hand lost\n", stdout);
    std::fputs("Reconnect the hand, or press Esc.\n", stdout);
    std::fflush(stdout);
    if (!AwaitReconnect(station.hand, station.console)) return;
    station.lastResult = station.hand.Reset();
    std::fputs("Hand reconnected\n", stdout);
}

}  // namespace

void TerminalMode(Station& station) {
    const std::string& serialNumber = station.identity.serialNumber;
    ClearScreen();
    std::fputs("TERMINAL MODE - Type 'X' to eXit.\t\t\t", stdout);
    std::fputs("S/N: ", stdout);
    std::fwrite(serialNumber.data(), 1, serialNumber.size(), stdout);
    std::fputs("\n\n", stdout);

    for (;;) {
        std::fputs(">> ", stdout);
        std::fflush(stdout);
        std::string line = UpperCase(ReadLine());
        // A keyboard that has gone (terminal hung up) ends the visit: its last
        // line was never finished.
        if (line == "X" || InputEnded()) return;
        if (line == "BATCH") {
            std::optional<std::string> name = AskFileName("Run Batch File: ");
            if (!name) return;
            RunBatchFile(station.hand, *name);
            if (station.hand.LinkLost()) AwaitLostHand(station);
            continue;
        }
        if (line == "FIRMWARE") {
            std::optional<std::string> name = AskFileName("Load Firmware: ");
            if (!name) return;
            LoadFirmware(station.hand, *name);
            if (station.hand.LinkLost()) AwaitLostHand(station);
            continue;
        }
        if (line == "EEPROM") {
            std::optional<std::string> name = AskFileName("Load EEPROM: ");
            if (!name) return;
            LoadEeprom(station.hand, *name);
            line = "RESET";  // whatever the loader's outcome
        }
        station.lastResult = SendAndShow(station.hand, line);
        if (station.hand.LinkLost()) AwaitLostHand(station);
    }
}
