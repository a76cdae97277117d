#include "journal.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "results_fixture.h"
#include "sqlite_store.h"

namespace {

using namespace results;

class JournalTest : public StoreDir {
  protected:
    JournalOptions Options() const {
        JournalOptions options;
        options.target = db;
        options.station = "bench-1";
        options.software = "3.0.0";
        options.busyTimeoutMs = 200;
        options.retryMs = 0;
        return options;
    }
    // The options with the writer thread, gathering `gatherMs`.
    JournalOptions WriterOptions(int gatherMs = JournalOptions{}.gatherMs) const {
        JournalOptions options = Options();
        options.background = true;
        options.gatherMs = gatherMs;
        return options;
    }
    std::string Unsaved() const { return (dir / "results-unsaved.jsonl").string(); }
    int UnsavedLines() const {
        std::ifstream in(Unsaved());
        int lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        return lines;
    }
    static RunStart Bare(const std::string& uuid) {
        RunStart run = Run(uuid);
        run.station.clear();
        run.software.clear();
        return run;
    }
};

// Both ways of committing: as Put returns, or by the writer thread (whose
// facts are all in once Flush returns).
const bool kBackground[] = {false, true};

TEST_F(JournalTest, FactsAreCommittedAsTheyComeWithTheStationFilledIn) {
    for (bool background : kBackground) {
        SCOPED_TRACE(background ? "background" : "as Put returns");
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        JournalOptions options = Options();
        options.background = background;
        Journal journal(options);
        ASSERT_TRUE(journal.Open()) << journal.Problem();
        journal.Put(Bare("u1"));
        journal.Put(Fault("u1", 1, 3));
        journal.Flush();
        // Each fact is in the file, seen by another reader.
        EXPECT_EQ(Query("SELECT station, software, outcome FROM runs"),
                  (QueryRows{{"bench-1", "3.0.0", "running"}}));
        EXPECT_EQ(Value("SELECT count(*) FROM events"), "1");
        journal.Put(End("u1", kFail, 3, 1));
        journal.Flush();
        EXPECT_EQ(Value("SELECT outcome FROM runs"), "fail");
        EXPECT_EQ(journal.Problem(), "");
        EXPECT_FALSE(std::filesystem::exists(Unsaved()));
    }
}

// The writer stores every fact put before the journal goes, in order.
TEST_F(JournalTest, TheWriterStoresAllItWasGivenBeforeItStops) {
    {
        Journal journal(WriterOptions());
        ASSERT_TRUE(journal.Open()) << journal.Problem();
        journal.Put(Bare("u1"));
        for (int cycle = 1; cycle <= 500; ++cycle) journal.Put(Fault("u1", cycle, cycle));
        journal.Put(End("u1", kFail, 500, 500));
    }
    EXPECT_EQ(Query("SELECT count(*), min(cycle), max(cycle), sum(seq = cycle) FROM events"),
              (QueryRows{{"500", "1", "500", "500"}}));
    EXPECT_EQ(Value("SELECT outcome FROM runs"), "fail");
}

// The writer gathers measurements before it commits them, but never keeps
// anyone waiting: an event, a Flush and the journal's end each store what was
// put at once. (A gathering that ignored them would hold this test for ten
// minutes.)
TEST_F(JournalTest, EventsFlushAndTheEndCutTheWritersGatheringShort) {
    const std::string counts =
        "SELECT outcome, (SELECT count(*) FROM measurements), (SELECT count(*) FROM events)"
        " FROM runs";
    {
        Journal journal(WriterOptions(600000));
        ASSERT_TRUE(journal.Open()) << journal.Problem();
        journal.Put(Bare("u1"));
        journal.Put(Position("u1", 1, 15100));
        journal.Flush();
        EXPECT_EQ(Query(counts), (QueryRows{{"running", "1", "0"}}));
        // An event takes the measurements put before it along.
        journal.Put(Position("u1", 2, 15090));
        journal.Put(Fault("u1", 3, 1));
        for (int i = 0; i < 200 && Value("SELECT count(*) FROM events") != "1"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(Query(counts), (QueryRows{{"running", "2", "1"}}));
        journal.Put(Position("u1", 4, 15080));
    }
    EXPECT_EQ(Query(counts), (QueryRows{{"running", "3", "1"}}));
}

// Of the progress gathered for one commit only each run's last counts; the
// measurements between stay, and one run's progress never stands for
// another's.
TEST_F(JournalTest, GatheredProgressKeepsEachRunsLatest) {
    Journal journal(WriterOptions(600000));
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    journal.Put(Bare("a"));
    journal.Put(Bare("b"));
    journal.Flush();
    int seq = 0;
    for (int cycle = 1; cycle <= 3; ++cycle) {
        journal.Put(Position("a", ++seq, 15000 + cycle));
        journal.Put(RunProgress{"a", cycle, cycle - 1});
        if (cycle < 3) journal.Put(RunProgress{"b", cycle * 10, 1});
    }
    journal.Flush();
    EXPECT_EQ(Query("SELECT uuid, cycles_done, errors, outcome FROM runs ORDER BY uuid"),
              (QueryRows{{"a", "3", "2", "running"}, {"b", "20", "1", "running"}}));
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "3");
}

// How often the journal's writer thread has gone to sleep so far; -1 when
// there is none.
long WriterSleeps() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || name != "zhand-writer") continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
        }
    }
    return -1;
}

