// A test's server set up as the line's engineer does it: the owner's
// `server init`, then one login per station and one for the reports, each
// with only its group's grants.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "pg_connection.h"
#include "pg_server.h"
#include "server_logins.h"
#include "server_schema.h"

namespace pg_logins {

constexpr const char* kLoginPassword = "L0gin-Pa55";

// The owner's `server init`; "" when it worked, else why not.
inline std::string Init(const PgServer& server) {
    std::string error;
    auto owner = results::PgConnection::Connect(server.Uri(), {}, &error);
    results::InitOutcome outcome;
    if (owner == nullptr || !results::InitServer(*owner, &outcome, &error)) return error;
    return "";
}

inline std::string LoginUri(const PgServer& server, const std::string& name,
                            const std::string& password = kLoginPassword) {
    return "postgresql://" + name + ":" + password + "@" + server.Address() + "/postgres";
}

// A login `name` of `kind` made by the owner; its URI ("" after a failed
// expectation when it could not be made).
inline std::string Add(const PgServer& server, results::LoginKind kind, const std::string& name,
                       const std::string& password = kLoginPassword) {
    std::string error;
    auto owner = results::PgConnection::Connect(server.Uri(), {}, &error);
    const bool made = owner != nullptr && results::AddLogin(*owner, kind, name, password, &error);
    EXPECT_TRUE(made) << name << ": " << error;
    return made ? LoginUri(server, name, password) : "";
}

inline std::string Station(const PgServer& server, const std::string& name) {
    return Add(server, results::LoginKind::Station, name);
}
inline std::string Reader(const PgServer& server, const std::string& name = "reports") {
    return Add(server, results::LoginKind::Reader, name);
}

}  // namespace pg_logins
