// Files that people edit by hand, copy from a stick or fill by mistake:
// Prefs.dat, Defaults.dat, a batch file and a firmware file that are empty,
// cut short, binary or huge. Whatever they hold, the station must not crash,
// must say what it could not use, must leave the file as it was (Prefs.dat:
// rewritten whole and well-formed) and must keep talking to the hand.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "batch.h"
#include "console.h"
#include "defaults_file.h"
#include "loaders.h"
#include "prefs.h"
#include "procedures.h"
#include "seams.h"
#include "srecord.h"
#include "survival_support.h"
#include "test_log.h"
#include "test_station.h"
#include "text_file.h"

namespace {

// Noon on 15 June 2024, local time: the stamp 240615.
std::time_t Noon() {
    std::tm noon{};
    noon.tm_year = 124;
    noon.tm_mon = 5;
    noon.tm_mday = 15;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    return std::mktime(&noon);
}

// One simulator and the application's one hand for the whole program: the
// driver lets a process open its port once.
SimulatedHand& Hand() {
    static SimulatedHand simulated;
    return simulated;
}

// The hand still answers an ordinary command.
void ExpectHandAnswers() {
    std::string reply;
    EXPECT_EQ(ProgramHand().Command("PGET TEMP", &reply), 0);
    EXPECT_FALSE(reply.empty());
}

std::string TheLog() {
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().extension() == ".txt") return ReadFile(entry.path());
    return {};
}

class StationFiles : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Hand().Open());
        UseFakeClock(Noon());
        UseKeyScript("");
        identity.serialNumber = "HND123";
        identity.userInitials = "QA";
    }
    void TearDown() override {
        UseTerminalKeys();
        UseRealClock();
    }
    WorkDir dir_;
    TestStation context;
    Station& station = context.station;
    Identity& identity = context.identity;
    TestTable& tests = context.tests;
};

class BadFile : public StationFiles, public testing::WithParamInterface<BadKind> {};

// --- Prefs.dat ---

const std::string kGoodPrefs = "HND123\nQA\n240615\nHND123\t2\nXY7\t-1\n";

TEST_P(BadFile, PrefsFileIsReplacedByAWellFormedOne) {
    const BadKind kind = GetParam();
    WriteFile("Prefs.dat", BadVariant(kGoodPrefs, kind, 4 << 20));

    LoadPrefs(station);
    bool complete = false;
    const std::string text = ReadFile("Prefs.dat");
    Prefs prefs = ParsePrefs(text, &complete);
    ASSERT_TRUE(complete) << text.substr(0, 200);
    EXPECT_EQ(text, FormatPrefs(prefs));
    EXPECT_EQ(prefs.stamp, "240615");
    const bool keepsIdentity = kind == BadKind::Truncated || kind == BadKind::Huge;
    EXPECT_EQ(identity.serialNumber, keepsIdentity ? "HND123" : "HND000");
    EXPECT_EQ(identity.userInitials, keepsIdentity ? "QA" : "--");
    EXPECT_EQ(prefs.serial, identity.serialNumber);
    EXPECT_FALSE(std::filesystem::exists("Prefs.dat.tmp"));

    // The day's log opens and numbers itself past what the file remembered.
    std::string name;
    std::FILE* log = OpenTestLog(identity, &name);
    ASSERT_NE(log, nullptr) << name;
    std::fclose(log);
    EXPECT_EQ(name, identity.serialNumber + identity.userInitials + "240615_" +
                        (keepsIdentity ? "3" : "1") + ".txt");
    EXPECT_TRUE(SavePrefs(identity, 1, "HND124"));
    prefs = ParsePrefs(ReadFile("Prefs.dat"), &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(prefs.serial, "HND124");
}

// A Prefs.dat edited by hand (or two merged) can hold two counter lines for
// one serial number. Every test of a program run must still write to the one
// log of that run: the first line counts and the later one is dropped.
TEST_F(StationFiles, DuplicateCounterLinesKeepOneLogPerRun) {
    WriteFile("Prefs.dat", "HND123\nQA\n240615\nHND123\t2\nHND123\t5\n");
    LoadPrefs(station);
    std::vector<std::string> names;
    for (int test = 0; test < 3; ++test) {
        std::string name;
        std::FILE* log = OpenTestLog(identity, &name);
        ASSERT_NE(log, nullptr);
        std::fclose(log);
        names.push_back(name);
    }
    EXPECT_EQ(names[0], "HND123QA240615_3.txt");  // the first line counts
    EXPECT_EQ(names[1], names[0]);
    EXPECT_EQ(names[2], names[0]);
}

TEST_F(StationFiles, PrefsPathThatIsADirectoryIsLeftAloneAndReported) {
    std::filesystem::create_directory("Prefs.dat");
    WriteFile("Prefs.dat/keep", "x");

    LoadPrefs(station);
    EXPECT_FALSE(PrefsProblem().empty());
    EXPECT_EQ(identity.serialNumber, "HND000");
    std::string name;
    std::FILE* log = OpenTestLog(identity, &name);
    ASSERT_NE(log, nullptr) << name;  // the tests still get their log
    std::fclose(log);
    EXPECT_TRUE(std::filesystem::is_directory("Prefs.dat"));
    EXPECT_EQ(ReadFile("Prefs.dat/keep"), "x");
    EXPECT_FALSE(std::filesystem::exists("Prefs.dat.tmp"));
}

// --- Defaults.dat ---

TEST_P(BadFile, ParameterCheckReportsWhatItCannotUse) {
    const BadKind kind = GetParam();
    const std::string defaults = BadVariant(FactoryDefaults(), kind, 1 << 20);
    WriteFile("Defaults.dat", defaults);
    ProgramHand().Command("FDEF");  // the hand holds its factory values
    tests.names[10] = "Parameter Check";
    tests.cycles[10] = 1;

    CapturedOutput output;
    int result = ParameterCheckTest(station, 10);
    std::string shown = output.Take();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile("Defaults.dat"), defaults);
    const std::string log = TheLog();
    EXPECT_NE(log.find("* Parameter Check, 1 cycles"), std::string::npos);
    EXPECT_NE(log.find("SUMMARY:\nErrors: "), std::string::npos) << log.substr(0, 500);
    const DefaultsFile parsed = ParseDefaults(defaults);
    if (parsed.badLine > 0) {
        const std::string said =
            "Defaults.dat: bad record at line " + std::to_string(parsed.badLine) + "\n";
        EXPECT_NE(log.find(said), std::string::npos);
        EXPECT_NE(shown.find(said), std::string::npos);
    }
    // No record read from the file differs from the hand: no prompt.
    EXPECT_EQ(shown.find("Try to fix"), std::string::npos);
    ExpectHandAnswers();
}

