// The station as the technician meets it: zhand-station in a tmux pane of its
// own (unique socket, own directory), the simulator on COM1 beside it, the
// screen read with capture-pane.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Runs a shell command line and returns its standard output.
inline std::string Shell(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Polls until `done` holds or `limit` passes.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = 10000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A directory of the test's own, removed at the end.
class StationDir {
  public:
    StationDir() {
        std::string pattern = (fs::temp_directory_path() / "zhand-e2e-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        fs::copy_file(DEFAULTS_DAT, path_ / "Defaults.dat");
    }
    ~StationDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// zhand-sim on COM1 in the directory, ended at the end of the test.
class Simulator {
  public:
    explicit Simulator(const fs::path& dir, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {SIM_BIN, "--port", "1", "--speed", "50"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0) _exit(127);
            std::freopen("sim.out", "w", stdout);
            std::freopen("sim.out", "a", stderr);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ready_ = WaitUntil([&] { return fs::is_symlink(dir / "COM1"); }, 10000ms);
    }
    ~Simulator() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    bool ready() const { return ready_; }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

// One tmux server (own socket) with one pane in `dir`. The station command
// runs under a shell that ignores SIGINT itself, writes the command's exit
// status to exit.status, runs `after` and then stays, so the screen and the
// cursor stay exactly as the station left them.
class Tmux {
  public:
    Tmux(const fs::path& dir, const std::string& command, const std::string& after = "",
         int columns = 80, int rows = 24)
        : dir_(dir) {
        std::string wrapped = "trap '' INT; " + command + "; echo $? > exit.status; " + after +
                              (after.empty() ? "" : "; ") + "exec sleep 3600";
        Start("sh -c " + Quote(wrapped), columns, rows);
    }
    // A pane that runs `command` as it is.
    struct Plain {};
    Tmux(const fs::path& dir, const std::string& command, Plain) : dir_(dir) {
        Start(command, 80, 24);
    }
    ~Tmux() { Run("kill-server"); }

    std::string Run(const std::string& arguments) const {
        return Shell("tmux -L " + socket_ + " " + arguments + " 2>/dev/null");
    }
    // Keys by tmux name (Enter, Tab, BTab, C-q) or literal text.
    void Keys(const std::string& keys) const { Run("send-keys " + keys); }
    void Type(const std::string& text) const { Run("send-keys -l " + Quote(text)); }

    std::vector<std::string> Screen() const {
        std::vector<std::string> rows;
        std::istringstream text(Run("capture-pane -p"));
        std::string line;
        while (std::getline(text, line)) rows.push_back(line);
        return rows;
    }
    std::string Row(int row) const {
        std::vector<std::string> rows = Screen();
        return row < static_cast<int>(rows.size()) ? rows[row] : "";
    }
    std::string Display(const std::string& format) const {
        std::string text = Run("display -p " + Quote(format));
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    std::pair<int, int> Cursor() const {
        int row = -1;
        int column = -1;
        std::sscanf(Display("#{cursor_y} #{cursor_x}").c_str(), "%d %d", &row, &column);
        return {row, column};
    }
    // The status of the station command once it has ended, else -1.
    int ExitStatus() const {
        std::string status = ReadFile(dir_ / "exit.status");
        return status.empty() ? -1 : std::atoi(status.c_str());
    }
    // The process of the station command (the pane shell's child), or 0.
    int StationPid() const {
        std::string shell = Display("#{pane_pid}");
        return std::atoi(ReadFile("/proc/" + shell + "/task/" + shell + "/children").c_str());
    }

    bool WaitForRow(int row, const std::string& text,
                    std::chrono::milliseconds limit = 10000ms) const {
        return WaitUntil([&] { return Row(row) == text; }, limit);
    }
    bool WaitForText(const std::string& text, std::chrono::milliseconds limit = 10000ms) const {
        return WaitUntil([&] { return Run("capture-pane -p").find(text) != std::string::npos; },
                         limit);
    }
    bool WaitForExit(std::chrono::milliseconds limit = 10000ms) const {
        return WaitUntil([&] { return ExitStatus() >= 0; }, limit);
    }
    std::string Dump() const { return Run("capture-pane -p"); }

  private:
    void Start(const std::string& command, int columns, int rows) {
        static int count = 0;
        socket_ = "zhand-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++count);
        Run("-f /dev/null new-session -d -x " + std::to_string(columns) + " -y " +
            std::to_string(rows) + " -c " + Quote(dir_.string()) + " " + Quote(command));
    }

    fs::path dir_;
    std::string socket_;
};

}  // namespace e2e
