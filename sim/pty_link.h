// The pseudo-terminal the simulator serves on, and the COMn link to it.
#pragma once

#include <filesystem>
#include <string>

namespace zhandsim {

// One pty: the master the simulator talks through, and the slave side held
// open so that the master never sees a hang-up while the station closes and
// reopens the device.
class Pty {
  public:
    Pty() = default;
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new pty with its slave in raw mode, 9600 8N1. False with a
    // message in `error`.
    bool Open(std::string& error);
    // Closes both sides; whoever has the slave open sees a hang-up.
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    // Clears exclusive mode that a program set and left behind when it ended
    // without clearing it (killed, crashed): exclusive mode is set but nobody
    // holds the device's lock any more. True when it cleared it.
    bool ClearAbandonedExclusive();
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Makes `link` a symbolic link to `target`. An existing symbolic link is
// replaced; anything else at that path is left alone and reported.
bool CreateLink(const std::filesystem::path& link, const std::string& target, std::string& error);

// Removes `link` if it is still a symbolic link to `target`.
void RemoveLink(const std::filesystem::path& link, const std::string& target);

}  // namespace zhandsim
