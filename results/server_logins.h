// The logins of the shared server: one per station, named as the station
// (ZHAND_STATION), in the group role of the stations; one per report user
// in the group role of the readers. Made by the database's owner through
// `zhand-report server add-station` and `add-reader`.
#pragma once

#include <string>

#include "pg_connection.h"

namespace results {

enum class LoginKind { Station, Reader };

// Creates the login `name` in the group of its kind with `password`, or
// gives an existing plain login (one of that group, or one of no group,
// as a line set up by hand before has) the group and the new password. The password
// leaves this process only as a verifier libpq makes of it (as psql's
// \password does), never in clear text in a statement the server may log.
// A role that is anything else (another group's login, a group, a
// superuser, one that may create roles or databases, the owner of the
// database or of the tables) is refused. False with
// *error (one line) when the server refuses; nothing is changed then.
bool AddLogin(PgConnection& owner, LoginKind kind, const std::string& name,
              const std::string& password, std::string* error);

}  // namespace results
