// serve under a bounded load on 127.0.0.1 (behaviour, not speed): 300 open
// live streams and 40 clients that send their headers a byte at a time do
// not keep a normal client from the board, each answer within a second; the
// slow ones are cut off once their head's time is up; SIGTERM under all of
// it ends the server within 2 s. And a 1 GiB body is refused without being
// read while the server stays under 100 MB.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "serve_process.h"
#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kStreams = 300;
constexpr int kSlow = 40;

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// What arrives on `fd` within `limit` (until it holds `until` or closes).
std::string Receive(int fd, std::chrono::milliseconds limit, const std::string& until) {
    std::string got;
    const auto end = Clock::now() + limit;
    while (got.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// Whether the server has closed `fd` (end of stream or reset).
bool Closed(int fd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) continue;
        return n == 0 || errno != EAGAIN;
    }
}

long RssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
    return -1;
}

class ServeLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        // The test holds some 350 sockets of its own.
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
        setrlimit(RLIMIT_NOFILE, &files);
        std::string pattern = (fs::temp_directory_path() / "zhand-load-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        db_ = (dir_ / "results.db").string();
        std::string error;
        auto store =
            results::SqliteStore::Open(db_, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store, nullptr) << error;
        ASSERT_TRUE(
            store->Apply(results::RunStart{"run-a", "bench-1", "3.0.0", "HND123", "JD",
                                           "Multi-Axis", 10, "2026-12-10T09:53:12.345Z", "log.txt"},
                         &error))
            << error;
    }
    void TearDown() override {
        for (int fd : open_) close(fd);
        fs::remove_all(dir_);
    }

    fs::path dir_;
    std::string db_;
    std::vector<int> open_;
};

TEST_F(ServeLoad, OthersAreServedWhileStreamsAndSlowClientsHoldOn) {
    ServeProcess serve(db_);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    const int port = serve.Port();
    const std::string head =
        "GET /stations/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    std::vector<int> streams;
    for (int i = 0; i < kStreams; ++i) {
        const int fd = Connect(port);
        ASSERT_GE(fd, 0) << "stream " << i;
        open_.push_back(fd);
        streams.push_back(fd);
        ASSERT_TRUE(SendAll(fd, head));
    }
    // Every stream is served: its first board arrives.
    int served = 0;
    for (int fd : streams)
        served += Receive(fd, 10s, "event: board").find("event: board") != std::string::npos;
    EXPECT_EQ(served, kStreams);

    const std::string slowHead = "GET /stations.json HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    std::vector<int> slow;
    for (int i = 0; i < kSlow; ++i) {
        const int fd = Connect(port);
        ASSERT_GE(fd, 0);
        open_.push_back(fd);
        slow.push_back(fd);
        ASSERT_TRUE(SendAll(fd, slowHead));
    }
    const auto slowSince = Clock::now();
    // A normal client, again and again while the others hold on, one byte
    // of every slow head each round.
    httplib::Client client = serve.Client();
    std::chrono::milliseconds slowest{0};
    int asked = 0;
    for (; Clock::now() - slowSince < 8s; ++asked) {
        for (int fd : slow) SendAll(fd, "x");
        const auto start = Clock::now();
        const auto got = client.Get("/stations.json");
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        ASSERT_TRUE(got) << "request " << asked;
        EXPECT_EQ(got->status, 200);
        EXPECT_NE(got->body.find("HND123"), std::string::npos);
        slowest = std::max(slowest, took);
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_LT(slowest, 1s) << "the slowest of " << asked << " answers";
    // The slow heads' ten seconds are up: each was cut off, while the
    // streams go on.
    std::this_thread::sleep_for(10s - (Clock::now() - slowSince) + 1s);
    int cut = 0;
    for (int fd : slow) cut += Closed(fd);
    EXPECT_EQ(cut, kSlow);
    int alive = 0;
    for (int fd : streams) alive += !Closed(fd);
    EXPECT_EQ(alive, kStreams);

    // SIGTERM with all the streams open.
    const auto stopAsked = Clock::now();
    EXPECT_TRUE(serve.Stop(SIGTERM, 5s).has_value()) << serve.Said();
    EXPECT_LT(Clock::now() - stopAsked, 2s);
}

TEST_F(ServeLoad, AOneGibBodyIsRefusedUnreadAndTheServerStaysSmall) {
    ServeProcess serve(db_);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    const int port = serve.Port();
    const long before = RssKb(serve.Pid());
    const int body = Connect(port);
    ASSERT_GE(body, 0);
    open_.push_back(body);
    ASSERT_TRUE(SendAll(body,
                        "GET /stations.json HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Content-Length: 1073741824\r\n\r\n"));
    const std::string zeros(1 << 20, '\0');
    long sent = 0, most = before;
    std::string answer;
    // Sent as long as the server takes it, its answer read as soon as it
    // comes.
    for (const auto giveUp = Clock::now() + 20s; sent < (1L << 30) && Clock::now() < giveUp;) {
        pollfd p{body, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) continue;
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) break;
        const ssize_t n = send(body, zeros.data(), zeros.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0 && errno != EAGAIN) break;
        if (n > 0) sent += n;
        most = std::max(most, RssKb(serve.Pid()));
    }
    answer = Receive(body, 5s, "\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 413"))
        << answer.substr(0, 100) << " after " << sent << " bytes";
    most = std::max(most, RssKb(serve.Pid()));
    EXPECT_LT(most, 100 * 1024) << "RSS " << most << " kB, before " << before << " kB";
    EXPECT_LT(sent, 1L << 30) << "the whole body was taken in";

    // And the server goes on.
    httplib::Client client = serve.Client();
    const auto got = client.Get("/stations.json");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
}

}  // namespace
