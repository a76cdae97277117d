#include "results_reader.h"

#include <filesystem>
#include <fstream>
#include <thread>

#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "results_fixture.h"
#include "sqlite_store.h"

namespace {

using namespace results;
using namespace std::chrono_literals;

class ReaderTest : public StoreDir {
  protected:
    void SetUp() override {
        StoreDir::SetUp();
        ASSERT_TRUE(server.Ready()) << server.Log();
        ASSERT_EQ(pg_logins::Init(server), "");
        std::string error;
        file = SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 200, &error);
        ASSERT_NE(file, nullptr) << error;
        shared = PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadWrite, {}, &error);
        ASSERT_NE(shared, nullptr) << error;
    }
    // The same facts in both stores.
    void Store(const std::vector<Entry>& facts) {
        std::string error;
        ASSERT_TRUE(file->ApplyAll(facts, &error)) << error;
        std::vector<Outgoing> shipped(facts.begin(), facts.end());
        ASSERT_TRUE(shared->ApplyAll(shipped, &error)) << error;
    }

    PgServer server;
    std::unique_ptr<SqliteStore> file;
    std::unique_ptr<PostgresStore> shared;
};

Rows Numbers(Rows rows) {
    for (auto& row : rows) {
        for (auto& cell : row) {
            char* end = nullptr;
            if (!cell || cell->empty()) continue;
            const double number = std::strtod(cell->c_str(), &end);
            if (end == cell->c_str() + cell->size()) cell = std::to_string(number);
        }
    }
    return rows;
}

// A report's query, written once, reads the file and the server alike.
TEST_F(ReaderTest, OneQueryReadsTheFileAndTheServerAlike) {
    Store({Run("u1"), Position("u1", 1, 15400), Fault("u1", 2, 1), Position("u1", 3, 2000),
           End("u1", kFail, 1, 1), Run("u2", "bench-2"), Position("u2", 1, 15500)});
    std::string error;
    auto fromFile = OpenResults(db, &error);
    ASSERT_NE(fromFile, nullptr) << error;
    auto fromServer = OpenResults(pg_logins::Reader(server), &error);
    ASSERT_NE(fromServer, nullptr) << error;
    EXPECT_EQ(fromFile->StoreKind(), ResultsReader::Kind::File);
    EXPECT_EQ(fromServer->StoreKind(), ResultsReader::Kind::Server);
    EXPECT_EQ(fromFile->Where(), db);
    EXPECT_EQ(fromServer->Where(), server.Address());

    struct Case {
        const char* sql;
        std::vector<std::optional<std::string>> params;
        std::size_t rows;
    };
    const Case cases[] = {
        {"SELECT uuid, station, outcome, errors FROM runs WHERE serial = $1 ORDER BY uuid",
         {std::string("HND123")},
         2},
        // $2 before $1, and a NULL.
        {"SELECT r.uuid, m.seq, m.value, m.high FROM measurements m JOIN runs r ON r.id = m.run_id"
         " WHERE m.value > $2 AND r.test = $1 AND m.high IS NULL ORDER BY r.uuid, m.seq",
         {std::string("Multi-Axis"), std::string("10000")},
         2},
        {"SELECT r.station, count(*), min(m.value) FROM runs r JOIN measurements m"
         " ON m.run_id = r.id GROUP BY r.station ORDER BY r.station",
         {},
         2},
        {"SELECT kind, motor, cycle, text FROM events", {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        Rows local, remote;
        ASSERT_TRUE(fromFile->Query(c.sql, c.params, &local, &error)) << error;
        ASSERT_TRUE(fromServer->Query(c.sql, c.params, &remote, &error)) << error;
        EXPECT_EQ(local.size(), c.rows);
        EXPECT_EQ(Numbers(remote), Numbers(local));
    }
    for (ResultsReader* reader : {fromFile.get(), fromServer.get()}) {
        Rows rows;
        EXPECT_FALSE(reader->Query("DELETE FROM runs", &rows, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(QueryValue(db, "SELECT count(*) FROM runs"), "2");
    EXPECT_EQ(OpenResults(server.Uri("Wr0ng-Guess"), &error), nullptr);
    EXPECT_EQ(error.find("Wr0ng-Guess"), std::string::npos) << error;
}

// A URI without a password reads the server with the password from each
// of libpq's own places; nothing of ours stands in the way.
TEST_F(ReaderTest, ThePasswordComesFromLibpqsOwnPlaces) {
    const std::string reader = pg_logins::Reader(server);
    const std::string bare = "postgresql://reports@" + server.Address() + "/postgres";
    const std::string pgpass = (dir / "pgpass").string();
    std::ofstream(pgpass) << "*:*:*:reports:" << pg_logins::kLoginPassword << "\n";
    std::filesystem::permissions(pgpass, std::filesystem::perms::owner_read);
    const std::string services = (dir / "pg_service.conf").string();
    std::ofstream(services) << "[line]\nhost=127.0.0.1\nport=" << server.Port()
                            << "\ndbname=postgres\nuser=reports\npassword="
                            << pg_logins::kLoginPassword << "\n";
    struct Case {
        const char* variable;
        std::string value;
        std::string uri;
    };
    const Case cases[] = {
        {"PGPASSFILE", pgpass, bare},
        {"PGSERVICEFILE", services, "postgresql://?service=line"},
        {"PGPASSWORD", pg_logins::kLoginPassword, bare},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        std::string error;
        EXPECT_EQ(OpenResults(c.uri, &error), nullptr) << "without " << c.variable;
        setenv(c.variable, c.value.c_str(), 1);
        auto store = OpenResults(c.uri, &error);
        unsetenv(c.variable);
        ASSERT_NE(store, nullptr) << error;
        Rows rows;
        EXPECT_TRUE(store->Query("SELECT session_user", &rows, &error)) << error;
        EXPECT_EQ(rows, (Rows{{std::string("reports")}}));
    }
}

// A live page waits for the next commit instead of asking again and again.
TEST_F(ReaderTest, AReaderIsToldOfTheNextCommit) {
    std::string error;
    Store({Run("u1")});
    auto fromFile = OpenResults(db, &error);
    ASSERT_NE(fromFile, nullptr) << error;
    auto fromServer = OpenResults(pg_logins::Reader(server), &error);
    ASSERT_NE(fromServer, nullptr) << error;
    for (ResultsReader* reader : {fromFile.get(), fromServer.get()}) {
        EXPECT_FALSE(reader->WaitForChange(300, &error)) << "nothing new yet";
    }
    int seq = 0;
    for (ResultsReader* reader : {fromFile.get(), fromServer.get()}) {
        SCOPED_TRACE(reader->Where());
        ++seq;
        std::thread writer([&] {
            std::this_thread::sleep_for(200ms);
            Store({Position("u1", seq, 15400)});
        });
        EXPECT_TRUE(reader->WaitForChange(10000, &error)) << error;
        writer.join();
        Rows rows;
        ASSERT_TRUE(reader->Query("SELECT count(*) FROM measurements", &rows, &error)) << error;
        EXPECT_EQ(rows, (Rows{{std::to_string(seq)}}));
    }
}

}  // namespace
