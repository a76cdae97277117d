// The store under a careless shop floor, in the middle of a run: its file
// deleted, another store moved over it, its file made unreadable, its disk
// filled, the station killed. Each case ends with every fact of the run in a
// store that passes SQLite's integrity check, with the run's true outcome.
// The store lives on a small tmpfs of the test's own where the machine lets
// it mount one (root), so that "full" is a real file system's full.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "journal.h"
#include "results_fixture.h"
#include "small_disk.h"
#include "sqlite_store.h"
#include "store_notice.h"
#include "unsaved_file.h"

namespace {

using namespace results;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kCycles = 400;  // a full disk holds more than one part of what waits
constexpr int kPerCycle = 8;  // a Multi-Axis cycle's measurements
constexpr int kFaultAt = 100;

class StoreFaults : public StoreDir {
  protected:
    void SetUp() override {
        StoreDir::SetUp();
        // 4 MB: room for the run several times over, and little enough to fill.
        disk_ = std::make_unique<SmallDisk>(dir, "4m");
        mounted_ = disk_->Mounted();
    }
    void TearDown() override {
        disk_.reset();
        StoreDir::TearDown();
    }

    JournalOptions Options() const {
        JournalOptions options;
        options.target = db;
        options.station = "bench-1";
        options.software = "3.0.0";
        options.background = true;
        options.retryMs = 100;
        return options;
    }

    // One cycle's facts as the station puts them.
    static void PutCycle(Journal& journal, const std::string& run, int cycle) {
        for (int i = 0; i < kPerCycle; ++i) {
            Measurement m = Position(run, cycle * kPerCycle + i, 15200 + i);
            m.cycle = cycle;
            journal.Put(m);
        }
        journal.Put(RunProgress{run, cycle, 0});
    }

    void Fill() const { disk_->Fill(); }
    void Free() const { disk_->Free(); }

    // A store of another station with a history of its own.
    std::string OtherStore() const {
        const std::string other = (dir / "other.db").string();
        std::string error;
        auto store = SqliteStore::Open(other, SqliteStore::Mode::ReadWrite, 1000, &error);
        EXPECT_NE(store, nullptr) << error;
        store->Apply(Run("old-1", "bench-2"), &error);
        for (int seq = 1; seq <= 50; ++seq) store->Apply(Position("old-1", seq, 15300), &error);
        store->Apply(End("old-1", kPass, 10, 0), &error);
        return other;  // closed, so a single file again
    }

    static std::string Integrity(const std::string& path) {
        return QueryValue(path, "PRAGMA integrity_check");
    }

