// ZHand's life cycle and the caller's side of the hand-over to the I/O thread.
#include "zhand.h"

#include "zhand_impl.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

std::atomic<bool> ZHand::Impl::instanceInitialized{false};

using zhand::detail::ThreadState;

namespace {

// The device of port n: ./COMn when that entry exists, else /dev/ttyS<n-1>.
std::string DevicePath(int port) {
    std::string local = "./COM" + std::to_string(port);
    struct stat entry {};
    if (lstat(local.c_str(), &entry) == 0) return local;
    return "/dev/ttyS" + std::to_string(port - 1);
}

// Thread priorities run from -15 (idle) to 15 (time critical); above normal
// gives the I/O thread a nice value of -(priority + 5), -20 for 15. Normal
// scheduling rather than a real-time class: a real-time thread wakes on
// the core it last ran on, often one that has gone idle, and every hand-off
// of an exchange then waits for that core to wake up (a text exchange took
// twice as long), while a thread of the normal class at a low nice value
// wakes beside its caller and still comes first on a busy machine. A
// process that may not raise a thread's priority keeps it normal.
int SetThreadPriority(zhand::detail::ThreadState& state, int priority) {
    using namespace std::chrono_literals;
    if (priority < -15 || priority > 15) return -7;
    if (priority <= 0) return 0;
    pid_t tid = 0;
    {
        std::unique_lock lock(state.mutex);
        state.changed.wait_for(lock, 1s, [&] { return state.tid != 0; });
        tid = state.tid;
    }
    if (tid == 0) return -7;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -(priority + 5)) == 0) return 0;
    return errno == EPERM || errno == EACCES ? 0 : -7;
}

}  // namespace

ZHand::ZHand() : impl(std::make_unique<Impl>(*this)) {}

ZHand::~ZHand() {
    impl->StopThread();
    impl->port.Close();
    if (impl->ownsInstance) {
        impl->ownsInstance = false;
        Impl::instanceInitialized = false;
    }
}

int ZHand::Initialize(int portNumber, int priority) {
    mode = ModeSync;
    callback = nullptr;
    timeout = -1;
    int rc = OpenPort(portNumber, priority);
    return rc == 0 ? Reset() : rc;
}

bool ZHand::Impl::TakeInstance() {
    bool expected = false;
    if (!instanceInitialized.compare_exchange_strong(expected, true)) return false;
    ownsInstance = true;
    return true;
}

int ZHand::Impl::OpenPort(int portNumber, int priority) {
    if (!TakeInstance()) return -1;
    if (portNumber < 1 || portNumber > 9) return -2;
    return OpenDevice(DevicePath(portNumber), priority);
}

int ZHand::Impl::OpenDevice(const std::string& path, int priority) {
    if (port.Open(path) != 0) return -2;
    int rc = hand.SetBaudRate(9600);
    if (rc == 0 && hand.SetTimeouts(0, 100, 15000, 100, 5000) != 0) rc = -5;
    if (rc == 0 && !hand.PurgePort()) rc = -11;
    if (rc != 0) {
        port.Close();
        return rc;
    }
    requestKind = 0;
    requestSignal.Reset();
    doneSignal.Reset();
    threadState = std::make_shared<ThreadState>();
    try {
        thread = std::thread(&Impl::IoThreadMain, this, threadState, handOff);
    } catch (const std::system_error&) {
        threadState.reset();
        port.Close();
        return -6;
    }
    return SetThreadPriority(*threadState, priority);
}

int ZHand::OpenPort(int portNumber, int priority) {
    return impl->OpenPort(portNumber, priority);
}

int ZHand::OpenDevice(const char* path, int priority) {
    if (!impl->TakeInstance()) return -1;
    if (path == nullptr || *path == '\0') return -2;
    return impl->OpenDevice(path, priority);
}

int ZHand::SetBaudRate(int baud) {
    return impl->port.SetBaudRate(baud);
}

int ZHand::SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                       int writeConstant) {
    return impl->port.SetTimeouts(readInterval, readMultiplier, readConstant, writeMultiplier,
                                  writeConstant);
}

bool ZHand::PurgePort() {
    return impl->port.Purge();
}

int ZHand::ReadBytes(unsigned char* buffer, int count) {
    return impl->port.Read(buffer, count);
}

int ZHand::WriteBytes(const unsigned char* buffer, int count) {
    return impl->port.Write(buffer, count);
}

int ZHand::Request(int kind) {
    return impl->Request(kind);
}

bool ZHand::IsBusy() {
    return impl->IsBusy();
}

int ZHand::WaitDone(int ms) {
    return impl->WaitDone(ms);
}

bool ZHand::LinkLost() const {
    return impl->LinkLost();
}

bool ZHand::Reconnect() {
    return impl->Reconnect();
}

// Waits for a pending request: 0, -12 after `timeout`, or -13 at once in
// ModeAsync.
int ZHand::Impl::WaitPending() {
    if (!IsBusy()) return 0;
    if (hand.mode == ModeAsync) return -13;
    return WaitDone(hand.timeout);
}

// No request pending and the last completion's callback returned: only now
// may `command` and `reply` change hands again.
int ZHand::Impl::WaitIdle() {
    int rc = WaitPending();
    return rc != 0 ? rc : WaitCallback(hand.timeout);
}

// Waits up to ms (-1 = no limit) for the I/O thread to return from the
// callback: 0, or -12. A callback that calls an operation itself (on the I/O
// thread) does not wait for its own end.
int ZHand::Impl::WaitCallback(int ms) {
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

int ZHand::Impl::Request(int kind) {
    // The exit only hands over a kind: it need not wait for a callback.
    int rc = kind == RequestExit ? WaitPending() : WaitIdle();
    if (rc != 0) return rc;
    if (hand.mode == ModeCallback) {
        hand.result = 0;
        if (auto notify = hand.callback.load()) notify(&hand);
        return 0;
    }
    if (!IoThreadRunning()) {
        // No I/O thread (the port never opened, or the thread has ended):
        // complete at once, send nothing.
        hand.result = 0;
        return hand.mode == ModeSync ? 0 : -14;
    }
    if (kind != RequestExit && port.CheckLost()) port.Reopen();  // a failed try fails the exchange
    doneSignal.Reset();  // only this request's completion may wake the caller
    requestKind = kind;
    requestSignal.Set();
    if (hand.mode != ModeSync) return -14;
    rc = WaitDone(hand.timeout);
    return rc != 0 ? rc : hand.result;
}

bool ZHand::Impl::LinkLost() const {
    return port.Lost();
}

bool ZHand::Impl::Reconnect() {
    if (IsBusy()) return !port.Lost();
    if (port.CheckLost()) port.Reopen();
    return !port.Lost();
}

bool ZHand::Impl::IsBusy() {
    return requestSignal.IsSet();
}

bool ZHand::Impl::IoThreadRunning() {
    if (!thread.joinable()) return false;
    std::lock_guard lock(threadState->mutex);
    return !threadState->ended;
}

int ZHand::Impl::WaitDone(int ms) {
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
    return impl->reply.data();
}

const char* ZHand::CommandText() {
    return impl->command.data();
}

// Hands the exit request over and waits up to 1000 ms for the thread to end.
// A pending exchange that outlasts `timeout` is cut short; a thread held up
// in a user callback is left detached and never touches the object again.
void ZHand::Impl::StopThread() {
    using namespace std::chrono_literals;
    if (!thread.joinable()) return;
    hand.mode = ModeClosing;
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
