// The board as a foreman opens it on the shop floor: HTTPS with a login, in
// headless Chromium. A station in tmux against zhand-sim ships to the
// PostgreSQL server the test started; the page shows it idle at its form,
// then testing with its cycles arriving live through the login; killed with
// SIGKILL, it is "not seen since HH:MM" within 40 s and its run is no longer
// shown running; and once serve itself is stopped the rows stay, greyed,
// with the time they are from and why. The report opens under the pages'
// Content-Security-Policy without a complaint from the browser.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "devtools.h"
#include "https_files.h"
#include "line_support.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "serve_process.h"

namespace {

using namespace line;
using nlohmann::json;

constexpr const char* kStation = "line-9";

// The station's row on the page, its class and the page's notes.
constexpr const char* kRow = R"js(
(() => {
  const row = document.querySelector('tr[data-station="line-9"]');
  const cells = row ? [...row.cells].map(c => c.textContent) : [];
  return { found: !!row, state: cells[1] || '', cycle: cells[4] || '', run: cells[7] || '',
           stale: row ? row.className === 'stale' : false,
           problem: document.getElementById('problem').textContent,
           link: document.getElementById('link').textContent };
})()
)js";

json Evaluate(Chromium& browser, const char* expression) {
    std::string error;
    const auto got = browser.Call("Runtime.evaluate",
                                  {{"expression", expression}, {"returnByValue", true}}, &error);
    return got ? (*got)["result"].value("value", json()) : json();
}

// Waits until the row satisfies `holds`; the last row seen.
template <typename Holds>
json WaitForRow(Chromium& browser, Holds holds, std::chrono::milliseconds limit) {
    json row;
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
        row = Evaluate(browser, kRow);
        if (row.is_object() && holds(row)) return row;
        std::this_thread::sleep_for(200ms);
    } while (std::chrono::steady_clock::now() < end);
    return row;
}

void ExpectNoBrowserErrors(const Chromium& browser) {
    for (const json& event : browser.Events()) {
        const std::string method = event["method"];
        if (method == "Runtime.exceptionThrown") ADD_FAILURE() << event.dump();
        if (method == "Runtime.consoleAPICalled" && event["params"]["type"] == "error")
            ADD_FAILURE() << event.dump();
        // A Content-Security-Policy violation is reported here.
        if (method == "Log.entryAdded" && event["params"]["entry"]["level"] == "error") {
            // The stream trying again once serve has stopped is no fault of
            // the page.
            const std::string url = event["params"]["entry"].value("url", "");
            if (url.find("/stations/events") == std::string::npos) ADD_FAILURE() << event.dump();
        }
    }
}

TEST(SecureBoard, IdleTestingAndGoneOverHttpsWithALogin) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ASSERT_EQ(pg_logins::Init(server), "");
    TmuxStation station;
    ASSERT_TRUE(StartStation(station, kStation, pg_logins::Station(server, kStation), {}))
        << station.Screen();
    HttpsFiles files(station.Dir());
    ASSERT_TRUE(files.ready) << files.problem;
    ServeProcess serve(pg_logins::Reader(server), files.Options());
    ASSERT_GT(serve.Port(), 0) << serve.Said();

    Chromium browser;
    std::string error;
    ASSERT_TRUE(browser.Start((station.Dir() / "profile").string(), &error)) << error;
    ASSERT_TRUE(browser.AttachPage(&error)) << error;
    for (const char* domain : {"Runtime.enable", "Log.enable", "Page.enable"})
        ASSERT_TRUE(browser.Call(domain, json::object(), &error)) << error;
    // The test's own certificate, as a site's would be trusted.
    ASSERT_TRUE(browser.Call("Security.setIgnoreCertificateErrors", {{"ignore", true}}, &error))
        << error;
    // The login as the browser's prompt would take it: the first answer is
    // 401, the browser asks again with it and keeps it for the stream.
    const std::string origin = "https://" + std::string(HttpsFiles::kUser) +
                               ":line%207%20s3cret@127.0.0.1:" + std::to_string(serve.Port());

    ASSERT_TRUE(browser.Call("Page.navigate", {{"url", origin + "/report"}}, &error)) << error;
    ASSERT_TRUE(browser.WaitFor("Page.loadEventFired", &error)) << error;
    EXPECT_EQ(Evaluate(browser, "document.title"), "ZorvathHand test report");

    ASSERT_TRUE(browser.Call("Page.navigate", {{"url", origin + "/stations"}}, &error)) << error;
    ASSERT_TRUE(browser.WaitFor("Page.loadEventFired", &error)) << error;
    const json idle = WaitForRow(
        browser, [](const json& r) { return r["state"].get<std::string>().starts_with("idle"); },
        30s);
    EXPECT_TRUE(idle["state"].get<std::string>().starts_with("idle")) << idle.dump();
    EXPECT_EQ(idle["link"], "connected");

    RunMultiAxis(station, 500);
    ASSERT_TRUE(WaitForCycle(station, 3, 60s)) << station.Screen();
    const json testing = WaitForRow(
        browser, [](const json& r) { return r["state"] == "testing" && r["run"] == "running"; },
        20s);
    ASSERT_EQ(testing["state"], "testing") << testing.dump();
    const std::string firstCycle = testing["cycle"];
    const json later = WaitForRow(
        browser, [&](const json& r) { return r["cycle"] != firstCycle; }, 20s);
    EXPECT_NE(later["cycle"], firstCycle) << "no live update arrived";

    const int shown = CycleShown(station);
    ASSERT_GT(station.StationPid(), 0);
    ASSERT_EQ(kill(station.StationPid(), SIGKILL), 0);
    const auto killed = std::chrono::steady_clock::now();
    const json gone = WaitForRow(
        browser,
        [](const json& r) { return r["state"].get<std::string>().starts_with("not seen since "); },
        40s);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 40s);
    ASSERT_TRUE(gone["state"].get<std::string>().starts_with("not seen since ")) << gone.dump();
    EXPECT_TRUE(std::regex_match(gone["state"].get<std::string>(),
                                 std::regex(R"(not seen since \d\d:\d\d)")))
        << gone.dump();
    EXPECT_EQ(gone["run"], "not seen");
    // The cycle it was in, as its screen last said (or the one before, when
    // the kill came before that cycle's progress was shipped).
    const std::string cycle = gone["cycle"];
    const int board = std::atoi(cycle.c_str() + std::string("cycle ").size());
    EXPECT_GE(board, shown - 1) << cycle << " after the screen's " << shown;
    EXPECT_LE(board, shown) << cycle << " after the screen's " << shown;

    // serve goes away: the rows stay, greyed, saying since when and why.
    ASSERT_TRUE(serve.Stop(SIGTERM, 5s).has_value());
    const json stale = WaitForRow(
        browser, [](const json& r) { return r["stale"] == true; }, 10s);
    EXPECT_TRUE(stale["found"]);
    EXPECT_TRUE(stale["stale"]) << stale.dump();
    EXPECT_EQ(stale["link"], "reconnecting");
    EXPECT_TRUE(std::regex_match(stale["problem"].get<std::string>(),
                                 std::regex(R"(As of \d\d:\d\d:\d\d: the server does not answer)")))
        << stale.dump();
    ExpectNoBrowserErrors(browser);
}

}  // namespace
