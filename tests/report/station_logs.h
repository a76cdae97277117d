// Text logs written as the station writes them: each test's section with
// the station's own formats (banner, fault lines, tables, summaries), so the
// import can be tested against logs of every test and every ending.
#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace station_logs {

// The station's time text with its line end ("Thu Dec 10 09:53:12 2026\n").
std::string TimeText(std::time_t when);

struct LoggedFault {
    std::string motor;  // "F1".."F3" or "Spread"
    std::string kind;   // "JAMMED OPEN", ...
    int cycle = 0;
    std::time_t at = 0;
};
std::string FaultLine(const LoggedFault& fault);

std::string Banner(const std::string& title, int cycles, std::time_t at);

// The hand stopped the run: "LINK TO HAND LOST" or "HAND NOT RESPONDING".
// Each test below given one writes the line of the stop where the station
// does, followed by the section's summary as the station writes it then.
struct HandStop {
    std::string words;
    int cycle = 1;
    std::time_t at = 0;
};
// "\n<words> in cycle <n> at <time text>".
std::string StopLine(const HandStop& stop);

std::string FingerMovement(int cycles, std::time_t at, std::optional<int> failedMotor = {},
                           const std::optional<HandStop>& stop = {});
std::string CableTension(int cycles, std::time_t at, const std::optional<HandStop>& stop = {});
std::string StrainGages(int cycles, std::time_t at, const std::array<std::array<int, 6>, 3>& table,
                        const std::optional<HandStop>& stop = {});
std::string VibrationGrasp(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                           std::optional<int> abortedIn, const std::array<int, 3>& drift,
                           const std::optional<HandStop>& stop = {});
// "Multi-Axis" or "After Freezer" as the banner spells it.
std::string MultiAxis(const std::string& title, int cycles, std::time_t at,
                      const std::vector<LoggedFault>& faults, std::optional<int> abortedIn,
                      int maxTemperature, const std::optional<HandStop>& stop = {});
std::string EncoderSlipGrasp(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                             std::optional<int> abortedIn, const std::array<int, 3>& init,
                             const std::array<int, 3>& final,
                             const std::optional<HandStop>& stop = {});
// With a stop there is no breakaway check.
std::string EncoderSlipSpread(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                              int init, int final, const std::vector<LoggedFault>& breakaway,
                              const std::optional<HandStop>& stop = {});

struct FingerprintFigures {
    int minimumVelocity = 23;
    std::array<std::array<long, 6>, 4> encoder{};           // M1..M4: MinClse .. MaxOpen
    std::vector<std::string> failures;                      // "F2 failed to fully close at V=20"
    std::array<std::array<unsigned, 8>, 3> milliseconds{};  // F1..F3, the eight trials
    // A stop ends the run in the section `stoppedIn` (1..3), which then holds
    // the line of the stop instead of its figures (after the failures in the
    // third); the later sections are not written.
    std::optional<HandStop> stop;
    int stoppedIn = 3;
};
std::string Fingerprint(std::time_t at, const FingerprintFigures& figures);

struct ParameterLine {
    std::string name;
    int motor = 0;  // 0: "not found in hand", -1: "has no values in hand"
    int value = 0;
    int expected = 0;
    std::string answer;  // " -Fixed.\n", " -Can not fix!\n", " -User chose not to fix\n"
};
// `badRecord`: the defaults file's line that the pass reported as bad.
std::string ParameterCheck(int cycles, std::time_t at, const std::vector<ParameterLine>& lines,
                           int errors, std::optional<int> badRecord = {},
                           const std::optional<HandStop>& stop = {});
std::string ParameterCheckWithoutDefaults(int cycles, std::time_t at);

}  // namespace station_logs
