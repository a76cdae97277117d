// The import parser against logs in the station's formats: every test's
// section, its endings (complete, faults, abort, failure), and the files it
// must refuse with the line that is wrong.
#include "log_parser.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <variant>

#include "local_zone.h"
#include "station_logs.h"

namespace {

using namespace report;
using station_logs::HandStop;
using station_logs::LoggedFault;

const std::time_t kT0 = Utc(2026, 12, 10, 8, 53, 12);  // 09:53:12 in the test's zone
const LogSource kSource{"HND123AB261210_1.txt", "HND123", "AB"};

struct M {
    std::string name;
    double value;
    std::optional<std::string> unit;
    std::optional<int> cycle = {};
};
struct E {
    std::string kind;
    std::optional<std::string> motor;
    std::optional<int> cycle;
};

struct Case {
    const char* label;
    std::string log;
    std::string test;
    int planned;
    int done;
    std::string outcome;
    int errors;
    std::vector<M> someMeasurements;  // checked by name among the run's measurements
    std::size_t measurementCount;
    std::vector<E> events;  // all of them, in order
};

std::vector<Case> Cases() {
    const std::vector<LoggedFault> two = {{"F2", "NO BREAKAWAY", 3, kT0 + 30},
                                          {"Spread", "DID NOT FULLY OPEN", 4, kT0 + 40}};
    station_logs::FingerprintFigures fp;
    for (int m = 0; m < 4; ++m) fp.encoder[m] = {15990L + m, 16000, 16012, 40, 50, 61};
    for (int f = 0; f < 3; ++f)
        for (int t = 0; t < 8; ++t)
            fp.milliseconds[f][t] = 101u + 100u * static_cast<unsigned>(t) + f;
    station_logs::FingerprintFigures fpFailing = fp;
    fpFailing.failures = {"F2 failed to fully close at V=20", "F3 failed to fully open at V=100"};
    // The hand stops the Fingerprint in each of its three measurements.
    station_logs::FingerprintFigures fpStopped[3] = {fp, fp, fpFailing};
    for (int section = 1; section <= 3; ++section) {
        fpStopped[section - 1].stoppedIn = section;
        fpStopped[section - 1].stop = HandStop{
            section == 2 ? "HAND NOT RESPONDING" : "LINK TO HAND LOST", 1, kT0 + 60 * section - 30};
    }
    fpStopped[2].failures.pop_back();
    const std::array<std::array<int, 6>, 3> someReadings = {
        {{10, 250, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}};
    return {
        {"Finger Movement passed",
         station_logs::FingerMovement(2, kT0),
         "Finger Movement",
         2,
         2,
         "pass",
         0,
         {},
         0,
         {}},
        {"Finger Movement failed",
         station_logs::FingerMovement(2, kT0, 4),
         "Finger Movement",
         2,
         0,
         "fail",
         1,
         {},
         0,
         {{"NOT FUNCTIONING PROPERLY", "Spread", std::nullopt}}},
        {"Cable Tension",
         station_logs::CableTension(1, kT0),
         "Cable Tension/BreakAway",
         1,
         1,
         "pass",
         0,
         {},
         0,
         {}},
        // Whatever its count, the session is one run of one cycle.
        {"Cable Tension with a count of 3",
         station_logs::CableTension(3, kT0),
         "Cable Tension/BreakAway",
         1,
         1,
         "pass",
         0,
         {},
         0,
         {}},
        {"Strain Gages",
         station_logs::StrainGages(
             1, kT0, {{{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {0, 0, 200, 0, 0, 255}}}),
         "Strain Gages",
         1,
         1,
         "pass",
         0,
         {{"F1 0g", 1, {}}, {"F2 500g", 9, {}}, {"F3 2000g", 255, {}}},
         18,
         {}},
        {"Vibration Grasp with faults",
         station_logs::VibrationGrasp(500, kT0, {{"F1", "JAMMED CLOSE", 12, kT0 + 5}}, {},
                                      {30, -31, 0}),
         "Vibration Grasp",
         500,
         500,
         "fail",
         1,
         {{"F1 gage drift", 30, {}}, {"F2 gage drift", -31, {}}},
         3,
         {{"JAMMED CLOSE", "F1", 12}}},
        {"Vibration Grasp aborted",
         station_logs::VibrationGrasp(500, kT0, {}, 5, {0, 0, 0}),
         "Vibration Grasp",
         500,
         5,
         "aborted",
         0,
         {{"F3 gage drift", 0, {}}},
         3,
         {}},
        {"Multi-Axis with faults",
         station_logs::MultiAxis("Multi-Axis", 1500, kT0, two, {}, 41),
         "Multi-Axis",
         1500,
         1500,
         "fail",
         2,
         {{"Maximum temperature", 41, "C"}},
         1,
         {{"NO BREAKAWAY", "F2", 3}, {"DID NOT FULLY OPEN", "Spread", 4}}},
        {"Multi-Axis aborted",
         station_logs::MultiAxis("Multi-Axis", 1500, kT0, two, 3, 0),
         "Multi-Axis",
         1500,
         3,
         "aborted",
         2,
         {{"Maximum temperature", 0, "C"}},
         1,
         {{"NO BREAKAWAY", "F2", 3}, {"DID NOT FULLY OPEN", "Spread", 4}}},
        {"After-Freezer clean",
         station_logs::MultiAxis("After Freezer", 500, kT0, {}, {}, 38),
         "After-Freezer",
         500,
         500,
         "pass",
         0,
         {{"Maximum temperature", 38, "C"}},
         1,
         {}},
        {"Encoder slip - Grasp complete",
         station_logs::EncoderSlipGrasp(20, kT0, {{"F3", "NO POSITION READING", 7, kT0 + 9}}, {},
                                        {16000, 16001, 16002}, {15990, 15991, 15992}),
         "Encoder slip - Grasp",
         20,
         20,
         "fail",
         1,
         {{"M1 Init", 16000, "counts"}, {"M3 Final", 15992, "counts"}},
         6,
         {{"NO POSITION READING", "F3", 7}}},
        {"Encoder slip - Grasp aborted",
         station_logs::EncoderSlipGrasp(20, kT0, {}, 4, {1, 2, 3}, {4, 5, 6}),
         "Encoder slip - Grasp",
         20,
         4,
         "aborted",
         0,
         {{"M2 Final", 5, "counts"}},
         6,
         {}},
        {"Encoder slip - Spread with breakaway faults",
         station_logs::EncoderSlipSpread(20, kT0, {{"Spread", "DID NOT FULLY CLOSE", 2, kT0 + 3}},
                                         3050, 3049, {{"F2", "PREMATURE BREAKAWAY", 25, kT0 + 60}}),
         "Encoder slip - Spread",
         20,
         20,
         "fail",
         2,
         {{"M4 Init", 3050, "counts"}, {"M4 Final", 3049, "counts"}},
         2,
         {{"DID NOT FULLY CLOSE", "Spread", 2}, {"PREMATURE BREAKAWAY", "F2", 25}}},
        {"Fingerprint",
         station_logs::Fingerprint(kT0, fp),
         "Fingerprint",
         1,
         1,
         "pass",
         0,
         {{"Minimum velocity", 23, {}},
          {"M2 MinClse", 15991, "counts"},
          {"M4 MaxOpen", 61, "counts"},
          {"F1 Clse20", 0.101, "s"},
          {"F3 Open100", 0.803, "s"}},
         1 + 24 + 24,
         {}},
        {"Fingerprint with failed trials",
         station_logs::Fingerprint(kT0, fpFailing),
         "Fingerprint",
         1,
         1,
         "fail",
         2,
         {{"F2 Open20", 0.202, "s"}},
         1 + 24 + 24,
         {{"failed to fully close", "F2", std::nullopt},
          {"failed to fully open", "F3", std::nullopt}}},
        {"Parameter Check",
         station_logs::ParameterCheck(1, kT0,
                                      {{"MCV", 2, 40, 65, " -User chose not to fix\n"},
                                       {"KP", 4, -3, 7, " -Fixed.\n"},
                                       {"ZZ", 0, 0, 0, ""},
                                       {"A'B", 1, 1, 2, " -Can not fix!\n"},
                                       {"HOLD", -1, 0, 0, ""}},
                                      4, 7),
         "Parameter Check",
         1,
         1,
         "fail",
         4,
         {{"M2 MCV", 40, {}, 1}, {"M4 KP", -3, {}, 1}},
         3,
         {{"User chose not to fix", "F2", 1},
          {"Fixed", "Spread", 1},
          {"not found in hand", std::nullopt, 1},
          {"Can not fix", "F1", 1},
          {"has no values in hand", std::nullopt, 1},
          {"bad record", std::nullopt, 1}}},
        {"Parameter Check in two passes",
         station_logs::ParameterCheck(2, kT0,
                                      {{"MCV", 2, 40, 65, " -User chose not to fix\n"},
                                       {"MCV", 2, 40, 65, " -User chose not to fix\n"}},
                                      1),
         "Parameter Check",
         2,
         2,
         "fail",
         1,
         {{"M2 MCV", 40, {}, std::nullopt}},
         2,
         {{"User chose not to fix", "F2", std::nullopt},
          {"User chose not to fix", "F2", std::nullopt}}},
        {"Parameter Check without its defaults file",
         station_logs::ParameterCheckWithoutDefaults(1, kT0),
         "Parameter Check",
         1,
         0,
         "error",
         0,
         {},
         0,
         {{"Could not open preferences file", std::nullopt, 1}}},
        // The hand stopped the run: the line of the stop, then the test's
        // summary as far as it goes; done are the cycles before the stop's.
        {"Multi-Axis stopped by a lost link",
         station_logs::MultiAxis("Multi-Axis", 1500, kT0, two, {}, 41,
                                 HandStop{"LINK TO HAND LOST", 5, kT0 + 50}),
         "Multi-Axis",
         1500,
         4,
         "error",
         2,
         {{"Maximum temperature", 41, "C"}},
         1,
         {{"NO BREAKAWAY", "F2", 3},
          {"DID NOT FULLY OPEN", "Spread", 4},
          {"LINK TO HAND LOST", std::nullopt, 5}}},
        {"After-Freezer stopped before its first cycle",
         station_logs::MultiAxis("After Freezer", 500, kT0, {}, {}, 0,
                                 HandStop{"HAND NOT RESPONDING", 1, kT0}),
         "After-Freezer",
         500,
         0,
         "error",
         0,
         {{"Maximum temperature", 0, "C"}},
         1,
         {{"HAND NOT RESPONDING", std::nullopt, 1}}},
        {"Vibration Grasp stopped by a silent hand",
         station_logs::VibrationGrasp(500, kT0, {{"F1", "NO POSITION READING", 2, kT0 + 5}}, {},
                                      {3, 0, -2}, HandStop{"HAND NOT RESPONDING", 2, kT0 + 7}),
         "Vibration Grasp",
         500,
         1,
         "error",
         1,
         {{"F1 gage drift", 3, {}}, {"F3 gage drift", -2, {}}},
         3,
         {{"NO POSITION READING", "F1", 2}, {"HAND NOT RESPONDING", std::nullopt, 2}}},
        // The final positions were not read: the zeros are no measurements.
        {"Encoder slip - Grasp stopped",
         station_logs::EncoderSlipGrasp(20, kT0, {}, {}, {16000, 16001, 16002}, {0, 0, 0},
                                        HandStop{"LINK TO HAND LOST", 3, kT0 + 4}),
         "Encoder slip - Grasp",
         20,
         2,
         "error",
         0,
         {{"M1 Init", 16000, "counts"}, {"M3 Init", 16002, "counts"}},
         3,
         {{"LINK TO HAND LOST", std::nullopt, 3}}},
        {"Encoder slip - Spread stopped",
         station_logs::EncoderSlipSpread(20, kT0, {{"Spread", "DID NOT FULLY CLOSE", 2, kT0 + 3}},
                                         3050, 0, {}, HandStop{"HAND NOT RESPONDING", 3, kT0 + 6}),
         "Encoder slip - Spread",
         20,
         2,
         "error",
         1,
         {{"M4 Init", 3050, "counts"}},
         1,
         {{"DID NOT FULLY CLOSE", "Spread", 2}, {"HAND NOT RESPONDING", std::nullopt, 3}}},
        {"Finger Movement stopped",
         station_logs::FingerMovement(2, kT0, {}, HandStop{"LINK TO HAND LOST", 2, kT0 + 20}),
         "Finger Movement",
         2,
         1,
         "error",
         0,
         {},
         0,
         {{"LINK TO HAND LOST", std::nullopt, 2}}},
        {"Parameter Check stopped in its second pass",
         station_logs::ParameterCheck(2, kT0, {{"MCV", 2, 40, 65, " -User chose not to fix\n"}}, 0,
                                      {}, HandStop{"HAND NOT RESPONDING", 2, kT0 + 9}),
         "Parameter Check",
         2,
         1,
         "error",
         0,
         {{"M2 MCV", 40, {}, std::nullopt}},
         1,
         {{"User chose not to fix", "F2", std::nullopt}, {"HAND NOT RESPONDING", std::nullopt, 2}}},
        {"Strain Gages stopped: the readings accepted so far",
         station_logs::StrainGages(1, kT0, someReadings, HandStop{"LINK TO HAND LOST", 1, kT0}),
         "Strain Gages",
         1,
         0,
         "error",
         0,
         {{"F1 250g", 250, {}}, {"F3 2000g", 0, {}}},
         18,
         {{"LINK TO HAND LOST", std::nullopt, 1}}},
        {"Strain Gages stopped in its second cycle",
         station_logs::StrainGages(3, kT0, someReadings,
                                   HandStop{"HAND NOT RESPONDING", 2, kT0 + 40}),
         "Strain Gages",
         3,
         1,
         "error",
         0,
         {{"F1 0g", 10, {}}},
         18,
         {{"HAND NOT RESPONDING", std::nullopt, 2}}},
        {"Cable Tension stopped",
         station_logs::CableTension(4, kT0, HandStop{"HAND NOT RESPONDING", 1, kT0 + 12}),
         "Cable Tension/BreakAway",
         1,
         0,
         "error",
         0,
         {},
         0,
         {{"HAND NOT RESPONDING", std::nullopt, 1}}},
        {"Fingerprint stopped in its spread velocity search",
         station_logs::Fingerprint(kT0, fpStopped[0]),
         "Fingerprint",
         1,
         0,
         "error",
         0,
         {},
         0,
         {{"LINK TO HAND LOST", std::nullopt, 1}}},
        {"Fingerprint stopped in its encoder samples",
         station_logs::Fingerprint(kT0, fpStopped[1]),
         "Fingerprint",
         1,
         0,
         "error",
         0,
         {{"Minimum velocity", 23, {}}},
         1,
         {{"HAND NOT RESPONDING", std::nullopt, 1}}},
        {"Fingerprint stopped in its speed trials, after a failed one",
         station_logs::Fingerprint(kT0, fpStopped[2]),
         "Fingerprint",
         1,
         0,
         "error",
         1,
         {{"Minimum velocity", 23, {}}, {"M4 MaxOpen", 61, "counts"}},
         1 + 24,
         {{"failed to fully close", "F2", std::nullopt}, {"LINK TO HAND LOST", std::nullopt, 1}}},
    };
}

class LogParserTest : public LocalZone {};

TEST_F(LogParserTest, EachTestsSectionBecomesOneRun) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.label);
        const ParsedLog parsed = ParseLog(c.log, kSource);
        ASSERT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
        ASSERT_EQ(parsed.runs.size(), 1u);
        const ImportedRun& run = parsed.runs[0];
        EXPECT_EQ(run.start.test, c.test);
        EXPECT_EQ(run.start.serial, "HND123");
        EXPECT_EQ(run.start.operatorInitials, "AB");
        EXPECT_EQ(run.start.station, "imported");
        EXPECT_EQ(run.start.logFile, "HND123AB261210_1.txt");
        EXPECT_EQ(run.start.started, "2026-12-10T08:53:12.000Z");
        EXPECT_EQ(run.start.cyclesPlanned, c.planned);
        EXPECT_EQ(run.end.cyclesDone, c.done);
        EXPECT_EQ(run.end.outcome, c.outcome);
        EXPECT_EQ(run.end.errors, c.errors);

        std::vector<results::Measurement> measurements;
        std::vector<results::Event> events;
        int seq = 0;
        for (const results::Entry& fact : run.facts) {
            EXPECT_EQ(results::RunOf(fact), run.start.uuid);
            if (const auto* m = std::get_if<results::Measurement>(&fact)) {
                EXPECT_EQ(m->seq, ++seq);
                measurements.push_back(*m);
            } else if (const auto* e = std::get_if<results::Event>(&fact)) {
                EXPECT_EQ(e->seq, ++seq);
                events.push_back(*e);
            }
        }
        EXPECT_EQ(measurements.size(), c.measurementCount);
        for (const M& want : c.someMeasurements) {
            const auto it =
                std::find_if(measurements.begin(), measurements.end(),
                             [&](const results::Measurement& m) { return m.name == want.name; });
            ASSERT_NE(it, measurements.end()) << want.name;
            EXPECT_DOUBLE_EQ(it->value, want.value) << want.name;
            EXPECT_EQ(it->unit, want.unit) << want.name;
            EXPECT_EQ(it->cycle, want.cycle) << want.name;
        }
        ASSERT_EQ(events.size(), c.events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].kind, c.events[i].kind);
            EXPECT_EQ(events[i].motor, c.events[i].motor);
            EXPECT_EQ(events[i].cycle, c.events[i].cycle);
        }
    }
}

