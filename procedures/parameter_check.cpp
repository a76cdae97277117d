// Parameter Check (slot 10): every parameter of the defaults file is compared
// with the value the hand holds; each difference is reported and, on the
// technician's word, written into the hand and stored there.
#include <cstdio>
#include <optional>
#include <string>

#include "defaults_file.h"
#include "framework.h"
#include "procedures.h"
#include "record.h"
#include "record_names.h"
#include "test_run.h"

namespace {

constexpr const char* kName = "Parameter Check";
constexpr int kDefaultCycles = 1;

// The technician's word on a difference, as the record keeps it, and the
// line's end in the log.
struct FixOutcome {
    const char* kind;
    const char* text;
    int errors;
};
constexpr FixOutcome kFixed{results::kFixed, " -Fixed.\n", 0};
constexpr FixOutcome kNotFixed{results::kNotFixed, " -User chose not to fix\n", 1};
constexpr FixOutcome kCannotFix{results::kCannotFix, " -Can not fix!\n", 1};

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return text;
}

// Writes a line read from the file or the hand to the log and the screen.
void Report(TestRun& run, const std::string& text) {
    run.log().Write(text);
    run.console().Print(text);
}

// A line that counts an error: to the log as a fault of `kind`, and the screen.
void ReportFault(TestRun& run, int pass, const char* kind, const std::string& text) {
    run.Fault(pass, {}, kind, text);
    run.console().Print(text);
}

// A line that counts no error but is an event of `kind` all the same: to the
// log, the record and the screen.
void ReportEvent(TestRun& run, int pass, const char* kind, const std::string& text) {
    run.log().Fault(pass, {}, kind, text);
    run.console().Print(text);
}

using results::MotorName;

// Offers to fix motor m's value; counts an error when it stays wrong.
void OfferFix(TestRun& run, int pass, const DefaultsRecord& record, int m, int handValue) {
    Console& console = run.console();
    const int expected = record.values[m - 1];
    const std::string difference = Format("The %s parameter for M%d is %d, but should be %d.",
                                          record.name.c_str(), m, handValue, expected);
    run.log().Write(difference);
    run.log().Measure(Format("M%d %s", m, record.name.c_str()), handValue, nullptr, pass, expected,
                      expected);
    console.Printf("%s\n", difference.c_str());
    console.Print("Try to fix (Y/N)? ");
    const int key = FoldUpper(console.GetKey());

    FixOutcome outcome = kFixed;
    // A keyboard that has gone gives no word to change the hand.
    if (key == 'N' || console.InputEnded()) {
        outcome = kNotFixed;
    } else {
        const std::string motor = std::to_string(m);
        run.SetParameter(motor.c_str(), record.name.c_str(), expected);
        run.Command("FSAVE");
        // Starts different from the expected value, so that a reading the
        // hand does not give can never pass as fixed.
        int stored[1] = {expected ^ 1};
        if (!run.Read(motor.c_str(), record.name.c_str(), stored) || stored[0] != expected) {
            outcome = kCannotFix;
        }
    }
    run.AddErrors(outcome.errors);
    std::string line = difference + outcome.text;
    line.pop_back();  // the line end
    run.log().Note(outcome.kind, line, pass, MotorName(m));
    Report(run, outcome.text);
}

void WriteSummary(TestRun& run) {
    run.log().Print("\n\nSUMMARY:\nErrors: %d\n", run.Errors());
}

// Compares one record with the hand's lists.
void CheckRecord(TestRun& run, int pass, const DefaultsRecord& record, const std::string& names,
                 const std::string& values) {
    const std::optional<int> line = FindParameterLine(names, record.name);
    if (!line) {
        ReportEvent(run, pass, results::kNotFoundInHand,
                    "Parameter '" + record.name + "' not found in hand!\n");
        return;
    }
    const auto handValues = ParameterValues(values, *line);
    if (!handValues) {
        ReportFault(run, pass, results::kNoValuesInHand,
                    "Parameter '" + record.name + "' has no values in hand!\n");
        return;
    }
    for (int m = 1; m <= 4; ++m) {
        if ((*handValues)[m - 1] != record.values[m - 1]) {
            OfferFix(run, pass, record, m, (*handValues)[m - 1]);
        }
    }
}

}  // namespace

int ParameterCheckTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaultCycles)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"I am verifying the hand parameters.\n"});
    if (!run.OpenLog()) return 1;
    run.WriteBanner(kName);

    // The summary reports the errors of the last pass only.
    bool namedInstalled = false;
    const auto ending = run.RunCycles(
        [&](int pass) {
            run.ResetErrors();
            std::string values;
            std::string names;
            run.Command("FLISTAV", &values);
            run.Command("FLISTA", &names);
            if (run.HandStopped()) return;  // the cycle loop ends the run
            const DefaultsChoice choice = ChooseDefaultsFile();
            if (choice.installed && !namedInstalled) {
                Report(run, "No Defaults.dat here: using " + choice.path + "\n");
                namedInstalled = true;
            }
            const std::optional<std::string> text = ReadWholeFile(choice.path);
            if (!text) {
                // The station cannot go on without its expected values.
                ReportEvent(run, pass, results::kNoDefaultsFile,
                            "Could not open preferences file!\n");
                run.End(results::kError);
                run.StopCycles();
                return;
            }
            const DefaultsFile defaults = ParseDefaults(*text);
            for (const DefaultsRecord& record : defaults.records) {
                CheckRecord(run, pass, record, names, values);
            }
            if (defaults.badLine > 0) {
                ReportFault(run, pass, results::kBadRecord,
                            Format("Defaults.dat: bad record at line %d\n", defaults.badLine));
            }
        },
        [&] { WriteSummary(run); }, {.status = false, .commands = false});
    if (ending != TestRun::Ending::Completed) return 1;

    WriteSummary(run);
    run.CompleteWithCountdown();
    return 0;
}
