#include "journal.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "run_ids.h"
#include "server_uri.h"
#include "shipper.h"
#include "sqlite_store.h"
#include "store_notice.h"
#include "unsaved_file.h"

namespace results {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultStore = "results.db";
constexpr const char* kUnsavedName = "results-unsaved.jsonl";
// While the store is unusable it is tried again without waiting long for a
// lock: a test must not stall on every fact.
constexpr int kRetryBusyMs = 50;
constexpr int kWriterNice = 10;
// While facts wait in memory, room is looked for this often.
constexpr int kHeldRetryMs = 1000;
// What waits in memory goes to disk this many facts at a time.
constexpr std::size_t kDrainPart = 1000;

std::string Beside(const std::string& target, const char* name) {
    std::filesystem::path path(target);
    while (path.has_filename() == false && path.has_parent_path() && path != path.root_path()) {
        path = path.parent_path();  // "dir/results.db/" names results.db
    }
    return (path.parent_path() / name).string();
}

bool IsOff(const std::string& target) {
    return target.empty() || target == "off";
}

// Progress says how far a run has got, so of a run's progress facts in one
// batch only the last needs storing (and shipping).
void DropSupersededProgress(std::vector<Entry>& batch) {
    std::vector<const std::string*> later;  // runs with progress further on
    std::vector<bool> superseded(batch.size());
    for (std::size_t i = batch.size(); i-- > 0;) {
        const auto* progress = std::get_if<RunProgress>(&batch[i]);
        if (progress == nullptr) continue;
        const bool seen = std::any_of(later.begin(), later.end(), [&](const std::string* run) {
            return *run == progress->run;
        });
        if (seen) {
            superseded[i] = true;
        } else {
            later.push_back(&progress->run);
        }
    }
    if (std::find(superseded.begin(), superseded.end(), true) == superseded.end()) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (superseded[i]) continue;
        if (kept != i) batch[kept] = std::move(batch[i]);
        ++kept;
    }
    batch.resize(kept);
}

}  // namespace

std::string StoreFromEnvironment() {
    const char* value = std::getenv("ZHAND_RESULTS");
    return value != nullptr && *value != '\0' ? value : kDefaultStore;
}

std::string LocalStoreFromEnvironment() {
    const char* value = std::getenv("ZHAND_LOCAL_RESULTS");
    return value != nullptr && *value != '\0' ? value : kDefaultStore;
}

std::string StationFromEnvironment() {
    const char* value = std::getenv("ZHAND_STATION");
    if (value != nullptr && *value != '\0') return value;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "station";
    return host;
}

struct Journal::Impl {
    JournalOptions options;
    std::string server;  // the shared server's URI, "" for none
    std::unique_ptr<SqliteStore> store;
    std::unique_ptr<Shipper> shipper;
    // The store side's line for row 21, made anew by Notice() after every
    // attempt to store.
    std::string problem;
    // What Problem() shows: the store's trouble, else the shipper's.
    mutable std::string shown;
    mutable std::uint64_t shownVersion = 0;
    // Facts of this process or an earlier one wait in the unsaved file; new
    // facts follow them there, so that they reach the store in order.
    bool unsavedPending = false;
    Clock::time_point nextTry{};
    // Why the store or the unsaved file last failed (plain words).
    std::string trouble;

    // Runs started and not yet ended in a store: a store that comes to the
    // path in place of the one they began in is given them from their start.
    std::vector<std::string> openRuns;
    // Facts of open runs read back from a file that left the path, for the
    // store the path names now.
    std::vector<Entry> carried;
    // Facts that neither the store nor the unsaved file could take, in the
    // order they came, until there is room.
    std::deque<Entry> held;
    // Measurements dropped from `held` past its limit, per run: how many and
    // the seq of the first (which the event saying so takes).
    std::map<std::string, std::pair<int, int>> dropped;
    // What became of the file that left the path, said until the next run
    // begins ("" when nothing left): a technician may not look at row 21 in
    // the moment it takes to carry the runs over.
    std::string left;
    // Unreadable lines of the unsaved file, said until the next run begins.
    std::string unreadable;
    // The shipper still holds the file that left the path: the path is not
    // opened again until it has let go.
    bool awaitShipper = false;

