// The HTML report as a browser shows it: headless Chromium opens the page
// that zhand-report wrote from imported logs and a hostile record, every
// section is opened, and every chart must have drawn, with no error logged,
// no request beyond the file, and no text of the store run as markup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "devtools.h"
#include "local_zone.h"
#include "run_program.h"
#include "sqlite_store.h"
#include "station_logs.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::time_t kT0 = Utc(2026, 12, 10, 8, 53, 12);
const std::string kHostile =
    "</script><script>window.__pwned=1</script><img src=x onerror=window.__pwned=2>";

// Opens every section, waits until each chart has drawn, and describes each.
constexpr const char* kInspect = R"js(
(async () => {
  document.querySelectorAll("details").forEach(d => { d.open = true; });
  const all = () => [...document.querySelectorAll("canvas[data-chart]")];
  const deadline = Date.now() + 30000;
  while (!all().every(c => c.dataset.drawn === "yes") && Date.now() < deadline)
    await new Promise(r => setTimeout(r, 100));
  const specs = JSON.parse(document.getElementById("report-data").textContent).charts.length;
  const charts = all().map(c => {
    const chart = Chart.getChart(c);
    const pixels = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    let painted = 0;
    for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) ++painted;
    const points = chart ? chart.data.datasets.reduce(
        (n, d) => n + d.data.filter(v => v !== null && v !== undefined).length, 0) : 0;
    return { section: c.closest("main > section").id, title: c.getAttribute("aria-label"),
             drawn: c.dataset.drawn === "yes", chart: !!chart, points, painted,
             size: c.width * c.height };
  });
  const hostile = [...document.querySelectorAll("details.unit .serial")].map(s => s.textContent);
  const strain = [...document.querySelectorAll("div.strain")].map(div => ({
    legend: Chart.getChart(div.querySelector("canvas")).data.datasets.map(d => d.label),
    slopes: [...div.querySelectorAll("tbody tr")].map(
        tr => [...tr.cells].map(td => td.textContent))
  }));
  // The marks of each rule a point breaks: the chart's own dataset of
  // them, and the table of points under it.
  const marks = all().flatMap(c => {
    const chart = Chart.getChart(c);
    return chart ? chart.data.datasets.filter(d => d.label.startsWith("rule ")).map(d => ({
      title: c.getAttribute("aria-label"), label: d.label,
      points: d.data.filter(v => v !== null && v !== undefined).length })) : [];
  });
  const ruleRows = [...document.querySelectorAll("table.rules tbody tr")].map(
      tr => tr.dataset.rule);
  const unitLinks = [...document.querySelectorAll("#overview a[href^='#unit-']")].length;
  return { specs, charts, hostile, strain, marks, ruleRows, unitLinks,
           pwned: window.__pwned === undefined ? null : window.__pwned };
})()
)js";