// The last event of a log, its time the run's end.
struct TimedLine {
    const char* label;
    std::string log;
    std::string text;
    std::optional<std::string> motor;
};

TEST_F(LogParserTest, FaultAndStopLinesKeepTheirTimeAndTextAndEndTheRun) {
    const LoggedFault jam{"F1", "JAMMED OPEN", 9, kT0 + 125};
    const HandStop lost{"LINK TO HAND LOST", 9, kT0 + 125};
    const HandStop silent{"HAND NOT RESPONDING", 1, kT0 + 125};
    const std::vector<TimedLine> cases = {
        {"a fault line", station_logs::MultiAxis("Multi-Axis", 10, kT0, {jam}, {}, 40),
         "F1 JAMMED OPEN in cycle 9 at Thu Dec 10 09:55:17 2026", "F1"},
        // The station keeps the stop's line without the line ends around it.
        {"a lost link",
         station_logs::MultiAxis("Multi-Axis", 10, kT0, {{"F1", "JAMMED OPEN", 2, kT0}}, {}, 40,
                                 lost),
         "LINK TO HAND LOST in cycle 9 at Thu Dec 10 09:55:17 2026", std::nullopt},
        {"a silent hand", station_logs::CableTension(1, kT0, silent),
         "HAND NOT RESPONDING in cycle 1 at Thu Dec 10 09:55:17 2026", std::nullopt},
    };
    for (const TimedLine& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedLog parsed = ParseLog(c.log, kSource);
        ASSERT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
        const results::Event* event = nullptr;
        for (const results::Entry& fact : parsed.runs[0].facts)
            if (const auto* e = std::get_if<results::Event>(&fact)) event = e;
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->at, "2026-12-10T08:55:17.000Z");
        EXPECT_EQ(event->text, c.text);
        EXPECT_EQ(event->motor, c.motor);
        EXPECT_EQ(parsed.runs[0].end.ended, "2026-12-10T08:55:17.000Z");
    }
}

