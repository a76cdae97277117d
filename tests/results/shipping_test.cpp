// The journal with a shared server: what the station stores reaches the
// server once, whatever happens to the server or the station on the way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "journal.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "results_fixture.h"
#include "run_ids.h"
#include "server_query.h"
#include "wait_until.h"

namespace {

using namespace results;
using namespace std::chrono_literals;

// The facts of a Multi-Axis-like run: eight positions and a progress every
// cycle, a fault now and then, and the end.
class RunWriter {
  public:
    RunWriter(Journal& journal, std::string uuid, std::string station = "")
        : journal_(journal), uuid_(std::move(uuid)) {
        RunStart run;
        run.uuid = uuid_;
        run.station = std::move(station);
        run.serial = "HND" + uuid_;
        run.operatorInitials = "JD";
        run.test = "Multi-Axis";
        run.cyclesPlanned = 1500;
        run.started = "2026-12-10T09:53:12.345Z";
        run.logFile = "HND123JD121026_1.txt";
        journal_.Put(run);
    }
    void Cycles(int count) {
        static const char* const kPositions[] = {"F1 closed",     "F2 closed",  "F3 closed",
                                                 "F1 open",       "F2 open",    "F3 open",
                                                 "Spread closed", "Spread open"};
        for (int i = 0; i < count; ++i) {
            ++cycle_;
            for (const char* name : kPositions) {
                const double value = 15000.5 + cycle_ + seq_ * 0.25;
                journal_.Put(Measurement{uuid_,
                                         ++seq_,
                                         name,
                                         value,
                                         "counts",
                                         15100.0,
                                         {},
                                         Verdict(value, 15100.0, {}),
                                         cycle_});
            }
            if (cycle_ % 7 == 0) {
                ++errors_;
                journal_.Put(Event{uuid_, ++seq_, "2026-12-10T09:53:13.000Z", cycle_, "F2",
                                   "JAMMED OPEN",
                                   "F2 JAMMED OPEN in cycle " + std::to_string(cycle_)});
            }
            journal_.Put(RunProgress{uuid_, cycle_, errors_});
        }
    }
    void End() {
        journal_.Put(RunEnd{uuid_, "2026-12-10T10:00:00.000Z", errors_ > 0 ? kFail : kPass, cycle_,
                            errors_});
    }
    int Cycle() const { return cycle_; }

  private:
    Journal& journal_;
    std::string uuid_;
    int cycle_ = 0;
    int seq_ = 0;
    int errors_ = 0;
};

// Numbers read as text differ between the stores ("15400.0", "15400").
QueryRows Normalized(QueryRows rows) {
    for (auto& row : rows) {
        for (auto& cell : row) {
            char* end = nullptr;
            const double number = std::strtod(cell.c_str(), &end);
            if (!cell.empty() && end == cell.c_str() + cell.size()) {
                char text[40];
                std::snprintf(text, sizeof text, "%.17g", number);
                cell = text;
            }
        }
    }
    return rows;
}

class ShippingTest : public StoreDir {
  protected:
    // The line as its engineer sets it up: init, a login for each station
    // of the tests, and one for reading.
    void SetUp() override {
        StoreDir::SetUp();
        ASSERT_TRUE(server.Ready()) << server.Log();
        ASSERT_EQ(pg_logins::Init(server), "");
        for (const char* station : {"bench-1", "line-1", "line-2"}) {
            ASSERT_NE(pg_logins::Station(server, station), "");
        }
        reader = pg_logins::Reader(server);
        ASSERT_NE(reader, "");
    }
    // A station that logs in as itself (or as `login`).
    JournalOptions Options(const std::string& local, const std::string& station = "bench-1",
                           const std::string& login = "") const {
        JournalOptions options;
        options.target = pg_logins::LoginUri(server, login.empty() ? station : login);
        options.local = local;
        options.station = station;
        options.software = "3.0.0";
        options.retryMs = 0;
        options.shipLingerMs = 20;
        options.shipRetryMaxMs = 400;
        options.shipTimeoutMs = 1500;
        return options;
    }
    QueryRows Server(const std::string& sql) const { return ServerQuery(reader, sql); }
    std::string ServerValue(const std::string& sql) const {
        const QueryRows rows = Server(sql);
        return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "";
    }

