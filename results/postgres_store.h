// The shared results store on a PostgreSQL server: the same tables and
// columns as the local file (runs, measurements, events; runs keyed by uuid,
// facts by their run and seq), created or migrated on first contact under a
// lock, so that several stations may make first contact at once. Storing a
// fact again changes nothing, so a shipment repeated after a lost answer
// leaves each fact on the server once.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "outbox.h"
#include "pg_connection.h"
#include "record.h"

namespace results {

// The schema version this station writes on the server (the table
// schema_version holds the server's).
inline constexpr int kServerSchemaVersion = 3;

// Every committed shipment notifies this channel (LISTEN zhand_results).
inline constexpr const char* kChangeChannel = "zhand_results";

class PostgresStore {
  public:
    enum class Mode { ReadWrite, ReadOnly };

    // Connects to the server `uri` names. ReadWrite creates or migrates the
    // tables; ReadOnly needs them there and makes the session read-only.
    // nullptr with *error (one line, no password) when the server cannot be
    // used now.
    static std::unique_ptr<PostgresStore> Open(const std::string& uri, Mode mode, PgLimits limits,
                                               std::string* error);

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
    PgConnection& Connection() { return *connection_; }

  private:
    PostgresStore(std::unique_ptr<PgConnection> connection, std::string address);
    bool Migrate(std::string* error);

    std::unique_ptr<PgConnection> connection_;
    std::string address_;
};

}  // namespace results
