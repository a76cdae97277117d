// A POSIX serial port: exclusive open, raw 8N1 at any rate, reads and writes
// bounded by total deadlines, purge. A hang-up fails a transfer at once.
// Interrupt() makes every pending and later wait return at once until
// ClearInterrupt(), so a thread blocked on the port can always be ended.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `path` exclusively (flock + TIOCEXCL), raw, no flow control.
    // 0, or -2 when it cannot be opened or another program holds it.
    int Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // 8N1 at `baud` (any positive rate). 0, -3 (settings unreadable), -4.
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
    int WaitReady(short events, int64_t deadline);
    int TakeAhead(unsigned char* buffer, int count);

    int fd_ = -1;
    // Bytes taken from the device but not yet read: one read() takes all the
    // line holds, so that a reply read byte by byte costs no system call a
    // byte. Purge and Close drop them with the kernel's.
    std::array<unsigned char, 256> ahead_{};
    int aheadBegin_ = 0;
    int aheadEnd_ = 0;
    int wakeFd_ = -1;
    uint32_t readInterval_ = 0;
    uint32_t readMultiplier_ = 0;
    uint32_t readConstant_ = 0;
    uint32_t writeMultiplier_ = 0;
    uint32_t writeConstant_ = 0;
};