    // Every run, measurement and event of `station` in `local` is on the
    // server once, as it is in the file, and the server holds no other.
    void ExpectServerMatches(const std::string& local, const std::string& station, std::size_t runs,
                             std::size_t measurements) const {
        const std::string where = " WHERE r.station = '" + station + "'";
        const std::string queries[] = {
            "SELECT uuid, station, software, serial, operator, test, cycles_planned, cycles_done,"
            " started, ended, outcome, errors, log_file FROM runs r" +
                where + " ORDER BY uuid",
            "SELECT r.uuid, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome, m.cycle"
            " FROM measurements m JOIN runs r ON r.id = m.run_id" +
                where + " ORDER BY r.uuid, m.seq",
            "SELECT r.uuid, e.seq, e.at, e.cycle, e.motor, e.kind, e.text"
            " FROM events e JOIN runs r ON r.id = e.run_id" +
                where + " ORDER BY r.uuid, e.seq",
        };
        const QueryRows localRuns = QueryStore(local, queries[0]);
        EXPECT_EQ(localRuns.size(), runs);
        EXPECT_EQ(QueryStore(local, queries[1]).size(), measurements);
        for (const std::string& sql : queries) {
            EXPECT_EQ(Normalized(Server(sql)), Normalized(QueryStore(local, sql))) << sql;
        }
        EXPECT_EQ(QueryValue(local, "SELECT count(*) FROM outbox"), "0");
    }

    PgServer server;
    std::string reader;
};

TEST_F(ShippingTest, FactsAreShippedAndReadBack) {
    Journal journal(Options(db));
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    EXPECT_TRUE(journal.Shipping());
    EXPECT_EQ(journal.LocalStore(), db);
    for (const char* uuid : {"r1", "r2", "r3"}) {
        RunWriter run(journal, uuid);
        run.Cycles(20);
        run.End();
    }
    ASSERT_TRUE(journal.WaitForShipping(30s)) << journal.Problem();
    EXPECT_EQ(journal.Problem(), "");
    ExpectServerMatches(db, "bench-1", 3, 3 * 20 * 8);
    EXPECT_EQ(ServerValue("SELECT outcome FROM runs WHERE uuid = 'r3'"), "fail");
}

// The server goes away in the middle of a run and comes back: the station
// records on, row 21 says where the server is (and nothing of the password)
// until shipping has caught up, and then everything is there once.
TEST_F(ShippingTest, AServerStoppedMidStreamGetsEverythingOnceWhenBack) {
    JournalOptions options = Options(db);
    options.shipBatch = 50;  // the backlog goes in many shipments
    Journal journal(options);
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    RunWriter first(journal, "before");
    first.Cycles(10);
    first.End();
    RunWriter run(journal, "across");
    run.Cycles(30);

    ASSERT_TRUE(server.Stop());
    run.Cycles(100);
    ASSERT_TRUE(WaitUntil([&] { return !journal.Problem().empty(); }, 20s));
    const std::string problem = journal.Problem();
    EXPECT_NE(problem.find(server.Address()), std::string::npos) << problem;
    EXPECT_NE(problem.find("unreachable"), std::string::npos) << problem;
    EXPECT_EQ(problem.find(PgServer::kPassword), std::string::npos) << problem;
    EXPECT_LE(problem.size(), 78u) << problem;
    EXPECT_EQ(journal.ShippingProblem(), problem);
    run.Cycles(50);
    EXPECT_EQ(QueryValue(db,
                         "SELECT count(*) FROM measurements m JOIN runs r ON r.id = m.run_id"
                         " WHERE r.uuid = 'across'"),
              std::to_string(180 * 8));
    EXPECT_NE(QueryValue(db, "SELECT count(*) FROM outbox"), "0");

    // In order: while the backlog goes out, the server holds the run's
    // first facts, never a later one without all before it.
    ASSERT_TRUE(server.Start());
    run.Cycles(20);
    run.End();
    // (Measurements and events number their facts in one sequence.)
    const std::string held =
        "SELECT count(*), coalesce(max(seq), 0) FROM"
        " (SELECT seq, run_id FROM measurements UNION ALL SELECT seq, run_id FROM events) f"
        " JOIN runs r ON r.id = f.run_id WHERE r.uuid = 'across'";
    QueryRows gap;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!journal.WaitForShipping(2ms) && std::chrono::steady_clock::now() < deadline) {
        const QueryRows now = Server(held);
        if (now.size() == 1 && now[0].size() == 2 && now[0][0] != now[0][1]) gap = now;
    }
    EXPECT_TRUE(gap.empty()) << "count " << gap[0][0] << ", last seq " << gap[0][1];
    ASSERT_TRUE(journal.WaitForShipping(1s)) << journal.Problem();
    EXPECT_EQ(journal.Problem(), "");
    ExpectServerMatches(db, "bench-1", 2, (10 + 200) * 8);
}

