#include "tmux_station.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::atomic<int> sessions{0};

// Runs a program with `args`; its standard output goes to *output when given.
// True when it exited with status 0.
bool Run(const std::vector<std::string>& args, std::string* output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr) {
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    }
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output != nullptr) {
        close(out[1]);
        output->clear();
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) output->append(buffer, n);
        close(out[0]);
    }
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

TmuxStation::TmuxStation() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zhand-survival-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    socket_ = "zhand-survival-" + std::to_string(getpid()) + "-" + std::to_string(sessions++);
}

TmuxStation::~TmuxStation() {
    Tmux({"kill-server"});
    if (simulator_ > 0) KillSimulator(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool TmuxStation::Tmux(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> all = {"tmux", "-L", socket_, "-f", "/dev/null"};
    all.insert(all.end(), args.begin(), args.end());
    return Run(all, output);
}

bool TmuxStation::StartSimulator(const std::vector<std::string>& options) {
    std::vector<std::string> args = {ZHAND_SIM_PATH, "--dir", dir_.string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (dir_ / "sim.out").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = posix_spawn(&simulator_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        simulator_ = -1;
        return false;
    }
    auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::ifstream out(log);
        std::stringstream text;
        text << out.rdbuf();
        if (text.str().find("ready") != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void TmuxStation::KillSimulator(int signal) {
    if (simulator_ <= 0) return;
    kill(simulator_, signal);
    int status = 0;
    waitpid(simulator_, &status, 0);
    simulator_ = -1;
}

bool TmuxStation::StartStation(const std::vector<std::string>& environment) {
    // The exit status lands in a file once the station has ended.
    std::string command;
    for (const std::string& setting : environment) command += ShellQuoted(setting) + " ";
    command = (command.empty() ? "" : "env " + command) + ShellQuoted(ZHAND_STATION_PATH) +
              "; echo $? > exit-status; sleep 600";
    return Tmux(
        {"new-session", "-d", "-x", "80", "-y", "25", "-c", dir_.string(), "sh", "-c", command});
}

bool TmuxStation::ConnectAndWaitForForm() {
    if (!WaitFor("Please select a communications port", 10s)) return false;
    Key("Enter");
    return WaitFor("ZorvathHand Test Application", 30s);
}

void TmuxStation::Key(const std::string& name) {
    Tmux({"send-keys", "-t", "0", name});
}

void TmuxStation::Type(const std::string& text) {
    Tmux({"send-keys", "-t", "0", "-l", text});
}

std::string TmuxStation::Screen() {
    std::string screen;
    Tmux({"capture-pane", "-p", "-t", "0"}, &screen);
    return screen;
}

bool TmuxStation::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    auto giveUp = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Screen().find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        std::this_thread::sleep_for(50ms);
    }
}

std::optional<int> TmuxStation::WaitForExit(std::chrono::milliseconds limit) {
    auto giveUp = std::chrono::steady_clock::now() + limit;
    const std::filesystem::path status = dir_ / "exit-status";
    for (;;) {
        std::ifstream file(status);
        int code = -1;
        if (file >> code) return code;
        if (std::chrono::steady_clock::now() >= giveUp) return std::nullopt;
        std::this_thread::sleep_for(50ms);
    }
}

std::vector<std::string> FilesEndingIn(const std::filesystem::path& dir,
                                       const std::string& suffix) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() && name.ends_with(suffix)) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> texts;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        texts.push_back(text.str());
    }
    return texts;
}
