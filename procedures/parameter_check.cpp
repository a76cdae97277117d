// Parameter Check (slot 10): every parameter of the defaults file is compared
// with the value the hand holds; each difference is reported and, on the
// technician's word, written into the hand and stored there.
#include <cstdio>
#include <optional>
#include <string>

#include "console.h"
#include "defaults_file.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

constexpr const char* kName = "Parameter Check";
constexpr int kDefaultCycles = 1;
constexpr const char* kDefaultsFile = "Defaults.dat";

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
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
void Report(std::FILE* log, const std::string& text) {
    std::fputs(text.c_str(), log);
    std::fputs(text.c_str(), stdout);
}

// Offers to fix motor m's value; returns the error it counts (0 or 1).
int OfferFix(const DefaultsRecord& record, int m, int handValue, std::FILE* log) {
    const int expected = record.values[m - 1];
    const std::string difference = Format("The %s parameter for M%d is %d, but should be %d.",
                                          record.name.c_str(), m, handValue, expected);
    std::fputs(difference.c_str(), log);
    std::printf("%s\n", difference.c_str());
    std::printf("Try to fix (Y/N)? ");
    const int key = FoldUpper(GetKey());

    const char* outcome = " -Fixed.\n";
    int error = 0;
    // A keyboard that has gone gives no word to change the hand.
    if (key == 'N' || InputEnded()) {
        outcome = " -User chose not to fix\n";
        error = 1;
    } else {
        const std::string motor = std::to_string(m);
        hand.SetParameter(motor.c_str(), record.name.c_str(), expected);
        hand.Command("FSAVE");
        // Starts different from the expected value, so that a reading the
        // hand does not give can never pass as fixed.
        int stored[1] = {expected ^ 1};
        if (!ReadHandValues(motor.c_str(), record.name.c_str(), stored) || stored[0] != expected) {
            outcome = " -Can not fix!\n";
            error = 1;
        }
    }
    Report(log, outcome);
    return error;
}

// Compares one record with the hand's lists; returns the errors it counts.
int CheckRecord(const DefaultsRecord& record, const std::string& names, const std::string& values,
                std::FILE* log) {
    const std::optional<int> line = FindParameterLine(names, record.name);
    if (!line) {
        Report(log, "Parameter '" + record.name + "' not found in hand!\n");
        return 0;
    }
    const auto handValues = ParameterValues(values, *line);
    if (!handValues) {
        Report(log, "Parameter '" + record.name + "' has no values in hand!\n");
        return 1;
    }
    int errors = 0;
    for (int m = 1; m <= 4; ++m) {
        if ((*handValues)[m - 1] != record.values[m - 1]) {
            errors += OfferFix(record, m, (*handValues)[m - 1], log);
        }
    }
    return errors;
}

}  // namespace

int ParameterCheckTest(int test) {
    if (auto answer = RegistrationAnswer(test, kName, kDefaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("I am verifying the hand parameters.\n");
    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;
    WriteTestBanner(log, kName, testCycles[test]);

    int errors = 0;
    for (int pass = 1; pass <= testCycles[test]; ++pass) {
        errors = 0;
        std::string values;
        std::string names;
        hand.Command("FLISTAV", &values);
        hand.Command("FLISTA", &names);
        const std::optional<std::string> text = ReadWholeFile(kDefaultsFile);
        if (!text) {
            Report(log, "Could not open preferences file!\n");
            std::fclose(log);
            return 1;
        }
        const DefaultsFile defaults = ParseDefaults(*text);
        for (const DefaultsRecord& record : defaults.records) {
            errors += CheckRecord(record, names, values, log);
        }
        if (defaults.badLine > 0) {
            Report(log, Format("Defaults.dat: bad record at line %d\n", defaults.badLine));
            ++errors;
        }
    }

    std::fprintf(log, "\n\nSUMMARY:\nErrors: %d\n", errors);
    std::fclose(log);
    CountdownPrompt(Format("Test completed with %d errors.", errors));
    return 0;
}
