#include "server_access.h"

#include <vector>

namespace results {

namespace {

// One grant: what one group role may do with a table ("SELECT",
// "INSERT (a, b)", ...: the privilege list of GRANT).
struct Grant {
    const char* role;
    const char* privileges;
};

// One row-level security policy. `command` is SELECT, INSERT, UPDATE or
// DELETE; `using` says which rows the role sees (or may change), `check`
// which rows it may write (nullptr: none of the clause). A station's login
// is its own: session_user, which SET ROLE does not change.
struct Policy {
    const char* name;
    const char* command;
    const char* role;
    const char* rowsUsed;
    const char* rowsWritten;
};

// A table of the record and everything either group may do with it. A
// privilege or policy not listed here is taken away by ApplyAccess; a
// station deletes and truncates nothing, as neither is listed.
struct TableAccess {
    const char* table;
    std::vector<Grant> grants;
    std::vector<Policy> policies;
};

constexpr const char* kOwnRun = "run_id IN (SELECT id FROM runs WHERE station = session_user)";

const std::vector<TableAccess>& Declared() {
    static const std::vector<TableAccess> tables = {
        {"schema_version",
         {{kStationRole, "SELECT"}, {kReaderRole, "SELECT"}},
         {{"station_reads_version", "SELECT", kStationRole, "true", nullptr},
          {"reader_reads_version", "SELECT", kReaderRole, "true", nullptr}}},
        {"runs",
         // A run starts "running" with nothing done; progress, its end and
         // the mark of an interrupted run set only these four columns.
         {{kStationRole,
           "SELECT, INSERT (uuid, station, software, serial, operator, test, cycles_planned,"
           " started, log_file), UPDATE (cycles_done, errors, ended, outcome)"},
          {kReaderRole, "SELECT"}},
         {{"station_reads_own", "SELECT", kStationRole, "station = session_user", nullptr},
          {"station_adds_own", "INSERT", kStationRole, nullptr, "station = session_user"},
          // An end may still close a run that a new start marked
          // interrupted, as the local file allows; a finished run is closed.
          {"station_updates_own_open", "UPDATE", kStationRole,
           "station = session_user AND outcome IN ('running', 'interrupted')",
           "station = session_user"},
          {"reader_reads_runs", "SELECT", kReaderRole, "true", nullptr}}},
        // A fact, once there, is never changed (a shipment repeated after a
        // lost answer adds nothing: ON CONFLICT needs the key readable); new
        // facts go to a station's own runs.
        {"measurements",
         {{kStationRole, "INSERT, SELECT (run_id, seq)"}, {kReaderRole, "SELECT"}},
         {{"station_reads_own", "SELECT", kStationRole, kOwnRun, nullptr},
          {"station_adds_to_own", "INSERT", kStationRole, nullptr, kOwnRun},
          {"reader_reads_measurements", "SELECT", kReaderRole, "true", nullptr}}},
        {"events",
         {{kStationRole, "INSERT, SELECT (run_id, seq)"}, {kReaderRole, "SELECT"}},
         {{"station_reads_own", "SELECT", kStationRole, kOwnRun, nullptr},
          {"station_adds_to_own", "INSERT", kStationRole, nullptr, kOwnRun},
          {"reader_reads_events", "SELECT", kReaderRole, "true", nullptr}}},
        // One row per station, its latest beat: a station adds and moves
        // on its own row only (the upsert reads the row it replaces).
        {"heartbeats",
         {{kStationRole, "SELECT, INSERT, UPDATE (seen, state, run)"}, {kReaderRole, "SELECT"}},
         {{"station_reads_own", "SELECT", kStationRole, "station = session_user", nullptr},
          {"station_adds_own", "INSERT", kStationRole, nullptr, "station = session_user"},
          {"station_updates_own", "UPDATE", kStationRole, "station = session_user",
           "station = session_user"},
          {"reader_reads_heartbeats", "SELECT", kReaderRole, "true", nullptr}}},
        // The kept figures (aggregate_schema.h): written only by the
        // triggers, which run as the owner; the reports read them.
        {"measurement_stats", {{kReaderRole, "SELECT"}},
         {{"reader_reads_figures", "SELECT", kReaderRole, "true", nullptr}}},
        {"measurement_streams", {{kReaderRole, "SELECT"}},
         {{"reader_reads_figures", "SELECT", kReaderRole, "true", nullptr}}},
        {"measurement_bins", {{kReaderRole, "SELECT"}},
         {{"reader_reads_figures", "SELECT", kReaderRole, "true", nullptr}}},
        {"measurement_names", {{kReaderRole, "SELECT"}},
         {{"reader_reads_figures", "SELECT", kReaderRole, "true", nullptr}}},
        {"measurement_latest", {{kReaderRole, "SELECT"}},
         {{"reader_reads_figures", "SELECT", kReaderRole, "true", nullptr}}},
    };
    return tables;
}

const char* const kGroups[] = {kStationRole, kReaderRole};

// Makes the group role, or takes its login away if someone gave it one.
std::string GroupRole(const char* role) {
    const std::string name = role;
    return "DO $$BEGIN"
           " IF EXISTS (SELECT FROM pg_roles WHERE rolname = '" +
           name + "') THEN ALTER ROLE " + name + " NOLOGIN; ELSE CREATE ROLE " + name +
           " NOLOGIN; END IF; END$$";
}

// Both groups may connect and see the schema; nobody but the owner creates
// anything in it, nor temporary tables.
std::string DatabaseGrants() {
    std::string sql =
        "DO $$BEGIN"
        " EXECUTE format('REVOKE CREATE, TEMPORARY ON DATABASE %I FROM PUBLIC',"
        " current_database());";
    for (const char* role : kGroups) {
        sql += std::string(" EXECUTE format('REVOKE ALL ON DATABASE %I FROM ") + role +
               "', current_database());" + " EXECUTE format('GRANT CONNECT ON DATABASE %I TO " +
               role + "', current_database());";
    }
    sql +=
        " END$$;"
        "REVOKE CREATE ON SCHEMA public FROM PUBLIC;";
    for (const char* role : kGroups) {
        sql += std::string("REVOKE ALL ON SCHEMA public FROM ") + role + ";" +
               "GRANT USAGE ON SCHEMA public TO " + role + ";";
    }
    return sql;
}

std::string TableSql(const TableAccess& t) {
    const std::string table = t.table;
    std::string sql = "ALTER TABLE " + table + " ENABLE ROW LEVEL SECURITY;";
    sql += "REVOKE ALL ON TABLE " + table + " FROM PUBLIC";
    for (const char* role : kGroups) sql += std::string(", ") + role;
    sql += ";";
    for (const Grant& g : t.grants) {
        sql += "GRANT " + std::string(g.privileges) + " ON TABLE " + table + " TO " + g.role + ";";
    }
    // Every policy of the table goes, and the declared ones come back.
    sql +=
        "DO $$DECLARE p record; BEGIN"
        " FOR p IN SELECT policyname FROM pg_policies"
        " WHERE schemaname = 'public' AND tablename = '" +
        table + "' LOOP EXECUTE format('DROP POLICY %I ON " + table +
        "', p.policyname); END LOOP; END$$;";
    for (const Policy& p : t.policies) {
        sql += "CREATE POLICY " + std::string(p.name) + " ON " + table + " FOR " + p.command +
               " TO " + p.role;
        if (p.rowsUsed != nullptr) sql += " USING (" + std::string(p.rowsUsed) + ")";
        if (p.rowsWritten != nullptr) sql += " WITH CHECK (" + std::string(p.rowsWritten) + ")";
        sql += ";";
    }
    return sql;
}

}  // namespace

bool ApplyAccess(PgConnection& owner, std::string* error) {
    for (const char* role : kGroups) {
        if (!owner.Exec(GroupRole(role), error)) return false;
    }
    if (!owner.Exec(DatabaseGrants(), error)) return false;
    for (const TableAccess& table : Declared()) {
        std::string why;
        if (!owner.Exec(TableSql(table), &why)) {
            if (error != nullptr) *error = std::string(table.table) + ": " + why;
            return false;
        }
    }
    return true;
}

}  // namespace results
