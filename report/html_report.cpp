#include "html_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>

#include "aggregate_schema.h"
#include "html_text.h"

namespace report {

namespace assets {
extern const std::string_view kChartJs;
extern const std::string_view kReportJs;
extern const std::string_view kReportCss;
}  // namespace assets

namespace {

using Json = nlohmann::json;

constexpr std::array<const char*, kOutcomes.size() + 1> kOutcomeColors = {
    "#2e7d32", "#c62828", "#ef6c00", "#6a1b9a", "#757575", "#1565c0", "#9e9d24"};
constexpr std::array<const char*, 8> kPalette = {"#1565c0", "#c62828", "#2e7d32", "#ef6c00",
                                                 "#6a1b9a", "#00838f", "#ad1457", "#5d4037"};

const char* Palette(std::size_t i) {
    return kPalette[i % kPalette.size()];
}

std::string Number(double value, const char* format = "%.6g") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Optional(const std::optional<double>& value, const char* format = "%.4g") {
    return value ? Number(*value, format) : "-";
}

// "2026-12-10T09:53:12.345Z" as "2026-12-10 09:53:12".
std::string ShownTime(const std::string& iso) {
    if (iso.size() < 19) return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

std::string OutcomeClass(const std::string& outcome) {
    const std::size_t i = OutcomeIndex(outcome);
    return i < kOutcomes.size() ? "o-" + std::string(kOutcomes[i]) : "o-other";
}

// Measurements whose charts a page carries: with each chart's thousand
// latest values, enough to keep the page within a few megabytes.
constexpr std::size_t kChartedNames = 100;

// A text as one segment of a URL path.
std::string PathPart(std::string_view text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string part;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            part += static_cast<char>(c);
        } else {
            part += '%';
            part += kHex[c >> 4];
            part += kHex[c & 15];
        }
    }
    return part;
}

// The page's charts: each gets a placeholder in the page and a spec in the
// page's data, from which the page's script builds the Chart.js chart.
class Charts {
  public:
    std::string Add(Json spec) {
        const std::string title = spec.value("title", "");
        const std::size_t id = specs_.size();
        specs_.push_back(std::move(spec));
        return "<figure class=\"chart\"><canvas data-chart=\"" + std::to_string(id) +
               "\" role=\"img\" aria-label=\"" + EscapeHtml(title) + "\"></canvas></figure>\n";
    }
    Json Specs() const { return Json(specs_); }
    std::size_t Size() const { return specs_.size(); }

  private:
    std::vector<Json> specs_;
};

Json Dataset(const std::string& label, Json data, const char* color) {
    return {{"label", label}, {"data", std::move(data)}, {"color", color}};
}

Json OutcomeBars(const std::string& title, const std::vector<std::string>& labels,
                 const std::vector<OutcomeCounts>& counts) {
    Json datasets = Json::array();
    for (std::size_t o = 0; o <= kOutcomes.size(); ++o) {
        Json data = Json::array();
        long total = 0;
        for (const OutcomeCounts& c : counts) {
            data.push_back(c[o]);
            total += c[o];
        }
        if (total == 0) continue;
        datasets.push_back(Dataset(o < kOutcomes.size() ? std::string(kOutcomes[o]) : "other",
                                   std::move(data), kOutcomeColors[o]));
    }
    return {{"type", "bar"},   {"title", title},   {"labels", labels},
            {"stacked", true}, {"yTitle", "runs"}, {"datasets", std::move(datasets)}};
}

class Page {
  public:
    Page(const Report& report, const PageFacts& facts, std::ostream& out)
        : r_(report), facts_(facts), out_(out) {}

    void Write() {
        out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                "<title>ZorvathHand test report</title>\n<style>\n"
             << assets::kReportCss << "</style>\n</head>\n<body>\n";
        Heading();
        out_ << "<main>\n";
        if (facts_.overview) Overview();
        Units();
        Measurements();
        out_ << "</main>\n<script>\n" << assets::kChartJs << "\n</script>\n";
        out_ << "<script id=\"report-data\" type=\"application/json\">"
             << JsonForScript(Json{{"charts", charts_.Specs()}}) << "</script>\n";
        out_ << "<script>\n" << assets::kReportJs << "\n</script>\n</body>\n</html>\n";
    }