TEST_F(LogParserTest, ParameterDifferencesAreMeasurementsAgainstTheExpectedValue) {
    const std::string log =
        station_logs::ParameterCheck(1, kT0, {{"MCV", 3, 40, 65, " -Fixed.\n"}}, 0);
    const ParsedLog parsed = ParseLog(log, kSource);
    ASSERT_FALSE(parsed.error);
    const auto& m = std::get<results::Measurement>(parsed.runs[0].facts[0]);
    EXPECT_EQ(m.name, "M3 MCV");
    EXPECT_EQ(m.low, 65);
    EXPECT_EQ(m.high, 65);
    EXPECT_EQ(m.outcome, "fail");
    EXPECT_EQ(std::get<results::Event>(parsed.runs[0].facts[1]).text,
              "The MCV parameter for M3 is 40, but should be 65. -Fixed.");
}

TEST_F(LogParserTest, AProgramRunsLogHoldsItsTestsInOrder) {
    std::string log;
    for (const Case& c : Cases()) log += c.log;
    const ParsedLog parsed = ParseLog(log, kSource);
    ASSERT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
    const std::vector<Case> cases = Cases();
    ASSERT_EQ(parsed.runs.size(), cases.size());
    std::set<std::string> uuids;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(parsed.runs[i].start.test, cases[i].test);
        EXPECT_EQ(parsed.runs[i].end.outcome, cases[i].outcome);
        uuids.insert(parsed.runs[i].start.uuid);
    }
    EXPECT_EQ(uuids.size(), cases.size());
}

