#include "station_logs.h"

#include <cstdarg>
#include <cstdio>

namespace station_logs {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Faults(const std::vector<LoggedFault>& faults) {
    std::string text;
    for (const LoggedFault& f : faults) text += FaultLine(f);
    return text;
}

std::string Summary(int errors) {
    return Format("\n\nSUMMARY:\nErrors: %d\n", errors);
}

std::string Aborted(int cycle, int cycles) {
    return Format("\n\n%s", Format("Test aborted in cycle %d of %d.", cycle, cycles).c_str());
}

int CountOf(const std::vector<LoggedFault>& faults) {
    return static_cast<int>(faults.size());
}

}  // namespace

std::string TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y\n", &local);
    return text;
}

std::string FaultLine(const LoggedFault& f) {
    const std::string time = TimeText(f.at);
    if (f.motor == "Spread")
        return Format("Spread %s in cycle %d at %s", f.kind.c_str(), f.cycle, time.c_str());
    return Format("F%d %s in cycle %d at %s", f.motor[1] - '0', f.kind.c_str(), f.cycle,
                  time.c_str());
}

std::string Banner(const std::string& title, int cycles, std::time_t at) {
    return Format("\n\n*****\n* %s, %d cycles\n* %s*****\n", title.c_str(), cycles,
                  TimeText(at).c_str());
}

std::string StopLine(const HandStop& stop) {
    return Format("\n%s in cycle %d at %s", stop.words.c_str(), stop.cycle,
                  TimeText(stop.at).c_str());
}

std::string FingerMovement(int cycles, std::time_t at, std::optional<int> failedMotor,
                           const std::optional<HandStop>& stop) {
    std::string text = Format("\n\n*****\n* Finger Movement, %d cycles\n* %s*****\n", cycles,
                              TimeText(at).c_str());
    if (stop) return text + StopLine(*stop);
    const std::string message =
        failedMotor ? Format("TEST FAILED: M%d IS NOT FUNCTIONING PROPERLY!", *failedMotor)
                    : std::string("TEST COMPLETED SUCCESSFULLY");
    return text + Format("\n%s\n\n", message.c_str());
}

std::string CableTension(int cycles, std::time_t at, const std::optional<HandStop>& stop) {
    return Format("\n\n*****\n* Cable Tension/BreakAway, %d cycles\n* %s*****\n", cycles,
                  TimeText(at).c_str()) +
           (stop ? StopLine(*stop) : "\nTEST COMPLETED\n\n");
}

std::string StrainGages(int cycles, std::time_t at, const std::array<std::array<int, 6>, 3>& table,
                        const std::optional<HandStop>& stop) {
    std::string text =
        Format("\n\n*****\n* Strain Gages, %d cycles\n* %s*****\n", cycles, TimeText(at).c_str());
    if (stop) text += StopLine(*stop);
    text += "\t0g\t250g\t500g\t1000g\t1500g\t2000g";
    for (int i = 1; i <= 3; ++i) {
        text += Format("\nF%d", i);
        for (int cell : table[i - 1]) text += Format("\t%d", cell);
    }
    return text + "\n\n";
}

std::string VibrationGrasp(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                           std::optional<int> abortedIn, const std::array<int, 3>& drift,
                           const std::optional<HandStop>& stop) {
    std::string text = Format("\n\n*****\n* Vibration Grasp, %d cycles\n* %s*****\n", cycles,
                              TimeText(at).c_str());
    text += Faults(faults);
    if (abortedIn) text += Aborted(*abortedIn, cycles);
    if (stop) text += StopLine(*stop);
    text += Summary(CountOf(faults));
    text += "\nMax gage drift\n";
    for (int i = 1; i <= 3; ++i) text += Format("F%d: %d\n", i, drift[i - 1]);
    return text;
}

std::string MultiAxis(const std::string& title, int cycles, std::time_t at,
                      const std::vector<LoggedFault>& faults, std::optional<int> abortedIn,
                      int maxTemperature, const std::optional<HandStop>& stop) {
    std::string text = Banner(title, cycles, at) + Faults(faults);
    if (abortedIn) text += Aborted(*abortedIn, cycles);
    if (stop) text += StopLine(*stop);
    text += Summary(CountOf(faults));
    return text + Format("Maximum temperature: %d\n", maxTemperature);
}