  private:
    void Heading() {
        out_ << "<header>\n<h1>ZorvathHand test report</h1>\n<p class=\"facts\">";
        out_ << r_.runCount << (r_.runCount == 1 ? " run" : " runs") << " of " << r_.unitCount
             << (r_.unitCount == 1 ? " unit" : " units");
        if (r_.firstDay) {
            out_ << ", " << EscapeHtml(*r_.firstDay) << " to " << EscapeHtml(*r_.lastDay)
                 << " (UTC)";
        }
        if (!facts_.selection.empty()) out_ << "; " << EscapeHtml(facts_.selection);
        out_ << ". Store " << EscapeHtml(facts_.store) << ", made "
             << EscapeHtml(ShownTime(facts_.generatedAt)) << " UTC by zhand-report "
             << ZHAND_VERSION << ".</p>\n";
        out_ << "<nav><a href=\"#overview\">Overview</a> <a href=\"#"
             << (r_.units.empty() ? "latest-units" : "units") << "\">Units (" << r_.unitCount
             << ")</a> <a href=\"#measurements\">Measurements (" << r_.measurements.size()
             << ")</a></nav>\n</header>\n";
    }

    void Overview() {
        out_ << "<section id=\"overview\">\n<h2>Overview</h2>\n";
        if (r_.runCount == 0) {
            out_ << "<p class=\"empty\">No runs in the store for this selection.</p>\n</section>\n";
            return;
        }
        out_ << "<div class=\"charts\">\n";
        out_ << charts_.Add(OutcomeBars("Runs per day (UTC)", r_.days, r_.perDay));
        std::vector<std::string> tests;
        std::vector<OutcomeCounts> perTest;
        Json yields = Json::array();
        for (const TestTally& t : r_.tests) {
            tests.push_back(t.test);
            perTest.push_back(t.outcomes);
            yields.push_back(t.firstRuns == 0 ? Json(nullptr)
                                              : Json(100.0 * static_cast<double>(t.firstPassed) /
                                                     static_cast<double>(t.firstRuns)));
        }
        out_ << charts_.Add(OutcomeBars("Runs per test", tests, perTest));
        out_ << charts_.Add(
            {{"type", "bar"},
             {"title", "First-pass yield per test"},
             {"labels", tests},
             {"yTitle", "% of units"},
             {"yMax", 100},
             {"datasets", Json::array({Dataset("first-pass yield", yields, "#2e7d32")})}});
        out_ << "</div>\n";

        out_ << "<h3>First-pass yield</h3>\n<p class=\"note\">Of the units whose first run of a "
                "test "
                "lies in this selection, the share that passed it.</p>\n"
                "<table>\n<thead><tr><th>test</th><th>runs</th>";
        for (std::string_view o : kOutcomes) out_ << "<th>" << o << "</th>";
        out_ << "<th>units tested first</th><th>passed "
                "first</th><th>yield</th></tr></thead>\n<tbody>\n";
        for (const TestTally& t : r_.tests) {
            out_ << "<tr><td>" << EscapeHtml(t.test) << "</td><td class=\"n\">" << t.runs
                 << "</td>";
            for (std::size_t o = 0; o < kOutcomes.size(); ++o)
                out_ << "<td class=\"n\">" << t.outcomes[o] << "</td>";
            out_ << "<td class=\"n\">" << t.firstRuns << "</td><td class=\"n\">" << t.firstPassed
                 << "</td><td class=\"n\">"
                 << (t.firstRuns == 0 ? std::string("-")
                                      : Number(100.0 * static_cast<double>(t.firstPassed) /
                                                   static_cast<double>(t.firstRuns),
                                               "%.1f %%"))
                 << "</td></tr>\n";
        }
        out_ << "</tbody>\n</table>\n";

        out_ << "<p class=\"note\">Runs the station itself could not finish (error, "
                "interrupted) say nothing of the hand: they are counted apart and the unit's next "
                "run of the test is its first.</p>\n";
        LatestUnits();
        MeasurementIndex();
        out_ << "</section>\n";
    }

