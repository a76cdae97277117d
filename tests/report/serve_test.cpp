// zhand-report serve over a store file that a "station" writes while the
// pages are open: the stations board follows every fact within a second,
// the report is the store as it is now, nothing over HTTP changes the store,
// and SIGINT or SIGTERM stop it cleanly with pages still open.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.h"
#include "serve_process.h"
#include "sqlite_store.h"
#include "store_file_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

class Serve : public StoreFileTest {
  protected:

    void Put(const results::Entry& entry) {
        std::string error;
        ASSERT_TRUE(store_->ApplyAll(std::vector<results::Entry>{entry}, &error)) << error;
    }
    static results::RunStart Start(const std::string& uuid, const std::string& station,
                                   const std::string& serial, int cycles) {
        return {uuid,
                station,
                "3.0.0",
                serial,
                "JD",
                "Multi-Axis",
                cycles,
                "2026-12-10T09:53:12.345Z",
                serial + "JD261210_1.txt"};
    }
    // The board's entry for `station`, or null.
    static json Station(const json& board, const std::string& station) {
        for (const json& s : board["stations"])
            if (s["station"] == station) return s;
        return nullptr;
    }
};

TEST_F(Serve, TheBoardFollowsEachFactWithinASecond) {
    Put(Start("run-a", "bench-1", "HND123", 10));
    Put(Start("run-b", "bench-2", "<b>HND7</b>", 5));
    ServeProcess serve(db);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    BoardStream stream(serve.Port());

    const auto first = stream.WaitFor([](const json& b) { return b["stations"].size() == 2; }, 5s);
    ASSERT_TRUE(first);
    const json b2 = Station(first->json, "bench-2");
    EXPECT_EQ(b2["serial"], "<b>HND7</b>");
    EXPECT_EQ(b2["cycle"], 1);
    EXPECT_EQ(b2["cycles"], 5);
    EXPECT_EQ(first->json["problem"], "");

    // Each cycle the station records shows as the cycle under way.
    for (int done = 1; done <= 3; ++done) {
        SCOPED_TRACE(done);
        const auto wrote = BoardStream::SteadyClock::now();
        Put(results::RunProgress{"run-a", done, done - 1});
        const auto board = stream.WaitFor(
            [&](const json& b) { return Station(b, "bench-1")["cycle"] == done + 1; }, 3s);
        ASSERT_TRUE(board);
        EXPECT_LT(board->at - wrote, 1s);
        EXPECT_EQ(Station(board->json, "bench-1")["errors"], done - 1);
    }

    // A fault, then the end; an operator's "seen" is no fault.
    Put(results::Event{"run-a", 1, "2026-12-10T09:53:20.000Z", 4, "F2", "NO BREAKAWAY",
                       "F2 NO BREAKAWAY in cycle 4 at 09:53:20"});
    Put(results::Event{"run-a", 2, "2026-12-10T09:53:21.000Z", 4, "F1", "MOTOR SEEN", "M1 moved"});
    Put(results::RunEnd{"run-a", "2026-12-10T09:54:00.000Z", "fail", 10, 1});
    const auto ended = stream.WaitFor(
        [](const json& b) { return Station(b, "bench-1")["outcome"] == "fail"; }, 3s);
    ASSERT_TRUE(ended);
    const json b1 = Station(ended->json, "bench-1");
    EXPECT_EQ(b1["cycle"], 10);
    EXPECT_EQ(b1["errors"], 1);
    EXPECT_EQ(b1["lastFault"], "F2 NO BREAKAWAY in cycle 4 at 09:53:20");

    // A new run of a station takes its place on the board.
    results::RunStart next = Start("run-c", "bench-1", "HND124", 3);
    next.started = "2026-12-10T10:00:00.000Z";
    Put(next);
    const auto again = stream.WaitFor(
        [](const json& b) { return Station(b, "bench-1")["serial"] == "HND124"; }, 3s);
    ASSERT_TRUE(again);
    EXPECT_EQ(Station(again->json, "bench-1")["outcome"], "running");
    EXPECT_TRUE(Station(again->json, "bench-1")["lastFault"].is_null());
    EXPECT_EQ(again->json["stations"].size(), 2u);
}

