#include "station_board.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>

namespace report {

namespace {

// The newest run of each station; an operator's "seen" is no fault. The
// cycle of the run's last event tells the cycle a run ended in.
constexpr const char* kStationsSql =
    "SELECT s.station, s.test, s.serial, s.outcome, s.started, s.ended, s.cycles_done,"
    " s.cycles_planned, s.errors,"
    " (SELECT e.text FROM events e WHERE e.run_id = s.id AND e.kind <> 'MOTOR SEEN'"
    " ORDER BY e.seq DESC LIMIT 1),"
    " (SELECT e.cycle FROM events e WHERE e.run_id = s.id ORDER BY e.seq DESC LIMIT 1)"
    " FROM (SELECT r.id, r.station, r.test, r.serial, r.outcome, r.started, r.ended,"
    " r.cycles_done, r.cycles_planned, r.errors, ROW_NUMBER() OVER (PARTITION BY r.station"
    " ORDER BY r.started DESC, r.id DESC) AS n FROM runs r) AS s"
    " WHERE s.n = 1 ORDER BY s.station";

// Whether the store has a heartbeats table (a store no station of this
// version has written to has none).
constexpr const char* kHasBeatsSqlite =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'heartbeats'";
constexpr const char* kHasBeatsPg = "SELECT count(*) FROM pg_tables WHERE tablename = 'heartbeats'";
constexpr const char* kBeatsSql = "SELECT station, seen FROM heartbeats";

int Number(const std::optional<std::string>& text) {
    int value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

// The cycle as the station's screen shows it.
int ShownCycle(const StationNow& s, int done, std::optional<int> lastEventCycle) {
    const bool inside = done < s.cycles;
    if (s.outcome == "running" || s.outcome == "interrupted") return inside ? done + 1 : done;
    if (lastEventCycle && *lastEventCycle > done) return *lastEventCycle;
    return done;
}

bool ReadBeats(results::ResultsReader& store, std::map<std::string, results::Row>* beats,
               std::string* error) {
    results::Rows rows;
    const bool server = store.StoreKind() == results::ResultsReader::Kind::Server;
    if (!store.Query(server ? kHasBeatsPg : kHasBeatsSqlite, &rows, error)) return false;
    if (rows.empty() || Number(rows[0][0]) == 0) return true;
    if (!store.Query(kBeatsSql, &rows, error)) return false;
    for (results::Row& row : rows) (*beats)[row[0].value_or("")] = std::move(row);
    return true;
}

}  // namespace

std::optional<double> EpochSeconds(const std::string& iso) {
    std::tm t{};
    int millis = 0;
    char zone = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &millis, &zone) != 8 ||
        zone != 'Z')
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<double>(timegm(&t)) + millis / 1000.0;
}

bool ReadStations(results::ResultsReader& store, std::chrono::system_clock::time_point now,
                  std::vector<StationNow>* stations, std::string* error) {
    results::Rows rows;
    std::map<std::string, results::Row> beats;
    stations->clear();
    if (!store.Query(kStationsSql, &rows, error) || !ReadBeats(store, &beats, error)) return false;
    std::map<std::string, StationNow> board;
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
        s.cycle = ShownCycle(s, done, row[10] ? std::optional<int>(Number(row[10])) : std::nullopt);
        board[s.station] = std::move(s);
    }
    const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    for (const auto& [name, beat] : beats) {
        StationNow& s = board[name];
        s.station = name;
        s.seen = beat[1];
        const std::optional<double> seen = EpochSeconds(beat[1].value_or(""));
        const bool gone = !seen || nowSeconds - *seen > static_cast<double>(kGoneAfter.count());
        // A beat comes every 10 s, a run's start and end at once: while the
        // station beats, its latest run says whether it tests.
        s.state = gone ? "gone" : s.outcome == "running" ? "testing" : "idle";
    }
    for (auto& [name, s] : board) {
        if (s.state.empty()) s.state = "gone";  // never beaten
        stations->push_back(std::move(s));
    }
    return true;
}

nlohmann::json StationsJson(const std::vector<StationNow>& stations) {
    const auto maybe = [](const std::optional<std::string>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    nlohmann::json list = nlohmann::json::array();
    for (const StationNow& s : stations) {
        list.push_back({{"station", s.station},
                        {"state", s.state},
                        {"seen", maybe(s.seen)},
                        {"test", s.test},
                        {"serial", s.serial},
                        {"outcome", s.outcome},
                        {"started", s.started},
                        {"ended", maybe(s.ended)},
                        {"cycle", s.cycle},
                        {"cycles", s.cycles},
                        {"errors", s.errors},
                        {"lastFault", maybe(s.lastFault)}});
    }
    return {{"stations", std::move(list)}};
}

}  // namespace report
