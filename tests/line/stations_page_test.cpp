// The stations page in headless Chromium while a station tests: the station
// in tmux against zhand-sim ships its Multi-Axis run to the PostgreSQL server
// the test started, zhand-report serve reads that server, and the page's
// cycle number advances as the station's does, with the serial number typed
// at the station shown as text and no error logged.
#include <gtest/gtest.h>

#include <filesystem>

#include "devtools.h"
#include "line_support.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "serve_process.h"

namespace {

using namespace line;
using nlohmann::json;

// The row of the station on the page, as text.
constexpr const char* kRow = R"js(
(() => {
  const row = document.querySelector('tr[data-station="line-7"]');
  if (!row) return null;
  const cells = [...row.cells].map(c => c.textContent);
  return { serial: cells[2], cycle: cells[3], errors: cells[4], fault: cells[5],
           state: cells[6], markup: row.querySelectorAll('b, img, script').length,
           link: document.getElementById('link').textContent };
})()
)js";

TEST(StationsPage, TheCycleNumberAdvancesWhileTheStationTests) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ASSERT_EQ(pg_logins::Init(server), "");
    TmuxStation station;
    ASSERT_TRUE(StartStation(station, "line-7", pg_logins::Station(server, "line-7"),
                             {"no-breakaway:3,from=2"}))
        << station.Screen();
    // A serial number that is markup (the form takes < and >).
    station.Type("<B>H7");
    // The board reads through a login that may only read.
    ServeProcess serve(pg_logins::Reader(server));
    ASSERT_GT(serve.Port(), 0) << serve.Said();

    Chromium browser;
    std::string error;
    const std::string profile = (station.Dir() / "profile").string();
    ASSERT_TRUE(browser.Start(profile, &error)) << error;
    ASSERT_TRUE(browser.AttachPage(&error)) << error;
    for (const char* domain : {"Runtime.enable", "Log.enable", "Page.enable"})
        ASSERT_TRUE(browser.Call(domain, json::object(), &error)) << error;
    const std::string url = "http://127.0.0.1:" + std::to_string(serve.Port()) + "/stations";
    ASSERT_TRUE(browser.Call("Page.navigate", {{"url", url}}, &error)) << error;
    ASSERT_TRUE(browser.WaitFor("Page.loadEventFired", &error)) << error;

    RunMultiAxis(station, 60);
    const auto row = [&]() -> json {
        const auto got = browser.Call("Runtime.evaluate",
                                      {{"expression", kRow}, {"returnByValue", true}}, &error);
        return got ? (*got)["result"].value("value", json()) : json();
    };
    // Cycle numbers as the page shows them, until it has shown five.
    std::vector<int> seen;
    const std::regex cycle(R"(cycle (\d+) of 60)");
    const auto giveUp = std::chrono::steady_clock::now() + 90s;
    json last;
    while (seen.size() < 5 && std::chrono::steady_clock::now() < giveUp) {
        last = row();
        std::smatch match;
        const std::string text = last.is_object() ? last.value("cycle", "") : "";
        if (std::regex_match(text, match, cycle)) {
            const int shown = std::stoi(match.str(1));
            if (seen.empty() || shown != seen.back()) {
                seen.push_back(shown);
                // Never ahead of the station's own screen.
                EXPECT_LE(shown, CycleShown(station) + 1);
            }
        }
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(seen.size(), 5u) << last.dump() << "\n" << station.Screen();
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << testing::PrintToString(seen);
    EXPECT_EQ(last["serial"], "<B>H7");
    EXPECT_EQ(last["markup"], 0);
    EXPECT_EQ(last["state"], "running");
    EXPECT_EQ(last["link"], "connected");
    // Faults from the second cycle on: counted and the last one shown.
    EXPECT_NE(last["errors"], "0");
    EXPECT_NE(last["fault"].get<std::string>().find("F3 NO BREAKAWAY"), std::string::npos)
        << last.dump();

    station.Type("a");  // abort the run
    ASSERT_TRUE(station.WaitForText("Test aborted in cycle", 30s)) << station.Screen();
    const auto aborted = std::chrono::steady_clock::now() + 10s;
    while (row().value("state", "") != "aborted" && std::chrono::steady_clock::now() < aborted)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(row().value("state", ""), "aborted");

    for (const json& event : browser.Events()) {
        const std::string method = event["method"];
        if (method == "Runtime.exceptionThrown") ADD_FAILURE() << event.dump();
        if (method == "Runtime.consoleAPICalled" && event["params"]["type"] == "error")
            ADD_FAILURE() << event.dump();
        if (method == "Log.entryAdded" && event["params"]["entry"]["level"] == "error")
            ADD_FAILURE() << event.dump();
    }
}

}  // namespace