// While facts keep coming the writer commits them every few milliseconds
// without being woken; once they stop it sleeps until the next one, so a
// station waiting at its form costs nothing.
TEST_F(JournalTest, TheWriterCommitsByItselfAndSleepsWhenFactsStop) {
    Journal journal(WriterOptions(5));
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    journal.Put(Bare("u1"));
    journal.Flush();
    for (int seq = 1; seq <= 40; ++seq) {
        journal.Put(Position("u1", seq, 15100));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 200 && Value("SELECT count(*) FROM measurements") != "40"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "40") << "stored without a Flush";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long before = WriterSleeps();
    ASSERT_GE(before, 0) << "no writer thread";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(WriterSleeps() - before, 1) << "the writer keeps waking with nothing to store";
    journal.Put(Position("u1", 41, 15100));
    for (int i = 0; i < 200 && Value("SELECT count(*) FROM measurements") != "41"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "41") << "a fact wakes it again";
}

TEST_F(JournalTest, OffRecordsNothing) {
    JournalOptions options = Options();
    options.target = "off";
    Journal journal(options);
    EXPECT_TRUE(journal.Open());
    EXPECT_FALSE(journal.Enabled());
    journal.Put(Bare("u1"));
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Root may write any file; an immutable one it may not.
bool SetReadOnly(const std::string& path, bool readOnly) {
    if (geteuid() != 0) {
        std::filesystem::permissions(path, readOnly ? std::filesystem::perms::owner_read
                                                    : std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write);
        return true;
    }
    const std::string command =
        std::string("chattr ") + (readOnly ? "+i '" : "-i '") + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

// A store the journal cannot use: the facts go to the unsaved file, one line
// says so, and once the store is mended the file is loaded, in order, and
// removed.
TEST_F(JournalTest, ABadStoreLosesNothing) {
    enum class Kind { Directory, ReadOnly, Corrupt, Locked };
    for (bool background : kBackground)
        for (Kind kind : {Kind::Directory, Kind::ReadOnly, Kind::Corrupt, Kind::Locked}) {
            SCOPED_TRACE(static_cast<int>(kind));
            SCOPED_TRACE(background ? "background" : "as Put returns");
            std::filesystem::remove_all(dir);
            std::filesystem::create_directories(dir);
            sqlite3* holder = nullptr;  // the other program holding the lock
            switch (kind) {
                case Kind::Directory:
                    std::filesystem::create_directory(db);
                    break;
                case Kind::ReadOnly: {
                    std::string error;
                    ASSERT_NE(SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 0, &error),
                              nullptr);
                    if (!SetReadOnly(db, true))
                        GTEST_SKIP() << "this file system cannot make a file immutable";
                    break;
                }
                case Kind::Corrupt:
                    std::ofstream(db, std::ios::binary) << std::string(2048, '\x07');
                    break;
                case Kind::Locked:
                    ASSERT_NE(SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 0, nullptr),
                              nullptr);
                    ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
                    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
                              SQLITE_OK);
                    break;
            }

            JournalOptions options = Options();
            options.background = background;
            Journal journal(options);
            EXPECT_FALSE(journal.Open());
            EXPECT_FALSE(journal.Problem().empty());
            EXPECT_LE(journal.Problem().size(), 78u) << journal.Problem();
            EXPECT_NE(journal.Problem().find("results-unsaved.jsonl"), std::string::npos);
            journal.Put(Bare("u1"));
            journal.Put(Fault("u1", 1, 3));
            journal.Put(End("u1", kFail, 3, 1));
            journal.Flush();
            EXPECT_EQ(UnsavedLines(), 3);
            EXPECT_NE(journal.Problem().find("results-unsaved.jsonl"), std::string::npos);

            switch (kind) {
                case Kind::Directory:
                    std::filesystem::remove(db);
                    break;
                case Kind::ReadOnly:
                    ASSERT_TRUE(SetReadOnly(db, false));
                    break;
                case Kind::Corrupt:
                    std::filesystem::rename(db, dir / "results.db.damaged");
                    break;
                case Kind::Locked:
                    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
                    sqlite3_close(holder);
                    break;
            }
            // The next fact finds the store usable and brings the set-aside
            // ones in first.
            journal.Put(Bare("u2"));
            journal.Flush();
            EXPECT_EQ(journal.Problem(), "");
            EXPECT_FALSE(std::filesystem::exists(Unsaved()));
            EXPECT_EQ(
                Query("SELECT uuid, station, outcome, errors FROM runs ORDER BY id"),
                (QueryRows{{"u1", "bench-1", "fail", "1"}, {"u2", "bench-1", "running", "0"}}));
            EXPECT_EQ(Value("SELECT count(*) FROM events"), "1");
        }
}