class ReportInBrowser : public LocalZone {
  protected:
    void SetUp() override {
        LocalZone::SetUp();
        std::string pattern = (fs::temp_directory_path() / "zhand-report-browser-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    ProgramResult Report(const std::vector<std::string>& args) {
        return RunProgram(ZHAND_REPORT_PATH, args, {"TZ=CET-1CEST,M3.5.0,M10.5.0/3"}, dir_);
    }

    // Two units from logs (Fingerprint and Strain Gages twice, Multi-Axis with
    // faults, an abort) and one whose every text is markup, straight into
    // the store as a station of someone else's might write it.
    void MakeStore() {
        station_logs::FingerprintFigures fp;
        for (int m = 0; m < 4; ++m)
            fp.encoder[m] = {15990L - 3 * m, 16001, 16012 + m, 41, 50, 58 + m};
        for (int f = 0; f < 3; ++f)
            for (int t = 0; t < 8; ++t)
                fp.milliseconds[f][t] = 2400u - 280u * static_cast<unsigned>(t / 2) + 40u * f +
                                        (t % 2 == 1 ? 150u : 0u);
        station_logs::FingerprintFigures later = fp;
        for (auto& finger : later.milliseconds)
            for (auto& ms : finger) ms += 35;
        later.encoder[3] = {2980, 3002, 3021, 22, 31, 44};
        Write("Prefs.dat", "HND123\nAB\n261211\nHND123\t1\nHND7\t-1\n");
        Write("HND123AB261210_1.txt",
              station_logs::Fingerprint(kT0, fp) +
                  station_logs::StrainGages(1, kT0 + 600,
                                            {{{0, 31, 60, 122, 181, 240},
                                              {2, 30, 63, 118, 185, 236},
                                              {1, 28, 57, 125, 178, 251}}}) +
                  station_logs::MultiAxis("Multi-Axis", 1500, kT0 + 900,
                                          {{"F2", "NO BREAKAWAY", 310, kT0 + 1000},
                                           {"F2", "NO BREAKAWAY", 1207, kT0 + 1100},
                                           {"Spread", "DID NOT FULLY OPEN", 733, kT0 + 1050}},
                                          {}, 41));
        Write("HND123AB261211_1.txt",
              station_logs::Fingerprint(kT0 + 86400, later) +
                  station_logs::StrainGages(1, kT0 + 86400 + 600,
                                            {{{1, 33, 64, 126, 188, 249},
                                              {0, 29, 61, 120, 182, 239},
                                              {2, 30, 59, 121, 180, 247}}}));
        Write("HND7QA261210_1.txt",
              station_logs::MultiAxis("Multi-Axis", 1500, kT0 + 300,
                                      {{"F1", "JAMMED OPEN", 12, kT0 + 320}}, 40, 39));
        const ProgramResult imported =
            Report({"import", "--results", "results.db", "HND123AB261210_1.txt",
                    "HND123AB261211_1.txt", "HND7QA261210_1.txt"});
        ASSERT_EQ(imported.status, 0) << imported.err;

        std::string error;
        auto store = results::SqliteStore::Open(
            (dir_ / "results.db").string(), results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store, nullptr) << error;
        const std::string uuid = "3b0a4c1e-8f52-4d7a-9e61-0c2f5b7d9a13";
        results::RunStart start{uuid,
                                kHostile,
                                kHostile,
                                kHostile,
                                kHostile,
                                "Multi-Axis",
                                10,
                                "2026-12-10T11:00:00.000Z",
                                kHostile + ".txt"};
        results::Event fault{uuid, 1, "2026-12-10T11:00:05.000Z", 4, kHostile, kHostile, kHostile};
        results::Measurement temperature{uuid, 2, "Maximum temperature", 40, "C", {}, {}, {}, {}};
        results::RunEnd end{uuid, "2026-12-10T11:01:00.000Z", "fail", 10, 1};
        std::vector<results::Entry> entries = {start, fault, temperature, end};
        // A measurement that drifts off: its last points break the rules.
        const std::string drift = "5c1d2e3f-0a1b-4c2d-8e3f-4a5b6c7d8e9f";
        entries.push_back(results::RunStart{drift, "bench-1", "3.0.0", "HND9", "JD", "Multi-Axis",
                                            40, "2026-12-11T11:00:00.000Z", "HND9.txt"});
        for (int i = 0; i < 40; ++i)
            entries.push_back(results::Measurement{
                drift, 10 + i, "F1 closed", 15200.0 + (i % 2 == 0 ? 3 : -3) + (i >= 30 ? 40 : 0),
                "counts", 15100.0, 15300.0, std::nullopt, i + 1});
        entries.push_back(results::RunEnd{drift, "2026-12-11T11:10:00.000Z", "pass", 40, 0});
        ASSERT_TRUE(store->ApplyAll(entries, &error)) << error;
    }

    fs::path dir_;
};

class Page {
  public:
    explicit Page(Chromium& browser) : browser_(browser) {}
    // Opens `url` and describes it once every chart has drawn.
    json Open(const std::string& url) {
        std::string error;
        EXPECT_TRUE(browser_.Call("Page.navigate", {{"url", url}}, &error)) << error;
        EXPECT_TRUE(browser_.WaitFor("Page.loadEventFired", &error)) << error;
        // An earlier page's load may have been the event: wait for this one.
        const std::string loaded =
            "document.readyState === 'complete' && location.href === " + json(url).dump() +
            " && !!document.getElementById('report-data')";
        for (int i = 0; i < 300; ++i) {
            const auto ready = browser_.Call(
                "Runtime.evaluate", {{"expression", loaded}, {"returnByValue", true}}, &error);
            if (ready && (*ready)["result"]["value"] == true) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const auto inspected = browser_.Call(
            "Runtime.evaluate",
            {{"expression", kInspect}, {"awaitPromise", true}, {"returnByValue", true}}, &error,
            std::chrono::seconds(90));
        EXPECT_TRUE(inspected) << error;
        if (!inspected) return json::object();
        EXPECT_FALSE(inspected->contains("exceptionDetails")) << inspected->dump();
        return (*inspected)["result"]["value"];
    }

  private:
    Chromium& browser_;
};

// Every chart drawn, painted, with points; counted per section.
std::map<std::string, int> ChartsPerSection(const json& page) {
    std::map<std::string, int> perSection;
    for (const json& chart : page["charts"]) {
        SCOPED_TRACE(chart.dump());
        ++perSection[chart["section"]];
        EXPECT_TRUE(chart["drawn"]);
        EXPECT_TRUE(chart["chart"]);
        EXPECT_GT(chart["points"].get<int>(), 0);
        EXPECT_GT(chart["size"].get<int>(), 0);
        // Axes, labels and data: a drawn chart paints a fair part of its canvas.
        EXPECT_GT(chart["painted"].get<int>(), 2000);
    }
    EXPECT_EQ(page["specs"], page["charts"].size());
    return perSection;
}

TEST_F(ReportInBrowser, EveryChartDrawsAndNothingRunsFromTheStore) {
    MakeStore();
    const ProgramResult html = Report({"html", "--results", "results.db", "-o", "report.html"});
    ASSERT_EQ(html.status, 0) << html.err;

    Chromium browser;
    std::string error;
    ASSERT_TRUE(browser.Start((dir_ / "profile").string(), &error)) << error;
    ASSERT_TRUE(browser.AttachPage(&error)) << error << " (is Debian's chromium installed?)";
    for (const char* domain : {"Runtime.enable", "Log.enable", "Network.enable", "Page.enable"})
        ASSERT_TRUE(browser.Call(domain, json::object(), &error)) << error;
    ASSERT_TRUE(browser.Call(
        "Emulation.setDeviceMetricsOverride",
        {{"width", 1280}, {"height", 1000}, {"deviceScaleFactor", 1}, {"mobile", false}}, &error))
        << error;
    // The line's page: the overview and the measurements, the units listed.
    const std::string url = "file://" + (dir_ / "report.html").string();
    Page pages(browser);
    const json page = pages.Open(url);
    // Overview 3; measurements: the 49 Fingerprint figures and the 18
    // strain readings with two values each give a histogram and an X and an
    // mR chart, the maximum temperature (three values) and the drifting
    // F1 closed three charts each.
    std::map<std::string, int> perSection = ChartsPerSection(page);
    EXPECT_EQ(perSection["overview"], 3);
    EXPECT_EQ(perSection["units"], 0) << "a line's units each have a page of their own";
    EXPECT_EQ(perSection["measurements"], 49 * 3 + 18 * 3 + 3 + 3);
    // The drift breaks rule 1 and others, each marked on its chart and
    // listed under it.
    std::set<std::string> rules;
    for (const json& mark : page["marks"]) {
        EXPECT_EQ(mark["title"], "Individuals: F1 closed");
        EXPECT_GT(mark["points"].get<int>(), 0);
        rules.insert(mark["label"].get<std::string>().substr(0, 6));
    }
    EXPECT_TRUE(rules.count("rule 1")) << page["marks"].dump();
    EXPECT_GE(rules.size(), 2u) << page["marks"].dump();
    EXPECT_FALSE(page["ruleRows"].empty());
    EXPECT_TRUE(page["pwned"].is_null()) << "text from the store ran as script";

    // A unit's page: HND123 in full, finger speeds 3, encoder 2, strain 1,
    // faults 1, temperature 1.
    ASSERT_EQ(
        Report({"html", "--results", "results.db", "-o", "unit.html", "--serial", "HND123"}).status,
        0);
    const json unit = pages.Open("file://" + (dir_ / "unit.html").string());
    perSection = ChartsPerSection(unit);
    EXPECT_EQ(perSection["units"], 8);
    EXPECT_EQ(unit["unitLinks"], 1) << "the latest units link to the section on the page";
    const json hostileUnit = [&] {
        EXPECT_EQ(
            Report({"html", "--results", "results.db", "-o", "hostile.html", "--serial", kHostile})
                .status,
            0);
        return pages.Open("file://" + (dir_ / "hostile.html").string());
    }();
    EXPECT_EQ(ChartsPerSection(hostileUnit)["units"], 2);
    EXPECT_TRUE(hostileUnit["pwned"].is_null()) << "text from the store ran as script";
    EXPECT_EQ(hostileUnit["hostile"][0], kHostile);

    // HND123's two calibrations: a slope per run and finger in the table,
    // each finger's line that of the later run, the first run's readings
    // drawn as earlier ones.
    ASSERT_EQ(unit["strain"].size(), 1u);
    const json& strain = unit["strain"][0];
    ASSERT_EQ(strain["slopes"].size(), 2u) << strain.dump();
    EXPECT_EQ(strain["slopes"][0][0], "2026-12-10 09:03");
    EXPECT_EQ(strain["slopes"][1][0], "2026-12-11 09:03");
    for (int finger = 1; finger <= 3; ++finger) {
        SCOPED_TRACE(strain.dump());
        const std::string first = strain["slopes"][0][finger], latest = strain["slopes"][1][finger];
        EXPECT_NE(first, latest);
        const std::string f = "F" + std::to_string(finger);
        const auto has = [&](const std::string& label) {
            return std::find(strain["legend"].begin(), strain["legend"].end(), label) !=
                   strain["legend"].end();
        };
        EXPECT_TRUE(has(f + " least squares, slope " + latest + " per g"));
        EXPECT_FALSE(has(f + " least squares, slope " + first + " per g"));
        EXPECT_TRUE(has(f + " 2026-12-11 09:03"));
        EXPECT_TRUE(has(f + " earlier runs"));
    }

    for (const json& event : browser.Events()) {
        const std::string method = event["method"];
        if (method == "Runtime.exceptionThrown") ADD_FAILURE() << event.dump();
        if (method == "Runtime.consoleAPICalled" &&
            (event["params"]["type"] == "error" || event["params"]["type"] == "warning"))
            ADD_FAILURE() << event.dump();
        if (method == "Log.entryAdded" && event["params"]["entry"]["level"] == "error")
            ADD_FAILURE() << event.dump();
        if (method == "Network.requestWillBeSent") {
            const std::string requested = event["params"]["request"]["url"];
            EXPECT_TRUE(requested.starts_with("file://" + dir_.string() + "/"))
                << requested << ": the page fetched something beside itself";
        }
    }
}

}  // namespace
