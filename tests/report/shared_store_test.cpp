// zhand-report on the shared server the tests start: every command reads
// the server as it reads a file (the same facts give the same export,
// summary and report), import refuses to write there, and serve follows the
// server's notices, says when the server has gone and comes back with it.
// The login's password shows nowhere.
#include <gtest/gtest.h>

#include <filesystem>

#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "run_program.h"
#include "serve_process.h"
#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

class SharedStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Ready()) << server_.Log();
        std::string pattern = (fs::temp_directory_path() / "zhand-shared-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        db_ = (dir_ / "results.db").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The same facts into the file and onto the server, in one order.
    void Store(const std::vector<results::Entry>& facts) {
        std::string error;
        auto file =
            results::SqliteStore::Open(db_, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(file, nullptr) << error;
        ASSERT_TRUE(file->ApplyAll(facts, &error)) << error;
        ShipToServer(facts);
    }
    // The owner's `server init`, as before any station ships.
    void InitServer() { ASSERT_EQ(pg_logins::Init(server_), ""); }
    void ShipToServer(const std::vector<results::Entry>& facts) {
        std::string error;
        auto shared = results::PostgresStore::Open(
            server_.Uri(), results::PostgresStore::Mode::ReadWrite, {}, &error);
        ASSERT_NE(shared, nullptr) << error;
        const std::vector<results::Outgoing> shipped(facts.begin(), facts.end());
        ASSERT_TRUE(shared->ApplyAll(shipped, &error)) << error;
    }
    ProgramResult Report(std::vector<std::string> args, const std::string& store) {
        args.insert(args.end(), {"--results", store});
        return RunProgram(ZHAND_REPORT_PATH, args, {"TZ=UTC"}, dir_);
    }
    static json Station(const json& board, const std::string& station) {
        for (const json& s : board["stations"])
            if (s["station"] == station) return s;
        return nullptr;
    }

    PgServer server_;
    fs::path dir_;
    std::string db_;
};

results::RunStart StartOf(const std::string& uuid, const std::string& station,
                          const std::string& serial, const std::string& started) {
    return {uuid, station, "3.0.0", serial, "JD", "Multi-Axis", 3, started, serial + ".txt"};
}

results::Measurement Figure(const std::string& run, int seq, const std::string& name,
                            double value) {
    return {run, seq, name, value, "ms", 0.1, 1e6, results::Verdict(value, 0.1, 1e6), 1};
}

// The report's data as the page carries it.
std::string PageData(const std::string& html) {
    const std::string open = "<script id=\"report-data\" type=\"application/json\">";
    const std::size_t from = html.find(open);
    if (from == std::string::npos) return "";
    const std::size_t to = html.find("</script>", from);
    return html.substr(from + open.size(), to - from - open.size());
}

TEST_F(SharedStore, EveryCommandReadsTheServerAsItReadsTheFile) {
    ASSERT_NO_FATAL_FAILURE(InitServer());
    // Numbers that 15 digits would not give back, NULLs, a unit's two runs.
    Store({StartOf("u1", "bench-1", "HND1", "2026-12-10T08:00:00.000Z"),
           Figure("u1", 1, "F1 close time", 0.1 + 0.2), Figure("u1", 2, "F1 open time", 1e-7),
           results::Event{"u1", 3, "2026-12-10T08:00:01.000Z", 2, "F2", "NO BREAKAWAY",
                          "F2 NO BREAKAWAY in cycle 2"},
           results::Measurement{"u1", 4, "Maximum temperature", 41.25, "C", {}, {}, {}, {}},
           results::RunEnd{"u1", "2026-12-10T08:01:00.000Z", "fail", 3, 1},
           StartOf("u2", "bench-2", "HND1", "2026-12-11T08:00:00.000Z"),
           Figure("u2", 1, "F1 close time", 123456.78901234567),
           results::RunEnd{"u2", "2026-12-11T08:01:00.000Z", "pass", 3, 0},
           StartOf("u3", "bench-1", "HND2", "2026-12-11T09:00:00.000Z"),
           Figure("u3", 1, "F1 close time", 2.5)});
    // Through a login that may only read.
    const std::string uri = pg_logins::Reader(server_);
    struct Case {
        std::vector<std::string> args;
        bool html;
    };
    const Case cases[] = {
        {{"export"}, false},
        {{"export", "--serial", "HND1", "--since", "2026-12-11"}, false},
        {{"summary"}, false},
        {{"summary", "--serial", "HND2"}, false},
        {{"html", "-o", "-"}, true},
        {{"html", "-o", "-", "--serial", "HND1"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 3 ? " " + c.args[3] : ""));
        const ProgramResult file = Report(c.args, db_);
        const ProgramResult shared = Report(c.args, uri);
        ASSERT_EQ(file.status, 0) << file.err;
        ASSERT_EQ(shared.status, 0) << shared.err;
        EXPECT_NE(file.out, "");
        if (c.html) {
            EXPECT_NE(PageData(file.out), "");
            EXPECT_EQ(PageData(shared.out), PageData(file.out));
            EXPECT_EQ(shared.out.find(pg_logins::kLoginPassword), std::string::npos);
            EXPECT_NE(shared.out.find(server_.Address()), std::string::npos);
        } else {
            EXPECT_EQ(shared.out, file.out);
        }
    }
    // The numbers as stored, not as 15 digits make them.
    const ProgramResult exported = Report({"export", "--serial", "HND1"}, uri);
    const json first = json::parse(exported.out.substr(0, exported.out.find('\n')));
    EXPECT_EQ(first["measurements"][0]["value"].get<double>(), 0.1 + 0.2);
    EXPECT_EQ(first["measurements"][1]["value"].get<double>(), 1e-7);
}

TEST_F(SharedStore, ImportWritesToFilesOnly) {
    std::ofstream(dir_ / "HND1JD261210_1.txt") << "not a log\n";
    // A URI without a password, as the README has it (one with a password
    // adds its warning).
    const ProgramResult r =
        Report({"import", "HND1JD261210_1.txt"}, std::string("postgresql://") + PgServer::kUser +
                                                     "@" + server_.Address() + "/postgres");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("import writes to a SQLite file, not to the server " + server_.Address()),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(PgServer::kPassword), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(SharedStore, ServeFollowsTheServerThroughAStop) {
    // Started before the owner has made the store on the server.
    ServeProcess serve(server_.Uri());
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    EXPECT_NE(serve.Said().find("no results store on this server; serving"), std::string::npos)
        << serve.Said();
    BoardStream stream(serve.Port());
    ASSERT_TRUE(stream.WaitFor([](const json& b) { return b["problem"] != ""; }, 5s));
    ASSERT_NO_FATAL_FAILURE(InitServer());
    ShipToServer({StartOf("u1", "bench-1", "HND1", "2026-12-10T08:00:00.000Z")});
    ASSERT_TRUE(stream.WaitFor([](const json& b) { return !b["stations"].empty(); }, 5s));

    // A shipment's notice reaches the page within a second.
    const auto wrote = BoardStream::SteadyClock::now();
    ShipToServer({results::RunProgress{"u1", 2, 1}});
    const auto progressed =
        stream.WaitFor([](const json& b) { return Station(b, "bench-1")["cycle"] == 3; }, 3s);
    ASSERT_TRUE(progressed);
    EXPECT_LT(progressed->at - wrote, 1s);

    httplib::Client client = serve.Client();
    for (const char* path : {"/stations", "/stations.json", "/report"}) {
        const auto page = client.Get(path);
        ASSERT_TRUE(page) << path;
        EXPECT_EQ(page->status, 200) << path;
        EXPECT_EQ(page->body.find(PgServer::kPassword), std::string::npos) << path;
    }

    ASSERT_TRUE(server_.Stop());
    const auto gone = stream.WaitFor([](const json& b) { return b["problem"] != ""; }, 10s);
    ASSERT_TRUE(gone);
    const std::string problem = gone->json["problem"];
    EXPECT_NE(problem.find(server_.Address()), std::string::npos) << problem;
    EXPECT_EQ(problem.find(PgServer::kPassword), std::string::npos) << problem;
    const auto report = client.Get("/report");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->status, 503);
    EXPECT_EQ(report->body.find(PgServer::kPassword), std::string::npos) << report->body;

    ASSERT_TRUE(server_.Start()) << server_.Log();
    ShipToServer({results::RunEnd{"u1", "2026-12-10T08:01:00.000Z", "pass", 3, 1}});
    const auto back = stream.WaitFor(
        [](const json& b) {
            return b["problem"] == "" && Station(b, "bench-1")["outcome"] == "pass";
        },
        10s);
    ASSERT_TRUE(back);
    EXPECT_EQ(serve.Stop(SIGTERM, 5s), std::optional<int>(0));
    EXPECT_EQ(serve.Said().find(PgServer::kPassword), std::string::npos) << serve.Said();
}

// The line's engineer sets up the server with zhand-report alone: init
// (again: nothing changes), a login for a report user whose password comes
// from standard input, and reports through it. What is wrong is said.
TEST_F(SharedStore, ServerCommandsSetUpTheLine) {
    const std::string owner = server_.Uri();
    const std::string warning = "warning: a password on the command line";
    auto server = [&](std::vector<std::string> args, const std::string& uri,
                      const std::string& input = "/dev/null") {
        args.insert(args.begin(), "server");
        args.insert(args.end(), {"--results", uri});
        return RunProgram(ZHAND_REPORT_PATH, args, {}, dir_, input);
    };
    const ProgramResult init = server({"init"}, owner);
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_EQ(init.out, "server " + server_.Address() +
                            ": schema 5, roles zhand_station and zhand_reader with their grants"
                            " and policies\n");
    // The owner's password was on the command line: one warning.
    EXPECT_NE(init.err.find(warning), std::string::npos) << init.err;
    EXPECT_EQ(std::count(init.err.begin(), init.err.end(), '\n'), 1) << init.err;
    const ProgramResult again = server({"init"}, owner);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("schema 5 (already)"), std::string::npos) << again.out;

    std::ofstream(dir_ / "password") << "Rep/0rts@pw\n";
    const ProgramResult added =
        server({"add-reader", "reports"}, owner, (dir_ / "password").string());
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "server " + server_.Address() + ": login reports in zhand_reader\n");
    Store({StartOf("u1", "bench-1", "HND1", "2026-12-10T08:00:00.000Z")});
    const ProgramResult summary =
        Report({"summary"}, "postgresql://reports:Rep/0rts@pw@" + server_.Address() + "/postgres");
    EXPECT_EQ(summary.status, 0) << summary.err;
    EXPECT_NE(summary.out.find("Multi-Axis"), std::string::npos) << summary.out;
    EXPECT_NE(summary.err.find(warning), std::string::npos) << summary.err;

    struct Case {
        std::vector<std::string> args;
        std::string uri;
        int status;
        const char* says;
    };
    const std::string station = pg_logins::Station(server_, "line-1");
    const Case wrong[] = {
        {{"add-station", "line-2"}, owner, 1, "no password on standard input"},
        {{"add-station"}, owner, 2, "add-station needs a NAME"},
        {{"add-station", "line-2", "--password", "x"}, owner, 2, "unknown option '--password'"},
        {{"drop-station", "line-2"}, owner, 2, "unknown action 'drop-station'"},
        {{"init"}, (dir_ / "results.db").string(), 1, "not a server"},
        {{"init"}, station, 1, "run it as the database's owner"},
    };
    for (const Case& c : wrong) {
        SCOPED_TRACE(c.args[0]);
        const ProgramResult r = server(c.args, c.uri);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(PgServer::kPassword), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(pg_logins::kLoginPassword), std::string::npos) << r.err;
    }
}

}  // namespace
