// The shared server's schema: the steps that make or migrate it, run only by
// `zhand-report server init` as the database's owner, and the check a
// station or a report makes of it. A station runs no DDL.
#pragma once

#include <string>

#include "pg_connection.h"

namespace results {

// The schema version of this software (the table schema_version holds the
// server's). 3: the group roles, grants and row-level security; 4: the
// stations' heartbeats; 5: the kept figures of all measurements
// (aggregate_schema.h).
inline constexpr int kServerSchemaVersion = 5;

// What the server's schema is, as one login can see it.
struct SchemaCheck {
    enum class State { Current, Missing, Older, Newer, Unreadable };
    State state = State::Unreadable;
    int version = 0;
    std::string why;  // for Unreadable: the server's message
};
SchemaCheck CheckSchema(PgConnection& connection);

// What init did: the version it found and the one it left.
struct InitOutcome {
    int before = 0;
    int after = 0;
};

// Creates or migrates the schema and sets the roles, grants and policies
// (server_access.h), in one transaction under a lock, so that it can run
// again at any time and changes nothing then. False with *error (one line)
// when the server refuses; nothing is changed then.
bool InitServer(PgConnection& owner, InitOutcome* outcome, std::string* error);

}  // namespace results