// A server that hangs (it takes the connection and never answers) holds up
// nothing: every fact is in the local file while the server is still frozen.
TEST_F(ShippingTest, AHungServerDoesNotHoldUpTheStation) {
    Journal journal(Options(db));
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    RunWriter run(journal, "hung");
    run.Cycles(5);
    ASSERT_TRUE(journal.WaitForShipping(30s)) << journal.Problem();
    server.Freeze();
    run.Cycles(300);
    EXPECT_EQ(QueryValue(db, "SELECT cycles_done FROM runs"), "305");
    ASSERT_TRUE(WaitUntil([&] { return !journal.Problem().empty(); }, 20s));
    EXPECT_NE(journal.Problem().find(server.Address()), std::string::npos) << journal.Problem();
    run.Cycles(5);
    run.End();
    server.Thaw();
    ASSERT_TRUE(journal.WaitForShipping(60s)) << journal.Problem();
    EXPECT_EQ(journal.Problem(), "");
    ExpectServerMatches(db, "bench-1", 1, 310 * 8);
}

// Two station processes, each with its own file and name, write to one
// server at once while it is stopped and started again.
TEST_F(ShippingTest, TwoStationsShareOneServerThroughARestart) {
    constexpr int kRuns = 4;
    constexpr int kCycles = 40;
    const std::string stations[] = {"line-1", "line-2"};
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    std::vector<pid_t> children;
    for (const std::string& station : stations) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(progress[0]);
            const std::string local = (dir / (station + ".db")).string();
            int status = 0;
            {
                Journal journal(Options(local, station));
                if (!journal.Open()) _exit(2);
                for (int r = 0; r < kRuns; ++r) {
                    RunWriter run(journal, NewRunUuid());
                    for (int c = 0; c < kCycles; ++c) {
                        run.Cycles(1);
                        std::this_thread::sleep_for(5ms);
                    }
                    run.End();
                    if (write(progress[1], "r", 1) != 1) status = 3;
                }
                if (!journal.WaitForShipping(90s)) status = 4;
            }
            _exit(status);
        }
        children.push_back(child);
    }
    close(progress[1]);
    char c = 0;
    ASSERT_EQ(read(progress[0], &c, 1), 1);  // a run is done
    ASSERT_TRUE(server.Stop());
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(server.Start());
    int runs = 1;
    while (read(progress[0], &c, 1) == 1) ++runs;
    close(progress[0]);
    EXPECT_EQ(runs, 2 * kRuns);
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (const std::string& station : stations) {
        SCOPED_TRACE(station);
        ExpectServerMatches((dir / (station + ".db")).string(), station, kRuns,
                            kRuns * kCycles * 8);
    }
    EXPECT_EQ(ServerValue("SELECT count(DISTINCT uuid) FROM runs"), std::to_string(2 * kRuns));
}

