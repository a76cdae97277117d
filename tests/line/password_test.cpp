// A password that holds "/", "@", ":" and "%" (typed as it is, not
// percent-encoded) shows nowhere: not in `ps`, not on the station's screen,
// not in what `zhand-report serve` writes, not on its pages or in its
// errors, whether it is given in the URI or through PGPASSFILE. The station
// and serve log in with it either way.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "line_support.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "serve_process.h"
#include "server_logins.h"

namespace {

using namespace line;

constexpr const char* kSecret = "Se/cr@et:pa%ss";

// Every form of the secret that would give it away: whole, as encoded in a
// URI, and each part that an "@" or a ":" could split off.
void ExpectNoSecret(const std::string& where, const std::string& text) {
    for (const char* part : {kSecret, "Se%2Fcr", "Se/cr", "cr@et", "et:pa", "pa%ss", "pa%25ss"}) {
        EXPECT_EQ(text.find(part), std::string::npos) << where << " shows " << part << ":\n"
                                                      << text;
    }
}

std::string Ps() {
    std::string out;
    if (FILE* ps = popen("ps -eo args", "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, ps)) > 0;) out.append(buffer, n);
        pclose(ps);
    }
    return out;
}

// Every page serve has, as it answers now (its status with it).
std::string Pages(const ServeProcess& serve) {
    httplib::Client client = serve.Client();
    std::string all;
    for (const char* path : {"/stations", "/stations.json", "/report"}) {
        const auto page = client.Get(path);
        all +=
            std::string(path) + " " +
            (page ? std::to_string(page->status) + "\n" + page->body : std::string("no answer")) +
            "\n";
    }
    return all;
}

class NoSecretShown : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << server.Log();
        ASSERT_EQ(pg_logins::Init(server), "");
        for (auto [kind, name] : {std::pair{results::LoginKind::Station, "line-5"},
                                  std::pair{results::LoginKind::Reader, "reports"}}) {
            ASSERT_NE(pg_logins::Add(server, kind, name, kSecret), "");
        }
    }
    void TearDown() override {
        unsetenv("PGPASSFILE");
        unsetenv("ZHAND_RESULTS");
    }

    // A Multi-Axis run at a station that logs in with `uri`, read on
    // serve's pages by the reader's `board`;
    // the server stops in between, so that the screen, serve and its pages
    // name it in their errors. Nothing shows the secret.
    void RunTheLine(const std::string& uri, const std::string& board, bool warned) {
        TmuxStation station;
        // As a station's service would have it: in its environment, which
        // no other user sees (tmux hands the test's own to the station; a
        // setting given to the session would be on tmux's command line).
        setenv("ZHAND_RESULTS", uri.c_str(), 1);
        ASSERT_TRUE(station.StartSimulator({"--speed", "20"}));
        ASSERT_TRUE(station.StartStation({.environment = {"ZHAND_STATION=line-5"}, .rows = 25}));
        ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
        RunMultiAxis(station, 3);
        ASSERT_NO_FATAL_FAILURE(FinishRun(station));

        ServeProcess serve(board);
        ASSERT_GT(serve.Port(), 0) << serve.Said();
        const std::string warning = "warning: a password on the command line";
        const std::size_t said = serve.Said().find(warning);
        EXPECT_EQ(said != std::string::npos, warned) << serve.Said();
        if (warned) {
            EXPECT_EQ(serve.Said().find(warning, said + 1), std::string::npos);
        }
        // The run reached the server through the station's login, and the
        // board through the reader's.
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto page = serve.Client().Get("/stations.json");
                return page && page->body.find("\"line-5\"") != std::string::npos;
            },
            30s))
            << Pages(serve);
        std::string seen = Ps() + Pages(serve) + station.Screen();

        // A run while the server is away: the station names it on row 21.
        ASSERT_TRUE(server.Stop());
        RunMultiAxis(station, 3, kMultiAxisField);
        ASSERT_NO_FATAL_FAILURE(FinishRun(station));
        ASSERT_TRUE(WaitForRow21(
            station,
            [](const std::string& row) { return row.find("unreachable") != std::string::npos; },
            30s))
            << station.Screen();
        EXPECT_NE(station.Row(21).find(server.Address()), std::string::npos);
        ASSERT_TRUE(
            WaitUntil([&] { return Pages(serve).find("/report 503") != std::string::npos; }, 10s));
        seen += station.Screen() + Pages(serve);
        ASSERT_TRUE(server.Start()) << server.Log();
        station.Keys("C-q");
        EXPECT_EQ(station.WaitForExit(30s), std::optional<int>(0)) << station.Screen();
        EXPECT_EQ(serve.Stop(SIGTERM, 5s), std::optional<int>(0));
        ExpectNoSecret("what was seen", seen + serve.Said());
    }

    std::string Uri(const std::string& user, bool withSecret) const {
        return "postgresql://" + user + (withSecret ? std::string(":") + kSecret : "") + "@" +
               server.Address() + "/postgres";
    }

    PgServer server;
};

TEST_F(NoSecretShown, GivenInTheUri) {
    RunTheLine(Uri("line-5", true), Uri("reports", true), true);
}

TEST_F(NoSecretShown, GivenThroughPgpassfile) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("zhand-pgpass-" + std::to_string(getpid()));
    {
        std::ofstream out(file);
        // In a password file ":" and "\" are escaped with "\".
        for (const char* user : {"line-5", "reports"})
            out << "*:*:*:" << user << ":Se/cr@et\\:pa%ss\n";
    }
    chmod(file.c_str(), 0600);
    setenv("PGPASSFILE", file.c_str(), 1);
    RunTheLine(Uri("line-5", false), Uri("reports", false), false);
    std::filesystem::remove(file);
}

// A server whose host name does not resolve: libpq's error quotes the host,
// and with the secret typed as it is, its "@" would put part of it there.
TEST_F(NoSecretShown, NotInAHostNameError) {
    ServeProcess serve("postgresql://reports:" + std::string(kSecret) + "@no-such-host.invalid/x");
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    const std::string pages = Pages(serve);
    EXPECT_NE(serve.Said().find("no-such-host.invalid"), std::string::npos) << serve.Said();
    EXPECT_NE(pages.find("/report 503"), std::string::npos) << pages;
    EXPECT_EQ(serve.Stop(SIGTERM, 5s), std::optional<int>(0));
    ExpectNoSecret("serve", Ps() + pages + serve.Said());
}

}  // namespace
