// Who may do what on the shared server: two group roles, one for the
// stations' logins and one for the reports', and for each table of the
// record the grants of each group and the row-level security policies that
// bind a station's login to its own runs. The declarations are one list
// per table (server_access.cpp); ApplyAccess brings the server to exactly
// what they say, so that applying them again changes nothing and a table
// added to the list is covered by the next `zhand-report server init`.
#pragma once

#include <string>

#include "pg_connection.h"

namespace results {

// The group role of the stations' logins: each login's name is its
// station's name, and it adds and closes only the runs of that name.
inline constexpr const char* kStationRole = "zhand_station";
// The group role of the reports' logins: they read everything, change
// nothing.
inline constexpr const char* kReaderRole = "zhand_reader";

// Creates the group roles where missing and sets every listed table's
// grants and policies to the declared ones, inside the caller's
// transaction. The connection's login owns the tables and may create
// roles. False with *error (one line) when the server refuses.
bool ApplyAccess(PgConnection& owner, std::string* error);

}  // namespace results