    // Each measurement in a line, linked to its section or page.
    void MeasurementIndex() {
        if (r_.measurements.empty()) return;
        out_ << "<h3>Measurements</h3>\n<table class=\"measurements\">\n<thead><tr>"
                "<th>measurement</th><th>values</th><th>out of specification</th><th>ppm</th>"
                "<th>in control</th><th>Cpk</th><th>Ppk</th></tr></thead>\n<tbody>\n";
        for (const MeasurementSeries& s : r_.measurements) {
            const ProcessFigures& p = s.process;
            const bool spec = s.low || s.high;
            out_ << "<tr><td><a href=\"" << EscapeHtml(MeasurementHref(s.name)) << "\">"
                 << EscapeHtml(s.name) << "</a></td><td class=\"n\">" << p.count
                 << "</td><td class=\"n\">" << (spec ? std::to_string(p.outOfSpec) : "-")
                 << "</td><td class=\"n\">" << Optional(p.ppm, "%.0f") << "</td><td>"
                 << (!s.inControl   ? "-"
                     : *s.inControl ? "yes"
                                    : "no")
                 << "</td><td class=\"n\">"
                 << (p.cpk && s.inControl && !*s.inControl ? std::string("not meaningful")
                                                           : Optional(p.cpk, "%.2f"))
                 << "</td><td class=\"n\">" << Optional(p.ppk, "%.2f") << "</td></tr>\n";
        }
        out_ << "</tbody>\n</table>\n";
    }

    std::string UnitHref(const std::string& serial) const {
        if (!r_.units.empty() || facts_.unitPages.empty()) return "#unit-" + AnchorId(serial);
        return facts_.unitPages + PathPart(serial);
    }
    std::string MeasurementHref(const std::string& name) const {
        if (facts_.measurementPages.empty()) return "#m-" + AnchorId(name);
        return facts_.measurementPages + PathPart(name);
    }

    void LatestUnits() {
        out_
            << "<h3 id=\"latest-units\">Latest units tested</h3>\n<table>\n<thead><tr><th>unit</th>"
               "<th>last run</th><th>last test</th><th>outcome</th><th>runs</th></tr></thead>\n"
               "<tbody>\n";
        const bool links = !r_.units.empty() || !facts_.unitPages.empty();
        for (const LatestUnit& unit : r_.latestUnits) {
            out_ << "<tr><td>";
            if (links)
                out_ << "<a href=\"" << EscapeHtml(UnitHref(unit.serial)) << "\">"
                     << EscapeHtml(unit.serial) << "</a>";
            else
                out_ << EscapeHtml(unit.serial);
            out_ << "</td><td>" << EscapeHtml(ShownTime(unit.started)) << "</td><td>"
                 << EscapeHtml(unit.test) << "</td><td><span class=\"badge "
                 << OutcomeClass(unit.outcome) << "\">" << EscapeHtml(unit.outcome)
                 << "</span></td><td class=\"n\">" << unit.runs << "</td></tr>\n";
        }
        out_ << "</tbody>\n</table>\n";
        const long more = r_.unitCount - static_cast<long>(r_.latestUnits.size());
        if (more > 0)
            out_ << "<p class=\"note more-units\">" << more
                 << (more == 1 ? " more unit" : " more units") << " in this selection; "
                 << (facts_.unitPages.empty()
                         ? "<code>zhand-report html --serial SERIAL</code> writes any unit's page."
                         : "a unit's page is at <code>" + EscapeHtml(facts_.unitPages) +
                               "SERIAL</code>.")
                 << "</p>\n";
    }

    void Units() {
        // A whole line's units are listed in the overview, each with a page
        // of its own: in full only for a selection by serial number.
        if (r_.units.empty()) return;
        out_ << "<section id=\"units\">\n<h2>Units</h2>\n";
        out_ << "<p class=\"tools\"><button type=\"button\" data-open=\"units\">Open all</button> "
                "<button type=\"button\" data-close=\"units\">Close all</button> "
                "<input type=\"search\" id=\"unit-filter\" placeholder=\"Filter by serial number\" "
                "aria-label=\"Filter by serial number\"></p>\n";
        for (std::size_t u = 0; u < r_.units.size(); ++u) Unit(u);
        out_ << "</section>\n";
    }