TEST_F(LogParserTest, WindowsLineEndsReadTheSame) {
    std::string log;
    for (const Case& c : Cases()) log += c.log;
    std::string crlf;
    for (char ch : log) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    const ParsedLog unix = ParseLog(log, kSource);
    const ParsedLog dos = ParseLog(crlf, kSource);
    ASSERT_FALSE(dos.error) << dos.error->line << ": " << dos.error->message;
    ASSERT_EQ(dos.runs.size(), unix.runs.size());
    for (std::size_t i = 0; i < dos.runs.size(); ++i) {
        const results::RunEnd& d = dos.runs[i].end;
        const results::RunEnd& u = unix.runs[i].end;
        EXPECT_EQ(std::tie(d.outcome, d.cyclesDone, d.errors, d.ended),
                  std::tie(u.outcome, u.cyclesDone, u.errors, u.ended));
        EXPECT_EQ(dos.runs[i].start.started, unix.runs[i].start.started);
        ASSERT_EQ(dos.runs[i].facts.size(), unix.runs[i].facts.size());
        for (std::size_t f = 0; f < dos.runs[i].facts.size(); ++f) {
            // Only the run's uuid differs: it is made of the file's bytes.
            std::string a = results::ToJson(dos.runs[i].facts[f]);
            std::string b = results::ToJson(unix.runs[i].facts[f]);
            a.replace(a.find(dos.runs[i].start.uuid), 36, "");
            b.replace(b.find(unix.runs[i].start.uuid), 36, "");
            EXPECT_EQ(a, b);
        }
    }
}