    // The writer (with `background`): facts waiting for it, whether it is
    // storing some, and `problem` as it stood after its last commit.
    // Everything above is the writer's alone while it runs.
    mutable std::mutex mutex;
    std::condition_variable wake;  // a first fact to store, a flush, or stop
    std::condition_variable idle;  // nothing waiting and nothing being stored
    std::vector<Entry> waiting;
    bool asleep = false;  // the writer waits for a first fact: a Put wakes it
    bool hurry = false;   // someone waits for what is put: no gathering
    bool storing = false;
    bool stop = false;
    std::string published;
    std::size_t publishedHeld = 0;
    mutable std::string seen;  // the putting thread's copy of `published`
    std::thread writer;
    // The run between its start and its end, for the heartbeat.
    mutable std::mutex runMutex;
    std::string openRun;

    bool Enabled() const { return !IsOff(options.target); }
    bool Behind() const { return !held.empty() || !carried.empty(); }
    std::string FileName(const std::string& path) const {
        return std::filesystem::path(path).filename().string();
    }

    // Commits the facts as one whole; else sets them aside in order (in the
    // unsaved file, or in memory when that cannot be written either).
    void StoreAll(std::span<const Entry> facts) {
        Track(facts);
        if (store != nullptr && !store->StillAtPath()) Left();
        if (Behind()) {
            Hold(facts);
            Drain(kRetryBusyMs);
        } else if (Usable(kRetryBusyMs) && Commit(facts)) {
            Committed(facts);
        } else if (!WriteUnsaved(facts)) {
            Hold(facts);
        }
        Notice();
    }

    // Whether the store can take facts now: open, its unsaved file loaded.
    bool Usable(int busyMs) {
        if (store != nullptr && !unsavedPending) return true;
        return Clock::now() >= nextTry && Recover(busyMs);
    }

    bool Commit(std::span<const Entry> facts) {
        std::string why;
        const bool done = facts.size() == 1 ? store->Apply(facts.front(), &why)
                                            : store->ApplyAll(facts, &why);
        if (done) {
            Nudge();
            return true;
        }
        Trouble(why);
        // A store that failed once is opened afresh at the next try: the
        // file may have been replaced, repaired or unlocked meanwhile.
        store.reset();
        return false;
    }

    // Runs begin with their start and are done with when their end is safe.
    void Track(std::span<const Entry> facts) {
        for (const Entry& fact : facts) {
            if (const auto* start = std::get_if<RunStart>(&fact)) {
                openRuns.push_back(start->uuid);
                unreadable.clear();
                left.clear();
            }
        }
    }
    void Committed(std::span<const Entry> facts) {
        for (const Entry& fact : facts) {
            if (const auto* end = std::get_if<RunEnd>(&fact)) std::erase(openRuns, end->run);
        }
    }

    // The file at the path is not the one opened (deleted, or another moved
    // over it): what it holds of the open runs is read back, to go into the
    // store at the path now, and the file is let go of without touching what
    // the path names.
    void Left() {
        std::string why;
        std::vector<Entry> runs;
        for (const std::string& uuid : openRuns) {
            if (!store->ReadRun(uuid, &runs, &why)) break;
        }
        carried.insert(carried.begin(), std::make_move_iterator(runs.begin()),
                       std::make_move_iterator(runs.end()));
        store->Abandon();
        store.reset();
        std::error_code ec;
        const bool there = std::filesystem::exists(options.target, ec);
        const std::string name = FileName(options.target);
        left = there ? FitNotice({name + " was replaced: this run's results go into the file there now",
                                  name + " was replaced: results go into the file there now",
                                  "Results store replaced: results go into the new one"})
                     : FitNotice({name + " was removed: this run's results go into a new " + name,
                                  name + " was removed: results go into a new one",
                                  "Results store removed: results go into a new one"});
        if (shipper != nullptr) {
            shipper->ReleaseLocal();
            awaitShipper = true;
        }
        nextTry = {};
    }

    // Keeps facts in memory until there is room. Past the limit the oldest
    // measurements go, counted for the event that says so.
    void Hold(std::span<const Entry> facts) {
        held.insert(held.end(), facts.begin(), facts.end());
        while (held.size() > options.heldLimit) {
            auto oldest = std::find_if(held.begin(), held.end(), [](const Entry& e) {
                return std::holds_alternative<Measurement>(e);
            });
            if (oldest == held.end()) break;
            const auto& m = std::get<Measurement>(*oldest);
            auto [it, first] = dropped.try_emplace(m.run, 0, m.seq);
            ++it->second.first;
            held.erase(oldest);
        }
    }

    // The events that say how many measurements of a run were dropped.
    std::vector<Entry> DroppedEvents() const {
        std::vector<Entry> events;
        for (const auto& [run, count] : dropped) {
            Event event;
            event.run = run;
            event.seq = count.second;
            event.at = NowIso();
            event.kind = kRecordGap;
            event.text = std::to_string(count.first) +
                         " measurements of this run were dropped: they could not be stored";
            events.push_back(std::move(event));
        }
        return events;
    }

