#include "record.h"

#include <nlohmann/json.hpp>

namespace results {

namespace {

using nlohmann::json;

template <typename T>
void PutOptional(json& j, const char* key, const std::optional<T>& value) {
    if (value) {
        j[key] = *value;
    } else {
        j[key] = nullptr;
    }
}

template <typename T>
std::optional<T> GetOptional(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return std::nullopt;
    return it->get<T>();
}

json Encode(const RunStart& r) {
    return {{"type", "run"},          {"run", r.uuid},
            {"station", r.station},   {"software", r.software},
            {"serial", r.serial},     {"operator", r.operatorInitials},
            {"test", r.test},         {"cycles_planned", r.cyclesPlanned},
            {"started", r.started},   {"log_file", r.logFile}};
}
json Encode(const Measurement& m) {
    json j = {{"type", "measurement"}, {"run", m.run},     {"seq", m.seq},
              {"name", m.name},        {"value", m.value}};
    PutOptional(j, "unit", m.unit);
    PutOptional(j, "low", m.low);
    PutOptional(j, "high", m.high);
    PutOptional(j, "outcome", m.outcome);
    PutOptional(j, "cycle", m.cycle);
    return j;
}
json Encode(const Event& e) {
    json j = {{"type", "event"}, {"run", e.run},   {"seq", e.seq},
              {"at", e.at},      {"kind", e.kind}, {"text", e.text}};
    PutOptional(j, "cycle", e.cycle);
    PutOptional(j, "motor", e.motor);
    return j;
}
json Encode(const RunProgress& p) {
    return {{"type", "progress"}, {"run", p.run}, {"cycles_done", p.cyclesDone},
            {"errors", p.errors}};
}
json Encode(const RunEnd& e) {
    return {{"type", "end"},        {"run", e.run},
            {"ended", e.ended},     {"outcome", e.outcome},
            {"cycles_done", e.cyclesDone}, {"errors", e.errors}};
}

json Encode(const StationBeat& b) {
    return {{"type", "beat"},
            {"station", b.station},
            {"seen", b.seen},
            {"state", b.state},
            {"run", b.run}};
}

Entry Decode(const json& j) {
    const std::string type = j.at("type").get<std::string>();
    if (type == "run") {
        RunStart r;
        r.uuid = j.at("run").get<std::string>();
        r.station = j.at("station").get<std::string>();
        r.software = j.at("software").get<std::string>();
        r.serial = j.at("serial").get<std::string>();
        r.operatorInitials = j.at("operator").get<std::string>();
        r.test = j.at("test").get<std::string>();
        r.cyclesPlanned = j.at("cycles_planned").get<int>();
        r.started = j.at("started").get<std::string>();
        r.logFile = j.at("log_file").get<std::string>();
        return r;
    }
    if (type == "measurement") {
        Measurement m;
        m.run = j.at("run").get<std::string>();
        m.seq = j.at("seq").get<int>();
        m.name = j.at("name").get<std::string>();
        m.value = j.at("value").get<double>();
        m.unit = GetOptional<std::string>(j, "unit");
        m.low = GetOptional<double>(j, "low");
        m.high = GetOptional<double>(j, "high");
        m.outcome = GetOptional<std::string>(j, "outcome");
        m.cycle = GetOptional<int>(j, "cycle");
        return m;
    }
    if (type == "event") {
        Event e;
        e.run = j.at("run").get<std::string>();
        e.seq = j.at("seq").get<int>();
        e.at = j.at("at").get<std::string>();
        e.kind = j.at("kind").get<std::string>();
        e.text = j.at("text").get<std::string>();
        e.cycle = GetOptional<int>(j, "cycle");
        e.motor = GetOptional<std::string>(j, "motor");
        return e;
    }
    if (type == "progress") {
        return RunProgress{j.at("run").get<std::string>(), j.at("cycles_done").get<int>(),
                           j.at("errors").get<int>()};
    }
    if (type == "end") {
        return RunEnd{j.at("run").get<std::string>(), j.at("ended").get<std::string>(),
                      j.at("outcome").get<std::string>(), j.at("cycles_done").get<int>(),
                      j.at("errors").get<int>()};
    }
    if (type == "beat") {
        return StationBeat{j.at("station").get<std::string>(), j.at("seen").get<std::string>(),
                           j.at("state").get<std::string>(), j.at("run").get<std::string>()};
    }
    throw std::invalid_argument("unknown entry type");
}

}  // namespace

const std::string& RunOf(const Entry& entry) {
    return std::visit(
        [](const auto& e) -> const std::string& {
            if constexpr (std::is_same_v<std::decay_t<decltype(e)>, RunStart>) {
                return e.uuid;
            } else {
                return e.run;
            }
        },
        entry);
}

std::string ToJson(const Entry& entry) {
    // Invalid UTF-8 (a byte typed into a serial number, a hand's reply) is
    // replaced rather than refused: a record is never lost over its text.
    return std::visit([](const auto& e) { return Encode(e); }, entry)
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Entry> FromJson(std::string_view line) {
    json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    try {
        return Decode(j);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> Verdict(double value, std::optional<double> low,
                                   std::optional<double> high) {
    if (!low && !high) return std::nullopt;
    if (low && value < *low) return std::string(kFail);
    if (high && value > *high) return std::string(kFail);
    return std::string(kPass);
}

}  // namespace results