TEST_F(LogParserTest, RunUuidsDependOnTheFileAndTheSectionOnly) {
    const std::string first = station_logs::MultiAxis("Multi-Axis", 10, kT0, {}, {}, 40);
    const std::string second = station_logs::CableTension(1, kT0 + 600);
    const ParsedLog once = ParseLog(first, kSource);
    const ParsedLog again = ParseLog(first, kSource);
    const ParsedLog grown = ParseLog(first + second, kSource);
    ASSERT_FALSE(once.error);
    ASSERT_FALSE(grown.error);
    EXPECT_EQ(once.runs[0].start.uuid, again.runs[0].start.uuid);
    // A log that grew by a later test keeps the earlier run's uuid.
    EXPECT_EQ(grown.runs[0].start.uuid, once.runs[0].start.uuid);
    EXPECT_NE(grown.runs[1].start.uuid, once.runs[0].start.uuid);
    LogSource otherFile = kSource;
    otherFile.fileName = "HND123AB261210_2.txt";
    EXPECT_NE(ParseLog(first, otherFile).runs[0].start.uuid, once.runs[0].start.uuid);
    const std::string otherTemperature = station_logs::MultiAxis("Multi-Axis", 10, kT0, {}, {}, 41);
    EXPECT_NE(ParseLog(otherTemperature, kSource).runs[0].start.uuid, once.runs[0].start.uuid);
}