    // Brings what waits in memory (facts of a file that left the path, then
    // the held ones, then the events of dropped measurements) into the store,
    // else into the unsaved file, a part at a time and in order: a disk still
    // full costs one part's attempt, not all that waits.
    bool Drain(int busyMs) {
        if (!Behind()) return true;
        if (Clock::now() < nextTry) return false;
        bool storeUp = Recover(busyMs);
        while (Behind()) {
            const std::size_t fromCarried = std::min(carried.size(), kDrainPart);
            const std::size_t fromHeld = std::min(held.size(), kDrainPart - fromCarried);
            std::vector<Entry> part(carried.begin(), carried.begin() + fromCarried);
            part.insert(part.end(), held.begin(), held.begin() + fromHeld);
            const bool last = fromCarried == carried.size() && fromHeld == held.size();
            if (last) {
                const std::vector<Entry> gaps = DroppedEvents();
                part.insert(part.end(), gaps.begin(), gaps.end());
            }
            std::string why;
            // Facts of runs whose start went into a file now gone are left
            // out: nothing could show them.
            bool safe = storeUp && store->ApplyAll(part, &why, true);
            if (safe) {
                Nudge();
                Committed(part);
            } else if (storeUp) {
                Trouble(why);
                store.reset();
                storeUp = false;
            }
            if (!safe && !WriteUnsaved(part)) {
                nextTry = Clock::now() + std::chrono::milliseconds(kHeldRetryMs);
                return false;
            }
            carried.erase(carried.begin(), carried.begin() + fromCarried);
            held.erase(held.begin(), held.begin() + fromHeld);
            if (last) dropped.clear();
        }
        return true;
    }

    // The writer thread: woken by the first fact put after it fell asleep, it
    // lets the facts of the next few milliseconds gather and commits them
    // together. One commit costs as much as dozens of rows. While facts keep
    // coming (a run going fast) it wakes by itself every few milliseconds, so
    // the thread that puts them never has to wake it: that costs the test's
    // thread a system call and, on a virtual machine, an interrupt to the
    // other core. A wake-up that finds nothing puts it to sleep until the next
    // fact, or while facts wait in memory, until it is time to try again.
    void Write() {
        // The threads that drive the hand come first: on a machine whose
        // cores they keep busy, the writer takes what they leave (on Linux
        // the nice value of one thread). The facts wait in memory meanwhile.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
        pthread_setname_np(pthread_self(), "zhand-writer");  // as top and perf show it
        std::vector<Entry> batch;
        bool flowing = false;  // the last wake-up found facts
        std::unique_lock lock(mutex);
        for (;;) {
            if (!flowing) {
                asleep = true;
                const auto due = [&] { return stop || !waiting.empty(); };
                if (Behind() || (store == nullptr && Enabled())) {
                    wake.wait_for(lock, std::chrono::milliseconds(kHeldRetryMs), due);
                } else {
                    wake.wait(lock, due);
                }
                asleep = false;
            }
            if (!stop && !hurry && options.gatherMs > 0 && !waiting.empty()) {
                wake.wait_for(lock, std::chrono::milliseconds(options.gatherMs),
                              [&] { return stop || hurry; });
            }
            if (waiting.empty()) {
                if (stop) return;  // all is stored
                flowing = false;
                if (Behind() || store == nullptr) {
                    storing = true;
                    lock.unlock();
                    Retry();
                    lock.lock();
                    storing = false;
                    Publish();
                    if (waiting.empty()) idle.notify_all();
                }
                continue;
            }
            batch.swap(waiting);
            hurry = false;
            storing = true;
            lock.unlock();
            DropSupersededProgress(batch);
            StoreAll(batch);
            batch.clear();
            lock.lock();
            storing = false;
            Publish();
            flowing = options.gatherMs > 0;
            if (waiting.empty()) idle.notify_all();
        }
    }

    void Publish() {
        published = problem;
        publishedHeld = held.size() + carried.size();
    }

    // With nothing new to store: what waits is tried again.
    void Retry() {
        if (Behind()) {
            Drain(options.busyTimeoutMs);
        } else if (store == nullptr && Clock::now() >= nextTry) {
            Recover(kRetryBusyMs);
        }
        Notice();
    }

    void Trouble(const std::string& why) {
        trouble = PlainTrouble(why);
        nextTry = Clock::now() + std::chrono::milliseconds(options.retryMs);
    }

