#include "tmux_station.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::atomic<int> servers{0};

pid_t Spawn(const std::vector<std::string>& args, posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Runs a program to its end; its standard output goes to *output, its
// standard error to the test's own or, when `quiet`, nowhere. True when it
// exited with status 0.
bool Run(const std::vector<std::string>& args, std::string* output, bool quiet) {
    int out[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const pid_t pid = Spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) output->append(buffer, n);
    close(out[0]);
    if (pid < 0) return false;
    const int status = Reap(pid);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Shell(const std::string& command) {
    std::string output;
    Run({"sh", "-c", command}, &output, false);
    return output;
}

TmuxStation::TmuxStation() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-tmux-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
}

TmuxStation::~TmuxStation() {
    if (!socket_.empty()) Tmux({"kill-server"});
    KillSimulator(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::filesystem::path> TmuxStation::FilesEndingIn(const std::string& suffix) const {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        if (entry.path().filename().string().ends_with(suffix)) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void TmuxStation::CopyDefaults() const {
    std::filesystem::copy_file(ZHAND_DEFAULTS_DAT, dir_ / "Defaults.dat",
                               std::filesystem::copy_options::overwrite_existing);
}

bool TmuxStation::StartSimulator(const std::vector<std::string>& options) {
    KillSimulator(SIGTERM);
    std::vector<std::string> args = {ZHAND_SIM_PATH, "--dir", dir_.string()};
    args.insert(args.end(), options.begin(), options.end());
    const std::string log = (dir_ / "sim.out").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    simulator_ = Spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    if (simulator_ < 0) return false;
    return WaitUntil(
        [&] {
            if (SimulatorOutput().find("zhand-sim: ready\n") != std::string::npos) return true;
            // A simulator that has ended (a bad option) never gets ready.
            int status = 0;
            if (waitpid(simulator_, &status, WNOHANG) == simulator_) simulator_ = -1;
            return simulator_ < 0;
        },
        10s) &&
           simulator_ > 0;
}

void TmuxStation::KillSimulator(int signal) {
    if (simulator_ <= 0) return;
    kill(simulator_, signal);
    Reap(simulator_);
    simulator_ = -1;
}

bool TmuxStation::NewSession(int columns, int rows, const std::vector<std::string>& command) {
    if (!socket_.empty()) Tmux({"kill-server"});
    std::error_code ignored;
    std::filesystem::remove(dir_ / "exit.status", ignored);
    socket_ = "zhand-tmux-" + std::to_string(getpid()) + "-" + std::to_string(servers++);
    std::vector<std::string> args = {"tmux",         "-L", socket_,
                                     "-f",           "/dev/null",
                                     "new-session",  "-d",
                                     "-x",           std::to_string(columns),
                                     "-y",           std::to_string(rows),
                                     "-c",           dir_.string()};
    args.insert(args.end(), command.begin(), command.end());
    std::string output;
    return Run(args, &output, true);
}

bool TmuxStation::StartStation(const Session& session) {
    std::string station;
    for (const std::string& setting : session.environment) station += ShellQuoted(setting) + " ";
    station = (station.empty() ? "" : "env " + station) + ShellQuoted(ZHAND_STATION_PATH);
    const std::string script = "trap '' INT; " + station + "; echo $? > exit.status; " +
                               (session.after.empty() ? "" : session.after + "; ") +
                               "exec sleep 3600";
    return NewSession(session.columns, session.rows, {"sh", "-c", script});
}

bool TmuxStation::StartShell() {
    return NewSession(80, 24, {"bash", "--norc", "--noprofile", "--noediting", "-i"});
}

bool TmuxStation::ConnectAndWaitForForm() {
    if (!WaitForText(golden::kPortPrompt)) return false;
    Keys("Enter");
    return WaitForRow(20, golden::kFormLegend, 30s);
}

std::string TmuxStation::Tmux(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"tmux", "-L", socket_, "-f", "/dev/null"};
    all.insert(all.end(), args.begin(), args.end());
    std::string output;
    Run(all, &output, true);
    return output;
}

void TmuxStation::Keys(const std::string& names) const {
    std::vector<std::string> args = {"send-keys"};
    std::istringstream words(names);
    for (std::string name; words >> name;) args.push_back(name);
    Tmux(args);
}

void TmuxStation::Type(const std::string& text) const {
    Tmux({"send-keys", "-l", text});
}

void TmuxStation::TypeLine(const std::string& text) const {
    Type(text);
    Keys("Enter");
}

bool TmuxStation::Converse(const std::vector<TypedLine>& lines) const {
    for (const TypedLine& line : lines) {
        TypeLine(line.typed);
        if (!line.shown.empty() && !WaitForText(line.shown, line.limit)) return false;
    }
    return true;
}

std::string TmuxStation::Screen() const {
    return Tmux({"capture-pane", "-p"});
}

std::vector<std::string> TmuxStation::Rows() const {
    std::vector<std::string> rows;
    std::istringstream text(Screen());
    for (std::string line; std::getline(text, line);) rows.push_back(line);
    return rows;
}

std::string TmuxStation::Row(int row) const {
    const std::vector<std::string> rows = Rows();
    return row >= 0 && row < static_cast<int>(rows.size()) ? rows[row] : "";
}

std::string TmuxStation::Display(const std::string& format) const {
    return WithoutLineEnd(Tmux({"display", "-p", format}));
}

std::pair<int, int> TmuxStation::Cursor() const {
    int row = -1;
    int column = -1;
    std::sscanf(Display("#{cursor_y} #{cursor_x}").c_str(), "%d %d", &row, &column);
    return {row, column};
}

int TmuxStation::StationPid() const {
    const std::string shell = Display("#{pane_pid}");
    return std::atoi(ReadFile("/proc/" + shell + "/task/" + shell + "/children").c_str());
}

std::optional<int> TmuxStation::ExitStatus() const {
    std::istringstream text(Read("exit.status"));
    int status = -1;
    if (text >> status) return status;
    return std::nullopt;
}

bool TmuxStation::WaitForText(const std::string& text, std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Screen().find(text) != std::string::npos; }, limit, 50ms);
}

bool TmuxStation::WaitForRow(int row, const std::string& text,
                             std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Row(row) == text; }, limit, 50ms);
}

std::optional<int> TmuxStation::WaitForExit(std::chrono::milliseconds limit) const {
    WaitUntil([&] { return ExitStatus().has_value(); }, limit, 50ms);
    return ExitStatus();
}
