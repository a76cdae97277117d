// The picture of the HTML report in the README: a week of a small line's
// text logs (eight units through the whole test table, among them a retest
// after a fault, a recalibrated strain gauge, an aborted run and a motor
// put right),
// imported and reported by zhand-report as a user would, then the overview
// and one unit opened in headless Chromium and kept as a PNG.
//
//     report_screenshot OUTPUT.png [FOLDER]
//
// FOLDER (default: a fresh temporary one, removed afterwards) keeps the
// logs, results.db and report.html. scripts/screenshot.sh runs it.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "devtools.h"
#include "run_program.h"
#include "station_logs.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::literals::operator""_json_pointer;
using station_logs::LoggedFault;
// (motor, fault words, cycle)
using FaultList = std::vector<std::tuple<std::string, std::string, int>>;

// The logs are written and read in one zone, as a station's are.
constexpr const char* kZone = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kShownUnit = "HND2046";

constexpr std::array<int, 6> kForces = {0, 250, 500, 1000, 1500, 2000};

// Local time on the `day`th day of the week from Monday 30 November 2026.
std::time_t Local(int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 10;
    t.tm_mday = 30 + day;  // mktime carries it into December
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// A unit's days at the bench, each day's sections in one log.
class Unit {
  public:
    Unit(std::string serial, std::string initials, unsigned seed)
        : serial_(std::move(serial)), initials_(std::move(initials)), random_(seed) {}

    const std::string& Serial() const { return serial_; }

    void Add(std::time_t at, const std::string& section) {
        char day[16];
        std::strftime(day, sizeof day, "%y%m%d", std::localtime(&at));
        logs_[day] += section;
    }

    // Each day's log as the station names it.
    void Write(const fs::path& dir) const {
        for (const auto& [day, text] : logs_)
            std::ofstream(dir / (serial_ + initials_ + day + "_1.txt"), std::ios::binary) << text;
    }

    double Noise(double spread) { return std::normal_distribution<double>(0, spread)(random_); }
    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }

    // Gauge readings at 0 .. 2000 g: an offset and a slope per finger.
    std::array<std::array<int, 6>, 3> Strain(const std::array<double, 3>& slopes) {
        std::array<std::array<int, 6>, 3> table{};
        for (std::size_t f = 0; f < 3; ++f) {
            const double offset = 14 + Between(0, 10);
            for (std::size_t i = 0; i < 6; ++i) {
                const double reading = offset + slopes[f] * kForces[i] + Noise(1.5);
                table[f][i] = std::clamp(static_cast<int>(std::lround(reading)), 0, 255);
            }
        }
        return table;
    }

    // Close and open times at the four velocities: the travel over the
    // velocity and a start-up time, opening a little slower.
    station_logs::FingerprintFigures Fingerprint(double slower = 0) {
        station_logs::FingerprintFigures f;
        f.minimumVelocity = Between(22, 27);
        for (std::size_t m = 0; m < 4; ++m) {
            const long closed = m < 3 ? 16000 : 3000, open = m < 3 ? 50 : 30;
            const long spreadClosed = Between(8, 14), spreadOpen = Between(6, 10);
            const long avgClosed = closed + Between(-2, 2), avgOpen = open + Between(-1, 1);
            f.encoder[m] = {
                avgClosed - spreadClosed, avgClosed, avgClosed + spreadClosed + Between(0, 3),
                avgOpen - spreadOpen,     avgOpen,   avgOpen + spreadOpen + Between(0, 2)};
        }
        constexpr int kVelocities[] = {20, 55, 75, 100};
        for (std::size_t finger = 0; finger < 3; ++finger) {
            const double travel = 44.5 + Noise(0.6) + (finger == 1 ? slower : 0);
            for (std::size_t t = 0; t < 8; ++t) {
                const double seconds = (0.16 + travel / kVelocities[t / 2]) *
                                       (t % 2 == 1 ? 1.06 : 1.0) * (1 + Noise(0.004));
                f.milliseconds[finger][t] = static_cast<unsigned>(std::lround(seconds * 1000));
            }
        }
        return f;
    }

  private:
    std::string serial_, initials_;
    std::mt19937 random_;
    std::map<std::string, std::string> logs_;
};

// Faults spread over an endurance run.
std::vector<LoggedFault> FaultsAt(std::time_t start, double secondsPerCycle, const FaultList& at) {
    std::vector<LoggedFault> faults;
    for (const auto& [motor, kind, cycle] : at)
        faults.push_back(
            {motor, kind, cycle, start + static_cast<std::time_t>(cycle * secondsPerCycle)});
    return faults;
}