    std::unique_ptr<SmallDisk> disk_;
    bool mounted_ = false;
};

enum class Fault { Deleted, Replaced, Unreadable, DiskFull };

struct FaultCase {
    Fault fault;
    const char* name;
    const char* says;  // what row 21 says while the facts are not safe
};

const FaultCase kFaults[] = {
    {Fault::Deleted, "deleted", "results.db was removed"},
    {Fault::Replaced, "replaced", "results.db was replaced"},
    {Fault::Unreadable, "unreadable", ""},
    {Fault::DiskFull, "disk full", "Disk full: "},
};

TEST_F(StoreFaults, EveryFactOfTheRunEndsInASoundStore) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        if (c.fault == Fault::DiskFull && !mounted_) {
            ADD_FAILURE() << "no tmpfs could be mounted: run as root";
            continue;
        }
        for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
        const std::string other = c.fault == Fault::Replaced ? OtherStore() : "";
        std::string said;
        {
            Journal journal(Options());
            ASSERT_TRUE(journal.Open()) << journal.Problem();
            journal.Put(Run("u1"));
            for (int cycle = 1; cycle <= kCycles; ++cycle) {
                if (cycle == kFaultAt) {
                    journal.Flush();
                    switch (c.fault) {
                        case Fault::Deleted:
                            fs::remove(db);  // as rm does: the log stays
                            break;
                        case Fault::Replaced:
                            fs::rename(other, db);
                            break;
                        case Fault::Unreadable:
                            chmod(db.c_str(), 0);
                            break;
                        case Fault::DiskFull:
                            Fill();
                            break;
                    }
                }
                PutCycle(journal, "u1", cycle);
                if (cycle == kFaultAt + 1) {
                    journal.Flush();
                    said = journal.Problem();
                }
            }
            journal.Put(End("u1", kPass, kCycles, 0));
            journal.Flush();
            if (c.fault == Fault::DiskFull) {
                EXPECT_GT(journal.Held(), 0u);
                EXPECT_NE(journal.Problem().find("held in memory"), std::string::npos)
                    << journal.Problem();
                Free();
                for (int i = 0; i < 100 && journal.Held() > 0; ++i) std::this_thread::sleep_for(50ms);
                EXPECT_EQ(journal.Held(), 0u);
            }
            journal.Flush();
            // What happened to the file is said until the next run begins.
            if (c.fault == Fault::Deleted || c.fault == Fault::Replaced) {
                EXPECT_NE(journal.Problem().find(c.says), std::string::npos) << journal.Problem();
            }
            journal.Put(Run("u2"));
            journal.Flush();
            EXPECT_EQ(journal.Problem(), "");
        }
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_LE(said.size(), kNoticeWidth) << said;
        chmod(db.c_str(), 0644);
        EXPECT_EQ(Integrity(db), "ok");
        EXPECT_FALSE(fs::exists(dir / "results-unsaved.jsonl"));
        EXPECT_EQ(Query("SELECT outcome, cycles_done FROM runs WHERE uuid = 'u1'"),
                  (QueryRows{{"pass", std::to_string(kCycles)}}));
        EXPECT_EQ(Value("SELECT count(*) FROM measurements m JOIN runs r ON r.id = m.run_id"
                        " WHERE r.uuid = 'u1'"),
                  std::to_string(kCycles * kPerCycle));
        if (c.fault == Fault::Replaced) {
            // The history of the store moved in is whole.
            EXPECT_EQ(Value("SELECT count(*) FROM measurements m JOIN runs r ON r.id = m.run_id"
                            " WHERE r.uuid = 'old-1'"),
                      "50");
        }
    }
}

// A station killed in the middle of a run, on a disk that filled: what was
// committed is sound, and the next start finds the run interrupted.
TEST_F(StoreFaults, AStationKilledMidRunLeavesASoundStore) {
    for (bool full : {false, true}) {
        SCOPED_TRACE(full ? "disk full" : "disk with room");
        if (full && !mounted_) {
            ADD_FAILURE() << "no tmpfs could be mounted: run as root";
            continue;
        }
        for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            Journal journal(Options());
            journal.Open();
            journal.Put(Run("u1"));
            for (int cycle = 1;; ++cycle) {
                if (cycle == 50) {
                    journal.Flush();
                    if (full) Fill();
                    if (write(ready[1], "x", 1) != 1) _exit(3);
                }
                PutCycle(journal, "u1", cycle);
                std::this_thread::sleep_for(1ms);
            }
        }
        close(ready[1]);
        char x;
        ASSERT_EQ(read(ready[0], &x, 1), 1);
        close(ready[0]);
        std::this_thread::sleep_for(200ms);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (full) Free();

        EXPECT_EQ(Integrity(db), "ok");
        {
            Journal next(Options());
            ASSERT_TRUE(next.Open()) << next.Problem();
        }
        EXPECT_EQ(Integrity(db), "ok");
        const QueryRows run = Query("SELECT outcome, cycles_done FROM runs WHERE uuid = 'u1'");
        ASSERT_EQ(run.size(), 1u);
        EXPECT_EQ(run[0][0], "interrupted");
        // Each cycle's progress is stored after its measurements.
        const int done = std::stoi(run[0][1]);
        EXPECT_GE(done, 49);
        EXPECT_GE(std::stoi(Value("SELECT count(*) FROM measurements")), done * kPerCycle);
    }
}