    void Unit(std::size_t u) {
        const UnitReport& unit = r_.units[u];
        const RunRow& last = r_.runs[unit.runs.back()];
        out_ << "<details class=\"unit\" id=\"unit-" << AnchorId(unit.serial) << "\""
             << (r_.units.size() == 1 ? " open" : "") << " data-serial=\""
             << EscapeHtml(unit.serial) << "\">\n<summary><span class=\"serial\">"
             << EscapeHtml(unit.serial) << "</span> " << unit.runs.size()
             << (unit.runs.size() == 1 ? " run" : " runs") << ", last "
             << EscapeHtml(ShownTime(last.started)) << " <span class=\"badge "
             << OutcomeClass(last.outcome) << "\">" << EscapeHtml(last.outcome)
             << "</span></summary>\n";
        out_ << "<table class=\"runs\">\n<thead><tr><th>started "
                "(UTC)</th><th>test</th><th>operator</th>"
                "<th>station</th><th>cycles</th><th>outcome</th><th>errors</th><th>log "
                "file</th></tr>"
                "</thead>\n<tbody>\n";
        for (std::size_t i : unit.runs) {
            const RunRow& run = r_.runs[i];
            out_ << "<tr><td>" << EscapeHtml(ShownTime(run.started)) << "</td><td>"
                 << EscapeHtml(run.test) << "</td><td>" << EscapeHtml(run.operatorInitials)
                 << "</td><td>" << EscapeHtml(run.station) << "</td><td class=\"n\">"
                 << run.cyclesDone << " of " << run.cyclesPlanned << "</td><td><span class=\"badge "
                 << OutcomeClass(run.outcome) << "\">" << EscapeHtml(run.outcome)
                 << "</span></td><td class=\"n\">" << run.errors << "</td><td>"
                 << EscapeHtml(run.logFile) << "</td></tr>\n";
        }
        out_ << "</tbody>\n</table>\n<div class=\"charts\">\n";
        FingerSpeeds(unit);
        Encoder(unit);
        Strain(unit);
        Faults(unit);
        Temperatures(unit);
        out_ << "</div>\n</details>\n";
    }

    std::string RunLabel(std::size_t run) const {
        return ShownTime(r_.runs[run].started).substr(0, 16);
    }

    void FingerSpeeds(const UnitReport& unit) {
        if (unit.speeds.empty()) return;
        for (std::size_t finger = 0; finger < 3; ++finger) {
            Json datasets = Json::array();
            for (std::size_t k = 0; k < unit.speeds.size(); ++k) {
                const auto& seconds = unit.speeds[k].seconds[finger];
                for (std::size_t open = 0; open < 2; ++open) {
                    Json points = Json::array();
                    for (std::size_t v = 0; v < kSpeedVelocities.size(); ++v) {
                        const auto& t = seconds[2 * v + open];
                        if (t) points.push_back({{"x", kSpeedVelocities[v]}, {"y", *t}});
                    }
                    if (points.empty()) continue;
                    Json d = Dataset(
                        std::string(open ? "open " : "close ") + RunLabel(unit.speeds[k].run),
                        std::move(points), Palette(2 * k + open));
                    d["showLine"] = true;
                    datasets.push_back(std::move(d));
                }
            }
            if (datasets.empty()) continue;
            out_ << charts_.Add({{"type", "scatter"},
                                 {"title", "Fingerprint: F" + std::to_string(finger + 1) +
                                               " close and open time against velocity"},
                                 {"xTitle", "velocity"},
                                 {"yTitle", "seconds"},
                                 {"datasets", std::move(datasets)}});
        }
    }

    // Each motor's spread of positions around its average, so that fingers
    // near 16000 and the spread near 3000 share one scale; the table beside
    // gives the positions themselves.
    void Encoder(const UnitReport& unit) {
        if (unit.encoder.empty()) return;
        for (std::size_t open = 0; open < 2; ++open) {
            Json datasets = Json::array();
            for (std::size_t k = 0; k < unit.encoder.size(); ++k) {
                Json bars = Json::array();
                for (std::size_t motor = 0; motor < 4; ++motor) {
                    const auto& c = unit.encoder[k].counts[motor];
                    const auto &min = c[3 * open], avg = c[3 * open + 1], max = c[3 * open + 2];
                    bars.push_back(min && avg && max ? Json::array({*min - *avg, *max - *avg})
                                                     : Json(nullptr));
                }
                datasets.push_back(
                    Dataset(RunLabel(unit.encoder[k].run), std::move(bars), Palette(k)));
            }
            out_ << charts_.Add(
                {{"type", "bar"},
                 {"title", std::string("Encoder accuracy at the ") + (open ? "open" : "closed") +
                               " target: min to max around the average"},
                 {"labels", {"M1", "M2", "M3", "M4"}},
                 {"yTitle", "counts from the average"},
                 {"datasets", std::move(datasets)}});
        }
        out_ << "<table class=\"encoder\">\n<thead><tr><th>Fingerprint run</th><th>motor</th>";
        for (std::string_view figure : kEncoderFigures) out_ << "<th>" << figure << "</th>";
        out_ << "</tr></thead>\n<tbody>\n";
        for (const auto& e : unit.encoder) {
            for (std::size_t motor = 0; motor < 4; ++motor) {
                out_ << "<tr><td>" << EscapeHtml(RunLabel(e.run)) << "</td><td>M" << motor + 1
                     << "</td>";
                for (const auto& v : e.counts[motor])
                    out_ << "<td class=\"n\">" << Optional(v, "%.0f") << "</td>";
                out_ << "</tr>\n";
            }
        }
        out_ << "</tbody>\n</table>\n";
    }