// One unit's way through the test table on `day`; the After-Freezer run
// the next morning, after a night in the freezer.
void Program(Unit& u, int day, const std::array<double, 3>& slopes,
             const FaultList& multiAxisFaults) {
    using namespace station_logs;
    const auto at = [&](int hour, int minute) { return Local(day, hour, minute); };
    u.Add(at(8, 2), FingerMovement(10, at(8, 2)));
    u.Add(at(8, 15), CableTension(5, at(8, 15)));
    u.Add(at(8, 31), StrainGages(1, at(8, 31), u.Strain(slopes)));
    u.Add(at(8, 50), VibrationGrasp(200, at(8, 50), {}, {},
                                    {u.Between(1, 4), u.Between(1, 4), u.Between(1, 4)}));
    u.Add(at(9, 40),
          MultiAxis("Multi-Axis", 1500, at(9, 40), FaultsAt(at(9, 40), 4.2, multiAxisFaults), {},
                    39 + u.Between(0, 4)));
    u.Add(at(11, 55),
          EncoderSlipGrasp(
              100, at(11, 55), {}, {},
              {16001 + u.Between(-2, 2), 16000 + u.Between(-2, 2), 16002 + u.Between(-2, 2)},
              {16003 + u.Between(-3, 3), 16002 + u.Between(-3, 3), 16004 + u.Between(-3, 3)}));
    u.Add(at(12, 40), EncoderSlipSpread(100, at(12, 40), {}, 3001 + u.Between(-2, 2),
                                        3003 + u.Between(-3, 3), {}));
    u.Add(at(13, 20), Fingerprint(at(13, 20), u.Fingerprint()));
    u.Add(at(13, 45), ParameterCheck(1, at(13, 45), {}, 0));
    const std::time_t morning = at(8, 10) + 86400;
    u.Add(morning, MultiAxis("After Freezer", 300, morning, {}, {}, 31 + u.Between(0, 3)));
}

bool Fail(const std::string& what) {
    std::cerr << "report_screenshot: " << what << "\n";
    return false;
}

void MakeLogs(const fs::path& dir) {
    const std::array<double, 3> typical = {0.106, 0.104, 0.107};
    std::vector<Unit> units;
    const char* initials[] = {"AB", "KM", "AB", "JT", "KM", "AB", "JT", "KM"};
    for (int i = 0; i < 8; ++i)
        units.emplace_back("HND204" + std::to_string(i + 1), initials[i], 2041u + i);
    for (int i = 0; i < 8; ++i) {
        Unit& u = units[static_cast<std::size_t>(i)];
        if (u.Serial() == kShownUnit) continue;
        const int day = i / 2;  // two units a day
        std::array<double, 3> slopes = typical;
        for (double& s : slopes) s += u.Noise(0.002);
        if (u.Serial() == "HND2044") {
            // M3 not seen at first; its connector reseated and the test passed.
            u.Add(Local(day, 7, 48), station_logs::FingerMovement(10, Local(day, 7, 48), 3));
        }
        if (u.Serial() == "HND2048") {
            // Stopped by the technician when the fixture slipped, then run again.
            const std::time_t start = Local(day, 9, 5);
            u.Add(start, station_logs::MultiAxis("Multi-Axis", 1500, start, {}, 412,
                                                 37 + u.Between(0, 2)));
        }
        Program(u, day, slopes,
                u.Serial() == "HND2042" ? FaultList{{"Spread", "DID NOT FULLY OPEN", 988}}
                                        : FaultList{});
    }

    // The unit shown: F2 fails to break away in its first Multi-Axis run, its
    // tendon is replaced and its gauge, read low before, recalibrated; the
    // next day's runs pass.
    Unit& shown = units[5];
    const int day = 2;
    using namespace station_logs;
    shown.Add(Local(day, 8, 4), FingerMovement(10, Local(day, 8, 4)));
    shown.Add(Local(day, 8, 17), CableTension(5, Local(day, 8, 17)));
    shown.Add(Local(day, 8, 33),
              StrainGages(1, Local(day, 8, 33), shown.Strain({0.105, 0.081, 0.108})));
    shown.Add(Local(day, 8, 52), VibrationGrasp(200, Local(day, 8, 52), {}, {}, {2, 6, 3}));
    shown.Add(Local(day, 9, 41), MultiAxis("Multi-Axis", 1500, Local(day, 9, 41),
                                           FaultsAt(Local(day, 9, 41), 4.2,
                                                    {{"F2", "NO BREAKAWAY", 318},
                                                     {"F2", "NO BREAKAWAY", 655},
                                                     {"F2", "NO BREAKAWAY", 1203},
                                                     {"F2", "NO BREAKAWAY", 1377},
                                                     {"Spread", "DID NOT FULLY OPEN", 874}}),
                                           {}, 44));
    shown.Add(Local(day, 13, 22), Fingerprint(Local(day, 13, 22), shown.Fingerprint(3.5)));
    const int next = day + 1;
    shown.Add(Local(next, 8, 36),
              StrainGages(1, Local(next, 8, 36), shown.Strain({0.106, 0.103, 0.107})));
    shown.Add(Local(next, 9, 20), MultiAxis("Multi-Axis", 1500, Local(next, 9, 20), {}, {}, 41));
    shown.Add(Local(next, 11, 58), EncoderSlipGrasp(100, Local(next, 11, 58), {}, {},
                                                    {16002, 15999, 16001}, {16004, 16003, 16001}));
    shown.Add(Local(next, 12, 41), EncoderSlipSpread(100, Local(next, 12, 41), {}, 3002, 3003, {}));
    shown.Add(Local(next, 13, 18), Fingerprint(Local(next, 13, 18), shown.Fingerprint()));
    shown.Add(Local(next, 13, 44), ParameterCheck(1, Local(next, 13, 44), {}, 0));
    shown.Add(Local(next + 1, 8, 12),
              MultiAxis("After Freezer", 300, Local(next + 1, 8, 12), {}, {}, 32));

    std::string prefs = "HND2048\nKM\n261203\n";
    for (const Unit& u : units) {
        u.Write(dir);
        prefs += u.Serial() + "\t1\n";
    }
    std::ofstream(dir / "Prefs.dat", std::ios::binary) << prefs;
}

