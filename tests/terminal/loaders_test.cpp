// The EEPROM and firmware loaders against the simulated hand, through the
// station's own driver: what the hand holds afterwards, what the screen shows,
// and that the port is back at 9600 baud after every outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "console.h"
#include "loaders.h"
#include "seams.h"
#include "sim_station.h"

namespace {

using zhandsim::Controller;
using zhandsim::FaultKind;
using zhandsim::Mode;

// Bytes 0..n-1 of a pattern that takes every value, the ones a text-mode
// read would spoil (CR LF, 0x1A) right at the start.
std::string Pattern(std::size_t n) {
    std::string bytes("\r\n\x1a\x00\xff\r\r\n", 8);
    for (std::size_t i = 0; bytes.size() < n; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    bytes.resize(n);
    return bytes;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Every "\rProgress: nnn%" value in the order shown.
std::vector<int> ProgressShown(const std::string& screen) {
    std::vector<int> values;
    static const std::regex progress("\rProgress: +([0-9]+)%");
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), progress);
         it != std::sregex_iterator(); ++it)
        values.push_back(std::stoi((*it)[1]));
    return values;
}

int FirmwareErrors(zhandsim::Simulator& sim) {
    int errors = 0;
    sim.WithController([&](Controller& c) { errors = c.FirmwareErrors(); });
    return errors;
}

bool BackInCommandMode(zhandsim::Simulator& sim) {
    return sim.WaitFor([](const zhandsim::HandState& s) { return s.mode == Mode::Command; },
                       std::chrono::seconds(2));
}

class EepromTest : public SimTest {
  protected:
    void TearDown() override { UseTerminalKeys(); }
};

TEST_F(EepromTest, HandHoldsTheImageByteForByte) {
    const std::string loader = Pattern(23);
    const std::string image = Pattern(250);
    WriteFile("eeploadr.boo", loader);
    WriteFile("Image 1.BIN", image);
    UseKeyScript("k");

    StdoutCapture screen;
    int result = LoadEeprom(hand, "Image 1.BIN");
    std::string text = screen.Take();
    ASSERT_EQ(result, 0) << text;

    // Back at 9600 the hand leaves boot mode; the image is what it received at 5908.
    ASSERT_TRUE(BackInCommandMode(Sim()));
    EXPECT_EQ(Sim().EepromImage(), Bytes(image));
    // The loader program as sent: every byte, and the extra 0xFF after it.
    EXPECT_EQ(Sim().BootLoaderBytes(), Bytes(loader + "\xff"));
    EXPECT_TRUE(HandAnswers());

    // One dot for loader bytes 0, 10, 20 of the 24 sent.
    EXPECT_EQ(text.rfind("\nReset in BOOT mode, press a key to continue......", 0), 0u) << text;
    EXPECT_NE(text.find("...\n\nEEPLOADR.BOO downloaded successfully!\n\nProgress: 0%\r"),
              std::string::npos);
    std::vector<int> progress = ProgressShown(text);
    ASSERT_EQ(progress.size(), image.size());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress[124], 50);
    EXPECT_EQ(progress[248], 100);  // 99.6 is shown rounded
    EXPECT_EQ(progress.back(), 100);
    EXPECT_NE(text.find("\rProgress: 100%\rProgress: Complete\n"
                        "\nSet CPU switch 4 to 'OFF' position, press RESET to continue..."),
              std::string::npos);
    EXPECT_FALSE(KeyWaiting());
}