    // Makes `problem` say where the facts are: the worst first.
    void Notice() {
        if (!held.empty()) {
            const std::string count = std::to_string(held.size());
            const std::string lost =
                dropped.empty() ? "" : ", oldest measurements dropped";
            if (trouble == "disk full") {
                problem = FitNotice(
                    {"Disk full: " + count + " results held in memory until there is room" + lost,
                     "Disk full: " + count + " results held in memory" + lost,
                     "Disk full: results held in memory" + lost});
            } else {
                problem = FitNotice({"Results store " + trouble + ": " + count +
                                         " results held in memory" + lost,
                                     "Results store unusable: " + count +
                                         " results held in memory" + lost,
                                     "Results held in memory" + lost});
            }
        } else if (!left.empty()) {
            problem = left;
        } else if (!unreadable.empty()) {
            problem = unreadable;
        } else if (store == nullptr || unsavedPending) {
            const std::string unsaved = FileName(options.unsaved);
            problem = FitNotice({"Record not stored (" + trouble + "); kept in " + unsaved,
                                 "Record not stored; kept in " + unsaved});
        } else {
            problem.clear();
        }
    }

    bool OpenStore(int busyMs) {
        std::string why;
        std::error_code ec;
        if (std::filesystem::is_directory(options.target, ec)) {
            why = "results store is a directory";
        } else {
            store = SqliteStore::Open(options.target, SqliteStore::Mode::ReadWrite, busyMs, &why);
            if (store != nullptr) store->SetShipping(!server.empty());
        }
        if (store == nullptr) {
            Trouble(why);
            return false;
        }
        return true;
    }

    // Loads the unsaved file into the store and removes it. False (file kept)
    // when the store would not take it.
    bool LoadUnsaved() {
        UnsavedContents contents;
        std::string why;
        const std::string bad = std::filesystem::path(options.unsaved).replace_extension(".bad");
        if (!ReadUnsaved(options.unsaved, bad, &contents, &why)) {
            Trouble(why);
            return false;
        }
        if (!store->ApplyAll(contents.entries, &why, true)) {
            Trouble(why);
            store.reset();
            return false;
        }
        Committed(contents.entries);
        if (!contents.badLines.empty()) {
            const std::string name = FileName(options.unsaved);
            const std::string line = std::to_string(contents.badLines.front());
            const std::string more =
                contents.badLines.size() > 1
                    ? " and " + std::to_string(contents.badLines.size() - 1) + " more"
                    : "";
            unreadable = FitNotice(
                {name + " line " + line + more + " unreadable; kept in " + FileName(bad),
                 name + " line " + line + more + " unreadable",
                 "Line " + line + more + " of the unsaved results unreadable"});
        }
        std::error_code ec;
        std::filesystem::remove(options.unsaved, ec);
        unsavedPending = false;
        return true;
    }

    // Tries to bring the store back and to empty the unsaved file into it.
    bool Recover(int busyMs) {
        if (awaitShipper) {
            if (!shipper->LocalReleased()) return false;
            awaitShipper = false;
        }
        if (store == nullptr && !OpenStore(busyMs)) return false;
        store->SetBusyTimeout(busyMs);
        if (unsavedPending && !LoadUnsaved()) return false;
        store->SetBusyTimeout(options.busyTimeoutMs);
        trouble.clear();
        Nudge();
        return true;
    }

    void Nudge() {
        if (shipper != nullptr) shipper->Nudge();
    }

    // False when the unsaved file could not take them either.
    bool WriteUnsaved(std::span<const Entry> entries) {
        if (!AppendUnsaved(options.unsaved, entries)) {
            if (trouble.empty()) trouble = PlainTrouble(std::strerror(errno));
            return false;
        }
        unsavedPending = true;
        return true;
    }
};

Journal::Journal(JournalOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    if (IsServerUri(impl_->options.target)) {
        impl_->server = impl_->options.target;
        impl_->options.target =
            !impl_->options.local.empty() ? impl_->options.local : LocalStoreFromEnvironment();
    }
    if (impl_->options.unsaved.empty() && impl_->Enabled()) {
        impl_->options.unsaved = Beside(impl_->options.target, kUnsavedName);
    }
}

Journal::~Journal() {
    Close();
}

// What waits in memory at the end gets one more try; a station that quits
// with facts it could not store says how many (Held()) before it does.
void Journal::Close() {
    Impl& d = *impl_;
    if (d.writer.joinable()) {
        {
            std::lock_guard lock(d.mutex);
            d.stop = true;
        }
        d.wake.notify_one();
        d.writer.join();
    }
    if (d.Behind()) {
        d.nextTry = {};
        d.Drain(d.options.busyTimeoutMs);
        d.Notice();
    }
}

