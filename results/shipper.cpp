#include "shipper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "postgres_store.h"
#include "server_uri.h"
#include "sqlite_store.h"
#include "store_notice.h"

namespace results {

namespace {

// The shipper's own connection waits this long for the station's lock.
constexpr int kLocalBusyMs = 1000;
// With nothing to ship, the outbox is looked at again this often even
// without a nudge (another process may share the file).
constexpr int kIdleMs = 1000;

// "Results server HOST:PORT" and `what`, shortened by meaning: the reason in
// brackets goes first, then the address, and the address is shortened
// rather than cut off what is said of it.
std::string ServerLine(const std::string& address, const std::string& what,
                       const std::string& why = "") {
    const std::string prefix = "Results server ";
    const std::size_t room = kNoticeWidth - std::min(kNoticeWidth, prefix.size() + what.size());
    const std::string shown = address.size() <= room ? address
                              : room > 3             ? address.substr(0, room - 3) + "..."
                                                     : "";
    const std::string plain = why.empty() ? "" : " (" + PlainTrouble(why) + ")";
    return FitNotice({prefix + address + what + plain, prefix + address + what,
                      prefix + shown + what, "Results server" + what});
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
        if (problem_ != notice_) {
            problem_ = notice_;
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

std::string Shipper::Notice() const {
    std::lock_guard lock(mutex_);
    return notice_;
}

void Shipper::SetNotice(std::string text) {
    {
        std::lock_guard lock(mutex_);
        notice_ = text;
    }
    if (!text.empty()) SetProblem(std::move(text));
}

std::unique_ptr<PostgresStore> Shipper::Connect(std::string* line, bool* unreachable) {
    using Failure = PostgresStore::OpenFailure;
    const PgLimits limits{options_.timeoutMs, cancel_[0]};
    std::string why;
    Failure failure = Failure::Unreachable;
    auto server = PostgresStore::Open(options_.server, PostgresStore::Mode::ReadWrite, limits, &why,
                                      &failure);
    if (server == nullptr) {
        *unreachable = failure == Failure::Unreachable;
        switch (failure) {
            case Failure::NoSchema:
            case Failure::OldSchema:
                *line = ServerLine(address_, " needs zhand-report server init");
                break;
            case Failure::NewerSchema:
                *line = ServerLine(address_, " is newer than this station");
                break;
            case Failure::Refused:
                *line = Refusal(why);
                break;
            case Failure::Unreachable:
                *line = ServerLine(address_, " unreachable", why);
                break;
        }
        return nullptr;
    }
    // Row-level security lets a login store runs of its own name only.
    std::string notice;
    if (!options_.station.empty() && server->Login() != options_.station) {
        notice =
            FitNotice({"Station " + options_.station + " logs in to results server as " +
                           server->Login(),
                       "Station " + options_.station + " logs in as " + server->Login(),
                       "This station logs in to the results server under another name"});
    }
    SetNotice(std::move(notice));
    return server;
}

std::string Shipper::Refusal(const std::string& why) const {
    // A login that is not the station's is why its records are refused.
    if (std::string notice = Notice(); !notice.empty()) return notice;
    return ServerLine(address_, " refused records", why);
}

void Shipper::Run() {
    std::unique_ptr<SqliteStore> local;
    std::unique_ptr<PostgresStore> server;
    std::vector<OutboxRow> rows;
    std::vector<Outgoing> facts;
    int retryMs = options_.retryMinMs;
    bool greeted = false;
    auto stopped = [&] {
        std::lock_guard lock(mutex_);
        return stop_;
    };
    auto failed = [&](std::string text) {
        SetProblem(std::move(text));
        Pause(retryMs, false);
        retryMs = std::min(retryMs * 2, options_.retryMaxMs);
    };
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
            // At start-up the server is asked once who this station logs in
            // as, so that a wrong login shows before the first test. A
            // server that cannot take the station's records says so until
            // it can; one out of reach only once there is something to ship.
            CaughtUp(look);
            if (server == nullptr && (!greeted || !Notice().empty())) {
                std::string line;
                bool unreachable = false;
                server = Connect(&line, &unreachable);
                if (server == nullptr && !unreachable) SetNotice(line);
            }
            greeted = true;
            Pause(kIdleMs, true);
            continue;
        }
        greeted = true;
        if (server == nullptr) {
            std::string line;
            bool unreachable = false;
            server = Connect(&line, &unreachable);
            if (server == nullptr) {
                if (!stopped()) failed(line);
                continue;
            }
            const std::string shown = Problem();
            if (!shown.empty() && shown != Notice())
                SetProblem(ServerLine(address_, " back, catching up"));
        }
        facts.clear();
        for (OutboxRow& row : rows) facts.push_back(std::move(row.fact));
        if (!server->ApplyAll(facts, &why)) {
            if (stopped()) break;
            // What the server refuses stays in the outbox, and is offered
            // again after the pause.
            const bool lost = server->Broken();
            server.reset();
            failed(lost ? ServerLine(address_, " unreachable", why)
                        : Refusal(why));
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
