// Every query of a reader has the time it was given: an endless query on
// the file is ended by SQLite's progress handler, on the server by its
// statement_timeout (one statement) or by the reader's own deadline (a
// cursor that would hand over rows for ever). The reader stays usable.
#include <chrono>

#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "results_fixture.h"
#include "results_reader.h"
#include "sqlite_store.h"

namespace {

using namespace results;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kEndless =
    "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT x FROM n";
constexpr int kLimitMs = 300;

class QueryLimit : public StoreDir {};

TEST_F(QueryLimit, EndlessQueriesEndAtTheLimitOnTheFileAndTheServer) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ASSERT_EQ(pg_logins::Init(server), "");
    std::string error;
    ASSERT_NE(SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 200, &error), nullptr) << error;
    ASSERT_NE(PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadWrite, {}, &error),
              nullptr)
        << error;
    struct Case {
        const char* name;
        std::string target;
        std::string single;  // one statement that would not end
    };
    const Case cases[] = {
        {"file", db, std::string("SELECT count(*) FROM (") + kEndless + ")"},
        {"server", server.Uri(), "SELECT pg_sleep(30)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto reader = OpenResults(c.target, &error);
        ASSERT_NE(reader, nullptr) << error;
        ASSERT_TRUE(reader->LimitQueries(kLimitMs, &error)) << error;
        Rows rows;
        auto start = Clock::now();
        error.clear();
        EXPECT_FALSE(reader->Query(c.single, &rows, &error));
        EXPECT_LT(Clock::now() - start, 5s);
        EXPECT_FALSE(error.empty());
        start = Clock::now();
        long long seen = 0;
        error.clear();
        EXPECT_FALSE(reader->ForEach(
            kEndless, {}, [&](const Row&) { ++seen; }, &error));
        EXPECT_LT(Clock::now() - start, 5s);
        EXPECT_GT(seen, 0);
        EXPECT_FALSE(error.empty());
        // The next query is answered as ever.
        ASSERT_TRUE(reader->Query("SELECT 41 + 1", &rows, &error)) << error;
        EXPECT_EQ(rows.at(0).at(0), "42");
    }
}

}  // namespace
