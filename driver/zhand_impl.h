// What a ZHand holds privately, and the operations behind its public ones.
// Internal to the driver: never installed.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "events.h"
#include "serial_port.h"
#include "thread_state.h"
#include "zhand.h"

struct __attribute__((visibility("hidden"))) ZHand::Impl {
    explicit Impl(ZHand& owner) : hand(owner) {}

    // The public operations, on the object's own state.
    int OpenPort(int port, int priority);
    // Takes the one-instance flag for this object; false when another holds it.
    bool TakeInstance();
    // The rest of an open once the flag is held: the device, 9600 8N1, the
    // time-outs, the I/O thread.
    int OpenDevice(const std::string& path, int priority);
    int Request(int kind);
    bool IsBusy();
    int WaitDone(int ms);
    bool LinkLost() const;
    bool Reconnect();
    int RTStart(const char* motors);
    int RTUpdate(bool sendControl, bool readFeedback);
    int RTSetVelocity(char motor, int value);
    int RTSetGain(char motor, int value);
    signed char RTGetVelocity(char motor);
    unsigned char RTGetStrain(char motor);
    int RTGetPosition(char motor);
    signed char RTGetDeltaPos(char motor);

    struct RTMotor {
        int active, LCV, LCPG, LFV, LFS, LFAP, LFDP;
    };
    struct RTControlIndex {
        int velocity, gain;
    };
    struct RTFeedbackIndex {
        int velocity, strain, position, deltaPos;
    };

    int WaitPending();
    int WaitIdle();
    int WaitCallback(int ms);
    int Submit(int kind, std::string_view bytes, int baud, int expectedReply);
    int SendText(const std::string& text, int baud = 0);
    int AskHand(const std::string& text);
    static int MotorIndex(char motor);
    void StopThread();
    bool IoThreadRunning();
    // I/O thread
    void IoThreadMain(std::shared_ptr<zhand::detail::ThreadState> state,
                      std::shared_ptr<zhand::detail::HandOff> signals);
    void Complete(int code);
    int Exchange(int kind);
    int TextExchange(int baud);
    int RealtimeExchange();
    std::string_view CommandView() const;
    void HostDelay();
    void ClearReply();
    int ReadReply();
    int ReadRefusal(unsigned char first);
    int SwitchBaud(int baud);

    ZHand& hand;  // the public part: mode, timeout, callback, result
    std::array<RTMotor, 4> rtMotor{};
    int rtControlLength = 0;
    int rtFeedbackLength = 0;
    std::array<unsigned char, 20> rtFeedback{};
    zhand::detail::SerialPort port;
    std::thread thread;
    std::shared_ptr<zhand::detail::ThreadState> threadState;
    int requestKind = 0;
    std::shared_ptr<zhand::detail::HandOff> handOff = std::make_shared<zhand::detail::HandOff>();
    zhand::detail::ManualResetEvent& requestSignal = handOff->request;
    zhand::detail::AutoResetEvent& doneSignal = handOff->done;
    int pendingBaud = 0;  // rate to switch to after the echo of the command handed over
    std::array<char, BufferSize> reply{};
    int replyLength = 0;
    std::array<char, BufferSize> command{};
    int commandLength = 0;
    std::array<unsigned char, 8> rtControl{};
    std::array<RTControlIndex, 4> rtControlIndex{};
    std::array<RTFeedbackIndex, 4> rtFeedbackIndex{};
    std::array<unsigned char, BufferSize> echo{};
    bool ownsInstance = false;

    static std::atomic<bool> instanceInitialized;
};