    // Each finger's readings of its latest run and that run's line, with
    // the readings of earlier runs dimmed behind them; the slope of every
    // run in the table under the chart.
    void Strain(const UnitReport& unit) {
        if (unit.strain.empty()) return;
        Json datasets = Json::array();
        for (int finger = 1; finger <= 3; ++finger) {
            const auto f = static_cast<std::size_t>(finger - 1);
            const auto& latest = unit.strainFitRun[f];
            if (!latest) continue;
            const std::string name = "F" + std::to_string(finger);
            Json points = Json::array(), earlier = Json::array();
            for (const auto& p : unit.strain) {
                if (p.finger != finger) continue;
                (p.run == *latest ? points : earlier).push_back({{"x", p.force}, {"y", p.reading}});
            }
            const std::string color = Palette(f);
            datasets.push_back(
                Dataset(name + " " + RunLabel(*latest), std::move(points), color.c_str()));
            if (!earlier.empty()) {
                // The same colour, faint: #rrggbb with an alpha of 0x55.
                Json d =
                    Dataset(name + " earlier runs", std::move(earlier), (color + "55").c_str());
                d["pointRadius"] = 2;
                datasets.push_back(std::move(d));
            }
            const auto& fit = unit.strainFit[f];
            if (!fit) continue;
            const double x0 = kStrainForces.front(), x1 = kStrainForces.back();
            Json line =
                Dataset(name + " least squares, slope " + Number(fit->slope, "%.4g") + " per g",
                        Json::array({{{"x", x0}, {"y", fit->intercept + fit->slope * x0}},
                                     {{"x", x1}, {"y", fit->intercept + fit->slope * x1}}}),
                        color.c_str());
            line["showLine"] = true;
            line["pointRadius"] = 0;
            line["dashed"] = true;
            datasets.push_back(std::move(line));
        }
        out_ << "<div class=\"strain\">\n"
             << charts_.Add({{"type", "scatter"},
                             {"title", "Strain Gages calibration: reading against force"},
                             {"xTitle", "force (g)"},
                             {"yTitle", "reading"},
                             {"datasets", std::move(datasets)}});
        out_ << "<table class=\"strain\">\n<caption>Slope of each run's least-squares line, "
                "reading per g</caption>\n<thead><tr><th>Strain Gages run</th><th>F1 "
                "slope</th><th>F2 slope</th><th>F3 slope</th></tr></thead>\n<tbody>\n";
        for (const auto& run : unit.strainRuns) {
            out_ << "<tr><td>" << EscapeHtml(RunLabel(run.run)) << "</td>";
            for (const auto& fit : run.fit)
                out_ << "<td class=\"n\">"
                     << Optional(fit ? std::optional(fit->slope) : std::nullopt) << "</td>";
            out_ << "</tr>\n";
        }
        out_ << "</tbody>\n</table>\n</div>\n";
    }

