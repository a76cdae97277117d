// The station end to end, as the technician meets it: a private directory
// per test, zhand-sim started in it as a process of its own (killed with a
// signal and started again when a test needs that), and zhand-station in a
// tmux server of its own (a unique socket, so tests run in parallel), keys
// sent and the screen read through tmux.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "golden_screens.h"
#include "wait_until.h"

// How the station's pane starts.
struct TmuxSession {
    std::vector<std::string> environment = {};  // "NAME=value", added to the test's own
    int columns = 80;
    int rows = 24;
    // A shell command the pane runs once the station has ended (the pane
    // then stays, so the screen stays as the station left it).
    std::string after = {};
};

// One line of a conversation with the station: the line typed (and Enter),
// then, unless `shown` is empty, the text the screen shows within `limit`.
struct TypedLine {
    std::string typed;
    std::string shown = {};
    std::chrono::milliseconds limit = std::chrono::seconds(10);
};

class TmuxStation {
  public:
    using Session = TmuxSession;

    // Makes the directory; nothing runs yet.
    TmuxStation();
    // Ends the tmux server and the simulator; removes the directory.
    ~TmuxStation();
    TmuxStation(const TmuxStation&) = delete;
    TmuxStation& operator=(const TmuxStation&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }

    // Files in the directory (or at an absolute path).
    std::string Read(const std::filesystem::path& name) const { return ReadFile(dir_ / name); }
    void Write(const std::filesystem::path& name, const std::string& bytes) const {
        WriteFile(dir_ / name, bytes);
    }
    bool Exists(const std::filesystem::path& name) const {
        return std::filesystem::exists(dir_ / name);
    }
    // The files whose names end in `suffix`, in name order.
    std::vector<std::filesystem::path> FilesEndingIn(const std::string& suffix) const;
    // The simulated hand's own Defaults.dat, copied into the directory.
    void CopyDefaults() const;

    // Starts zhand-sim --dir <the directory> `options`, its output (and its
    // trace, with --trace) in sim.out, and waits until it says it is ready.
    bool StartSimulator(const std::vector<std::string>& options);
    // Sends `signal` to the simulator and reaps it.
    void KillSimulator(int signal = SIGTERM);
    // What the simulator has written so far.
    std::string SimulatorOutput() const { return Read("sim.out"); }

    // Starts zhand-station in the directory, in a new tmux server (one
    // started before is ended first). The station runs under a shell that
    // ignores SIGINT itself and writes the station's exit status to
    // exit.status.
    bool StartStation(const Session& session = {});
    // An interactive bash in the pane instead, to start the station by hand.
    bool StartShell();
    // Answers the port prompt with Enter and waits until the form is drawn.
    bool ConnectAndWaitForForm();

    // Keys by tmux name ("Tab", "BTab", "Enter", "C-r", "Space"), several
    // separated by blanks.
    void Keys(const std::string& names) const;
    // Text typed as it stands.
    void Type(const std::string& text) const;
    // Text typed, then Enter.
    void TypeLine(const std::string& text) const;
    // Each line typed in turn, waiting for what it shows; false at the
    // first that did not show.
    bool Converse(const std::vector<TypedLine>& lines) const;

    // The visible screen, rows separated by line ends (tmux drops the
    // blanks that end a row).
    std::string Screen() const;
    std::vector<std::string> Rows() const;
    // Row `row`, or "" below the screen.
    std::string Row(int row) const;
    // (row, column) of the cursor.
    std::pair<int, int> Cursor() const;
    // A tmux format ("#{pane_tty}") expanded for the pane.
    std::string Display(const std::string& format) const;
    // The station's process (the pane shell's child), or 0.
    int StationPid() const;
    // The station's exit status once it has ended.
    std::optional<int> ExitStatus() const;

    bool WaitForText(const std::string& text,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool WaitForRow(int row, const std::string& text,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    std::optional<int> WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  private:
    bool NewSession(int columns, int rows, const std::vector<std::string>& command);
    std::string Tmux(const std::vector<std::string>& args) const;

    std::filesystem::path dir_;
    std::string socket_;
    pid_t simulator_ = -1;
};

// `text` quoted for sh.
std::string ShellQuoted(const std::string& text);
// Runs a command line under sh; its standard output.
std::string Shell(const std::string& command);