// Past what memory may hold, the oldest measurements of the run go; the run
// keeps the rest, its end, and an event that says how many went.
TEST_F(StoreFaults, PastTheLimitTheOldestMeasurementsGoAndAnEventSaysHowMany) {
    if (!mounted_) GTEST_SKIP() << "no tmpfs could be mounted: run as root";
    JournalOptions options = Options();
    options.heldLimit = 100;
    {
        Journal journal(options);
        ASSERT_TRUE(journal.Open()) << journal.Problem();
        journal.Put(Run("u1"));
        journal.Flush();
        Fill();
        for (int cycle = 1; cycle <= 30; ++cycle) PutCycle(journal, "u1", cycle);
        journal.Put(End("u1", kPass, 30, 0));
        journal.Flush();
        EXPECT_EQ(journal.Held(), 100u);
        EXPECT_NE(journal.Problem().find("oldest measurements dropped"), std::string::npos)
            << journal.Problem();
        Free();
        for (int i = 0; i < 100 && journal.Held() > 0; ++i) std::this_thread::sleep_for(50ms);
        EXPECT_EQ(journal.Held(), 0u);
    }
    EXPECT_EQ(Integrity(db), "ok");
    EXPECT_EQ(Query("SELECT outcome, cycles_done FROM runs"), (QueryRows{{"pass", "30"}}));
    // What went and what stayed make up every measurement taken (the writer
    // keeps only a batch's latest progress, so how many facts were held at
    // once varies).
    const int kept = std::stoi(Value("SELECT count(*) FROM measurements"));
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 100);
    EXPECT_EQ(Query("SELECT kind, text FROM events"),
              (QueryRows{{kRecordGap, std::to_string(30 * kPerCycle - kept) +
                                          " measurements of this run were dropped: they could"
                                          " not be stored"}}));
}

// The unsaved file on a disk that fills: each line is written whole or not
// at all, a line a crash cut short is not glued to the next, and loading
// names what it cannot read and keeps it aside.
TEST_F(StoreFaults, TheUnsavedFileHoldsWholeLinesOnly) {
    if (!mounted_) GTEST_SKIP() << "no tmpfs could be mounted: run as root";
    const std::string unsaved = (dir / "results-unsaved.jsonl").string();
    const std::string bad = (dir / "results-unsaved.bad").string();
    std::vector<Entry> first = {Run("u1")};
    for (int seq = 1; seq <= 20; ++seq) first.push_back(Position("u1", seq, 15200));
    ASSERT_TRUE(AppendUnsaved(unsaved, first));
    {  // a crash cut the next line short
        std::ofstream cut(unsaved, std::ios::app | std::ios::binary);
        cut << ToJson(Position("u1", 21, 15200)).substr(0, 30);
    }
    Fill();
    std::vector<Entry> many;
    for (int seq = 22; seq < 2000; ++seq) many.push_back(Position("u1", seq, 15200));
    const auto before = fs::file_size(unsaved);
    EXPECT_FALSE(AppendUnsaved(unsaved, many));
    EXPECT_EQ(fs::file_size(unsaved), before);  // cut back, not half a line
    Free();
    ASSERT_TRUE(AppendUnsaved(unsaved, std::vector<Entry>{End("u1", kPass, 1, 0)}));

    UnsavedContents contents;
    std::string error;
    ASSERT_TRUE(ReadUnsaved(unsaved, bad, &contents, &error)) << error;
    EXPECT_EQ(contents.badLines, std::vector<int>{22});
    // The start, 20 measurements, the gap event of the cut line, the end.
    ASSERT_EQ(contents.entries.size(), 23u);
    const auto* gap = std::get_if<Event>(&contents.entries[21]);
    ASSERT_NE(gap, nullptr);
    EXPECT_EQ(gap->run, "u1");
    EXPECT_EQ(gap->kind, kRecordGap);
    EXPECT_TRUE(std::holds_alternative<RunEnd>(contents.entries[22]));
    std::ifstream kept(bad);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, ToJson(Position("u1", 21, 15200)).substr(0, 30));
}

}  // namespace
