// Two stations against zhand-sim record Multi-Axis runs to one PostgreSQL
// server at once. The server is stopped in the middle of the first run and
// started again in the middle of the second: testing goes on, row 21 says
// the server cannot be reached (in the run and on the form) and clears once
// shipping has caught up, and afterwards the server holds every run, event
// and measurement of each station exactly once, as its local file has them.
// No file a station writes beside its store holds the server's password.
#include <gtest/gtest.h>

#include <filesystem>

#include "line_support.h"
#include "pg_logins.h"
#include "pg_server.h"

namespace {

using namespace line;

bool Unreachable(const std::string& row) {
    return row.find("unreachable") != std::string::npos;
}

constexpr const char* kUnsaved = "results-unsaved.jsonl";

// The files of a station's folder that it writes as text for people and
// for its next start: the day's logs, Prefs.dat and, when the local file
// could not be written, the unsaved facts. None may hold the password that
// the server's URI gave the station.
void ExpectNoPasswordInFiles(const TmuxStation& station, bool unsaved) {
    std::vector<std::filesystem::path> files = station.FilesEndingIn(".txt");
    EXPECT_FALSE(files.empty()) << "no text log in " << station.Dir();
    ASSERT_TRUE(station.Exists("Prefs.dat"));
    files.push_back("Prefs.dat");
    EXPECT_EQ(station.Exists(kUnsaved), unsaved);
    if (station.Exists(kUnsaved)) files.push_back(kUnsaved);
    for (const std::filesystem::path& file : files) {
        const std::string text = station.Read(file.filename());
        EXPECT_FALSE(text.empty()) << file;
        EXPECT_EQ(text.find(pg_logins::kLoginPassword), std::string::npos) << file << ":\n" << text;
    }
}

TEST(Line, TwoStationsShipThroughAServerStopAndStartExactlyOnce) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    // Each station logs in as itself, with only its group's grants.
    ASSERT_EQ(pg_logins::Init(server), "");
    TmuxStation first, second;
    ASSERT_TRUE(StartStation(first, "line-1", pg_logins::Station(server, "line-1"),
                             {"no-breakaway:2,from=3"}))
        << first.Screen();
    ASSERT_TRUE(
        StartStation(second, "line-2", pg_logins::Station(server, "line-2"), {"jam-open:1,from=2"}))
        << second.Screen();
    TmuxStation* const stations[] = {&first, &second};

    // The first run: the server goes away while both stations test.
    for (TmuxStation* s : stations) RunMultiAxis(*s, 40);
    for (TmuxStation* s : stations) ASSERT_TRUE(WaitForCycle(*s, 5, 60s)) << s->Screen();
    ASSERT_TRUE(server.Stop());
    for (TmuxStation* s : stations) {
        ASSERT_TRUE(WaitForRow21(*s, Unreachable, 30s)) << s->Screen();
        const std::string row = s->Row(21);
        EXPECT_NE(row.find(server.Address()), std::string::npos) << row;
        EXPECT_EQ(s->Screen().find(pg_logins::kLoginPassword), std::string::npos);
    }
    for (TmuxStation* s : stations) ASSERT_NO_FATAL_FAILURE(FinishRun(*s));
    // Back on the form, row 21 keeps the line while the server is away.
    for (TmuxStation* s : stations) {
        ASSERT_TRUE(WaitForRow21(*s, Unreachable, 10s)) << s->Screen();
    }

    // The second run: the server comes back while both stations test.
    for (TmuxStation* s : stations) RunMultiAxis(*s, 30, kMultiAxisField);
    for (TmuxStation* s : stations) ASSERT_TRUE(WaitForCycle(*s, 5, 60s)) << s->Screen();
    ASSERT_TRUE(server.Start()) << server.Log();
    for (TmuxStation* s : stations) ASSERT_NO_FATAL_FAILURE(FinishRun(*s));
    // Shipping catches up and the form clears row 21 by itself.
    for (TmuxStation* s : stations) {
        ASSERT_TRUE(WaitForRow21(
            *s, [](const std::string& row) { return row.empty(); }, 30s))
            << s->Screen();
    }
    for (TmuxStation* s : stations) {
        s->Keys("C-q");
        EXPECT_EQ(s->WaitForExit(30s), std::optional<int>(0)) << s->Screen();
        ExpectNoPasswordInFiles(*s, false);
    }

    std::string error;
    auto shared = results::OpenResults(pg_logins::Reader(server), &error);
    ASSERT_NE(shared, nullptr) << error;
    std::size_t runs = 0;
    for (const auto& [station, name] :
         {std::pair{&first, "line-1"}, std::pair{&second, "line-2"}}) {
        SCOPED_TRACE(name);
        auto local = results::OpenResults((station->Dir() / "results.db").string(), &error);
        ASSERT_NE(local, nullptr) << error;
        const Records mine = ReadRecords(*local, name);
        ASSERT_EQ(mine.runs.size(), 2u);
        EXPECT_GT(mine.measurements.size(), 0u);
        EXPECT_GT(mine.events.size(), 0u);
        for (const results::Row& run : mine.runs) EXPECT_EQ(run[10], "fail") << *run[0];
        const Records onServer = ReadRecords(*shared, name);
        EXPECT_EQ(onServer.runs, mine.runs);
        EXPECT_EQ(onServer.measurements.size(), mine.measurements.size());
        EXPECT_TRUE(onServer.measurements == mine.measurements);
        EXPECT_EQ(onServer.events.size(), mine.events.size());
        EXPECT_TRUE(onServer.events == mine.events);
        runs += mine.runs.size();
    }
    // Nothing else, nothing twice: the server holds just these runs.
    results::Rows counts;
    ASSERT_TRUE(shared->Query("SELECT count(*), count(DISTINCT uuid) FROM runs", &counts, &error))
        << error;
    EXPECT_EQ(counts[0][0], std::to_string(runs));
    EXPECT_EQ(counts[0][1], std::to_string(runs));
}

// A station whose local file cannot be written keeps its facts in the
// unsaved file beside it; that file, like the logs, never holds the password.
TEST(Line, AStationThatCannotStoreKeepsThePasswordOutOfItsFiles) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ASSERT_EQ(pg_logins::Init(server), "");
    TmuxStation station;
    std::filesystem::create_directory(station.Dir() / "results.db");
    ASSERT_TRUE(StartStation(station, "line-3", pg_logins::Station(server, "line-3"), {}))
        << station.Screen();
    RunMultiAxis(station, 3);
    ASSERT_TRUE(WaitForRow21(
        station,
        [](const std::string& row) { return row.find("Record not stored") != std::string::npos; },
        30s))
        << station.Screen();
    EXPECT_EQ(station.Screen().find(pg_logins::kLoginPassword), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(FinishRun(station));
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(30s), std::optional<int>(0)) << station.Screen();
    // The run's facts are there to be loaded at the next start.
    EXPECT_NE(station.Read(kUnsaved).find("Multi-Axis"), std::string::npos);
    ExpectNoPasswordInFiles(station, true);
}

}  // namespace