std::size_t Journal::Held() const {
    const Impl& d = *impl_;
    if (d.writer.joinable()) {
        std::lock_guard lock(d.mutex);
        return d.publishedHeld;
    }
    return d.held.size() + d.carried.size();
}

bool Journal::Open() {
    Impl& d = *impl_;
    if (!d.Enabled()) return true;
    std::error_code ec;
    d.unsavedPending = std::filesystem::exists(d.options.unsaved, ec);
    const bool opened = d.Recover(d.options.busyTimeoutMs);
    std::string why;
    const bool marked = opened && d.store->MarkInterrupted(d.options.station, &why) >= 0;
    if (opened && !marked) {
        d.Trouble(why);
        d.store.reset();  // tried again at the next fact
    }
    d.Notice();
    if (!d.server.empty() && d.shipper == nullptr) {
        ShipperOptions ship;
        ship.local = d.options.target;
        ship.server = d.server;
        ship.station = d.options.station;
        ship.batch = d.options.shipBatch;
        ship.lingerMs = d.options.shipLingerMs;
        ship.retryMaxMs = d.options.shipRetryMaxMs;
        ship.timeoutMs = d.options.shipTimeoutMs;
        d.shipper = std::make_unique<Shipper>(std::move(ship));
    }
    if (d.options.background && !d.writer.joinable()) {
        d.Publish();
        d.writer = std::thread([&d] { d.Write(); });
    }
    return marked;
}

void Journal::Put(Entry entry) {
    Impl& d = *impl_;
    if (!d.Enabled()) return;
    if (auto* start = std::get_if<RunStart>(&entry)) {
        if (start->station.empty()) start->station = d.options.station;
        if (start->software.empty()) start->software = d.options.software;
        std::lock_guard lock(d.runMutex);
        d.openRun = start->uuid;
    } else if (auto* end = std::get_if<RunEnd>(&entry)) {
        std::lock_guard lock(d.runMutex);
        if (d.openRun == end->run) d.openRun.clear();
    } else if (auto* beat = std::get_if<StationBeat>(&entry)) {
        if (beat->station.empty()) beat->station = d.options.station;
    }
    if (!d.writer.joinable()) {
        d.StoreAll({&entry, 1});
        return;
    }
    // A run's start and end and its events (faults, the technician's
    // decisions) are committed at once; measurements and progress, many a
    // cycle, gather first.
    const bool urgent =
        !std::holds_alternative<Measurement>(entry) && !std::holds_alternative<RunProgress>(entry);
    bool wake = false;
    {
        std::lock_guard lock(d.mutex);
        d.waiting.push_back(std::move(entry));
        wake = (d.asleep && d.waiting.size() == 1) || (urgent && !d.hurry);
        d.hurry = d.hurry || urgent;
    }
    if (wake) d.wake.notify_one();
}

std::string Journal::OpenRun() const {
    std::lock_guard lock(impl_->runMutex);
    return impl_->openRun;
}

void Journal::Flush() {
    Impl& d = *impl_;
    if (!d.writer.joinable()) return;
    std::unique_lock lock(d.mutex);
    if (d.waiting.empty() && !d.storing) return;
    d.hurry = true;
    d.wake.notify_one();
    d.idle.wait(lock, [&] { return d.waiting.empty() && !d.storing; });
}

const std::string& Journal::Problem() const {
    const Impl& d = *impl_;
    const std::string* own = &d.problem;
    if (d.writer.joinable()) {
        std::lock_guard lock(d.mutex);
        d.seen = d.published;
        own = &d.seen;
    }
    if (!own->empty() || d.shipper == nullptr) return *own;
    // The shipper's line is copied only when it changed: the screen asks
    // often.
    const std::uint64_t version = d.shipper->ProblemVersion();
    if (version != d.shownVersion) {
        d.shown = d.shipper->Problem();
        d.shownVersion = version;
    }
    return d.shown;
}

std::string Journal::ShippingProblem() const {
    return impl_->shipper != nullptr ? impl_->shipper->Problem() : std::string();
}

bool Journal::Enabled() const {
    return impl_->Enabled();
}

const std::string& Journal::LocalStore() const {
    static const std::string none;
    return impl_->Enabled() ? impl_->options.target : none;
}

bool Journal::Shipping() const {
    return !impl_->server.empty() && impl_->Enabled();
}

bool Journal::WaitForShipping(std::chrono::milliseconds timeout) {
    Flush();
    return impl_->shipper != nullptr && impl_->shipper->WaitUntilShipped(timeout);
}

}  // namespace results