struct Refused {
    const char* label;
    std::string log;
    int line;
    const char* words;  // part of the message
};

TEST_F(LogParserTest, FilesThatAreNotWholeLogsAreRefusedWithTheirLine) {
    const std::string multiAxis = station_logs::MultiAxis("Multi-Axis", 10, kT0, {}, {}, 40);
    const std::string cable = station_logs::CableTension(1, kT0);
    station_logs::FingerprintFigures fp;
    const std::string fingerprint = station_logs::Fingerprint(kT0, fp);
    const std::string firstFingerprintSection =
        fingerprint.substr(0, fingerprint.find("\n\n\n*****") + 1);
    const HandStop stop{"LINK TO HAND LOST", 3, kT0};
    const std::string stopped = station_logs::MultiAxis("Multi-Axis", 10, kT0, {}, {}, 40, stop);
    const HandStop stopInCycle1{"LINK TO HAND LOST", 1, kT0};
    const std::string velocityLine = "\nMinimum velocity for sucessful vertical close = 23\n";
    std::string fingerprintGoingOn = fingerprint;
    fingerprintGoingOn.replace(fingerprint.find(velocityLine), velocityLine.size(),
                               station_logs::StopLine(stopInCycle1));
    const std::string cableStopped =
        station_logs::CableTension(1, kT0, HandStop{"HAND NOT RESPONDING", 1, kT0});
    const std::string strainStopped = station_logs::StrainGages(1, kT0, {}, stopInCycle1);
    const std::vector<Refused> cases = {
        {"empty", "", 1, "no section banner"},
        {"prose", "Dear diary,\ntoday the hand\n", 1, "no section banner"},
        {"text before the first banner", "hello\n" + cable, 1, "before the first section"},
        {"broken off before the summary", multiAxis.substr(0, multiAxis.find("\n\nSUMMARY")), 6,
         "breaks off in the Multi-Axis section begun on line 3"},
        {"broken off before the temperature", multiAxis.substr(0, multiAxis.find("Maximum")), 10,
         "breaks off"},
        {"broken off in the last line", multiAxis.substr(0, multiAxis.size() - 2), 11,
         "middle of its last line"},
        {"broken off in the banner", multiAxis.substr(0, 30), 4,
         "breaks off in the section banner begun on line 3"},
        {"a banner without its time", "\n\n*****\n* Multi-Axis, 10 cycles\n* yesterday\n*****\n", 5,
         "\"* <time>\""},
        {"a weekday that does not fit the date",
         "\n\n*****\n* Cable Tension/BreakAway, 1 cycles\n* Fri Dec 10 09:53:12 "
         "2026\n*****\n\nTEST COMPLETED\n",
         5, "\"* <time>\""},
        {"an unknown test", "\n\n*****\n* Teleport, 3 cycles\n* Thu Dec 10 09:53:12 2026\n*****\n",
         4, "unknown test"},
        {"a section ended by the next one",
         multiAxis.substr(0, multiAxis.find("\n\nSUMMARY")) + cable, 9, "ends before \"SUMMARY:\""},
        {"a stray line", cable.substr(0, cable.size() - 1) + "hello\n", 9,
         "the end of the section"},
        {"a table cell that is no number",
         station_logs::StrainGages(1, kT0, {})
             .replace(station_logs::StrainGages(1, kT0, {}).find("F2\t0"), 4, "F2\tx"),
         9, "under 0g"},
        {"a fault line with a broken time",
         station_logs::MultiAxis("Multi-Axis", 10, kT0, {{"F1", "JAMMED OPEN", 3, kT0}}, {}, 40)
             .replace(station_logs::MultiAxis("Multi-Axis", 10, kT0,
                                              {{"F1", "JAMMED OPEN", 3, kT0}}, {}, 40)
                          .find(" at Thu"),
                      7, " at Thx"),
         7, "\"SUMMARY:\""},
        {"a Fingerprint with one section", firstFingerprintSection, 8,
         "expected its Encoder Accuracy (Encoder counts) section"},
        {"a Fingerprint interrupted by another test", firstFingerprintSection + cable, 12,
         "goes on with \"Cable Tension/BreakAway\""},
        {"a fault line after the stop",
         std::string(stopped).insert(stopped.find("\n\nSUMMARY"),
                                     station_logs::FaultLine({"F1", "JAMMED OPEN", 3, kT0})),
         9, "\"SUMMARY:\""},
        {"a stop after the last cycle",
         station_logs::MultiAxis("Multi-Axis", 2, kT0, {}, {}, 40, stop), 8,
         "a stop in cycle 1 to 2"},
        {"a stop in cycle 0",
         station_logs::CableTension(1, kT0, HandStop{"HAND NOT RESPONDING", 0, kT0}), 8,
         "a stop in cycle 1"},
        {"a stop line with a broken time",
         std::string(stopped).replace(stopped.find(" at Thu"), 7, " at Thx"), 8, "\"SUMMARY:\""},
        {"a stopped session that also completed", cableStopped + "\nTEST COMPLETED\n\n", 10,
         "the end of the section"},
        {"a stopped Strain Gages without its table",
         strainStopped.substr(0, strainStopped.find("\t0g")), 8,
         "breaks off in the Strain Gages section begun on line 3"},
        {"a Fingerprint that goes on after its stop", fingerprintGoingOn, 12,
         "without the Minimum Spread Velocity section"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedLog parsed = ParseLog(c.log, kSource);
        ASSERT_TRUE(parsed.error);
        EXPECT_TRUE(parsed.runs.empty());
        EXPECT_EQ(parsed.error->line, c.line) << parsed.error->message;
        EXPECT_NE(parsed.error->message.find(c.words), std::string::npos) << parsed.error->message;
    }
}

TEST_F(LogParserTest, TheFingerSpeedsTableMayEndTheFileWithoutALineEnd) {
    station_logs::FingerprintFigures fp;
    const std::string log = station_logs::Fingerprint(kT0, fp);
    ASSERT_NE(log.back(), '\n');
    EXPECT_FALSE(ParseLog(log, kSource).error);
    // Cut inside the last row, it is broken off.
    const ParsedLog cut = ParseLog(log.substr(0, log.size() - 4), kSource);
    ASSERT_TRUE(cut.error);
    EXPECT_EQ(cut.error->line, 31);
}

}  // namespace
