#include "metrics.h"

#include <vector>

#include "station_board.h"

namespace report {

namespace {

constexpr const char* kRunsSql =
    "SELECT test, outcome, count(*) FROM runs GROUP BY test, outcome ORDER BY test, outcome";
// An operator's "seen" is no fault.
constexpr const char* kFaultsSql =
    "SELECT kind, count(*) FROM events WHERE kind <> 'MOTOR SEEN' GROUP BY kind ORDER BY kind";
constexpr const char* kHasOutboxSql =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'outbox'";
constexpr const char* kOutboxSql = "SELECT count(*) FROM outbox";

// A label value as the text format writes it.
std::string Label(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void Family(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string StoreDownMetrics() {
    std::string text;
    Family(text, "zhand_store_up", "gauge", "1 when the results store could be read.");
    return text + "zhand_store_up 0\n";
}

bool WriteMetrics(results::ResultsReader& store, std::chrono::system_clock::time_point now,
                  std::string* text, std::string* error) {
    results::Rows runs, faults, outbox;
    std::vector<StationNow> stations;
    if (!store.Query(kRunsSql, &runs, error) || !store.Query(kFaultsSql, &faults, error) ||
        !ReadStations(store, now, &stations, error))
        return false;
    const bool file = store.StoreKind() == results::ResultsReader::Kind::File;
    if (file && (!store.Query(kHasOutboxSql, &outbox, error))) return false;
    const bool hasOutbox = file && !outbox.empty() && outbox[0][0].value_or("0") != "0";
    if (hasOutbox && !store.Query(kOutboxSql, &outbox, error)) return false;

    std::string& out = *text;
    out.clear();
    Family(out, "zhand_store_up", "gauge", "1 when the results store could be read.");
    out += "zhand_store_up 1\n";
    Family(out, "zhand_runs_total", "counter", "Runs in the store by test and outcome.");
    for (const results::Row& row : runs) {
        out += "zhand_runs_total{test=\"" + Label(row[0].value_or("")) + "\",outcome=\"" +
               Label(row[1].value_or("")) + "\"} " + row[2].value_or("0") + "\n";
    }
    Family(out, "zhand_faults_total", "counter", "Fault events in the store by kind.");
    for (const results::Row& row : faults) {
        out += "zhand_faults_total{kind=\"" + Label(row[0].value_or("")) + "\"} " +
               row[1].value_or("0") + "\n";
    }
    Family(out, "zhand_station_heartbeat_age_seconds", "gauge",
           "Seconds since each station's last heartbeat.");
    const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    for (const StationNow& s : stations) {
        const std::optional<double> seen = s.seen ? EpochSeconds(*s.seen) : std::nullopt;
        if (!seen) continue;
        char age[32];
        std::snprintf(age, sizeof age, "%.3f", nowSeconds - *seen);
        out += "zhand_station_heartbeat_age_seconds{station=\"" + Label(s.station) + "\"} " + age +
               "\n";
    }
    Family(out, "zhand_station_up", "gauge",
           "1 while a station beats (testing or idle), 0 once it is not seen.");
    for (const StationNow& s : stations) {
        out += "zhand_station_up{station=\"" + Label(s.station) + "\"} " +
               (s.state == "gone" ? "0" : "1") + "\n";
    }
    Family(out, "zhand_station_testing", "gauge", "1 while a station runs a test.");
    for (const StationNow& s : stations) {
        out += "zhand_station_testing{station=\"" + Label(s.station) + "\"} " +
               (s.state == "testing" ? "1" : "0") + "\n";
    }
    if (hasOutbox) {
        Family(out, "zhand_shipping_backlog_facts", "gauge",
               "Facts in this store's outbox not yet shipped to the server.");
        out += "zhand_shipping_backlog_facts " + outbox[0][0].value_or("0") + "\n";
    }
    return true;
}

}  // namespace report
