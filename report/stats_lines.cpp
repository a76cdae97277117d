#include "stats_lines.h"

#include <nlohmann/json.hpp>

#include "capability.h"

namespace report {

namespace {

using Json = nlohmann::ordered_json;

Json Maybe(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? Json(*v) : Json(nullptr);
}

}  // namespace

bool WriteStats(results::ResultsReader& store, const Selection& selection, std::ostream& out,
                std::size_t* names, std::string* error) {
    std::vector<NameFigures> figures;
    if (!ReadFigures(store, selection, &figures, error)) return false;
    *names = 0;
    for (const NameFigures& f : figures) {
        if (f.count == 0) continue;
        const ProcessFigures p = Summarise(f);
        std::vector<LatestValue> latest;
        if (!ReadLatest(store, selection, f.name, &latest, error)) return false;
        Json rules = Json::array();
        bool inControl = p.sdWithin.has_value();
        if (p.mean && p.sdWithin) {
            std::vector<double> values;
            for (const LatestValue& v : latest) values.push_back(v.value);
            for (const RuleBreak& b : BrokenRules(values, *p.mean, *p.sdWithin)) {
                inControl = false;
                const LatestValue& v = latest[b.index];
                rules.push_back({{"rule", b.rule},
                                 {"text", RuleText(b.rule)},
                                 {"run", v.run},
                                 {"cycle", v.cycle ? Json(*v.cycle) : Json(nullptr)},
                                 {"value", v.value}});
            }
        }
        const Json line = {{"name", f.name},
                           {"unit", f.unit ? Json(*f.unit) : Json(nullptr)},
                           {"count", p.count},
                           {"mean", Maybe(p.mean)},
                           {"sd", Maybe(p.sd)},
                           {"sd_within", Maybe(p.sdWithin)},
                           {"min", Maybe(p.min)},
                           {"max", Maybe(p.max)},
                           {"low", Maybe(f.low)},
                           {"high", Maybe(f.high)},
                           {"out_of_spec", p.outOfSpec},
                           {"cp", Maybe(p.cp)},
                           {"cpk", Maybe(p.cpk)},
                           {"pp", Maybe(p.pp)},
                           {"ppk", Maybe(p.ppk)},
                           {"in_control", inControl},
                           {"rules", std::move(rules)}};
        out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        ++*names;
    }
    return true;
}

}  // namespace report
