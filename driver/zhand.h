// ZHand: the ZorvathHand driver. One object owns one serial port and one I/O
// thread; every hand operation becomes a command of the hand's language, is
// exchanged on the wire by the I/O thread and returns a result code (0 on
// success, -1..-19 for failures found by the driver, a positive number for an
// error reported by the hand; ErrorText gives the message of each).
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>

#include "zhand_export.h"

class ZHAND_API ZHand {
  public:
    // Result codes. 0 is success; the driver's own failures run from -1 to
    // -19; any positive number is an error the hand reported (HandError is the
    // lowest of them); codes below -19 are none of these (InvalidCode is the
    // first of them). ErrorText gives the message of each.
    static constexpr int Ok = 0;
    static constexpr int InstanceExists = -1;
    static constexpr int OpenPortFailed = -2;
    static constexpr int GetPortStateFailed = -3;
    static constexpr int SetPortStateFailed = -4;
    static constexpr int SetTimeoutsFailed = -5;
    static constexpr int ThreadStartFailed = -6;
    static constexpr int ThreadPriorityFailed = -7;
    static constexpr int WriteFailed = -8;
    static constexpr int ReadFailed = -9;
    static constexpr int BadReply = -10;
    static constexpr int PurgeFailed = -11;
    static constexpr int RequestTimedOut = -12;
    static constexpr int RequestPending = -13;
    static constexpr int AsyncPending = -14;
    static constexpr int NoInstance = -15;
    static constexpr int UnknownParameter = -16;
    static constexpr int StringTooLong = -17;
    static constexpr int OutOfRange = -18;
    static constexpr int MotorNotActive = -19;
    static constexpr int HandError = 1;
    static constexpr int InvalidCode = -20;

    // Request modes (field `mode`).
    static constexpr int ModeSync = 1;      // an operation waits for its exchange
    static constexpr int ModeAsync = 2;     // an operation hands over and returns -14
    static constexpr int ModeClosing = 3;   // set by the destructor
    static constexpr int ModeCallback = 4;  // nothing is sent; `callback` gets the command
    // Request kinds handed to the I/O thread.
    static constexpr int RequestExit = 1;
    static constexpr int RequestRealtime = 2;
    static constexpr int RequestCommand = 3;
    static constexpr int RequestPurge = 4;
    // Size of the command and reply buffers, terminating zero included.
    static constexpr int BufferSize = 5000;

    ZHand();
    // Ends the I/O thread (waiting up to 1000 ms for it), closes the port and
    // frees the one-instance flag when this object holds it.
    ~ZHand();
    ZHand(const ZHand&) = delete;
    ZHand& operator=(const ZHand&) = delete;

    int mode = 0;     // ModeSync, ModeAsync, ModeClosing or ModeCallback
    int timeout = 0;  // ms an operation waits for its request; -1 = no limit
    // Called after each completion, or null; may be changed at any time, also
    // while a request is pending: the one in effect at completion is called.
    // Once the caller has been woken it runs on the I/O thread, and the next
    // operation composes its command only after it has returned (waiting up
    // to `timeout`, else -12), so it may read ReplyText and CommandText of
    // the request it follows.
    std::atomic<void (*)(ZHand*)> callback{nullptr};
    int result = 0;  // result code of the last completed request

    // --- link and hand-over ---