// Opens the overview and the unit shown, waits until their charts have
// drawn, and answers the height down to the measurements.
constexpr const char* kShow = R"js(
async serial => {
  document.querySelectorAll("details").forEach(d => { d.open = false; });
  document.querySelector(`details.unit[data-serial="${serial}"]`).open = true;
  const open = () => [...document.querySelectorAll(
      "#overview canvas[data-chart], details[open] canvas[data-chart]")];
  const deadline = Date.now() + 30000;
  while (!open().every(c => c.dataset.drawn === "yes") && Date.now() < deadline)
    await new Promise(r => setTimeout(r, 100));
  if (!open().every(c => c.dataset.drawn === "yes")) return -1;
  return document.querySelector("#measurements").getBoundingClientRect().top + scrollY;
})js";

bool Screenshot(const fs::path& page, const fs::path& png, const fs::path& profile) {
    Chromium browser;
    std::string error;
    if (!browser.Start(profile.string(), &error) || !browser.AttachPage(&error))
        return Fail(error + " (is Debian's chromium installed?)");
    if (!browser.Call("Page.enable", json::object(), &error) ||
        !browser.Call(
            "Emulation.setDeviceMetricsOverride",
            {{"width", 1280}, {"height", 1000}, {"deviceScaleFactor", 1}, {"mobile", false}},
            &error) ||
        !browser.Call("Page.navigate", {{"url", "file://" + page.string()}}, &error) ||
        !browser.WaitFor("Page.loadEventFired", &error))
        return Fail(error);
    const auto shown =
        browser.Call("Runtime.evaluate",
                     {{"expression", "(" + std::string(kShow) + ")(\"" + kShownUnit + "\")"},
                      {"awaitPromise", true},
                      {"returnByValue", true}},
                     &error);
    if (!shown) return Fail(error);
    const json height = shown->value("/result/value"_json_pointer, json());
    if (!height.is_number() || height.get<double>() <= 0)
        return Fail("the page did not draw its charts: " + shown->dump());
    const auto picture = browser.Call(
        "Page.captureScreenshot",
        {{"format", "png"},
         {"captureBeyondViewport", true},
         {"clip", {{"x", 0}, {"y", 0}, {"width", 1280}, {"height", height}, {"scale", 1}}}},
        &error);
    if (!picture) return Fail(error);
    std::ofstream(png, std::ios::binary) << DecodeBase64((*picture)["data"].get<std::string>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: report_screenshot OUTPUT.png [FOLDER]\n";
        return 2;
    }
    setenv("TZ", kZone + 3, 1);
    tzset();
    const fs::path png = fs::absolute(argv[1]);
    fs::path dir;
    if (argc == 3) {
        dir = fs::absolute(argv[2]);
        fs::create_directories(dir);
    } else {
        std::string pattern = (fs::temp_directory_path() / "zhand-screenshot-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("no temporary folder");
            return 1;
        }
        dir = pattern;
    }
    for (const char* name : {"results.db", "results.db-wal", "results.db-shm", "report.html"})
        fs::remove(dir / name);

    MakeLogs(dir);
    std::vector<std::string> import = {"import", "--results", "results.db"};
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".txt") import.push_back(entry.path().filename().string());
    const ProgramResult imported = RunProgram(ZHAND_REPORT_PATH, import, {kZone}, dir);
    bool ok = imported.status == 0 || Fail("import: " + imported.err);
    if (ok) {
        const ProgramResult html =
            RunProgram(ZHAND_REPORT_PATH, {"html", "--results", "results.db", "-o", "report.html"},
                       {kZone}, dir);
        ok = html.status == 0 || Fail("html: " + html.err);
    }
    if (ok) ok = Screenshot(dir / "report.html", png, dir / "profile");
    std::error_code ignored;
    fs::remove_all(dir / "profile", ignored);
    if (argc == 2) fs::remove_all(dir, ignored);
    if (ok) std::cout << "report_screenshot: " << png.string() << "\n";
    return ok ? 0 : 1;
}
