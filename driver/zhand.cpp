// ZHand's life cycle and the caller's side of the hand-over to the I/O thread.
#include "zhand.h"

#include "thread_state.h"

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

std::atomic<bool> ZHand::instanceInitialized{false};

namespace {

// The device of port n: ./COMn when that entry exists, else /dev/ttyS<n-1>.
std::string DevicePath(int port) {
    std::string local = "./COM" + std::to_string(port);
    struct stat entry {};
    if (lstat(local.c_str(), &entry) == 0) return local;
    return "/dev/ttyS" + std::to_string(port - 1);
}

// Thread priorities run from -15 (idle) to 15 (time critical). Above normal
// asks for SCHED_FIFO; a process that may not use it keeps normal scheduling.
int SetThreadPriority(std::thread& thread, int priority) {
    if (priority < -15 || priority > 15) return -7;
    if (priority <= 0) return 0;
    int low = sched_get_priority_min(SCHED_FIFO);
    int high = sched_get_priority_max(SCHED_FIFO);
    sched_param param{};
    param.sched_priority = std::clamp(low + priority - 1, low, high);
    int rc = pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param);
    if (rc == 0 || rc == EPERM) return 0;
    return -7;
}

}  // namespace

ZHand::ZHand() = default;

ZHand::~ZHand() {
    StopThread();
    port.Close();
    if (ownsInstance) {
        ownsInstance = false;
        instanceInitialized = false;
    }
}

int ZHand::Initialize(int portNumber, int priority) {
    mode = ModeSync;
    callback = nullptr;
    timeout = -1;
    int rc = OpenPort(portNumber, priority);
    return rc == 0 ? Reset() : rc;
}

int ZHand::OpenPort(int portNumber, int priority) {
    bool expected = false;
    if (!instanceInitialized.compare_exchange_strong(expected, true)) return -1;
    ownsInstance = true;
    if (portNumber < 1 || portNumber > 9) return -2;
    if (port.Open(DevicePath(portNumber)) != 0) return -2;
    int rc = SetBaudRate(9600);
    if (rc == 0 && SetTimeouts(0, 100, 15000, 100, 5000) != 0) rc = -5;
    if (rc == 0 && !PurgePort()) rc = -11;
    if (rc != 0) {
        port.Close();
        return rc;
    }
    requestKind = 0;
    requestSignal.Reset();
    doneSignal.Reset();
    threadState = std::make_shared<ThreadState>();
    try {
        thread = std::thread(&ZHand::IoThreadMain, this, threadState);
    } catch (const std::system_error&) {
        threadState.reset();
        port.Close();
        return -6;
    }
    return SetThreadPriority(thread, priority);
}

int ZHand::SetBaudRate(int baud) {
    return port.SetBaudRate(baud);
}

int ZHand::SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                       int writeConstant) {
    return port.SetTimeouts(readInterval, readMultiplier, readConstant, writeMultiplier,
                            writeConstant);
}

bool ZHand::PurgePort() {
    return port.Purge();
}

int ZHand::ReadBytes(unsigned char* buffer, int count) {
    return port.Read(buffer, count);
}

int ZHand::WriteBytes(const unsigned char* buffer, int count) {
    return port.Write(buffer, count);
}

// Waits for a pending request: 0, -12 after `timeout`, or -13 at once in
// ModeAsync.
int ZHand::WaitPending() {
    if (!IsBusy()) return 0;
    if (mode == ModeAsync) return -13;
    return WaitDone(timeout);
}

// No request pending and the last completion's callback returned: only now
// may `command` and `reply` change hands again.
int ZHand::WaitIdle() {
    int rc = WaitPending();
    return rc != 0 ? rc : WaitCallback(timeout);
}

// Waits up to ms (-1 = no limit) for the I/O thread to return from the
// callback: 0, or -12. A callback that calls an operation itself (on the I/O
// thread) does not wait for its own end.
int ZHand::WaitCallback(int ms) {
    if (!threadState) return 0;
    ThreadState& state = *threadState;
    std::unique_lock lock(state.mutex);
    if (state.ioThread == std::this_thread::get_id()) return 0;
    auto returned = [&] { return !state.inCallback; };
    if (ms < 0) {
        state.changed.wait(lock, returned);
        return 0;
    }
    return state.changed.wait_for(lock, std::chrono::milliseconds(ms), returned) ? 0 : -12;
}

int ZHand::Request(int kind) {
    // The exit only hands over a kind: it need not wait for a callback.
    int rc = kind == RequestExit ? WaitPending() : WaitIdle();
    if (rc != 0) return rc;
    if (mode == ModeCallback) {
        result = 0;
        if (auto notify = callback.load()) notify(this);
        return 0;
    }
    if (!IoThreadRunning()) {
        // No I/O thread (the port never opened, or the thread has ended):
        // complete at once, send nothing.
        result = 0;
        return mode == ModeSync ? 0 : -14;
    }
    if (kind != RequestExit && port.CheckLost()) port.Reopen();  // a failed try fails the exchange
    doneSignal.Reset();  // only this request's completion may wake the caller
    requestKind = kind;
    requestSignal.Set();
    if (mode != ModeSync) return -14;
    rc = WaitDone(timeout);
    return rc != 0 ? rc : result;
}

bool ZHand::LinkLost() const {
    return port.Lost();
}

bool ZHand::Reconnect() {
    if (IsBusy()) return !port.Lost();
    if (port.CheckLost()) port.Reopen();
    return !port.Lost();
}

bool ZHand::IsBusy() {
    return requestSignal.IsSet();
}

bool ZHand::IoThreadRunning() {
    if (!thread.joinable()) return false;
    std::lock_guard lock(threadState->mutex);
    return !threadState->ended;
}

int ZHand::WaitDone(int ms) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    while (requestSignal.IsSet()) {
        int left = -1;
        if (ms >= 0) {
            auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            left = rest.count() > 0 ? static_cast<int>(rest.count()) : 0;
        }
        if (!doneSignal.Wait(left)) return requestSignal.IsSet() ? -12 : 0;
    }
    return 0;
}

const char* ZHand::ReplyText() {
    return reply.data();
}

const char* ZHand::CommandText() {
    return command.data();
}

// Hands the exit request over and waits up to 1000 ms for the thread to end.
// A pending exchange that outlasts `timeout` is cut short; a thread held up
// in a user callback is left detached and never touches the object again.
void ZHand::StopThread() {
    using namespace std::chrono_literals;
    if (!thread.joinable()) return;
    mode = ModeClosing;
    bool exitHandedOver = Request(RequestExit) == -14;
    if (!exitHandedOver) port.Interrupt();  // the pending exchange outlasted `timeout`
    ThreadState& state = *threadState;
    auto giveUp = std::chrono::steady_clock::now() + 1000ms;
    std::unique_lock lock(state.mutex);
    while (!state.ended) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            port.Interrupt();  // every wait of the thread on the port ends at once
            if (state.inCallback) break;
        }
        if (!exitHandedOver) {
            lock.unlock();
            if (!IsBusy()) exitHandedOver = Request(RequestExit) == -14;
            lock.lock();
        }
        if (!state.ended) state.changed.wait_for(lock, 10ms);
    }
    if (state.ended) {
        lock.unlock();
        thread.join();
    } else {
        state.abandoned = true;
        lock.unlock();
        thread.detach();
    }
    threadState.reset();
}
