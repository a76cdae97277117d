// A POSIX serial port: exclusive open, raw 8N1 at any rate, reads and writes
// bounded by total deadlines, purge. A hang-up fails a transfer at once and
// marks the device lost; Reopen brings the same device back when it returns.
// Interrupt() makes every pending and later wait return at once until
// ClearInterrupt(), so a thread blocked on the port can always be ended.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace zhand::detail {

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` exclusively (flock + TIOCEXCL), raw, no flow control, in
    // low-latency mode where the device has one. 0, or -2 when it cannot be
    // opened or another program holds it.
    int Open(const std::string& path);
    // Opens the device of the last Open again in place of a lost one, at the
    // rate last set and with the time-outs in effect; never waits. 0, -2 (not
    // there, or held by another program), -3 or -4 (the rate would not take).
    int Reopen();
    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    // True from the moment the device was found gone (a hang-up, an end of
    // file, EIO or ENODEV) until an Open or Reopen succeeds. The descriptor
    // is closed at once, so an unplugged adapter can come back under its
    // old name. Safe from any thread.
    bool Lost() const { return lost_; }
    // Looks, without waiting, whether the device hung up since it was last
    // used; returns Lost().
    bool CheckLost();

    // 8N1 at `baud` (any positive rate), read back from the device. 0, -3
    // (settings unreadable), -4 (refused, or the device would run at another
    // rate: it is then left at the rate of before).
    int SetBaudRate(int baud);
    // The rate the port runs at, or -1.
    int BaudRate() const;
    // Time-outs in ms: read interval, read multiplier and constant, write
    // multiplier and constant, kept as total deadlines per transfer. 0, or -5.
    int SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                    int writeConstant);
    bool Purge();
    // Exactly count bytes: 0, or -9 (read) / -8 (write).
    int Read(unsigned char* buffer, int count);
    int Write(const unsigned char* buffer, int count);
    // Sleeps ms milliseconds; false when cut short by Interrupt().
    bool Pause(int ms);

    void Interrupt();
    void ClearInterrupt();

  private:
    int ApplyBaudRate(int baud);
    int WaitReady(short events, int64_t deadline);
    // Records that the device has gone and lets go of it.
    void MarkLost();
    // An error number that means the device is no longer there.
    void NoteError(int error);
    int TakeAhead(unsigned char* buffer, int count);

    int fd_ = -1;
    // Bytes taken from the device but not yet read: one read() takes all the
    // line holds, so that a reply read byte by byte costs no system call a
    // byte. Purge and Close drop them with the kernel's.
    std::array<unsigned char, 256> ahead_{};
    int aheadBegin_ = 0;
    int aheadEnd_ = 0;
    int wakeFd_ = -1;
    std::string path_;  // what Open opened, for Reopen
    int baud_ = 0;      // the rate last set, for Reopen
    std::atomic<bool> lost_{false};
    uint32_t readInterval_ = 0;
    uint32_t readMultiplier_ = 0;
    uint32_t readConstant_ = 0;
    uint32_t writeMultiplier_ = 0;
    uint32_t writeConstant_ = 0;
};

}  // namespace zhand::detail
