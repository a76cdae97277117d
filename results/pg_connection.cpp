#include "pg_connection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>

#include "server_uri.h"

namespace results {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineIn(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

std::string ShortPgMessage(const char* message, const std::string& uri) {
    std::string text = message != nullptr ? message : "";
    text = text.substr(0, text.find('\n'));
    // "connection to server at "h", port p failed: Connection refused"
    const std::size_t failed = text.rfind("failed: ");
    if (failed != std::string::npos) text.erase(0, failed + 8);
    for (const char* prefix : {"FATAL:  ", "ERROR:  "}) {
        if (text.starts_with(prefix)) text.erase(0, std::string_view(prefix).size());
    }
    if (text.empty()) text = "no answer";
    return WithoutPassword(text, uri);
}

PgConnection::PgConnection(pg_conn* conn, std::string uri, PgLimits limits)
    : conn_(conn), uri_(std::move(uri)), limits_(limits) {}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

bool PgConnection::Broken() const {
    return broken_ || PQstatus(conn_) != CONNECTION_OK;
}

PgConnection::Waited PgConnection::Wait(bool forWrite, Clock::time_point deadline) const {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Waited::TimedOut;
        pollfd fds[2] = {{PQsocket(conn_), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                         {limits_.cancelFd, POLLIN, 0}};
        if (fds[0].fd < 0) return Waited::Failed;
        const int n = poll(fds, limits_.cancelFd >= 0 ? 2 : 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Waited::Failed;
        if (limits_.cancelFd >= 0 && fds[1].revents != 0) return Waited::Cancelled;
        if (fds[0].revents != 0) return Waited::Ready;
    }
}

std::unique_ptr<PgConnection> PgConnection::Connect(const std::string& uri, PgLimits limits,
                                                    std::string* error) {
    // The URI's own settings win over the fallback name; the station always
    // speaks UTF-8.
    const char* keys[] = {"fallback_application_name", "dbname", "client_encoding", nullptr};
    // The URI as ServerUri() makes it: a password typed unencoded is read
    // whole, and no part of it lands in a host name that libpq's errors quote.
    const std::string given = ServerUri(uri);
    const char* values[] = {"zhand-station", given.c_str(), "UTF8", nullptr};
    pg_conn* raw = PQconnectStartParams(keys, values, 1);
    if (raw == nullptr) {
        if (error != nullptr) *error = "out of memory";
        return nullptr;
    }
    std::unique_ptr<PgConnection> connection(new PgConnection(raw, uri, limits));
    if (PQstatus(raw) == CONNECTION_BAD) {
        if (error != nullptr) *error = ShortPgMessage(PQerrorMessage(raw), uri);
        return nullptr;
    }
    const Clock::time_point deadline = DeadlineIn(limits.timeoutMs);
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED) {
            if (error != nullptr) *error = ShortPgMessage(PQerrorMessage(raw), uri);
            return nullptr;
        }
        const Waited waited = connection->Wait(status == PGRES_POLLING_WRITING, deadline);
        if (waited == Waited::TimedOut || waited == Waited::Failed) {
            if (error != nullptr) *error = "no answer";
            return nullptr;
        }
        if (waited == Waited::Cancelled) {
            if (error != nullptr) *error = "cancelled";
            return nullptr;
        }
        status = PQconnectPoll(raw);
    }
    // The server's notices ("relation exists, skipping") would go to
    // standard error, across the technician's screen.
    PQsetNoticeProcessor(
        raw, [](void*, const char*) {}, nullptr);
    if (PQsetnonblocking(raw, 1) != 0) {
        if (error != nullptr) *error = ShortPgMessage(PQerrorMessage(raw), uri);
        return nullptr;
    }
    return connection;
}

bool PgConnection::Exec(const std::string& sql, std::span<const std::optional<std::string>> params,
                        Rows* rows, std::string* error) {
    if (rows != nullptr) rows->clear();
    auto fail = [&](const std::string& why, bool lost) {
        if (lost) broken_ = true;
        if (error != nullptr) *error = why;
        return false;
    };
    if (Broken()) return fail("connection lost", true);
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    // Without parameters the simple protocol runs a script of statements.
    const int sent = values.empty()
                         ? PQsendQuery(conn_, sql.c_str())
                         : PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()),
                                             nullptr, values.data(), nullptr, nullptr, 0);
    if (sent == 0) {
        return fail(ShortPgMessage(PQerrorMessage(conn_), uri_), true);
    }
    const Clock::time_point deadline = DeadlineIn(limits_.timeoutMs);
    auto wait = [&](bool forWrite) {
        switch (Wait(forWrite, deadline)) {
            case Waited::Ready:
                return PQconsumeInput(conn_) != 0 ||
                       fail(ShortPgMessage(PQerrorMessage(conn_), uri_), true);
            case Waited::TimedOut:
                return fail("no answer", true);
            case Waited::Cancelled:
                return fail("cancelled", true);
            case Waited::Failed:
                break;
        }
        return fail("connection lost", true);
    };
    for (int pending; (pending = PQflush(conn_)) != 0;) {
        if (pending < 0) return fail(ShortPgMessage(PQerrorMessage(conn_), uri_), true);
        if (!wait(true)) return false;
    }
    bool ok = true;
    std::string why;
    for (;;) {
        while (PQisBusy(conn_) != 0) {
            if (!wait(false)) return false;
        }
        PGresult* result = PQgetResult(conn_);
        if (result == nullptr) break;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK && rows != nullptr) {
            for (int r = 0; r < PQntuples(result); ++r) {
                Row row;
                for (int c = 0; c < PQnfields(result); ++c) {
                    if (PQgetisnull(result, r, c) != 0) {
                        row.emplace_back();
                    } else {
                        row.emplace_back(
                            std::string(PQgetvalue(result, r, c), PQgetlength(result, r, c)));
                    }
                }
                rows->push_back(std::move(row));
            }
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && ok) {
            ok = false;
            why = ShortPgMessage(PQresultErrorMessage(result), uri_);
            // Kept past a ROLLBACK, so that a caller learns why it failed.
            const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            state_ = state != nullptr ? state : "";
        }
        PQclear(result);
    }
    if (!ok) return fail(why, PQstatus(conn_) != CONNECTION_OK);
    return true;
}

std::string PgConnection::WaitNotification(int timeoutMs, std::string* error) {
    const Clock::time_point deadline = DeadlineIn(timeoutMs);
    for (;;) {
        if (PQconsumeInput(conn_) == 0) {
            broken_ = true;
            if (error != nullptr) *error = ShortPgMessage(PQerrorMessage(conn_), uri_);
            return "";
        }
        if (PGnotify* note = PQnotifies(conn_)) {
            std::string channel = note->relname;
            PQfreemem(note);
            return channel;
        }
        const Waited waited = Wait(false, deadline);
        if (waited == Waited::TimedOut) return "";
        if (waited != Waited::Ready) {
            if (waited != Waited::Cancelled) broken_ = true;
            if (error != nullptr)
                *error = waited == Waited::Cancelled ? "cancelled" : "connection lost";
            return "";
        }
    }
}

}  // namespace results