    void Faults(const UnitReport& unit) {
        if (unit.faults.empty()) return;
        const int last = unit.faults.back().cycle;
        // About twenty bars of a round width.
        int width = 1;
        for (int step : {1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 5000, 10000}) {
            width = step;
            if (last / step < 20) break;
        }
        const int first = unit.faults.front().cycle;
        const long low = static_cast<long>(std::floor((first - 1) / static_cast<double>(width)));
        const long high = static_cast<long>(std::floor((last - 1) / static_cast<double>(width)));
        if (high - low > 1000) return;  // cycle numbers no station writes
        std::vector<std::string> labels;
        for (long b = low; b <= high; ++b)
            labels.push_back(width == 1 ? std::to_string(b + 1)
                                        : std::to_string(b * width + 1) + "-" +
                                              std::to_string((b + 1) * width));
        std::map<std::string, std::vector<long>> series;
        for (const auto& f : unit.faults) {
            auto& counts = series[f.motor + " " + f.kind];
            counts.resize(labels.size());
            const long b =
                static_cast<long>(std::floor((f.cycle - 1) / static_cast<double>(width)));
            ++counts[static_cast<std::size_t>(b - low)];
        }
        Json datasets = Json::array();
        std::size_t k = 0;
        for (auto& [name, counts] : series) datasets.push_back(Dataset(name, counts, Palette(k++)));
        out_ << charts_.Add(
            {{"type", "bar"},
             {"title", "Endurance tests: faults over the cycles, per motor and kind"},
             {"labels", labels},
             {"stacked", true},
             {"xTitle", "cycle"},
             {"yTitle", "faults"},
             {"datasets", std::move(datasets)}});
    }

    void Temperatures(const UnitReport& unit) {
        if (unit.temperatures.empty()) return;
        std::vector<std::string> labels;
        Json values = Json::array();
        for (const auto& t : unit.temperatures) {
            labels.push_back(RunLabel(t.run) + " " + r_.runs[t.run].test);
            values.push_back(t.celsius);
        }
        Json d = Dataset("maximum temperature", std::move(values), "#c62828");
        out_ << charts_.Add({{"type", "line"},
                             {"title", "Endurance tests: maximum temperature per run"},
                             {"labels", labels},
                             {"yTitle", "C"},
                             {"datasets", Json::array({std::move(d)})}});
    }

    void Measurements() {
        out_ << "<section id=\"measurements\">\n<h2>Measurements across units</h2>\n";
        if (r_.measurements.empty()) {
            out_ << "<p class=\"empty\">No measurements.</p>\n</section>\n";
            return;
        }
        out_ << "<p class=\"note\">Figures of all values of the selection, as the store keeps "
                "them. Sigma within comes from the moving ranges of each station's values, "
                "overall sigma from all values. The natural process limits are the centre "
                "&plusmn; 3 sigma within, from "
             << (facts_.baseline.empty() ? std::string("all values of the selection")
                                         : "the runs of " + EscapeHtml(facts_.baseline))
             << "; the charts show the latest " << results::kLatestValues
             << " values, and a Cpk is meaningful only while they are in control.</p>\n";
        out_ << "<p class=\"tools\"><button type=\"button\" data-open=\"measurements\">Open "
                "all</button> "
                "<button type=\"button\" data-close=\"measurements\">Close all</button></p>\n";
        if (r_.measurements.size() > kChartedNames)
            out_ << "<p class=\"note\">The charts of the first " << kChartedNames
                 << " measurements are on this page; every measurement's are on its own page"
                 << (facts_.measurementPages.empty()
                         ? std::string(" (<code>zhand-report html --name NAME</code>).")
                         : ".")
                 << "</p>\n";
        for (std::size_t i = 0; i < r_.measurements.size(); ++i) Measurement(i);
        out_ << "</section>\n";
    }

    std::string Capability(const MeasurementSeries& s, const std::optional<double>& value) const {
        if (!value) return "-";
        if (s.inControl && !*s.inControl)
            return Number(*value, "%.2f") + " (not meaningful: the process is not in control)";
        return Number(*value, "%.2f");
    }

