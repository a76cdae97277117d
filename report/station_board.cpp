#include "station_board.h"

#include <charconv>

namespace report {

namespace {

// The newest run of each station; an operator's "seen" is no fault.
constexpr const char* kStationsSql =
    "SELECT s.station, s.test, s.serial, s.outcome, s.started, s.ended, s.cycles_done,"
    " s.cycles_planned, s.errors,"
    " (SELECT e.text FROM events e WHERE e.run_id = s.id AND e.kind <> 'MOTOR SEEN'"
    " ORDER BY e.seq DESC LIMIT 1)"
    " FROM (SELECT r.id, r.station, r.test, r.serial, r.outcome, r.started, r.ended,"
    " r.cycles_done, r.cycles_planned, r.errors, ROW_NUMBER() OVER (PARTITION BY r.station"
    " ORDER BY r.started DESC, r.id DESC) AS n FROM runs r) AS s"
    " WHERE s.n = 1 ORDER BY s.station";

int Number(const std::optional<std::string>& text) {
    int value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

}  // namespace

bool ReadStations(results::ResultsReader& store, std::vector<StationNow>* stations,
                  std::string* error) {
    results::Rows rows;
    stations->clear();
    if (!store.Query(kStationsSql, &rows, error)) return false;
    for (const results::Row& row : rows) {
        StationNow s;
        s.station = row[0].value_or("");
        s.test = row[1].value_or("");
        s.serial = row[2].value_or("");
        s.outcome = row[3].value_or("");
        s.started = row[4].value_or("");
        s.ended = row[5];
        const int done = Number(row[6]);
        s.cycles = Number(row[7]);
        s.errors = Number(row[8]);
        s.lastFault = row[9];
        // The station's own status line counts the cycle it is in.
        s.cycle = s.outcome == "running" && done < s.cycles ? done + 1 : done;
        stations->push_back(std::move(s));
    }
    return true;
}

nlohmann::json StationsJson(const std::vector<StationNow>& stations) {
    nlohmann::json list = nlohmann::json::array();
    for (const StationNow& s : stations) {
        list.push_back(
            {{"station", s.station},
             {"test", s.test},
             {"serial", s.serial},
             {"outcome", s.outcome},
             {"started", s.started},
             {"ended", s.ended ? nlohmann::json(*s.ended) : nlohmann::json(nullptr)},
             {"cycle", s.cycle},
             {"cycles", s.cycles},
             {"errors", s.errors},
             {"lastFault", s.lastFault ? nlohmann::json(*s.lastFault) : nlohmann::json(nullptr)}});
    }
    return {{"stations", std::move(list)}};
}

}  // namespace report
