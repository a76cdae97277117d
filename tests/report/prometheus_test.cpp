// A real Prometheus (Debian's) scrapes serve's /metrics on 127.0.0.1 over
// HTTPS with a login, as a site's monitoring would, and its query API then
// answers for the line's runs and the stations' heartbeats.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "https_files.h"
#include "run_ids.h"
#include "serve_process.h"
#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* kPrometheus = "/usr/bin/prometheus";

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class Process {
  public:
    Process(const std::vector<std::string>& args, const std::string& log) {
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Process() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(50ms);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
};

TEST(Prometheus, ScrapesTheLineOverHttpsWithALogin) {
    if (!fs::exists(kPrometheus)) GTEST_SKIP() << "prometheus is not installed (scripts/deps.sh)";
    std::string pattern = (fs::temp_directory_path() / "zhand-prom-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const std::string db = (dir / "results.db").string();
    {
        std::string error;
        auto store =
            results::SqliteStore::Open(db, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store, nullptr) << error;
        std::vector<results::Entry> facts;
        for (int i = 0; i < 3; ++i) {
            const std::string run = "run-" + std::to_string(i);
            facts.push_back(results::RunStart{run, "bench-1", "3.0.0", "HND12" + std::to_string(i),
                                              "JD", "Multi-Axis", 10, "2026-12-10T09:53:12.345Z",
                                              "log.txt"});
            facts.push_back(results::RunEnd{run, "2026-12-10T09:54:00.000Z",
                                            i == 2 ? "fail" : "pass", 10, i == 2 ? 1 : 0});
        }
        facts.push_back(results::StationBeat{"bench-1", results::NowIso(), "idle", ""});
        ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    }
    HttpsFiles files(dir);
    ASSERT_TRUE(files.ready) << files.problem;
    ServeProcess serve(db, files.Options());
    ASSERT_GT(serve.Port(), 0) << serve.Said();

    const int port = FreePort();
    const std::string config = (dir / "prometheus.yml").string();
    std::ofstream(config) << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                          << "scrape_configs:\n  - job_name: zhand-line\n    scheme: https\n"
                          << "    tls_config:\n      ca_file: " << files.cert << "\n"
                          << "    basic_auth:\n      username: " << HttpsFiles::kUser
                          << "\n      password: '" << HttpsFiles::kPassword << "'\n"
                          << "    static_configs:\n      - targets: ['127.0.0.1:" << serve.Port()
                          << "']\n";
    const std::string log = (dir / "prometheus.log").string();
    Process prometheus(
        {kPrometheus, "--config.file=" + config, "--storage.tsdb.path=" + (dir / "data").string(),
         "--web.listen-address=127.0.0.1:" + std::to_string(port)},
        log);

    httplib::Client api("127.0.0.1", port);
    api.set_read_timeout(5, 0);
    const auto query = [&](const std::string& promql) -> json {
        const auto got = api.Get("/api/v1/query", {{"query", promql}}, httplib::Headers{});
        if (!got || got->status != 200) return json();
        const json answer = json::parse(got->body, nullptr, false);
        return answer.is_object() ? answer["data"]["result"] : json();
    };
    json runs;
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < giveUp) {
        runs = query("zhand_runs_total{job=\"zhand-line\"}");
        if (runs.is_array() && runs.size() == 2) break;
        std::this_thread::sleep_for(500ms);
    }
    ASSERT_TRUE(runs.is_array() && runs.size() == 2) << runs.dump() << "\n"
                                                     << SlurpFile(log).substr(0, 3000);
    std::map<std::string, std::string> byOutcome;
    for (const json& series : runs) {
        EXPECT_EQ(series["metric"]["test"], "Multi-Axis");
        byOutcome[series["metric"]["outcome"]] = series["value"][1];
    }
    EXPECT_EQ(byOutcome["pass"], "2");
    EXPECT_EQ(byOutcome["fail"], "1");
    // The scrape went through the login.
    const json up = query("up{job=\"zhand-line\"}");
    ASSERT_EQ(up.size(), 1u) << up.dump();
    EXPECT_EQ(up[0]["value"][1], "1");
    const json age = query("zhand_station_heartbeat_age_seconds{station=\"bench-1\"}");
    ASSERT_EQ(age.size(), 1u) << age.dump();
    EXPECT_LT(std::stod(age[0]["value"][1].get<std::string>()), 600);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
