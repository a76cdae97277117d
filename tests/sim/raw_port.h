// A bare serial client for the tests: opens a device in raw mode, sets any
// rate, writes bytes and reads with a deadline. Independent of the driver.
#pragma once

#include <string>
#include <string_view>

namespace zhandsim::test {

class RawPort {
  public:
    RawPort() = default;
    ~RawPort();
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    // Opens `path` raw at 9600 8N1. False when it cannot.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Any rate, standard or not.
    bool SetRate(int baud);
    void Purge();
    bool Write(std::string_view bytes);
    // Writes up to `count` copies of `byte` without blocking; returns how
    // many went out before the line's buffers were full.
    std::size_t Flood(char byte, std::size_t count);
    // Reads until the text read ends with `suffix` or `ms` pass.
    std::string ReadUntil(std::string_view suffix, int ms);
    // Reads exactly `count` bytes unless `ms` pass first.
    std::string ReadCount(std::size_t count, int ms);
    // Reads whatever comes within `ms`.
    std::string ReadFor(int ms);
    // Reads until nothing has come for `quietMs`.
    std::string Drain(int quietMs);
    // True when the line has hung up (the other side is gone).
    bool HungUp(int ms);
    // Sends a command line and returns everything up to and with the prompt.
    std::string Exchange(std::string_view line, int ms = 5000);

  private:
    int fd_ = -1;
};

}  // namespace zhandsim::test
