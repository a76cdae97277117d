// The station end to end: zhand-sim started as its own process in a private
// directory, zhand-station in a tmux session of its own (a unique socket, so
// tests run in parallel), keys sent and the screen read through tmux.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class TmuxStation {
  public:
    TmuxStation();
    // Ends the session and the simulator; removes the directory.
    ~TmuxStation();
    TmuxStation(const TmuxStation&) = delete;
    TmuxStation& operator=(const TmuxStation&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }

    // Starts zhand-sim (--dir set here) and waits until COM1 is linked.
    bool StartSimulator(const std::vector<std::string>& options);
    // Sends `signal` to the simulator and reaps it.
    void KillSimulator(int signal);
    // Starts zhand-station in the directory, on an 80x25 screen, with
    // `environment` ("NAME=value") added to its own.
    bool StartStation(const std::vector<std::string>& environment = {});
    // Answers the port prompt with Enter and waits for the form.
    bool ConnectAndWaitForForm();

    // Keys as tmux names them ("Tab", "Enter", "C-r", "Space").
    void Key(const std::string& name);
    // Text typed as it stands.
    void Type(const std::string& text);
    // The visible screen, one line per row.
    std::string Screen();
    // Waits until the screen shows `text` (tmux drops blanks that end a
    // line); true when it did within `limit`.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit);
    // The station's exit status once it has ended, within `limit`.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);

  private:
    bool Tmux(const std::vector<std::string>& args, std::string* output = nullptr);

    std::filesystem::path dir_;
    std::string socket_;
    pid_t simulator_ = -1;
};

// The text of every file in `dir` whose name ends in `suffix`, in name order.
std::vector<std::string> FilesEndingIn(const std::filesystem::path& dir, const std::string& suffix);