TEST_F(Serve, PagesReadTheStoreAndNothingOverHttpChangesIt) {
    Put(Start("run-a", "bench-1", "HND123", 10));
    Put(results::Measurement{"run-a", 1, "F1 closed/open", 15200, "counts", 15100.0, 15300.0,
                             "pass", 1});
    Put(results::Measurement{"run-a", 2, "F1 closed/open", 15230, "counts", 15100.0, 15300.0,
                             "pass", 2});
    Put(results::RunEnd{"run-a", "2026-12-10T09:54:00.000Z", "pass", 10, 0});
    store_.reset();
    const std::string before = SlurpFile(db);
    ServeProcess serve(db);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    httplib::Client client = serve.Client();

    struct Page {
        const char* path;
        int status;
        const char* type;
        const char* holds;
    };
    const Page pages[] = {
        {"/stations", 200, "text/html", "ZorvathHand stations"},
        {"/stations.json", 200, "application/json", "\"serial\":\"HND123\""},
        {"/report", 200, "text/html", "ZorvathHand test report"},
        {"/report?serial=HND123&since=2026-12-01", 200, "text/html", "unit HND123, since"},
        {"/report?since=yesterday", 400, "text/plain", "not a date"},
        // The overview links each unit and measurement to a page of its own.
        {"/report", 200, "text/html", "href=\"/report/unit/HND123\""},
        {"/report", 200, "text/html", "href=\"/report/measurement/F1%20closed%2Fopen\""},
        {"/report/unit/HND123", 200, "text/html", "id=\"unit-HND123\" open"},
        {"/report/unit/HND999", 404, "text/plain", "no runs of unit HND999"},
        {"/report/measurement/F1%20closed%2Fopen", 200, "text/html", "2 values, 0 out of"},
        {"/report/measurement/nothing", 404, "text/plain", "no measurement named nothing"},
        {"/nothing", 404, "", ""},
    };
    for (const Page& p : pages) {
        SCOPED_TRACE(p.path);
        const auto got = client.Get(p.path);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->status, p.status);
        EXPECT_TRUE(got->get_header_value("Content-Type").starts_with(p.type));
        EXPECT_NE(got->body.find(p.holds), std::string::npos) << got->body.substr(0, 300);
    }
    const auto root = client.Get("/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->status, 302);
    EXPECT_EQ(root->get_header_value("Location"), "/stations");

    for (const char* path : {"/stations", "/report", "/stations.json", "/anything"}) {
        SCOPED_TRACE(path);
        const httplib::Result answers[] = {client.Post(path, "x", "text/plain"),
                                           client.Put(path, "x", "text/plain"), client.Delete(path),
                                           client.Patch(path, "x", "text/plain")};
        for (const auto& answer : answers) {
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->status, 405);
            EXPECT_EQ(answer->get_header_value("Allow"), "GET, HEAD");
        }
    }
    EXPECT_EQ(serve.Stop(SIGTERM, 5s), std::optional<int>(0));
    EXPECT_EQ(SlurpFile(db), before) << "serving changed the store";
}

class ServeStops : public Serve, public ::testing::WithParamInterface<int> {};

TEST_P(ServeStops, WithAPageOpenAtOnce) {
    Put(Start("run-a", "bench-1", "HND123", 10));
    ServeProcess serve(db);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    BoardStream stream(serve.Port());
    ASSERT_TRUE(stream.WaitFor([](const json& b) { return !b["stations"].empty(); }, 5s));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(serve.Stop(GetParam(), 5s), std::optional<int>(0)) << serve.Said();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_TRUE(stream.WaitForEnd(2s)) << "the open page's stream was not ended";
    EXPECT_NE(serve.Said().find("stopped"), std::string::npos) << serve.Said();
}

INSTANTIATE_TEST_SUITE_P(Signal, ServeStops, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

TEST_F(Serve, AnAddressTakenIsOneClearMessage) {
    ServeProcess first(db);
    ASSERT_GT(first.Port(), 0) << first.Said();
    const std::string taken = "127.0.0.1:" + std::to_string(first.Port());
    const ProgramResult second =
        RunProgram(ZHAND_REPORT_PATH, {"serve", "--listen", taken, "--results", db});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "zhand-report: cannot listen on " + taken + "\n");
}

}  // namespace
