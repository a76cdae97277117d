#include "export.h"

#include <nlohmann/json.hpp>

namespace report {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json Maybe(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

bool WriteExport(StoreReader& reader, const Selection& selection, std::ostream& out,
                 std::string* error) {
    bool ok = true;
    const bool read = reader.Runs(
        selection,
        [&](const RunRow& r) {
            if (!ok) return;
            Json run = {{"id", r.id},
                        {"uuid", r.uuid},
                        {"station", r.station},
                        {"software", r.software},
                        {"serial", r.serial},
                        {"operator", r.operatorInitials},
                        {"test", r.test},
                        {"cycles_planned", r.cyclesPlanned},
                        {"cycles_done", r.cyclesDone},
                        {"started", r.started},
                        {"ended", Maybe(r.ended)},
                        {"outcome", r.outcome},
                        {"errors", r.errors},
                        {"log_file", r.logFile}};
            Json measurements = Json::array();
            ok = reader.MeasurementsOfRun(
                r.id,
                [&](const MeasurementRow& m) {
                    measurements.push_back({{"seq", m.seq},
                                            {"name", m.name},
                                            {"value", m.value},
                                            {"unit", Maybe(m.unit)},
                                            {"low", Maybe(m.low)},
                                            {"high", Maybe(m.high)},
                                            {"outcome", Maybe(m.outcome)},
                                            {"cycle", Maybe(m.cycle)}});
                },
                error);
            Json events = Json::array();
            ok = ok && reader.EventsOfRun(
                           r.id,
                           [&](const EventRow& e) {
                               events.push_back({{"seq", e.seq},
                                                 {"at", e.at},
                                                 {"cycle", Maybe(e.cycle)},
                                                 {"motor", Maybe(e.motor)},
                                                 {"kind", e.kind},
                                                 {"text", e.text}});
                           },
                           error);
            run["measurements"] = std::move(measurements);
            run["events"] = std::move(events);
            // Bytes typed into a serial number or read from a hand need not be
            // UTF-8; they are replaced rather than lost with the whole line.
            out << run.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        },
        error);
    return read && ok;
}

}  // namespace report
