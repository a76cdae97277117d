#include "journal.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "server_uri.h"
#include "shipper.h"
#include "sqlite_store.h"

namespace results {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultStore = "results.db";
constexpr const char* kUnsavedName = "results-unsaved.jsonl";
// While the store is unusable it is tried again without waiting long for a
// lock: a test must not stall on every fact.
constexpr int kRetryBusyMs = 50;
constexpr int kWriterNice = 10;
// Row 21 is 80 columns wide.
constexpr std::size_t kProblemWidth = 78;

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
    std::string problem;
    // What Problem() shows: the store's trouble, else the shipper's.
    mutable std::string shown;
    mutable std::uint64_t shownVersion = 0;
    // Facts of this process or an earlier one wait in the unsaved file; new
    // facts follow them there, so that they reach the store in order.
    bool unsavedPending = false;
    Clock::time_point nextTry{};

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
    mutable std::string seen;  // the putting thread's copy of `published`
    std::thread writer;

    bool Enabled() const { return !IsOff(options.target); }

    // Commits one fact, or sets it aside in the unsaved file.
    void Store(const Entry& fact) {
        const bool usable = store != nullptr && !unsavedPending;
        if (usable || (Clock::now() >= nextTry && Recover(kRetryBusyMs))) {
            std::string why;
            if (store->Apply(fact, &why)) {
                Nudge();
                return;
            }
            Trouble(why);
            // A store that failed once is opened afresh at the next try: the
            // file may have been replaced, repaired or unlocked meanwhile.
            store.reset();
        }
        AppendUnsaved({&fact, 1});
    }

    // Commits the facts as one whole, or sets them all aside in order.
    void StoreAll(std::span<const Entry> facts) {
        if (facts.size() == 1) return Store(facts.front());
        const bool usable = store != nullptr && !unsavedPending;
        if (usable || (Clock::now() >= nextTry && Recover(kRetryBusyMs))) {
            std::string why;
            if (store->ApplyAll(facts, &why)) {
                Nudge();
                return;
            }
            Trouble(why);
            store.reset();
        }
        AppendUnsaved(facts);
    }

    // The writer thread: woken by the first fact put after it fell asleep, it
    // lets the facts of the next few milliseconds gather and commits them
    // together. One commit costs as much as dozens of rows. While facts keep
    // coming (a run going fast) it wakes by itself every few milliseconds, so
    // the thread that puts them never has to wake it: that costs the test's
    // thread a system call and, on a virtual machine, an interrupt to the
    // other core. A wake-up that finds nothing puts it to sleep until the next
    // fact.
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
                wake.wait(lock, [&] { return stop || !waiting.empty(); });
                asleep = false;
            }
            if (!stop && !hurry && options.gatherMs > 0) {
                wake.wait_for(lock, std::chrono::milliseconds(options.gatherMs),
                              [&] { return stop || hurry; });
            }
            if (waiting.empty()) {
                if (stop) return;  // all is stored
                flowing = false;
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
            published = problem;
            flowing = options.gatherMs > 0;
            if (waiting.empty()) idle.notify_all();
        }
    }

    void Trouble(const std::string& why) {
        std::string text = "Record not stored (" + why + "); kept in " +
                           std::filesystem::path(options.unsaved).filename().string();
        if (text.size() > kProblemWidth) {
            const std::string tail =
                "); kept in " + std::filesystem::path(options.unsaved).filename().string();
            const std::size_t room = kProblemWidth - tail.size() - 3;
            text = "Record not stored (" + why.substr(0, room > 19 ? room - 19 : 0) + "..." + tail;
        }
        problem = text;
        nextTry = Clock::now() + std::chrono::milliseconds(options.retryMs);
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
        std::ifstream file(options.unsaved, std::ios::binary);
        if (!file) {
            unsavedPending = false;
            return true;
        }
        std::vector<Entry> entries;
        std::string line;
        // A line cut short by a crash, or edited by hand, is left out.
        while (std::getline(file, line)) {
            if (auto entry = FromJson(line)) entries.push_back(std::move(*entry));
        }
        file.close();
        std::string why;
        if (!store->ApplyAll(entries, &why, true)) {
            Trouble(why);
            store.reset();
            return false;
        }
        std::error_code ec;
        std::filesystem::remove(options.unsaved, ec);
        unsavedPending = false;
        return true;
    }

    // Tries to bring the store back and to empty the unsaved file into it.
    bool Recover(int busyMs) {
        if (store == nullptr && !OpenStore(busyMs)) return false;
        store->SetBusyTimeout(busyMs);
        if (unsavedPending && !LoadUnsaved()) return false;
        store->SetBusyTimeout(options.busyTimeoutMs);
        problem.clear();
        Nudge();
        return true;
    }

    void Nudge() {
        if (shipper != nullptr) shipper->Nudge();
    }

    void AppendUnsaved(std::span<const Entry> entries) {
        std::string lines;
        for (const Entry& entry : entries) lines += ToJson(entry) + "\n";
        const int fd =
            open(options.unsaved.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        bool written = false;
        if (fd >= 0) {
            written = write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
            close(fd);
        }
        unsavedPending = true;
        if (!written) {
            problem = "Record lost: neither the results store nor " +
                      std::filesystem::path(options.unsaved).filename().string() +
                      " can be written";
            if (problem.size() > kProblemWidth) problem.resize(kProblemWidth);
        }
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
    Impl& d = *impl_;
    if (!d.writer.joinable()) return;
    {
        std::lock_guard lock(d.mutex);
        d.stop = true;
    }
    d.wake.notify_one();
    d.writer.join();  // after the last fact put is stored
}

bool Journal::Open() {
    Impl& d = *impl_;
    if (!d.Enabled()) return true;
    std::error_code ec;
    d.unsavedPending = std::filesystem::exists(d.options.unsaved, ec);
    const bool opened = d.Recover(d.options.busyTimeoutMs);
    std::string why;
    const bool marked = opened && d.store->MarkInterrupted(d.options.station, &why) >= 0;
    if (opened && !marked) d.Trouble(why);
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
        d.published = d.problem;
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
    }
    if (!d.writer.joinable()) {
        d.Store(entry);
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
