// A PostgreSQL server of the test's own: a throwaway cluster in a fresh
// temporary folder, on a free loopback port, its socket in that folder,
// logins by password. initdb refuses root, so as root the server's programs
// run as the user postgres. The server is stopped and its folder removed
// when the object goes.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class PgServer {
  public:
    static constexpr const char* kUser = "zhand";
    static constexpr const char* kPassword = "s3cr3t-Pa55";

    PgServer() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zhand-pg-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        dir_ = pattern;
        if (geteuid() == 0 &&
            std::system(("chown postgres:postgres " + Quote(dir_)).c_str()) != 0) {
            return;
        }
        std::ofstream(dir_ + "/pw") << kPassword << "\n";
        if (geteuid() == 0) std::system(("chown postgres " + Quote(dir_ + "/pw")).c_str());
        if (!Run(Bin("initdb") + " -D " + Quote(Data()) + " -U " + kUser + " --pwfile=" +
                 Quote(dir_ + "/pw") + " -A scram-sha-256 -E UTF8 --no-sync --no-instructions" +
                 " >" + Quote(dir_ + "/initdb.log") + " 2>&1")) {
            return;
        }
        // Another test may take the free port first.
        for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
            port_ = FreePort();
            ready_ = Start();
        }
    }
    ~PgServer() {
        Stop();
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // The cluster was made and the server runs.
    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Uri(const std::string& password = kPassword) const {
        return std::string("postgresql://") + kUser + ":" + password + "@" + Address() +
               "/postgres";
    }
    std::string Log() const {
        std::ifstream in(dir_ + "/server.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    bool Start() {
        running_ = Run(Bin("pg_ctl") + " -D " + Quote(Data()) + " -l " +
                       Quote(dir_ + "/server.log") + " -w -t 60 -o " +
                       Quote("-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " +
                             dir_ + " -c fsync=off -c max_connections=60") +
                       " start >/dev/null 2>&1");
        return running_;
    }
    bool Stop() {
        if (!running_) return true;
        Thaw();
        running_ =
            !Run(Bin("pg_ctl") + " -D " + Quote(Data()) + " -m fast -w -t 60 stop >/dev/null 2>&1");
        return !running_;
    }
    // Stops every process of the server where it is: connections stay open
    // and nothing answers, as with a hung server or a cut cable.
    void Freeze() { Signal(SIGSTOP); }
    void Thaw() { Signal(SIGCONT); }

  private:
    static std::string Quote(const std::string& text) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    static std::string Bin(const char* program) {
        std::string best;
        std::error_code ec;
        for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
            const auto path = version.path() / "bin" / program;
            if (std::filesystem::exists(path) && path.string() > best) best = path.string();
        }
        return Quote(best.empty() ? program : best);
    }
    static int FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port = ntohs(address.sin_port);
        }
        close(fd);
        return port;
    }
    bool Run(const std::string& command) const {
        const std::string as =
            geteuid() == 0 ? "runuser -u postgres -- sh -c " + Quote(command) : command;
        return std::system(as.c_str()) == 0;
    }
    std::string Data() const { return dir_ + "/data"; }
    // The postmaster and every process it started.
    void Signal(int signal) {
        std::ifstream pidFile(Data() + "/postmaster.pid");
        pid_t postmaster = 0;
        if (!(pidFile >> postmaster) || postmaster <= 0) return;
        std::vector<pid_t> pids = {postmaster};
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            const std::size_t close = line.rfind(')');
            if (close == std::string::npos) continue;
            char state = 0;
            pid_t parent = 0;
            std::istringstream rest(line.substr(close + 1));
            if (rest >> state >> parent && parent == postmaster) {
                pids.push_back(std::stoi(entry.path().filename().string()));
            }
        }
        for (pid_t pid : pids) kill(pid, signal);
    }

    std::string dir_;
    int port_ = 0;
    bool ready_ = false;
    bool running_ = false;
};
