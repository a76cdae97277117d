#include "shipper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "postgres_store.h"
#include "server_uri.h"
#include "sqlite_store.h"

namespace results {

namespace {

// Row 21 is 80 columns wide.
constexpr std::size_t kProblemWidth = 78;
// The shipper's own connection waits this long for the station's lock.
constexpr int kLocalBusyMs = 1000;
// With nothing to ship, the outbox is looked at again this often even
// without a nudge (another process may share the file).
constexpr int kIdleMs = 1000;

std::string Fit(std::string text) {
    if (text.size() > kProblemWidth) text = text.substr(0, kProblemWidth - 3) + "...";
    return text;
}

}  // namespace

Shipper::Shipper(ShipperOptions options)
    : options_(std::move(options)), address_(ServerAddress(options_.server)) {
    if (pipe2(cancel_, O_CLOEXEC | O_NONBLOCK) != 0) cancel_[0] = cancel_[1] = -1;
    thread_ = std::thread([this] { Run(); });
}

Shipper::~Shipper() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (cancel_[1] >= 0 && write(cancel_[1], "x", 1) < 0) {
        // The pipe is full: a stop was written already.
    }
    thread_.join();
    for (int fd : cancel_) {
        if (fd >= 0) close(fd);
    }
}

void Shipper::Nudge() {
    {
        std::lock_guard lock(mutex_);
        nudged_ = true;
    }
    wake_.notify_one();
}

void Shipper::ReleaseLocal() {
    {
        std::lock_guard lock(mutex_);
        releaseAsked_ = true;
        released_ = false;
    }
    wake_.notify_one();
}

bool Shipper::LocalReleased() const {
    std::lock_guard lock(mutex_);
    return released_;
}

std::string Shipper::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

std::uint64_t Shipper::ProblemVersion() const {
    std::lock_guard lock(mutex_);
    return problemVersion_;
}

std::uint64_t Shipper::Shipped() const {
    std::lock_guard lock(mutex_);
    return count_;
}

bool Shipper::WaitUntilShipped(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const std::uint64_t look = looks_ + 1;
    nudged_ = true;
    wake_.notify_one();
    return shipped_.wait_for(lock, timeout, [&] { return emptyLook_ >= look || stop_; }) && !stop_;
}

void Shipper::SetProblem(std::string text) {
    std::lock_guard lock(mutex_);
    if (text == problem_) return;
    problem_ = std::move(text);
    ++problemVersion_;
}

void Shipper::CaughtUp(std::uint64_t look) {
    {
        std::lock_guard lock(mutex_);
        if (!problem_.empty()) {
            problem_.clear();
            ++problemVersion_;
        }
        emptyLook_ = look;
    }
    shipped_.notify_all();
}

void Shipper::Pause(int ms, bool nudgeable) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms),
                   [&] { return stop_ || releaseAsked_ || (nudgeable && nudged_); });
    if (nudgeable) nudged_ = false;
}

void Shipper::Run() {
    std::unique_ptr<SqliteStore> local;
    std::unique_ptr<PostgresStore> server;
    std::vector<OutboxRow> rows;
    std::vector<Outgoing> facts;
    int retryMs = options_.retryMinMs;
    auto stopped = [&] {
        std::lock_guard lock(mutex_);
        return stop_;
    };
    auto failed = [&](std::string text) {
        SetProblem(Fit(std::move(text)));
        Pause(retryMs, false);
        retryMs = std::min(retryMs * 2, options_.retryMaxMs);
    };
    const PgLimits limits{options_.timeoutMs, cancel_[0]};
    auto releaseAsked = [&] {
        std::lock_guard lock(mutex_);
        return releaseAsked_;
    };
    while (!stopped()) {
        std::string why;
        if (releaseAsked()) {
            if (local != nullptr) local->Abandon();
            local.reset();
            std::lock_guard lock(mutex_);
            releaseAsked_ = false;
            released_ = true;
        }
        if (local == nullptr) {
            // The journal says on its own when the file cannot be used.
            local =
                SqliteStore::Open(options_.local, SqliteStore::Mode::ReadWrite, kLocalBusyMs, &why);
            if (local == nullptr) {
                Pause(options_.retryMaxMs, false);
                continue;
            }
        }
        long long lastId = 0;
        std::uint64_t look = 0;
        {
            std::lock_guard lock(mutex_);
            look = ++looks_;
        }
        if (!local->ReadOutbox(options_.batch, &rows, &lastId, &why)) {
            local.reset();
            Pause(options_.retryMinMs, false);
            continue;
        }
        if (lastId == 0) {
            CaughtUp(look);
            Pause(kIdleMs, true);
            continue;
        }
        if (server == nullptr) {
            server =
                PostgresStore::Open(options_.server, PostgresStore::Mode::ReadWrite, limits, &why);
            if (server == nullptr) {
                if (!stopped()) failed("Results server " + address_ + " unreachable (" + why + ")");
                continue;
            }
            if (!Problem().empty())
                SetProblem(Fit("Results server " + address_ + " back, catching up"));
        }
        facts.clear();
        for (OutboxRow& row : rows) facts.push_back(std::move(row.fact));
        if (!server->ApplyAll(facts, &why)) {
            if (stopped()) break;
            const bool lost = server->Broken();
            server.reset();
            failed("Results server " + address_ + (lost ? " unreachable (" : " refused records (") +
                   why + ")");
            continue;
        }
        retryMs = options_.retryMinMs;
        {
            std::lock_guard lock(mutex_);
            count_ += facts.size();
        }
        // Shipped rows the file does not let go of now are shipped again
        // later, which the server takes as already there.
        if (releaseAsked()) continue;  // shipped again from the file there now
        if (!local->DropOutbox(lastId, &why)) local.reset();
        if (static_cast<int>(facts.size()) < options_.batch) Pause(options_.lingerMs, false);
    }
}

}  // namespace results
