// Shipping to a shared server keeps up with a line of stations.
//
// First, how fast one station makes facts: a Multi-Axis cycle's exchanges
// (close and open the fingers and the spread, eight position reads, a
// temperature) against a peer that answers at once, with the cycle's facts
// (eight positions, a progress, a fault every seventh cycle) put to a journal
// that ships to the server, as the station would.
//
// Then twenty journals, each with its own local file and shipper, put
// Multi-Axis cycles' facts as fast as this machine lets twenty writers go:
// with no server (what the machine can do at all), shipping all the while
// (a sampler reads every outbox twice a second: the largest and the last
// backlog, and how long the outboxes take to drain once the writers stop),
// and with the server stopped while they write (how fast twenty shippers
// empty full outboxes once it is back).
//
// The program starts its own PostgreSQL server (as the tests do) and stops
// it at the end. Options: --seconds N (each phase, default 20), --stations N,
// --owner (the stations log in as the database's owner instead of their own
// logins, which row-level security binds).
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "instant_answers.h"
#include "journal.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "pty_peer.h"
#include "run_ids.h"
#include "server_logins.h"
#include "server_schema.h"
#include "sqlite_query.h"
#include "zhand.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kPositions[] = {"F1 closed", "F2 closed", "F3 closed",     "F1 open",
                                      "F2 open",   "F3 open",   "Spread closed", "Spread open"};