// The next start of the station loads what an earlier one set aside, and a
// line cut short by a crash does not keep the rest out.
TEST_F(JournalTest, TheNextStartLoadsTheUnsavedFile) {
    {
        std::ofstream out(Unsaved());
        out << ToJson(Run("u1")) << "\n"
            << ToJson(Fault("u1", 1, 2)) << "\n"
            << ToJson(End("u1", kAborted, 2, 1)) << "\n"
            << ToJson(Run("u2")).substr(0, 40);
    }
    Journal journal(Options());
    ASSERT_TRUE(journal.Open()) << journal.Problem();
    EXPECT_FALSE(std::filesystem::exists(Unsaved()));
    EXPECT_EQ(Query("SELECT uuid, outcome FROM runs"), (QueryRows{{"u1", "aborted"}}));
    EXPECT_EQ(Value("SELECT count(*) FROM events"), "1");
    // The cut line is named and kept, not skipped without a word.
    EXPECT_EQ(journal.Problem(),
              "results-unsaved.jsonl line 4 unreadable; kept in results-unsaved.bad");
    std::ifstream bad(dir / "results-unsaved.bad");
    std::string kept;
    std::getline(bad, kept);
    EXPECT_EQ(kept, ToJson(Run("u2")).substr(0, 40));
}

// A station killed mid-run: every fact whose Put returned is in the store,
// and the next start of the same station marks the run interrupted.
TEST_F(JournalTest, AKilledStationLosesNothingAndItsRunIsInterrupted) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        Journal journal(Options());
        if (!journal.Open()) _exit(2);
        journal.Put(Bare("killed"));
        for (int seq = 1;; ++seq) {
            journal.Put(Position("killed", seq, 15000 + seq));
            if (write(ready[1], &seq, sizeof seq) != sizeof seq) _exit(3);
        }
    }
    close(ready[1]);
    int seq = 0;
    while (seq < 200 && read(ready[0], &seq, sizeof seq) == sizeof seq) {
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_GE(std::stoi(Value("SELECT count(*) FROM measurements")), seq);
    EXPECT_EQ(Value("SELECT outcome FROM runs"), "running");

    JournalOptions other = Options();
    other.station = "bench-2";
    ASSERT_TRUE(Journal(other).Open());
    EXPECT_EQ(Value("SELECT outcome FROM runs"), "running");
    ASSERT_TRUE(Journal(Options()).Open());
    EXPECT_EQ(Value("SELECT outcome FROM runs"), "interrupted");
}

TEST(JournalEnvironment, StoreAndStationFromTheEnvironment) {
    unsetenv("ZHAND_RESULTS");
    EXPECT_EQ(StoreFromEnvironment(), "results.db");
    setenv("ZHAND_RESULTS", "/srv/line/other.db", 1);
    EXPECT_EQ(StoreFromEnvironment(), "/srv/line/other.db");
    unsetenv("ZHAND_RESULTS");
    setenv("ZHAND_STATION", "bench-7", 1);
    EXPECT_EQ(StationFromEnvironment(), "bench-7");
    unsetenv("ZHAND_STATION");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(StationFromEnvironment(), host);
}

}  // namespace