    void Measurement(std::size_t i) {
        const MeasurementSeries& s = r_.measurements[i];
        const ProcessFigures& p = s.process;
        const std::string unit = s.unit ? " (" + *s.unit + ")" : "";
        const bool spec = s.low || s.high;
        out_ << "<details class=\"measurement\" id=\"m-" << AnchorId(s.name) << "\""
             << (r_.measurements.size() == 1 ? " open" : "") << ">\n<summary><span class=\"name\">"
             << EscapeHtml(s.name + unit) << "</span> " << p.count
             << (p.count == 1 ? " value" : " values");
        if (spec) out_ << ", " << p.outOfSpec << " out of specification";
        if (s.inControl) out_ << (*s.inControl ? ", in control" : ", not in control");
        if (p.cpk) {
            out_ << ", Cpk ";
            if (s.inControl && !*s.inControl)
                out_ << "not meaningful";
            else
                out_ << Number(*p.cpk, "%.2f");
        }
        if (p.ppk) out_ << ", Ppk " << Number(*p.ppk, "%.2f");
        out_ << "</summary>\n";
        if (!facts_.measurementPages.empty() && r_.measurements.size() > 1)
            out_ << "<p><a href=\"" << EscapeHtml(MeasurementHref(s.name))
                 << "\">This measurement's page</a></p>\n";
        out_ << "<table class=\"stats\"><tbody>\n";
        const auto row = [&](const char* label, const std::string& value) {
            out_ << "<tr><th>" << label << "</th><td>" << EscapeHtml(value) << "</td></tr>\n";
        };
        row("values", std::to_string(p.count));
        row("mean", Optional(p.mean, "%.6g"));
        row("sigma overall", Optional(p.sd, "%.4g"));
        row("sigma within (moving range)", Optional(p.sdWithin, "%.4g"));
        row("least, greatest", Optional(p.min, "%.6g") + ", " + Optional(p.max, "%.6g"));
        if (s.limits) {
            row("baseline", std::to_string(s.baselineCount) + " values");
            row("centre line", Number(s.limits->center));
            row("natural process limits",
                Number(s.limits->lower) + " to " + Number(s.limits->upper));
            row("moving range: centre, upper limit",
                Number(s.limits->mrCenter) + ", " + Number(s.limits->mrUpper));
            row("in control (latest values)",
                *s.inControl
                    ? "yes"
                    : "no: " + std::to_string(s.breaks.size()) +
                          (s.breaks.size() == 1 ? " point breaks" : " points break") + " a rule");
        } else {
            row("control limits", "none: the baseline holds " + std::to_string(s.baselineCount) +
                                      " values and no moving range");
        }
        if (spec) {
            row("specification", (s.low ? Number(*s.low) : std::string("-")) + " to " +
                                     (s.high ? Number(*s.high) : std::string("-")));
            row("out of specification",
                std::to_string(p.outOfSpec) + " values, " + Optional(p.ppm, "%.0f") + " ppm");
            row("Cp (within)", Capability(s, p.cp));
            row("Cpk (within)", Capability(s, p.cpk));
            row("Pp (overall)", Optional(p.pp, "%.2f"));
            row("Ppk (overall)", Optional(p.ppk, "%.2f"));
        }
        out_ << "</tbody></table>\n";
        if (i < kChartedNames) {
            out_ << "<div class=\"charts\">\n";
            Histogram(s, unit);
            ControlCharts(s, unit);
            out_ << "</div>\n";
        }
        RuleBreaks(s);
        out_ << "</details>\n";
    }