    // Sets ModeSync, no callback, no time limit; opens the port and resets the
    // hand. 0, or the first failing code of OpenPort or Reset.
    int Initialize(int port, int priority);
    // Opens port 1..9 (./COMn, else /dev/ttyS<n-1>) at 9600 8N1, starts the
    // I/O thread. 0, -1 (an instance exists), -2, -3, -4, -5, -6, -7, -11.
    int OpenPort(int port, int priority);
    // Opens the device at `path` (such as /dev/serial/by-id/...) as OpenPort
    // opens the device of a port, with the same codes; a lost link comes back
    // through the same path. -2 for a null or empty path.
    int OpenDevice(const char* path, int priority);
    // Port speed in bits per second, 8N1, read back from the device. 0, -3
    // (port unreadable), -4 (refused, or the adapter would run at a rate of
    // its own: the port then keeps the rate of before).
    int SetBaudRate(int baud);
    // Time-outs in ms: a read of n bytes fails after readConstant +
    // readMultiplier * n (and readInterval between bytes when not 0), a
    // write after writeConstant + writeMultiplier * n. 0, or -5.
    int SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                    int writeConstant);
    // Discards what waits in both directions; true when done.
    bool PurgePort();
    // Reads exactly count bytes: 0, or -9.
    int ReadBytes(unsigned char* buffer, int count);
    // Writes exactly count bytes: 0, or -8.
    int WriteBytes(const unsigned char* buffer, int count);
    // Hands the composed command to the I/O thread as request `kind`.
    // ModeSync: the exchange's code (or -12); ModeAsync: -14, or -13 while
    // a request is pending; ModeCallback: 0, nothing sent.
    int Request(int kind);
    // True while a request is pending.
    bool IsBusy();
    // Waits for the pending request: 0 (done or none), -12 after ms (-1 = no limit).
    int WaitDone(int ms);
    // The trimmed text of the last reply.
    const char* ReplyText();
    // The last command composed (may hold binary bytes for a real-time update).
    const char* CommandText();
    // The message of a result code; never null.
    static const char* ErrorText(int code);

    // --- a link that goes away and comes back ---
    //
    // A hang-up, an end of file, EIO or ENODEV on the port (a USB adapter
    // pulled out, the simulator's line dropped) marks the link lost. The
    // exchange that finds it fails at once with its usual code (-8, -9 or
    // -11), and so does every later one while the device is away; no new
    // result code is involved. Each request on a lost link first tries once,
    // without waiting, to open the same device again (the ./COMn link or
    // /dev/ttyS<n-1> that OpenPort opened, exclusively as before) at the rate
    // and with the time-outs in effect; when that works the request goes on
    // and the link is no longer lost.
    //
    // A program that waits for the device to come back calls Reconnect from
    // the thread that makes its requests, at intervals it sleeps through in
    // poll(), for instance every 200 ms while it waits for a key:
    //
    //   pollfd keyboard{STDIN_FILENO, POLLIN, 0};
    //   while (hand.LinkLost() && !hand.Reconnect()) {
    //       if (poll(&keyboard, 1, 200) > 0) break;  // a key: read it, stop on Esc
    //   }
    //   if (!hand.LinkLost()) hand.Reset();  // the hand may have restarted
    //
    // Reconnect sends nothing to the hand: what the hand did while the link
    // was away (a power cycle back to 9600 baud, say) is for the station to
    // mend, normally with Reset.

    // True from the exchange that found the device gone until it is open
    // again. Any thread.
    bool LinkLost() const;
    // Tries once, without waiting, to open the device of a lost link again,
    // as a request would, and first looks whether an idle link has hung up.
    // True when the link is up afterwards (also when it was never lost);
    // false while the device is still away or another program holds it.
    // While a request is pending nothing is tried (the port belongs to the
    // I/O thread) and the answer is !LinkLost().
    bool Reconnect();

    // --- supervisory commands ---

    int Open(const char* motors);
    int Close(const char* motors);
    int IncrementalOpen(const char* motors, int value);   // 0..30000, else -18
    int IncrementalClose(const char* motors, int value);  // 0..30000, else -18
    int MoveTo(const char* motors, int value);            // 0..30000, else -18
    int Move(const char* motors);
    int MoveAllTo(int p1, int p2, int p3, int p4);  // each 0..30000, else -18
    int Home();
    int Terminate(const char* motors);
    int InitHand(const char* motors);
    int SetParameter(const char* motors, const char* name, int value);
    // Reads the named parameters; the integers of the reply fill `values` in
    // order, stopping when it is full. On failure `values` is untouched.
    int GetParameters(const char* motors, const char* names, std::span<int> values);
    int SaveParameters(const char* motors);
    int LoadParameters(const char* motors);
    int LoadDefaults(const char* motors);
    // The hand's temperature in degrees; `value` is left unchanged when the
    // reply does not begin with a number.
    int GetTemperature(int* value);
    // Wakes the hand with a lone CR and resets it; the port returns to 9600.
    int Reset();
    // Switches hand and port to `baud`.
    int SetHandBaud(unsigned baud);
    // Pauses on the host, 1..100000 ms; nothing is sent.
    int Delay(unsigned ms);
    // Sends `text` and CR. -17 when text + CR does not fit the buffer. When
    // `reply` is given it receives the reply on success, else "".
    int Command(const char* text, std::string* reply = nullptr);

    // --- real-time mode ---

    int RTSetFlags(const char* motors, bool LCV, int LCVC, bool LCPG, bool LFV, int LFVC, bool LFS,
                   bool LFAP, bool LFDP, int LFDPC);
    // Reads the flags of all motors, lays out the blocks, enters the loop.
    int RTStart(const char* motors);
    // One update: control bytes out (sendControl), feedback in (readFeedback).
    int RTUpdate(bool sendControl, bool readFeedback);
    // Leaves the loop (byte 3) and reads the hand's prompt.
    int RTAbort();
    // Velocity -127..127 / gain 0..255 for the next update. -19 for a motor
    // RTStart did not activate; 0 (and nothing stored) when its flag is off.
    int RTSetVelocity(char motor, int value);
    int RTSetGain(char motor, int value);
    // Feedback of the last update; 0 for an inactive motor or a disabled item.
    signed char RTGetVelocity(char motor);
    unsigned char RTGetStrain(char motor);
    int RTGetPosition(char motor);
    signed char RTGetDeltaPos(char motor);

  private:
    // What the object holds privately: the port, the I/O thread, the
    // buffers and the real-time tables.
    struct Impl;
    std::unique_ptr<Impl> impl;
};
