// The heartbeats table, the one place that says what it is in either store:
// one row per station, its latest beat. A beat older than the row's is
// left out, so beats shipped late or twice never move a station back.
#pragma once

namespace results {

// SQLite: created by a station when it opens its file for writing.
inline constexpr const char* kHeartbeatsTableSqlite =
    "CREATE TABLE IF NOT EXISTS heartbeats ("
    " station TEXT PRIMARY KEY,"
    " seen TEXT NOT NULL,"
    " state TEXT NOT NULL,"
    " run TEXT NOT NULL DEFAULT '')";

inline constexpr const char* kUpsertBeatSqlite =
    "INSERT INTO heartbeats (station, seen, state, run) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (station) DO UPDATE SET seen = excluded.seen, state = excluded.state,"
    " run = excluded.run WHERE excluded.seen > heartbeats.seen";

// ---- PostgreSQL: heartbeats -------------------------------------------
// The table is step 4 of the server's schema (server_schema.cpp), laid out
// by `zhand-report server init`; its grants and policies are declared with
// the other tables' (server_access.cpp): a station's login reads, adds and
// moves on only the row of its own name, a reader reads them all.
inline constexpr const char* kHeartbeatsTablePg =
    "CREATE TABLE IF NOT EXISTS heartbeats ("
    " station text PRIMARY KEY,"
    " seen text NOT NULL,"
    " state text NOT NULL,"
    " run text NOT NULL DEFAULT '')";

// $1: the beats of a shipment as a JSON array, the latest of each station.
inline constexpr const char* kUpsertBeatsPg =
    "INSERT INTO heartbeats (station, seen, state, run)"
    " SELECT station, seen, state, run FROM jsonb_to_recordset($1::jsonb)"
    " AS b(station text, seen text, state text, run text)"
    " ON CONFLICT (station) DO UPDATE SET seen = excluded.seen, state = excluded.state,"
    " run = excluded.run WHERE excluded.seen > heartbeats.seen";
// ---- end of PostgreSQL: heartbeats -------------------------------------

}  // namespace results
