#include "server_logins.h"

#include <libpq-fe.h>

#include <memory>

#include "server_access.h"

namespace results {

namespace {

using Freed = std::unique_ptr<char, decltype(&PQfreemem)>;

// `text` quoted by libpq as an identifier or a literal ("" when it cannot).
std::string Quoted(pg_conn* conn, const std::string& text, bool identifier) {
    Freed quoted(identifier ? PQescapeIdentifier(conn, text.data(), text.size())
                            : PQescapeLiteral(conn, text.data(), text.size()),
                 &PQfreemem);
    return quoted != nullptr ? std::string(quoted.get()) : std::string();
}

// Why an existing role may not become (or stay) a login of `group`; "" if
// it may: a plain login, or one of `group` already.
std::string Unfit(PgConnection& c, const std::string& name, const char* group, bool* exists,
                  std::string* error) {
    Rows rows;
    const std::vector<std::optional<std::string>> params = {name, std::string(group)};
    // A role that owns the database or the record's tables is not bound by
    // row-level security.
    if (!c.Exec("SELECT r.rolsuper OR r.rolcreaterole OR r.rolcreatedb OR r.rolreplication"
                " OR r.rolbypassrls"
                " OR r.oid = (SELECT datdba FROM pg_database WHERE datname = current_database())"
                " OR EXISTS (SELECT FROM pg_class WHERE relowner = r.oid"
                "  AND relnamespace = 'public'::regnamespace), r.rolcanlogin, pg_has_role(r.oid, "
                "$2, 'MEMBER'),"
                " r.rolname IN ('zhand_station', 'zhand_reader'),"
                " EXISTS (SELECT FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid"
                "  WHERE m.member = r.oid AND g.rolname <> $2)"
                " FROM pg_roles r WHERE r.rolname = $1",
                params, &rows, error)) {
        return "";
    }
    *exists = !rows.empty();
    if (rows.empty()) return "";
    const auto yes = [&](int i) { return rows[0][i] && *rows[0][i] == "t"; };
    if (yes(0)) return "role " + name + " may do more than a login; pick another name";
    if (yes(3) || !yes(1)) return "role " + name + " is a group, not a login";
    // A plain login of before is taken into the group.
    if (yes(4)) return "role " + name + " is in another group than " + std::string(group);
    return "";
}

}  // namespace

bool AddLogin(PgConnection& c, LoginKind kind, const std::string& name, const std::string& password,
              std::string* error) {
    const char* group = kind == LoginKind::Station ? kStationRole : kReaderRole;
    if (name.empty() || password.empty()) {
        if (error != nullptr) *error = name.empty() ? "no login name" : "an empty password";
        return false;
    }
    if (!c.Exec("BEGIN", error)) return false;
    auto abandon = [&] {
        if (!c.Broken()) c.Exec("ROLLBACK", nullptr);
        return false;
    };
    std::string why;
    bool exists = false;
    const std::string unfit = Unfit(c, name, group, &exists, &why);
    if (!why.empty() || !unfit.empty()) {
        if (error != nullptr) *error = why.empty() ? unfit : why;
        return abandon();
    }
    Rows groupRows;
    if (!c.Exec("SELECT FROM pg_roles WHERE rolname = $1",
                std::vector<std::optional<std::string>>{std::string(group)}, &groupRows, error)) {
        return abandon();
    }
    if (groupRows.empty()) {
        if (error != nullptr) {
            *error =
                std::string("no role ") + group + " on the server: run zhand-report server init";
        }
        return abandon();
    }
    pg_conn* conn = c.Handle();
    Freed verifier(PQencryptPasswordConn(conn, password.c_str(), name.c_str(), nullptr),
                   &PQfreemem);
    const std::string role = Quoted(conn, name, true);
    const std::string secret = verifier != nullptr ? Quoted(conn, verifier.get(), false) : "";
    if (role.empty() || secret.empty()) {
        if (error != nullptr) *error = ShortPgMessage(PQerrorMessage(conn), "");
        return abandon();
    }
    const std::string sql = std::string(exists ? "ALTER ROLE " : "CREATE ROLE ") + role +
                            " LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION"
                            " NOBYPASSRLS INHERIT PASSWORD " +
                            secret + ";GRANT " + group + " TO " + role + ";COMMIT";
    if (!c.Exec(sql, error)) return abandon();
    return true;
}

}  // namespace results
