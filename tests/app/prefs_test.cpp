#include "prefs.h"

#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "clock.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_log.h"
#include "test_station.h"

namespace {

// Noon on the given day, UTC (the tests run with TZ=UTC).
std::time_t Day(int year, int month, int day, int hour = 12, int minute = 0) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    return timegm(&when);
}

class UtcTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

using PrefsNames = UtcTest;

TEST_F(PrefsNames, DateStampIsTwoDigitYearMonthDay) {
    EXPECT_EQ(DateStamp(Day(1999, 6, 15)), "990615");
    EXPECT_EQ(DateStamp(Day(2005, 1, 3)), "050103");
    EXPECT_EQ(DateStamp(Day(2000, 12, 31, 23, 59)), "001231");
}

TEST_F(PrefsNames, LogFileNameJoinsSerialInitialsStampAndNumber) {
    EXPECT_EQ(LogFileName("HND000", "--", Day(1999, 6, 15), 1), "HND000--990615_1.txt");
    EXPECT_EQ(LogFileName("A7", "JQ", Day(2024, 2, 29), 12), "A7JQ240229_12.txt");
}

TEST(PrefsText, ReadsWordsWhateverTheWhiteSpace) {
    bool complete = false;
    Prefs prefs = ParsePrefs("HND9 \r\n AB\t240101\nX1\t2\r\nLONGSERIALNUMBER123 -3", &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(prefs.serial, "HND9");
    EXPECT_EQ(prefs.initials, "AB");
    EXPECT_EQ(prefs.stamp, "240101");
    EXPECT_EQ(prefs.counters, (std::vector<PrefsCounter>{{"X1", 2}, {"LONGSERIALNUMBER123", -3}}));
}

TEST(PrefsText, StopsAtTheFirstPairWithoutANumber) {
    Prefs prefs = ParsePrefs("S I 240101\nA 1\nB x\nC 3\nD 99999999999\n");
    EXPECT_EQ(prefs.counters, (std::vector<PrefsCounter>{{"A", 1}}));
    EXPECT_TRUE(ParsePrefs("S I 1\nA 1\nD 99999999999\n").counters.size() == 1);
}

TEST(PrefsText, ShortHeaderIsIncomplete) {
    bool complete = true;
    Prefs prefs = ParsePrefs("ONLY\n", &complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ(prefs.serial, "ONLY");
    EXPECT_EQ(prefs.stamp, "");
}

TEST(PrefsText, FormatWritesHeaderAndCounterLines) {
    Prefs prefs{"HND000", "--", "990615", {{"HND000", -2}, {"XY7", 1}}};
    EXPECT_EQ(FormatPrefs(prefs), "HND000\n--\n990615\nHND000\t-2\nXY7\t1\n");
    EXPECT_EQ(FormatPrefs(ParsePrefs(FormatPrefs(prefs))), FormatPrefs(prefs));
}

TEST(PrefsText, NextSequenceNeverOverflows) {
    EXPECT_EQ(NextSequence(1), 2);
    EXPECT_EQ(NextSequence(-3), 4);
    EXPECT_EQ(NextSequence(0), 1);
    EXPECT_EQ(NextSequence(INT_MAX), INT_MAX);
    EXPECT_EQ(NextSequence(INT_MIN), INT_MAX);
}

TEST(PrefsText, UsableIdentity) {
    EXPECT_TRUE(UsableIdentity("HND-00.1"));
    EXPECT_TRUE(UsableIdentity("\xc3\xa9"));
    EXPECT_FALSE(UsableIdentity(""));
    EXPECT_FALSE(UsableIdentity("A B"));
    EXPECT_FALSE(UsableIdentity("../x"));
    EXPECT_FALSE(UsableIdentity("A\x1b[2J"));
    EXPECT_FALSE(UsableIdentity("A\x7f"));
}

// --- scenarios on disk, with a fake clock ---

// One step: L LoadPrefs; O OpenTestLog (expect: the log's name); S / I
// SavePrefs of field 1 / 2 with arg; D delete file arg; R delete Prefs.dat;
// M advance the clock by arg minutes.
struct Step {
    char op;
    std::string arg = "";
    std::string expect = "";
};

struct Scenario {
    const char* name;
    const char* prefs;  // nullptr: no file at start
    std::time_t start;
    std::vector<Step> steps;
    std::string finalPrefs;
    std::string shown = "";  // "serial initials" after the steps, when given
};

const std::time_t kJune15 = Day(1999, 6, 15);

const Scenario kScenarios[] = {
    {"NewFile", nullptr, kJune15, {{'L'}}, "HND000\n--\n990615\n", "HND000 --"},
    {"OtherDayDropsCounters",
     "HND7\nAB\n990614\nHND7\t3\nXY7\t-1\n",
     kJune15,
     {{'L'}},
     "HND7\nAB\n990615\n",
     "HND7 AB"},
    {"SameDayMarksCountersUsed",
     "HND000\n--\n990615\nHND000\t2\nXY7\t-1\n",
     kJune15,
     {{'L'}},
     "HND000\n--\n990615\nHND000\t-2\nXY7\t-1\n"},
    {"FirstRunOfTheDayAndSecondTestSameFile",
     nullptr,
     kJune15,
     {{'L'}, {'O', "", "HND000--990615_1.txt"}, {'O', "", "HND000--990615_1.txt"}},
     "HND000\n--\n990615\nHND000\t1\n"},
    {"RestartTakesNextNumberAndMovesLineToEnd",
     "HND000\n--\n990615\nHND000\t1\nXY7\t3\n",
     kJune15,
     {{'L'}, {'O', "", "HND000--990615_2.txt"}, {'O', "", "HND000--990615_2.txt"}},
     "HND000\n--\n990615\nXY7\t-3\nHND000\t2\n"},
    {"DeletedLogTakesNextNumber",
     nullptr,
     kJune15,
     {{'L'},
      {'O', "", "HND000--990615_1.txt"},
      {'D', "HND000--990615_1.txt"},
      {'O', "", "HND000--990615_2.txt"}},
     "HND000\n--\n990615\nHND000\t2\n"},
    {"TwoSerialNumbersKeepOneLineEach",
     nullptr,
     kJune15,
     {{'L'},
      {'O', "", "HND000--990615_1.txt"},
      {'S', "XY7"},
      {'O', "", "XY7--990615_1.txt"},
      {'S', "HND000"},
      {'O', "", "HND000--990615_1.txt"}},
     "HND000\n--\n990615\nHND000\t1\nXY7\t1\n"},
    {"NewInitialsMidRunTakeNextNumber",
     nullptr,
     kJune15,
     {{'L'}, {'O', "", "HND000--990615_1.txt"}, {'I', "JQ"}, {'O', "", "HND000JQ990615_2.txt"}},
     "HND000\nJQ\n990615\nHND000\t2\n"},
    {"PastMidnightKeepsStampNamesNewDate",
     nullptr,
     Day(1999, 6, 15, 23, 50),
     {{'L'},
      {'O', "", "HND000--990615_1.txt"},
      {'M', "20"},
      {'O', "", "HND000--990616_2.txt"},
      {'O', "", "HND000--990616_2.txt"}},
     "HND000\n--\n990615\nHND000\t2\n"},
    {"PrefsDeletedAfterStartUpIsWrittenAfresh",
     "HND000\n--\n990614\n",
     kJune15,
     {{'L'}, {'S', "ABC"}, {'R'}, {'I', "JQ"}},
     "ABC\nJQ\n990615\n",
     "ABC JQ"},
    {"PrefsDeletedBeforeALogIsWrittenAfresh",
     nullptr,
     kJune15,
     {{'L'}, {'S', "ABC"}, {'R'}, {'O', "", "ABC--990615_1.txt"}},
     "ABC\n--\n990615\nABC\t1\n"},
    {"UnchangedSaveRewritesSameContent",
     "HND000\n--\n990615\nXY7\t-1\n",
     kJune15,
     {{'L'}, {'S', "HND000"}},
     "HND000\n--\n990615\nXY7\t-1\n"},
    {"LongWordsAreReadWhole",
     "SERIALNUMBER-0123456789\nINITIALS-LONG\n990615\nSERIALNUMBER-0123456789\t4\n",
     kJune15,
     {{'L'}, {'O', "", "SERIALNUMBER-0123456789INITIALS-LONG990615_5.txt"}},
     "SERIALNUMBER-0123456789\nINITIALS-LONG\n990615\nSERIALNUMBER-0123456789\t5\n",
     "SERIALNUMBER-0123456789 INITIALS-LONG"},
    {"NoLastLineEnd", "A1\nB2\n990615\nA1\t1", kJune15, {{'L'}}, "A1\nB2\n990615\nA1\t-1\n"},
    {"TruncatedFileHeals", "", kJune15, {{'L'}}, "HND000\n--\n990615\n", "HND000 --"},
    {"SlashOrControlInHeaderGivesDefault",
     "../../etc\nA\x01"
     "B\n990615\n",
     kJune15,
     {{'L'}, {'O', "", "HND000--990615_1.txt"}},
     "HND000\n--\n990615\nHND000\t1\n",
     "HND000 --"},
    {"ManyCountersHaveNoLengthLimit",
     "S\nI\n990615\nAAAAAAAA\t1\nBBBBBBBB\t2\nCCCCCCCC\t3\nDDDDDDDD\t4\nEEEEEEEE\t5\nFFFFFFFF\t6\n",
     kJune15,
     {{'L'}, {'S', "GGGGGGGG"}, {'O', "", "GGGGGGGGI990615_1.txt"}},
     "GGGGGGGG\nI\n990615\nAAAAAAAA\t-1\nBBBBBBBB\t-2\nCCCCCCCC\t-3\nDDDDDDDD\t-4\nEEEEEEEE\t-5\n"
     "FFFFFFFF\t-6\nGGGGGGGG\t1\n"},
};

class PrefsFiles : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override { UseRealClock(); }
    TempDir dir;
    TestStation context;
    Station& station = context.station;
    Identity& identity = context.identity;
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

class PrefsScenario : public PrefsFiles, public testing::WithParamInterface<Scenario> {};

TEST_P(PrefsScenario, FileAndLogsFollowTheRules) {
    const Scenario& s = GetParam();
    if (s.prefs != nullptr) WriteFile("Prefs.dat", s.prefs);
    UseFakeClock(s.start);
    for (const Step& step : s.steps) {
        switch (step.op) {
            case 'L':
                LoadPrefs(station);
                break;
            case 'O': {
                std::string name;
                std::FILE* log = OpenTestLog(identity, &name);
                ASSERT_NE(log, nullptr) << name;
                std::fclose(log);
                EXPECT_EQ(name, step.expect);
                EXPECT_TRUE(std::filesystem::exists(name)) << name;
                break;
            }
            case 'S':
            case 'I':
                EXPECT_TRUE(SavePrefs(identity, step.op == 'S' ? 1 : 2, step.arg));
                break;
            case 'D':
                std::filesystem::remove(step.arg);
                break;
            case 'R':
                std::filesystem::remove("Prefs.dat");
                break;
            case 'M':
                AdvanceFakeClock(static_cast<std::uint32_t>(std::stoi(step.arg)) * 60000u);
                break;
        }
    }
    EXPECT_EQ(ReadFile("Prefs.dat"), s.finalPrefs);
    if (!s.shown.empty()) {
        EXPECT_EQ(identity.serialNumber + " " + identity.userInitials, s.shown);
    }
    EXPECT_FALSE(std::filesystem::exists("Prefs.dat.tmp"));
}

INSTANTIATE_TEST_SUITE_P(Table, PrefsScenario, testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

int registered[kTestCount + 1];
int FakeProc(Station& station, int test) {
    if (test < 0) {
        registered[-test] = 1;
        station.tests.names[-test] = "Test " + std::to_string(-test);
        return -test * 10;
    }
    return 0;
}

TEST_F(PrefsFiles, LoadRegistersEveryTestWithItsDefaultCount) {
    UseFakeClock(kJune15);
    station.tests.procs.fill(FakeProc);
    LoadPrefs(station);
    for (int t = 1; t <= kTestCount; ++t) {
        EXPECT_EQ(registered[t], 1);
        EXPECT_EQ(station.tests.cycles[t], t * 10);
        EXPECT_EQ(station.tests.names[t], "Test " + std::to_string(t));
    }
}

TEST_F(PrefsFiles, LogLinesReachTheFileAtOnce) {
    UseFakeClock(kJune15);
    LoadPrefs(station);
    std::string name;
    std::FILE* log = OpenTestLog(identity, &name);
    ASSERT_NE(log, nullptr);
    std::fprintf(log, "F1 JAMMED OPEN in cycle 1 at ");
    EXPECT_EQ(ReadFile(name), "F1 JAMMED OPEN in cycle 1 at ");
    std::fclose(log);
}

TEST_F(PrefsFiles, LogThatCannotBeOpenedGivesNull) {
    UseFakeClock(kJune15);
    LoadPrefs(station);
    std::filesystem::create_directory("HND000--990615_1.txt");  // a directory in the way
    std::string name;
    EXPECT_EQ(OpenTestLog(identity, &name), nullptr);
    EXPECT_EQ(name, "HND000--990615_1.txt");
}

TEST_F(PrefsFiles, UnusablePrefsFileIsReportedAndLeftAlone) {
    UseFakeClock(kJune15);
    LoadPrefs(station);
    EXPECT_EQ(PrefsProblem(), "");
    std::filesystem::remove("Prefs.dat");
    std::filesystem::create_directory("Prefs.dat");
    identity.serialNumber = "OLD";
    LoadPrefs(station);
    EXPECT_NE(PrefsProblem(), "");
    EXPECT_EQ(identity.serialNumber, "HND000");
    EXPECT_TRUE(std::filesystem::is_directory("Prefs.dat"));
}

TEST_F(PrefsFiles, FailedRewriteLeavesFileIntactAndValueInMemory) {
    UseFakeClock(kJune15);
    LoadPrefs(station);
    std::filesystem::create_directory("Prefs.dat.tmp");  // the temporary cannot be written
    EXPECT_FALSE(SavePrefs(identity, 1, "NEW1"));
    EXPECT_EQ(identity.serialNumber, "NEW1");
    EXPECT_EQ(ReadFile("Prefs.dat"), "HND000\n--\n990615\n");
}

}  // namespace