// A station killed while it ships: what it stored is shipped by its next
// start, which also marks the run interrupted, on the server as in the file.
TEST_F(ShippingTest, AKilledStationsFactsAreShippedByItsNextStart) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        Journal journal(Options(db));
        if (!journal.Open()) _exit(2);
        RunWriter run(journal, "killed");
        for (;;) {
            run.Cycles(1);
            const int cycle = run.Cycle();
            if (write(ready[1], &cycle, sizeof cycle) != sizeof cycle) _exit(3);
        }
    }
    close(ready[1]);
    int cycle = 0;
    while (cycle < 400 && read(ready[0], &cycle, sizeof cycle) == sizeof cycle) {
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    Journal next(Options(db));
    ASSERT_TRUE(next.Open()) << next.Problem();
    ASSERT_TRUE(next.WaitForShipping(60s)) << next.Problem();
    EXPECT_EQ(QueryValue(db, "SELECT outcome FROM runs"), "interrupted");
    const std::string cycles = QueryValue(db, "SELECT cycles_done FROM runs");
    EXPECT_GE(std::stoi(cycles), cycle);
    const std::string measured = QueryValue(db, "SELECT count(*) FROM measurements");
    ExpectServerMatches(db, "bench-1", 1, std::stoul(measured));
}

// Row 21 tells where the server is and what is wrong, never the password:
// neither the right one nor a wrong one typed into the URI.
TEST_F(ShippingTest, NoPasswordOnRow21) {
    struct Case {
        const char* what;
        std::string password;
        bool stopServer;
        const char* says;
    };
    const Case cases[] = {
        {"server stopped", PgServer::kPassword, true, "unreachable"},
        {"wrong password", "Wr0ng-Guess", false, "(wrong password)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.stopServer) {
            ASSERT_TRUE(server.Stop());
        }
        JournalOptions options = Options((dir / (std::string(c.what) + ".db")).string());
        options.target = pg_logins::LoginUri(server, "bench-1", c.password);
        Journal journal(options);
        ASSERT_TRUE(journal.Open());
        RunWriter run(journal, NewRunUuid());
        run.Cycles(1);
        ASSERT_TRUE(WaitUntil([&] { return !journal.Problem().empty(); }, 20s));
        const std::string problem = journal.Problem();
        EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
        EXPECT_NE(problem.find(server.Address()), std::string::npos) << problem;
        EXPECT_EQ(problem.find(c.password), std::string::npos) << problem;
        EXPECT_EQ(problem.find(pg_logins::kLoginPassword), std::string::npos) << problem;
        if (c.stopServer) {
            ASSERT_TRUE(server.Start());
        }
    }
}

