// The shared results store on a PostgreSQL server: the same tables and
// columns as the local file (runs, measurements, events; runs keyed by uuid,
// facts by their run and seq), made by `zhand-report server init`
// (server_schema.h); a station only checks that the schema is the one it
// writes, and runs no DDL. Storing a fact again changes nothing, so a
// shipment repeated after a lost answer leaves each fact on the server once.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "outbox.h"
#include "pg_connection.h"
#include "record.h"
#include "server_schema.h"

namespace results {

// Every committed shipment notifies this channel (LISTEN zhand_results).
inline constexpr const char* kChangeChannel = "zhand_results";

class PostgresStore {
  public:
    enum class Mode { ReadWrite, ReadOnly };
    // Why a server cannot be used: it cannot be reached (or would not let
    // this login in), it refused to say what it holds, it holds no store,
    // or its schema is not the one this station writes.
    enum class OpenFailure { Unreachable, Refused, NoSchema, OldSchema, NewerSchema };

    // Connects to the server `uri` names and checks its schema: ReadWrite
    // needs exactly this station's version, ReadOnly any store, and makes
    // the session read-only. nullptr with *error (one line, no password)
    // and *failure when the server cannot be used now.
    static std::unique_ptr<PostgresStore> Open(const std::string& uri, Mode mode, PgLimits limits,
                                               std::string* error, OpenFailure* failure = nullptr);

    // Commits all facts in their order, or none. A fact of a run the server
    // does not hold is left out (the run was stored before shipping began).
    bool ApplyAll(std::span<const Outgoing> facts, std::string* error);
    bool Apply(const Entry& entry, std::string* error);

    // One query of a reader, parameters $1, $2, ... as text.
    bool Query(const std::string& sql, std::span<const std::optional<std::string>> params,
               Rows* rows, std::string* error);

    // The server cannot be used any more through this connection.
    bool Broken() const { return connection_->Broken(); }
    // "host:port" of the server.
    const std::string& Address() const { return address_; }
    // The role this connection logged in as (a station's is its name).
    const std::string& Login() const { return login_; }
    int SchemaVersion() const { return schemaVersion_; }
    PgConnection& Connection() { return *connection_; }

  private:
    PostgresStore(std::unique_ptr<PgConnection> connection, std::string address);

    std::unique_ptr<PgConnection> connection_;
    std::string address_;
    std::string login_;
    int schemaVersion_ = 0;
};

}  // namespace results
