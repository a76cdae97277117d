// One connection to a PostgreSQL server through libpq's asynchronous calls:
// every wait has a deadline and gives up at once when a cancel descriptor
// becomes readable, so a thread that talks to a dead or hung server can
// still be stopped. Messages never carry the URI's password.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct pg_conn;

namespace results {

// Rows of a query, every value as text (nullopt for NULL).
using Row = std::vector<std::optional<std::string>>;
using Rows = std::vector<Row>;

struct PgLimits {
    int timeoutMs = 10000;  // for the connection, and for each statement
    int cancelFd = -1;      // readable: stop waiting (-1: none)
};

class PgConnection {
  public:
    // Connects to `uri`; nullptr with *error (one line) when it cannot.
    static std::unique_ptr<PgConnection> Connect(const std::string& uri, PgLimits limits,
                                                 std::string* error);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one statement with text parameters ($1, $2, ...; nullopt for
    // NULL). Its rows go to *rows when given. False with *error when the
    // statement failed or the server could not be heard in time; Broken()
    // then tells whether the connection is lost.
    bool Exec(const std::string& sql, std::span<const std::optional<std::string>> params,
              Rows* rows, std::string* error);
    bool Exec(const std::string& sql, std::string* error) { return Exec(sql, {}, nullptr, error); }

    // The connection can no longer be used: dropped, timed out or cancelled.
    bool Broken() const;
    // The server's SQLSTATE of the last statement that failed on the server
    // ("" for none yet); statements that succeed since leave it as it is.
    const std::string& State() const { return state_; }

    // Waits up to `timeoutMs` for a notification on a channel this
    // connection listens to; its channel name, or "" when none came.
    std::string WaitNotification(int timeoutMs, std::string* error);

    pg_conn* Handle() const { return conn_; }

  private:
    PgConnection(pg_conn* conn, std::string uri, PgLimits limits);
    enum class Waited { Ready, TimedOut, Cancelled, Failed };
    Waited Wait(bool forWrite, std::chrono::steady_clock::time_point deadline) const;

    pg_conn* conn_;
    std::string uri_;
    PgLimits limits_;
    bool broken_ = false;
    std::string state_;
};

// libpq's message made one short line without the password.
std::string ShortPgMessage(const char* message, const std::string& uri);

}  // namespace results