    // The round bins' edges with as many decimals as their width needs.
    static std::string Edge(double value, double width) {
        const int decimals =
            width >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(width) - 1e-9));
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", std::clamp(decimals, 0, 12), value);
        return text;
    }

    void Histogram(const MeasurementSeries& s, const std::string& unit) {
        if (s.histogram.counts.empty()) return;
        std::vector<std::string> labels;
        const double width = s.histogram.edges[1] - s.histogram.edges[0];
        for (std::size_t b = 0; b < s.histogram.counts.size(); ++b)
            labels.push_back(Edge(s.histogram.edges[b], width) + " to " +
                             Edge(s.histogram.edges[b + 1], width));
        out_ << charts_.Add(
            {{"type", "bar"},
             {"title", "Histogram of " + s.name},
             {"labels", labels},
             {"xTitle", s.name + unit},
             {"yTitle", "values"},
             {"histogram", true},
             {"datasets", Json::array({Dataset("values", s.histogram.counts, "#1565c0")})}});
    }

    std::string PointLabel(const LatestValue& v) const {
        std::string label = v.serial + " " + ShownTime(v.started);
        if (v.cycle) label += " cycle " + std::to_string(*v.cycle);
        return label;
    }

    // The individuals and moving-range charts of the latest values, compact
    // (the page's script expands them): each point's run once, limits as
    // one number, marks by index.
    void ControlCharts(const MeasurementSeries& s, const std::string& unit) {
        if (s.latest.size() < 2) return;
        Json runs = Json::array(), of = Json::array(), cycles = Json::array();
        Json values = Json::array();
        std::map<std::string, std::size_t> runIndex;
        for (const LatestValue& v : s.latest) {
            auto [it, added] = runIndex.try_emplace(v.run, runs.size());
            if (added) runs.push_back(v.serial + " " + ShownTime(v.started));
            of.push_back(it->second);
            cycles.push_back(v.cycle ? Json(*v.cycle) : Json(nullptr));
            values.push_back(v.value);
        }
        Json marked = Json::array();
        std::array<Json, 5> byRule;
        for (Json& r : byRule) r = Json::array();
        for (const RuleBreak& b : s.breaks) {
            marked.push_back(b.index);
            byRule[static_cast<std::size_t>(b.rule)].push_back(b.index);
        }
        Json x = Dataset(s.name, std::move(values), "#1565c0");
        x["highlight"] = marked;
        Json xSets = Json::array({std::move(x)});
        // Each rule broken as a set of marks of its own, named by the rule.
        for (int r = 1; r <= 4; ++r) {
            if (byRule[static_cast<std::size_t>(r)].empty()) continue;
            Json d =
                Dataset("rule " + std::to_string(r) + ": " + RuleText(r), Json::array(), "#c62828");
            d["markAt"] = std::move(byRule[static_cast<std::size_t>(r)]);
            d["showLine"] = false;
            d["pointRadius"] = 7;
            d["pointStyle"] = r == 1 ? "crossRot" : "triangle";
            xSets.push_back(std::move(d));
        }
        Json mr = Dataset("moving range", Json::array(), "#1565c0");
        mr["movingRanges"] = true;
        Json mrSets = Json::array({std::move(mr)});
        const auto line = [](const char* label, double value, const char* color) {
            Json d = Dataset(label, Json::array(), color);
            d["constant"] = value;
            d["dashed"] = true;
            d["pointRadius"] = 0;
            return d;
        };
        if (s.limits) {
            xSets.push_back(line("upper limit", s.limits->upper, "#c62828"));
            xSets.push_back(line("centre", s.limits->center, "#2e7d32"));
            xSets.push_back(line("lower limit", s.limits->lower, "#c62828"));
            mrSets.push_back(line("upper limit", s.limits->mrUpper, "#c62828"));
            mrSets.push_back(line("centre", s.limits->mrCenter, "#2e7d32"));
        }
        const std::size_t individuals = charts_.Size();
        out_ << charts_.Add({{"type", "line"},
                             {"title", "Individuals: " + s.name},
                             {"points", {{"runs", runs}, {"of", of}, {"cycles", cycles}}},
                             {"yTitle", s.name + unit},
                             {"datasets", std::move(xSets)}});
        out_ << charts_.Add({{"type", "line"},
                             {"title", "Moving range: " + s.name},
                             {"valuesOf", individuals},
                             {"yTitle", "moving range" + unit},
                             {"datasets", std::move(mrSets)}});
    }

    // The points that break a rule, latest first (at most kListedBreaks).
    void RuleBreaks(const MeasurementSeries& s) {
        if (s.breaks.empty()) return;
        constexpr std::size_t kListedBreaks = 20;
        out_ << "<table class=\"rules\">\n<caption>Points that break a rule"
             << (s.breaks.size() > kListedBreaks
                     ? " (the latest " + std::to_string(kListedBreaks) + " of " +
                           std::to_string(s.breaks.size()) + ")"
                     : std::string())
             << "</caption>\n<thead><tr><th>unit, run start, cycle</th><th>value</th>"
                "<th>rule</th></tr></thead>\n<tbody>\n";
        for (std::size_t k = 0; k < s.breaks.size() && k < kListedBreaks; ++k) {
            const RuleBreak& b = s.breaks[s.breaks.size() - 1 - k];
            const LatestValue& v = s.latest[b.index];
            out_ << "<tr data-rule=\"" << b.rule << "\"><td>" << EscapeHtml(PointLabel(v))
                 << "</td><td class=\"n\">" << Number(v.value) << "</td><td>rule " << b.rule << ": "
                 << RuleText(b.rule) << "</td></tr>\n";
        }
        out_ << "</tbody>\n</table>\n";
    }

    const Report& r_;
    const PageFacts& facts_;
    std::ostream& out_;
    Charts charts_;
};

}  // namespace

std::string AnchorId(std::string_view text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string id;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-') {
            id += static_cast<char>(c);
        } else {
            id += '_';
            id += kHex[c >> 4];
            id += kHex[c & 15];
        }
    }
    return id;
}

void WriteHtml(const Report& report, const PageFacts& facts, std::ostream& out) {
    Page(report, facts, out).Write();
}

}  // namespace report