double Seconds(SteadyClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The facts of one run, a cycle at a time.
class RunFacts {
  public:
    explicit RunFacts(results::Journal& journal) : journal_(journal), uuid_(results::NewRunUuid()) {
        results::RunStart run;
        run.uuid = uuid_;
        run.serial = "HND" + uuid_.substr(0, 6);
        run.operatorInitials = "JD";
        run.test = "Multi-Axis";
        run.cyclesPlanned = 1500;
        run.started = results::NowIso();
        run.logFile = run.serial + "JD121026_1.txt";
        journal_.Put(run);
        ++facts;
        ++rows;
    }
    void Cycle(const std::array<int, 8>& positions) {
        ++cycle_;
        for (int i = 0; i < 8; ++i) {
            const double value = positions[i];
            journal_.Put(results::Measurement{uuid_,
                                              ++seq_,
                                              kPositions[i],
                                              value,
                                              "counts",
                                              15100.0,
                                              {},
                                              results::Verdict(value, 15100.0, {}),
                                              cycle_});
        }
        facts += 9;
        rows += 8;
        if (cycle_ % 7 == 0) {
            ++errors_;
            journal_.Put(results::Event{uuid_, ++seq_, results::NowIso(), cycle_, "F2",
                                        "JAMMED OPEN",
                                        "F2 JAMMED OPEN in cycle " + std::to_string(cycle_)});
            ++facts;
            ++rows;
        }
        journal_.Put(results::RunProgress{uuid_, cycle_, errors_});
    }
    void End() {
        journal_.Put(results::RunEnd{uuid_, results::NowIso(), errors_ > 0 ? "fail" : "pass",
                                     cycle_, errors_});
        ++facts;
    }
    long long facts = 0;
    long long rows = 0;  // of runs, measurements and events

  private:
    results::Journal& journal_;
    std::string uuid_;
    int cycle_ = 0;
    int seq_ = 0;
    int errors_ = 0;
};

// With --owner the stations log in as the database's owner, whom row-level
// security does not bind: what the policies cost is the difference.
bool asOwner = false;

// The station's own login, made by the owner as add-station makes it.
std::string StationLogin(const PgServer& server, const std::string& station) {
    if (asOwner) return server.Uri();
    std::string error;
    auto owner = results::PgConnection::Connect(server.Uri(), {}, &error);
    if (owner == nullptr ||
        !results::AddLogin(*owner, results::LoginKind::Station, station, "bench", &error)) {
        std::fprintf(stderr, "cannot make the login %s: %s\n", station.c_str(), error.c_str());
        std::exit(1);
    }
    return "postgresql://" + station + ":bench@" + server.Address() + "/postgres";
}

results::JournalOptions Options(const PgServer* server, const std::string& local,
                                const std::string& station) {
    results::JournalOptions options;
    options.target = server != nullptr ? StationLogin(*server, station) : local;
    options.local = local;
    options.station = station;
    options.software = "bench";
    return options;
}

// Cycles per second of one station against the instant peer, recording.
double StationRate(const PgServer& server, const std::string& dir, int cycles) {
    PtyPeer peer;
    peer.RespondWith(InstantAnswers());
    ZHand hand;
    bool ready = false;
    {
        ScopedChdir cwd(peer.Dir());
        ready = hand.Initialize(1, 15) == 0;
    }
    if (!ready) {
        std::fprintf(stderr, "the hand did not initialise\n");
        std::exit(1);
    }
    results::Journal journal(Options(&server, dir + "/station.db", "rate"));
    journal.Open();
    RunFacts run(journal);
    std::array<int, 8> positions{};
    const auto start = SteadyClock::now();
    for (int c = 0; c < cycles; ++c) {
        std::array<int, 1> value{};
        int slot = 0;
        hand.Close("G");
        for (const char* finger : {"1", "2", "3"}) {
            hand.GetParameters(finger, "P", value);
            positions[slot++] = value[0];
        }
        hand.Open("G");
        for (const char* finger : {"1", "2", "3"}) {
            hand.GetParameters(finger, "P", value);
            positions[slot++] = value[0];
        }
        hand.Close("S");
        hand.GetParameters("4", "P", value);
        positions[slot++] = value[0];
        hand.Open("S");
        hand.GetParameters("4", "P", value);
        positions[slot++] = value[0];
        int temperature = 0;
        hand.GetTemperature(&temperature);
        run.Cycle(positions);
    }
    const double seconds = Seconds(SteadyClock::now() - start);
    run.End();
    journal.WaitForShipping(30s);
    return cycles / seconds;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Station time per fact put: local file only, and with the outbox and a
// shipper at work.
void PutCost(const PgServer& server, const std::string& dir) {
    constexpr int kCycles = 3000;
    for (bool shipping : {false, true}) {
        const std::string name = shipping ? "cost-ship" : "cost-local";
        results::Journal journal(
            Options(shipping ? &server : nullptr, dir + "/" + name + ".db", name));
        journal.Open();
        RunFacts run(journal);
        const std::array<int, 8> positions = {15400, 15390, 15410, 200, 210, 190, 15050, 30};
        const auto start = SteadyClock::now();
        const double cpuStart = ThreadCpuSeconds();
        for (int c = 0; c < kCycles; ++c) run.Cycle(positions);
        const double cpu = ThreadCpuSeconds() - cpuStart;
        const double seconds = Seconds(SteadyClock::now() - start);
        run.End();
        const double facts = static_cast<double>(run.facts - 2);
        std::printf("  %-26s %.1f us CPU of the station's thread, %.1f us wall time per fact\n",
                    shipping ? "with outbox and shipper:" : "local file only:", cpu * 1e6 / facts,
                    seconds * 1e6 / facts);
        journal.WaitForShipping(60s);
    }
}

struct Phase {
    double seconds = 0;
    long long put = 0;
    long long rows = 0;
    long long maxBacklog = 0;
    long long lastBacklog = 0;
    double drainSeconds = 0;
    long long onServer = 0;
};

long long Backlog(const std::vector<std::string>& files) {
    long long total = 0;
    for (const std::string& file : files) {
        const std::string n = QueryValue(file, "SELECT count(*) FROM outbox");
        total += n.empty() ? 0 : std::stoll(n);
    }
    return total;
}

long long ServerRows(const PgServer& server, const std::string& name) {
    std::string error;
    auto reader = results::PostgresStore::Open(server.Uri(), results::PostgresStore::Mode::ReadOnly,
                                               {}, &error);
    results::Rows rows;
    const std::string like = "r.station LIKE '" + name + "-%'";
    if (reader == nullptr ||
        !reader->Query("SELECT (SELECT count(*) FROM runs r WHERE " + like +
                           ") + (SELECT count(*) FROM measurements m JOIN runs r ON r.id = m.run_id"
                           " WHERE " +
                           like +
                           ") + (SELECT count(*) FROM events e JOIN runs r ON r.id = e.run_id"
                           " WHERE " +
                           like + ")",
                       {}, &rows, &error)) {
        std::printf("  cannot count the server's rows: %s\n", error.c_str());
        return -1;
    }
    return std::stoll(rows[0][0].value_or("0"));
}

enum class LineMode {
    LocalOnly,  // no server: what this machine lets twenty writers do
    Shipping,   // shipping all the while
    Outage,     // the server is stopped while the writers run, started after
};

// `stations` journals put Multi-Axis cycles for `seconds`, unpaced.
Phase Line(PgServer& server, const std::string& dir, const std::string& name, int stations,
           double seconds, LineMode mode) {
    std::vector<std::string> files;
    std::vector<std::unique_ptr<results::Journal>> journals;
    for (int i = 0; i < stations; ++i) {
        files.push_back(dir + "/" + name + "-" + std::to_string(i) + ".db");
        results::JournalOptions options = Options(mode == LineMode::LocalOnly ? nullptr : &server,
                                                  files.back(), name + "-" + std::to_string(i));
        options.shipRetryMaxMs = 250;
        journals.push_back(std::make_unique<results::Journal>(options));
        journals.back()->Open();
    }
    if (mode == LineMode::Outage) server.Stop();
    std::atomic<bool> stop{false};
    std::atomic<long long> put{0};
    std::atomic<long long> rows{0};
    std::vector<std::thread> writers;
    const auto start = SteadyClock::now();
    for (int i = 0; i < stations; ++i) {
        writers.emplace_back([&, i] {
            std::array<int, 8> positions = {15400, 15390, 15410, 200, 210, 190, 15050, 30};
            while (!stop) {
                RunFacts run(*journals[i]);
                for (int c = 0; c < 1500 && !stop; ++c) run.Cycle(positions);
                run.End();
                put += run.facts;
                rows += run.rows;
            }
        });
    }
    Phase phase;
    while (SteadyClock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(500ms);
        if (mode == LineMode::LocalOnly) continue;
        phase.lastBacklog = Backlog(files);
        phase.maxBacklog = std::max(phase.maxBacklog, phase.lastBacklog);
    }
    stop = true;
    for (auto& w : writers) w.join();
    phase.seconds = Seconds(SteadyClock::now() - start);
    phase.put = put;
    phase.rows = rows;
    if (mode == LineMode::LocalOnly) return phase;
    if (mode == LineMode::Outage) {
        phase.lastBacklog = Backlog(files);
        phase.maxBacklog = std::max(phase.maxBacklog, phase.lastBacklog);
        server.Start();
    }
    const auto drain = SteadyClock::now();
    for (auto& journal : journals) {
        if (!journal->WaitForShipping(300s)) {
            std::printf("  not shipped: %s\n", journal->Problem().c_str());
        }
    }
    phase.drainSeconds = Seconds(SteadyClock::now() - drain);
    phase.onServer = ServerRows(server, name);
    return phase;
}

void Print(const char* what, const Phase& p, int stations, LineMode mode) {
    std::printf("%s: %d stations, %.1f s\n", what, stations, p.seconds);
    std::printf("  facts put              %lld (%.0f/s, %.0f/s per station)\n", p.put,
                p.put / p.seconds, p.put / p.seconds / stations);
    if (mode == LineMode::LocalOnly) return;
    std::printf(
        "  outbox backlog         largest %lld, at the end of writing %lld (all stations)\n",
        p.maxBacklog, p.lastBacklog);
    std::printf("  drained %s   %.2f s",
                mode == LineMode::Outage ? "after restart" : "after stop   ", p.drainSeconds);
    if (mode == LineMode::Outage) std::printf(" = %.0f facts/s shipped", p.put / p.drainSeconds);
    std::printf("\n  rows on the server     %lld of %lld (runs + measurements + events)\n",
                p.onServer, p.rows);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    int stations = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--stations") == 0) stations = std::atoi(argv[i + 1]);
    }
    for (int i = 1; i < argc; ++i) asOwner = asOwner || std::strcmp(argv[i], "--owner") == 0;
    PgServer server;
    if (!server.Ready()) {
        std::fprintf(stderr, "cannot start PostgreSQL:\n%s\n", server.Log().c_str());
        return 1;
    }
    // The server as server init makes it; each station logs in as itself.
    {
        std::string error;
        auto owner = results::PgConnection::Connect(server.Uri(), {}, &error);
        results::InitOutcome outcome;
        if (owner == nullptr || !results::InitServer(*owner, &outcome, &error)) {
            std::fprintf(stderr, "cannot set up the server: %s\n", error.c_str());
            return 1;
        }
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-ship-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string dir = pattern;

    const double cycleRate = StationRate(server, dir, 2000);
    const double factsPerCycle = 9 + 1.0 / 7;
    std::printf(
        "one station, Multi-Axis against the instant peer, recording: %.0f cycles/s ="
        " %.0f facts/s\n",
        cycleRate, cycleRate * factsPerCycle);
    std::printf("twenty such stations: %.0f facts/s\n", stations * cycleRate * factsPerCycle);
    std::printf("station time per fact, one journal:\n");
    PutCost(server, dir);
    const bool costOnly = std::getenv("ZHAND_BENCH_COST_ONLY") != nullptr;
    const LineMode modes[] = {LineMode::LocalOnly, LineMode::Shipping, LineMode::Outage};
    const char* names[] = {"local", "ship", "outage"};
    const char* titles[] = {"local file only, no server", "shipping all the while",
                            "server stopped while writing, started after"};
    for (int i = 0; i < 3 && !costOnly; ++i) {
        Print(titles[i], Line(server, dir, names[i], stations, seconds, modes[i]), stations,
              modes[i]);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