TEST_F(StationFiles, ParameterCheckWithoutDefaultsFileSaysSo) {
    tests.names[10] = "Parameter Check";
    tests.cycles[10] = 1;
    CapturedOutput output;
    EXPECT_EQ(ParameterCheckTest(station, 10), 1);
    EXPECT_NE(output.Take().find("Could not open preferences file!"), std::string::npos);
    EXPECT_NE(TheLog().find("Could not open preferences file!"), std::string::npos);
}

// --- batch files ---

const std::string kGoodBatch = "# Reads the temperature and the position of F1\n#" +
                               std::string(3000, '-') + "\nPGET TEMP\n1FGET P\n";

TEST_P(BadFile, BatchRunsEveryLineAndTheLinkSurvives) {
    const BadKind kind = GetParam();
    const std::string batch = BadVariant(kGoodBatch, kind, 1 << 20);
    WriteFile("batch.txt", batch);

    CapturedOutput output;
    RunBatchFile(ProgramHand(), "batch.txt");
    std::string shown = output.Take();

    EXPECT_EQ(ReadFile("batch.txt"), batch);
    // Every line is shown, in order.
    std::size_t at = 0;
    for (const std::string& line : SplitTextLines(batch)) {
        at = shown.find(line + "\n", at);
        ASSERT_NE(at, std::string::npos) << "line not shown: " << line.substr(0, 80);
        at += line.size() + 1;
    }
    ExpectHandAnswers();
}

TEST_F(StationFiles, BatchOfOneHugeLineIsRefusedByTheDriverAndShown) {
    WriteFile("batch.txt", std::string(1 << 20, 'A') + "\nPGET TEMP\n");
    CapturedOutput output;
    RunBatchFile(ProgramHand(), "batch.txt");
    std::string shown = output.Take();
    EXPECT_NE(shown.find("Error "), std::string::npos);
    EXPECT_NE(shown.find("PGET TEMP\n-> "), std::string::npos) << shown.substr(shown.size() - 200);
    ExpectHandAnswers();
}

// --- firmware files ---

std::string S1(unsigned address, const std::string& data) {
    std::string bytes;
    bytes += static_cast<char>(address >> 8);
    bytes += static_cast<char>(address);
    bytes += data;
    unsigned sum = static_cast<unsigned>(bytes.size() + 1);
    for (unsigned char c : bytes) sum += c;
    bytes += static_cast<char>(~sum);
    char hex[8];
    std::snprintf(hex, sizeof hex, "S1%02X", static_cast<unsigned>(bytes.size()));
    std::string line = hex;
    for (unsigned char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", c);
        line += hex;
    }
    return line + "\r\n";
}

const std::string kGoodFirmware = "S00600004844521B\r\n" + S1(0x1000, "\x01\x02\x03\x04") +
                                  S1(0x1004, std::string(16, '\x55')) + "S9030000FC\r\n";

TEST_P(BadFile, FirmwareIsCheckedWholeBeforeAnyByteIsSent) {
    const BadKind kind = GetParam();
    const std::string firmware = BadVariant(kGoodFirmware, kind, 2 << 20);
    WriteFile("firmware.s19", firmware);
    const int packetsBefore = Hand().Sim().State().firmwarePackets;

    CapturedOutput output;
    int result = LoadFirmware(ProgramHand(), "firmware.s19");
    std::string shown = output.Take();

    EXPECT_EQ(ReadFile("firmware.s19"), firmware);
    EXPECT_EQ(Hand().Sim().State().firmwarePackets, packetsBefore);
    const FirmwareImage image = ReadFirmwareImage(firmware);
    if (kind == BadKind::Empty) {
        // Nothing to load is no fault: the handshake, then 100 %.
        EXPECT_EQ(result, 0) << shown;
        EXPECT_NE(shown.find("Progress: 100%"), std::string::npos);
    } else {
        EXPECT_EQ(result, 1);
        ASSERT_NE(image.check, FirmwareCheck::Good);
        EXPECT_NE(shown.find("in line " + std::to_string(image.line)), std::string::npos) << shown;
        EXPECT_EQ(shown.find("Press the red RESET"), std::string::npos);
        EXPECT_EQ(Hand().Sim().State().mode, zhandsim::Mode::Command);
    }
    ExpectHandAnswers();
}

TEST_F(StationFiles, MissingFirmwareFileIsNamed) {
    CapturedOutput output;
    EXPECT_EQ(LoadFirmware(ProgramHand(), "no-such-file.s19"), 1);
    EXPECT_NE(output.Take().find("FILE NOT FOUND."), std::string::npos);
    ExpectHandAnswers();
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadFile, testing::ValuesIn(kBadKinds),
                         [](const testing::TestParamInfo<BadKind>& info) {
                             return BadKindName(info.param);
                         });

}  // namespace
