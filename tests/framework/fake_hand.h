// A scripted hand on a pseudo-terminal for the framework's unit tests: it
// echoes every command, answers with what the test's handler returns and the
// prompt, and records every command it received.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class FakeHand {
  public:
    // Returns the reply text for a command (without its CR), or nullopt to stay
    // silent.
    using Handler = std::function<std::optional<std::string>(const std::string&)>;

    FakeHand();
    ~FakeHand();
    FakeHand(const FakeHand&) = delete;
    FakeHand& operator=(const FakeHand&) = delete;

    // Path of the terminal the station opens (link it as COM1).
    const std::string& DevicePath() const { return devicePath; }
    void SetHandler(Handler handler);
    // The commands received since the last call, in order; clears the record.
    std::vector<std::string> TakeCommands();

  private:
    void Serve();

    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up
    std::string devicePath;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    Handler handler;
    std::vector<std::string> commands;
    std::thread thread;
};