std::string EncoderSlipGrasp(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                             std::optional<int> abortedIn, const std::array<int, 3>& init,
                             const std::array<int, 3>& final, const std::optional<HandStop>& stop) {
    std::string text = Format("\n\n*****\n* Encoder slip - Grasp, %d cycles\n* %s*****\n", cycles,
                              TimeText(at).c_str());
    text += Faults(faults);
    if (abortedIn) text += Aborted(*abortedIn, cycles) + Summary(CountOf(faults));
    if (stop) text += StopLine(*stop) + Summary(CountOf(faults));
    text += "\n\tInit\tFinal\n";
    for (int m = 1; m <= 3; ++m) text += Format("M%d\t%d\t%d\n", m, init[m - 1], final[m - 1]);
    return text;
}

std::string EncoderSlipSpread(int cycles, std::time_t at, const std::vector<LoggedFault>& faults,
                              int init, int final, const std::vector<LoggedFault>& breakaway,
                              const std::optional<HandStop>& stop) {
    std::string text = Format("\n\n*****\n* Encoder slip - Spread, %d cycles\n* %s*****\n", cycles,
                              TimeText(at).c_str());
    text += Faults(faults);
    if (stop) text += StopLine(*stop);
    text += "\n\tInit\tFinal\n" + Format("M4\t%d\t%d\n", init, final);
    return stop ? text : text + Faults(breakaway);
}

std::string Fingerprint(std::time_t at, const FingerprintFigures& f) {
    std::string text =
        Format("\n\n*****\n* Minimum Spread Velocity\n* %s*****\n", TimeText(at).c_str());
    if (f.stop && f.stoppedIn == 1) return text + StopLine(*f.stop);
    text += Format("\nMinimum velocity for sucessful vertical close = %d\n", f.minimumVelocity);
    text += Format("\n\n*****\n* Encoder Accuracy (Encoder counts)\n* %s*****\n",
                   TimeText(at + 60).c_str());
    if (f.stop && f.stoppedIn == 2) return text + StopLine(*f.stop);
    text += "\tMinClse\tAvgClse\tMaxClse\tMinOpen\tAvgOpen\tMaxOpen\n";
    for (int m = 1; m <= 4; ++m) {
        const auto& e = f.encoder[m - 1];
        text +=
            Format("M%d\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\n", m, e[0], e[1], e[2], e[3], e[4], e[5]);
    }
    text += Format("\n\n*****\n* Finger Speeds (seconds)\n* %s*****\n", TimeText(at + 120).c_str());
    for (const std::string& failure : f.failures) text += failure + "\n";
    if (f.stop) return text + StopLine(*f.stop);
    text += "\n\n\tClse20\tOpen20\tClse55\tOpen55\tClse75\tOpen75\tClse100\tOpen100";
    for (int i = 1; i <= 3; ++i) {
        text += Format("\nF%d\t", i);
        for (unsigned ms : f.milliseconds[i - 1]) text += Format("%.3lf\t", ms / 1000.0);
    }
    return text;
}

std::string ParameterCheck(int cycles, std::time_t at, const std::vector<ParameterLine>& lines,
                           int errors, std::optional<int> badRecord,
                           const std::optional<HandStop>& stop) {
    std::string text = Format("\n\n*****\n* Parameter Check, %d cycles\n* %s*****\n", cycles,
                              TimeText(at).c_str());
    for (const ParameterLine& p : lines) {
        if (p.motor == 0) {
            text += Format("Parameter '%s' not found in hand!\n", p.name.c_str());
        } else if (p.motor < 0) {
            text += Format("Parameter '%s' has no values in hand!\n", p.name.c_str());
        } else {
            text += Format("The %s parameter for M%d is %d, but should be %d.", p.name.c_str(),
                           p.motor, p.value, p.expected);
            text += p.answer;
        }
    }
    if (badRecord) text += Format("Defaults.dat: bad record at line %d\n", *badRecord);
    if (stop) text += StopLine(*stop);
    return text + Summary(errors);
}

std::string ParameterCheckWithoutDefaults(int cycles, std::time_t at) {
    return Format("\n\n*****\n* Parameter Check, %d cycles\n* %s*****\n", cycles,
                  TimeText(at).c_str()) +
           "Could not open preferences file!\n";
}

}  // namespace station_logs