// A server that holds no store (or an older one) is named on row 21 as
// soon as the station starts, in words that say what to do; the station
// keeps its facts, and ships them all once the owner has run init.
TEST_F(ShippingTest, AServerWithoutInitIsToldAtStartAndGetsEverythingAfterIt) {
    {
        std::string error;
        auto owner = PgConnection::Connect(server.Uri(), {}, &error);
        ASSERT_NE(owner, nullptr) << error;
        ASSERT_TRUE(owner->Exec("CREATE DATABASE bare", &error)) << error;
    }
    const std::string bare = pg_logins::LoginUri(server, "bench-1");
    JournalOptions options = Options(db);
    options.target = bare.substr(0, bare.rfind('/')) + "/bare";
    Journal journal(options);
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    ASSERT_TRUE(WaitUntil([&] { return !journal.Problem().empty(); }, 20s));
    EXPECT_EQ(journal.Problem(),
              "Results server " + server.Address() + " needs zhand-report server init");
    RunWriter run(journal, "waiting");
    run.Cycles(10);
    run.End();
    EXPECT_FALSE(journal.WaitForShipping(1s));
    EXPECT_NE(journal.Problem().find("needs zhand-report server init"), std::string::npos);
    EXPECT_LE(journal.Problem().size(), 78u);
    EXPECT_NE(QueryValue(db, "SELECT count(*) FROM outbox"), "0");

    const std::string owner = server.Uri().substr(0, server.Uri().rfind('/')) + "/bare";
    {
        std::string error;
        auto connection = PgConnection::Connect(owner, {}, &error);
        ASSERT_NE(connection, nullptr) << error;
        InitOutcome outcome;
        ASSERT_TRUE(InitServer(*connection, &outcome, &error)) << error;
    }
    ASSERT_TRUE(journal.WaitForShipping(60s)) << journal.Problem();
    EXPECT_EQ(journal.Problem(), "");
    EXPECT_EQ(ServerQuery(owner, "SELECT uuid, outcome, cycles_done FROM runs"),
              (QueryRows{{"waiting", "fail", "10"}}));
}

// A station whose name is not its login is told so at start-up. The server
// refuses its runs (they are not under the login's name); they stay in its
// outbox, none lost, and go once it logs in as itself.
TEST_F(ShippingTest, AStationLoggedInUnderAnotherNameIsToldAndKeepsItsFacts) {
    {
        Journal journal(Options(db, "line-1", "line-2"));
        ASSERT_TRUE(journal.Open()) << journal.Problem();
        ASSERT_TRUE(WaitUntil([&] { return !journal.Problem().empty(); }, 20s));
        const std::string told = "Station line-1 logs in to results server as line-2";
        EXPECT_EQ(journal.Problem(), told);
        RunWriter run(journal, "misnamed");
        run.Cycles(10);
        run.End();
        EXPECT_FALSE(journal.WaitForShipping(2s));
        EXPECT_EQ(journal.Problem(), told);
        EXPECT_EQ(ServerValue("SELECT count(*) FROM runs"), "0");
        // Every fact of the run is still waiting: its start, measurements,
        // events and end at least.
        EXPECT_GE(std::stoi(QueryValue(db, "SELECT count(*) FROM outbox")),
                  std::stoi(QueryValue(db,
                                       "SELECT (SELECT count(*) FROM measurements) +"
                                       " (SELECT count(*) FROM events) + 2")));
    }
    Journal journal(Options(db, "line-1"));
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    ASSERT_TRUE(journal.WaitForShipping(60s)) << journal.Problem();
    EXPECT_EQ(journal.Problem(), "");
    ExpectServerMatches(db, "line-1", 1, 10 * 8);
}

}  // namespace

namespace {

// The local file is deleted in the middle of a shipped run: the journal and
// the shipper both let go of it, the run from its start goes into a new file
// and on to the server, and the server ends with the whole run once.
TEST_F(ShippingTest, ALocalFileDeletedMidRunStillShipsTheWholeRun) {
    JournalOptions options = Options(db);
    options.background = true;
    Journal journal(options);
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    RunWriter run(journal, "r1");
    run.Cycles(30);
    ASSERT_TRUE(journal.WaitForShipping(30s)) << journal.Problem();
    std::filesystem::remove(db);
    run.Cycles(30);
    run.End();
    ASSERT_TRUE(WaitUntil([&] { return journal.WaitForShipping(1s); }, 60s)) << journal.Problem();
    EXPECT_NE(journal.Problem().find("results.db was removed"), std::string::npos)
        << journal.Problem();
    EXPECT_EQ(QueryValue(db, "PRAGMA integrity_check"), "ok");
    ExpectServerMatches(db, "bench-1", 1, 60 * 8);
}

}  // namespace
