#include "scripted_hand.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::perror(what);
    std::abort();
}

// A peer that is not answered within this time gives the step up.
constexpr int kPeerWaitMs = 3000;

}  // namespace

ScriptedHand& ScriptedHand::Get() {
    static ScriptedHand* hand = new ScriptedHand();  // lives until the process ends
    return *hand;
}

ScriptedHand::ScriptedHand() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("pty");
    const char* name = ptsname(master_);
    if (name == nullptr) Fail("ptsname");
    std::string slavePath = name;
    slave_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) Fail("pty slave");
    cfmakeraw(&settings);
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) Fail("pty raw");
    if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
        fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK) != 0)
        Fail("fcntl");
    stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0) Fail("eventfd");

    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    std::filesystem::path dir = pattern;
    std::filesystem::create_symlink(slavePath, dir / "COM1");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int rc = hand_.OpenPort(1, 0);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);  // the open port no longer needs the link
    if (rc != 0) {
        std::fprintf(stderr, "OpenPort on the fuzz pty: %d\n", rc);
        std::abort();
    }
    hand_.mode = ZHand::ModeSync;
    hand_.timeout = -1;
    SetReadTimeout(kReadTimeoutMs);
}

void ScriptedHand::SetReadTimeout(int ms) {
    readTimeoutMs_ = ms;
    hand_.SetTimeouts(0, 0, ms, 0, 1000);
}

bool ScriptedHand::WaitFor(short events) {
    pollfd fds[2] = {{master_, events, 0}, {stop_, POLLIN, 0}};
    int n = poll(fds, 2, kPeerWaitMs);
    return n > 0 && (fds[0].revents & events) != 0;
}

bool ScriptedHand::ReadExactly(std::size_t count, std::string& bytes) {
    while (bytes.size() < count) {
        if (!WaitFor(POLLIN)) return false;
        char buffer[512];
        std::size_t want = std::min(sizeof buffer, count - bytes.size());
        ssize_t n = read(master_, buffer, want);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool ScriptedHand::WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!WaitFor(POLLOUT)) {
            return false;
        }
    }
    return true;
}

void ScriptedHand::Serve(const std::vector<Step>& steps, Run& run) {
    for (const Step& step : steps) {
        std::string received;
        bool got = ReadExactly(step.expect, received);
        run.received.push_back(received);
        if (!got || !WriteAll(step.send)) return;
    }
    run.complete = true;
}

// Forgets what the host wrote that no step took, the stop signal, and what
// the peer sent that the driver did not read (after a read timed out early).
void ScriptedHand::Drain(bool settle) {
    char buffer[512];
    while (read(master_, buffer, sizeof buffer) > 0) {
    }
    uint64_t count = 0;
    while (read(stop_, &count, sizeof count) > 0) {
    }
    if (settle) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (read(slave_, buffer, sizeof buffer) > 0) {
    }
}

ScriptedHand::Run ScriptedHand::Play(const std::vector<Step>& steps,
                                     const std::function<void()>& operation) {
    Run run;
    std::thread peer([&] { Serve(steps, run); });
    auto start = std::chrono::steady_clock::now();
    operation();
    run.elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    uint64_t one = 1;
    if (write(stop_, &one, sizeof one) != sizeof one) Fail("eventfd write");
    peer.join();
    Drain(run.elapsedMs >= readTimeoutMs_);
    return run;
}
