#include "loaders.h"

#include <cstdio>
#include <string_view>

#include "console.h"
#include "srecord.h"
#include "text_file.h"
#include "zhand.h"

namespace {

// Bytes other than the echo that an echo wait discards before it gives up: a
// hand that chatters must not hold the loader for ever.
constexpr int kMaxStrayBytes = 1000;
// Reads the firmware loader gets to announce itself with ":".
constexpr int kLoaderReadyReads = 50;

constexpr unsigned char kMarker = 0xFF;

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PrintProgress(double percent) {
    std::printf("\rProgress: %3.0f%%", percent);
    std::fflush(stdout);
}

int SendByte(ZHand& hand, unsigned char byte) {
    return hand.WriteBytes(&byte, 1);
}

// One byte from the hand; false when the read failed or timed out.
bool ReadByte(ZHand& hand, unsigned char& byte) {
    return hand.ReadBytes(&byte, 1) == 0;
}

struct Echoed {
    int sent;   // SendByte's result
    bool echo;  // the byte came back
};

// Sends a byte and reads until it comes back, discarding other bytes. A read
// that times out, or too many stray bytes, end the wait without the echo.
Echoed SendByteEchoed(ZHand& hand, unsigned char byte) {
    Echoed outcome{SendByte(hand, byte), false};
    for (int stray = 0; stray <= kMaxStrayBytes; ++stray) {
        unsigned char got = 0;
        if (!ReadByte(hand, got)) break;
        if (got == byte) {
            outcome.echo = true;
            break;
        }
    }
    return outcome;
}

// Switches the port's rate; a failure is shown ("Com4800 Err: -4") and the
// load goes on.
void SetRate(ZHand& hand, int baud) {
    int code = hand.SetBaudRate(baud);
    if (code != 0) {
        std::printf("Com%d Err: %d\n", baud, code);
        std::fflush(stdout);
    }
}

constexpr const char* kNoEcho = "\nNo echo from hand - download aborted\n";

int AbortEeprom(ZHand& hand) {
    Print(kNoEcho);
    SetRate(hand, 9600);
    return 1;
}

int MissingEepromFile(ZHand& hand, std::string_view shownName) {
    Print("\nFile not found: ");
    Print(shownName);
    Print("\n");
    GetKey();
    hand.SetBaudRate(9600);
    return 1;
}

}  // namespace

int LoadEeprom(ZHand& hand, const std::string& name) {
    SetRate(hand, 4800);

    std::string loader;
    if (!ReadFileBytes("eeploadr.boo", loader)) return MissingEepromFile(hand, "EEPLOADR.BOO");
    hand.PurgePort();
    Print("\nReset in BOOT mode, press a key to continue...");
    GetKey();

    // The boot mode takes one more byte, 0xFF, after the loader's last one.
    loader.push_back(static_cast<char>(kMarker));
    for (std::size_t i = 0; i < loader.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(loader[i]);
        Echoed outcome{0, true};
        if (i == 0)
            outcome.sent = SendByte(hand, byte);
        else
            outcome = SendByteEchoed(hand, byte);
        if (outcome.sent != 0) {
            std::printf("Com1200 Err: %d\n", outcome.sent);
            std::fflush(stdout);
        }
        if (!outcome.echo) return AbortEeprom(hand);
        if (i % 10 == 0) Print(".");
    }
    Print("\n\nEEPLOADR.BOO downloaded successfully!\n");

    SetRate(hand, 5908);
    std::string image;
    if (!ReadFileBytes(name, image)) return MissingEepromFile(hand, name);

    hand.PurgePort();
    if (!SendByteEchoed(hand, 'I').echo) return AbortEeprom(hand);
    Print("\nProgress: 0%");
    for (std::size_t sent = 0; sent < image.size();) {
        if (!SendByteEchoed(hand, static_cast<unsigned char>(image[sent])).echo)
            return AbortEeprom(hand);
        ++sent;
        PrintProgress(static_cast<double>(sent) * 100.0 / static_cast<double>(image.size()));
    }
    Print("\rProgress: Complete\n");
    Print("\nSet CPU switch 4 to 'OFF' position, press RESET to continue...");

    SetRate(hand, 9600);
    return 0;
}

int LoadFirmware(ZHand& hand, const std::string& name) {
    std::string text;
    if (!ReadFileBytes(name, text)) {
        Print("\nFILE NOT FOUND.\n");
        return 1;
    }
    FirmwareImage firmware = ReadFirmwareImage(text);
    if (firmware.check == FirmwareCheck::BadRecord) {
        std::printf("\nBad S-record in line %d\n", firmware.line);
        std::fflush(stdout);
        return 1;
    }
    if (firmware.check == FirmwareCheck::WideData) {
        std::printf("\nS2/S3 record in line %d: the hand loads 16-bit S1 records only\n",
                    firmware.line);
        std::fflush(stdout);
        return 1;
    }

    hand.PurgePort();
    SendByte(hand, 'X');
    Print("\nPress the red RESET button to begin download...");
    bool ready = false;
    for (int read = 0; read < kLoaderReadyReads && !ready; ++read) {
        unsigned char byte = 0;
        ready = ReadByte(hand, byte) && byte == ':';
    }
    if (!ready) {
        Print("\nDownload Failed\n");
        return 1;
    }
    SendByte(hand, kMarker);

    Print("\nProgress: 0%");
    std::size_t sent = 0;
    for (const SRecord& record : firmware.records) {
        std::size_t n = record.data.size();
        double progress = 0;
        if (firmware.totalBytes > 0)
            progress =
                static_cast<double>(sent + n) * 100.0 / static_cast<double>(firmware.totalBytes) -
                1.0;
        sent += n;
        PrintProgress(progress < 0 ? 0 : progress);

        // The address goes low byte first; the two markers are not echoed.
        SendByte(hand, kMarker);
        bool echoed =
            SendByteEchoed(hand, static_cast<unsigned char>(record.address & 0xFF)).echo &&
            SendByteEchoed(hand, static_cast<unsigned char>(record.address >> 8)).echo &&
            SendByteEchoed(hand, static_cast<unsigned char>(n)).echo;
        if (echoed) SendByte(hand, kMarker);
        for (std::size_t i = 0; echoed && i < n; ++i)
            echoed = SendByteEchoed(hand, record.data[i]).echo;
        if (!echoed) {
            Print(kNoEcho);
            return 1;
        }
    }
    Print("\rProgress: 100%\n");
    return 0;
}