TEST_F(EepromTest, MissingFileStopsWithItsNameAndThePortAt9600) {
    struct Case {
        const char* name;
        bool loaderPresent;
        const char* expected;  // the screen after the loader file's part
    };
    const Case cases[] = {
        {"no loader file", false, "\nFile not found: EEPLOADR.BOO\n"},
        {"no image", true,
         "\nReset in BOOT mode, press a key to continue...."
         "\n\nEEPLOADR.BOO downloaded successfully!\n\nFile not found: no such Image.bin\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove("eeploadr.boo");
        if (c.loaderPresent) WriteFile("eeploadr.boo", "LOADER");
        UseKeyScript("ab");  // one key per wait; the loader-file case waits once
        const std::vector<std::uint8_t> before = Sim().EepromImage();

        StdoutCapture screen;
        int result = LoadEeprom(hand, "no such Image.bin");
        EXPECT_EQ(result, 1);
        EXPECT_EQ(screen.Take(), c.expected);
        EXPECT_EQ(KeyWaiting(), !c.loaderPresent);
        ASSERT_TRUE(BackInCommandMode(Sim()));
        EXPECT_TRUE(HandAnswers());
        // Nothing reached the image: untouched, or a boot session without one.
        EXPECT_EQ(Sim().EepromImage(), c.loaderPresent ? std::vector<std::uint8_t>() : before);
    }
}

TEST_F(EepromTest, SilentHandEndsTheLoadAfterOneTimeOut) {
    WriteFile("eeploadr.boo", Pattern(40));
    WriteFile("image.bin", Pattern(16));
    Sim().InjectFault(zhandsim::Fault{.kind = FaultKind::Silent});
    UseKeyScript("k");

    StdoutCapture screen;
    int result = LoadEeprom(hand, "image.bin");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(screen.Take(),
              "\nReset in BOOT mode, press a key to continue....\nNo echo from hand - download "
              "aborted\n");
    Sim().ClearFaults();
    EXPECT_TRUE(HandAnswers());
}

// Firmware files made by real tools, loaded and compared with the hand's memory.
class FirmwareTest : public SimTest {
  protected:
    // Loads `file` and checks the hand's memory holds `data` at `address` and
    // nothing else changed; returns the screen.
    std::string LoadAndCompare(const std::string& file, std::uint16_t address,
                               const std::string& data, int records) {
        std::vector<std::uint8_t> expected = Sim().FirmwareMemory();
        std::copy(data.begin(), data.end(), expected.begin() + address);
        int packets = Sim().State().firmwarePackets;

        StdoutCapture screen;
        int result = LoadFirmware(hand, file);
        std::string text = screen.Take();
        EXPECT_EQ(result, 0) << text;
        // Nothing marks the end of a download on the wire, and the last byte
        // may be an unechoed marker still on its way to the hand: the next
        // command's purge would throw it away. Wait until the hand has it.
        EXPECT_TRUE(
            Sim().WaitFor([](const zhandsim::HandState& s) { return s.firmwareBetweenPackets; },
                          std::chrono::seconds(10)));
        EXPECT_EQ(Sim().FirmwareMemory(), expected);
        EXPECT_EQ(Sim().State().firmwarePackets - packets, records);
        EXPECT_EQ(FirmwareErrors(Sim()), 0);
        EXPECT_TRUE(HandAnswers());
        return text;
    }
};

TEST_F(FirmwareTest, FilesMadeByRealToolsLoadByteForByte) {
    struct Case {
        const char* tool;  // run in the working directory on fw.bin
        std::uint16_t address;
        std::size_t size;
        int records;
    };
    const Case cases[] = {
        // srec_cat's usual 32-byte records, with CR LF line ends.
        {"srec_cat fw.bin -binary -offset 0x1234 -o fw.s19 -address-length=2 "
         "-line-termination=crlf",
         0x1234, 300, 10},
        // Records far beyond 37 data bytes go whole.
        {"srec_cat fw.bin -binary -offset 0x8000 -o fw.s19 -address-length=2 -obs=250", 0x8000, 600,
         3},
        {"objcopy -I binary -O srec --change-addresses 0xF000 fw.bin fw.s19", 0xF000, 100, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        const std::string data = Pattern(c.size);
        WriteFile("fw.bin", data);
        ASSERT_EQ(std::system(c.tool), 0);

        std::string text = LoadAndCompare("fw.s19", c.address, data, c.records);
        EXPECT_EQ(
            text.rfind("\nPress the red RESET button to begin download...\nProgress: 0%\r", 0), 0u)
            << text;
        std::vector<int> progress = ProgressShown(text);
        ASSERT_EQ(progress.size(), static_cast<std::size_t>(c.records) + 1);
        for (std::size_t i = 0; i + 1 < progress.size(); ++i) {
            EXPECT_LE(progress[i], 99);
            if (i > 0) {
                EXPECT_GE(progress[i], progress[i - 1]);
            }
        }
        EXPECT_EQ(progress[progress.size() - 2], 99);
        EXPECT_TRUE(text.ends_with("\rProgress: 100%\n"));
    }
}

TEST_F(FirmwareTest, RecordsWithoutDataAndFilesWithoutS1Records) {
    // Only a header and an end record: the handshake, no packet.
    WriteFile("empty.s19", "S00600004844521B\nS9030000FC\n");
    std::string text = LoadAndCompare("empty.s19", 0, "", 0);
    EXPECT_EQ(text,
              "\nPress the red RESET button to begin download...\nProgress: 0%\rProgress: 100%\n");

    // Count 3: a packet FF, 34, 12, 0, FF with no data; the next one still fits.
    WriteFile("count3.s19", "S00600004844521B\r\nS1031234B6\r\n\r\nS1051000AA55EB\r\nS9030000FC");
    LoadAndCompare("count3.s19", 0x1000, "\xaa\x55", 2);
}

TEST_F(FirmwareTest, AFileThatEndsWithCtrlZLoads) {
    WriteFile("dos.s19", "S00600004844521B\r\nS1051000AA55EB\r\nS9030000FC\r\n\x1a");
    std::string text = LoadAndCompare("dos.s19", 0x1000, "\xaa\x55", 1);
    EXPECT_TRUE(text.ends_with("\rProgress: 100%\n")) << text;
}

TEST_F(FirmwareTest, BadFileIsRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::string text;
        const char* screen;
    };
    const Case cases[] = {
        {"bad checksum", "S00600004844521B\nS1051000AA55EB\nS107001001020304DF\nS9030000FC\n",
         "\nBad S-record in line 3\n"},
        {"bad hex digit", "S00600004844521B\n\nS1051000AA5GEB\n", "\nBad S-record in line 3\n"},
        {"count longer than the line", "S1061000AA55EB\n", "\nBad S-record in line 1\n"},
        {"24-bit data", "S1051000AA55EB\nS20501000012E7\n",
         "\nS2/S3 record in line 2: the hand loads 16-bit S1 records only\n"},
        {"no such file", "", "\nFILE NOT FOUND.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove("fw.s19");
        if (!c.text.empty()) WriteFile("fw.s19", c.text);
        int packets = Sim().State().firmwarePackets;

        StdoutCapture screen;
        EXPECT_EQ(LoadFirmware(hand, "fw.s19"), 1);
        EXPECT_EQ(screen.Take(), c.screen);
        // Had the letter X gone out, the hand would take the next command
        // line as "X..." or not listen at all.
        EXPECT_TRUE(HandAnswers());
        EXPECT_EQ(TakeCommands(), std::vector<std::string>{""});
        EXPECT_EQ(Sim().State().firmwarePackets, packets);
    }
}

TEST_F(FirmwareTest, LoaderThatNeverAnswersFailsAfterFiftyReads) {
    WriteFile("fw.s19", "S1051000AA55EB\n");
    Sim().InjectFault(zhandsim::Fault{.kind = FaultKind::Silent});
    SimStation::UseShortTimeouts(5);  // 50 reads of 5 ms

    StdoutCapture screen;
    EXPECT_EQ(LoadFirmware(hand, "fw.s19"), 1);
    EXPECT_EQ(screen.Take(),
              "\nPress the red RESET button to begin download...\nDownload Failed\n");
    SimStation::UseShortTimeouts();
    Sim().ClearFaults();
    EXPECT_TRUE(HandAnswers());
}

}  // namespace
