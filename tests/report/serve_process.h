// zhand-report serve as a process of the test's own: started on a free
// loopback port, its address read from its first line, stopped by a signal.
// Events of its stations stream are collected by a thread as they come.
#pragma once

#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

class ServeProcess {
  public:
    // Starts `zhand-report serve --listen 127.0.0.1:0 --results STORE`.
    explicit ServeProcess(const std::string& store, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {ZHAND_REPORT_PATH, "serve",     "--listen",
                                         "127.0.0.1:0",     "--results", store};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        // "serving http://127.0.0.1:PORT/" or, with TLS, "https".
        const std::string prefix = "://127.0.0.1:";
        ReadUntil("/ from ", std::chrono::seconds(20));
        const std::size_t at = said_.find(prefix, said_.find("serving "));
        if (at != std::string::npos) port_ = std::atoi(said_.c_str() + at + prefix.size());
    }
    ~ServeProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    // The port it listens on (0 when it did not say).
    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    // Everything it wrote so far.
    const std::string& Said() const { return said_; }
    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(10, 0);
        return client;
    }

    // Sends `signal` and waits up to `limit` for the exit; its status, or
    // nullopt when it did not exit normally in time.
    std::optional<int> Stop(int signal, std::chrono::milliseconds limit) {
        kill(pid_, signal);
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        ReadUntil("\x04", std::chrono::milliseconds(200));  // what it said last
        if (!WIFEXITED(status)) return std::nullopt;
        return WEXITSTATUS(status);
    }

  private:
    void ReadUntil(const std::string& mark, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (said_.find(mark) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            pollfd fd{output_, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) return;
            char buffer[512];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) return;
            said_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = 0;
    std::string said_;
};

// The boards of /stations/events, each with the time it arrived.
class BoardStream {
  public:
    using SteadyClock = std::chrono::steady_clock;
    struct Board {
        nlohmann::json json;
        SteadyClock::time_point at;
    };

    explicit BoardStream(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(60, 0);
        reader_ = std::thread([this] {
            std::string pending;
            client_.Get("/stations/events", [&](const char* data, std::size_t size) {
                pending.append(data, size);
                for (std::size_t end; (end = pending.find("\n\n")) != std::string::npos;) {
                    const std::string message = pending.substr(0, end);
                    pending.erase(0, end + 2);
                    const std::size_t at = message.find("data: ");
                    if (at == std::string::npos) continue;
                    std::lock_guard lock(mutex_);
                    boards_.push_back(
                        {nlohmann::json::parse(message.substr(at + 6)), SteadyClock::now()});
                    arrived_.notify_all();
                }
                std::lock_guard lock(mutex_);
                return !quit_;
            });
            std::lock_guard lock(mutex_);
            ended_ = true;
            arrived_.notify_all();
        });
    }
    ~BoardStream() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        client_.stop();
        reader_.join();
    }

    // Waits up to `limit` for the first board, from now on, that `wanted`
    // accepts (boards before it are dropped).
    std::optional<Board> WaitFor(const std::function<bool(const nlohmann::json&)>& wanted,
                                 std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        const auto end = SteadyClock::now() + limit;
        for (;;) {
            while (!boards_.empty()) {
                Board board = std::move(boards_.front());
                boards_.pop_front();
                if (wanted(board.json)) return board;
            }
            if (ended_ || arrived_.wait_until(lock, end) == std::cv_status::timeout) {
                if (boards_.empty()) return std::nullopt;
            }
        }
    }
    // The stream has ended (the server closed it).
    bool WaitForEnd(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return ended_; });
    }

  private:
    httplib::Client client_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Board> boards_;
    bool quit_ = false;
    bool ended_ = false;
};
