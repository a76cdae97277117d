#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string CurrentDir() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "/";
}

// The echo of a trigger: the bytes without the '\r' that ends a command.
std::string Echo(const std::string& trigger) {
    return trigger.substr(0, trigger.size() - (trigger.ends_with('\r') ? 1 : 0));
}

}  // namespace

PtyPeer::PtyPeer(Options options) : options_(options) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-peer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temp dir");
    dir_ = pattern;
    link_ = dir_ + "/COM1";
    try {
        stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0) throw std::runtime_error("no eventfd");
        OpenLine();
    } catch (...) {
        CloseLine();
        if (stopFd_ >= 0) close(stopFd_);
        unlink(link_.c_str());
        rmdir(dir_.c_str());
        throw;
    }
    StartThread();
}

PtyPeer::~PtyPeer() {
    StopThread();
    CloseLine();
    close(stopFd_);
    unlink(link_.c_str());
    rmdir(dir_.c_str());
}

// A new pseudo-terminal, its host's end linked as COM1.
void PtyPeer::OpenLine() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[256];
    if (ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        throw std::runtime_error("no pseudo-terminal name");
    }
    slave_ = name;
    master_ = master;  // from here CloseLine takes it back
    if (options_.holdHostEnd) {
        hostEnd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios raw{};
        if (hostEnd_ < 0 || tcgetattr(hostEnd_, &raw) != 0) {
            throw std::runtime_error("the host's end does not open");
        }
        cfmakeraw(&raw);
        if (tcsetattr(hostEnd_, TCSANOW, &raw) != 0) throw std::runtime_error("no raw mode");
    }
    unlink(link_.c_str());
    if (symlink(name, link_.c_str()) != 0) throw std::runtime_error("no COM1 link");
}

void PtyPeer::CloseLine() {
    int master = master_.exchange(-1);
    if (master >= 0) close(master);
    if (hostEnd_ >= 0) close(hostEnd_);
    hostEnd_ = -1;
}

void PtyPeer::StartThread() {
    hungUp_ = false;
    thread_ = std::thread(&PtyPeer::Run, this);
    pthread_getcpuclockid(thread_.native_handle(), &threadClock_);
}

// Ends the peer's thread and takes back its stop signal.
void PtyPeer::StopThread() {
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
        // an eventfd that cannot count further is signalled already
    }
    if (thread_.joinable()) thread_.join();
    uint64_t count = 0;
    if (read(stopFd_, &count, sizeof count) < 0) {
        // not signalled: nothing to take back
    }
}

void PtyPeer::HangUp() {
    StopThread();
    CloseLine();
    hungUp_ = true;
}

void PtyPeer::Relink() {
    StopThread();
    CloseLine();
    OpenLine();
    {
        std::lock_guard lock(mutex_);
        pending_.clear();
    }
    StartThread();
}

bool PtyPeer::DiscardUnreadByHost() {
    return hostEnd_ >= 0 && tcflush(hostEnd_, TCIFLUSH) == 0;
}

void PtyPeer::Play(std::vector<Step> steps) {
    std::lock_guard lock(mutex_);
    for (auto& step : steps) script_.push_back(std::move(step));
}

void PtyPeer::Answer(const std::string& text) {
    Play({{.send = text + "\r\n=> "}});
}

void PtyPeer::AnswerAll(const std::string& text) {
    RespondWith([text](std::string_view input, std::string& reply) -> std::size_t {
        std::size_t cr = input.find('\r');
        if (cr == std::string_view::npos) return 0;
        reply.append(input.substr(0, cr)).append(text).append("\r\n=> ");
        return cr + 1;
    });
}

void PtyPeer::AnswerCommands(CommandAnswer answer) {
    RespondWith(
        [answer = std::move(answer)](std::string_view input, std::string& reply) -> std::size_t {
            std::size_t cr = input.find('\r');
            if (cr == std::string_view::npos) return 0;
            const std::string command(input.substr(0, cr));
            if (std::optional<std::string> text = answer(command)) {
                reply.append(command).append("\r\n").append(*text).append("\r\n=> ");
            }
            return cr + 1;
        });
}

void PtyPeer::RespondWith(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void PtyPeer::StopAnswering() {
    std::lock_guard lock(mutex_);
    responder_ = nullptr;
}

std::vector<PtyPeer::Played> PtyPeer::ClearScript() {
    std::unique_lock lock(mutex_);
    // A step stuck in a flood the host does not read is let go after a while.
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return !inFlight_; });
    script_.clear();
    ReadAvailable();  // what the host wrote before now cannot trigger a later step
    pending_.clear();
    return std::exchange(played_, {});
}

void PtyPeer::Send(const std::string& bytes) {
    WriteAll(bytes);
}

std::string PtyPeer::Received(int settleMs) {
    if (settleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<PtyPeer::Arrival> PtyPeer::Arrivals(int settleMs) {
    if (settleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    std::lock_guard lock(mutex_);
    std::vector<Arrival> arrivals;
    for (std::size_t i = 0; i < rates_.size(); ++i) {
        const std::size_t end = i + 1 < rates_.size() ? rates_[i + 1].from : received_.size();
        arrivals.push_back(
            {received_.substr(rates_[i].from, end - rates_[i].from), rates_[i].baud});
    }
    return arrivals;
}

std::vector<std::string> PtyPeer::TakeCommands() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> commands;
    for (std::size_t cr = received_.find('\r', commandsFrom_); cr != std::string::npos;
         cr = received_.find('\r', commandsFrom_)) {
        commands.push_back(received_.substr(commandsFrom_, cr - commandsFrom_));
        commandsFrom_ = cr + 1;
    }
    return commands;
}

void PtyPeer::ClearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
    rates_.clear();
    commandsFrom_ = 0;
}

std::vector<PtyPeer::Played> PtyPeer::PlayedSteps() {
    std::lock_guard lock(mutex_);
    return played_;
}

bool PtyPeer::WaitScriptDone(int ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return script_.empty() && !inFlight_; });
}

int PtyPeer::HostBaud() const {
    return TtyBaud(master_);
}

int PtyPeer::HostInputBaud() const {
    return TtyInputBaud(master_);
}

double PtyPeer::ThreadCpuMicros() const {
    timespec t{};
    clock_gettime(threadClock_, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Reads all the host has written so far, each piece with the rate the line
// has as it is read. Called with mutex_ held.
void PtyPeer::ReadAvailable() {
    const int master = master_;
    if (master < 0) return;
    for (;;) {
        const int baud = TtyBaud(master);
        char buffer[4096];
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;  // all read, or no host on the line
        if (rates_.empty() || rates_.back().baud != baud)
            rates_.push_back({received_.size(), baud});
        received_.append(buffer, static_cast<std::size_t>(got));
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

// Takes the bytes that trigger `step` from the untaken input, if all there.
bool PtyPeer::TakeTrigger(const Step& step, std::string& trigger) {
    std::size_t length = 0;
    if (step.expect > 0) {
        if (pending_.size() < static_cast<std::size_t>(step.expect)) return false;
        length = static_cast<std::size_t>(step.expect);
    } else {
        std::size_t cr = pending_.find('\r');
        if (cr == std::string::npos) return false;
        length = cr + 1;
    }
    trigger = pending_.substr(0, length);
    pending_.erase(0, length);
    return true;
}

// What to do next with the untaken input: a step to play (true, `trigger`
// set), an answer to send (true, `trigger` empty), or nothing (false).
// Called with mutex_ held; marks the action in flight.
bool PtyPeer::NextAction(Step& step, std::string& trigger, std::string& reply) {
    if (!script_.empty()) {
        if (!TakeTrigger(script_.front(), trigger)) return false;
        step = std::move(script_.front());
        script_.pop_front();
    } else if (responder_ && !pending_.empty()) {
        const std::size_t taken = std::min(responder_(pending_, reply), pending_.size());
        if (taken == 0) return false;
        pending_.erase(0, taken);
    } else {
        pending_.clear();  // nobody answers it
        return false;
    }
    inFlight_ = true;
    return true;
}

void PtyPeer::WriteAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size() && !hungUp_) {
        const int master = master_;
        ssize_t n = write(master, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd fds[2] = {{master, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        poll(fds, 2, 50);
        if (fds[1].revents) return;
    }
}

void PtyPeer::PlayStep(const Step& step, const std::string& trigger) {
    Played played{trigger, HostBaud(), 0};
    if (step.echo) WriteAll(Echo(trigger));
    if (step.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
    if (step.waitBaud != 0) {
        auto giveUp = SteadyClock::now() + std::chrono::seconds(1);
        while (HostBaud() != step.waitBaud && SteadyClock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    played.baudAtSend = HostBaud();
    {
        std::lock_guard lock(mutex_);  // recorded before the host can see the answer
        played_.push_back(played);
    }
    for (int i = 0; i < step.times; ++i) WriteAll(step.send);
    if (step.hangUp) {
        hungUp_ = true;
        int master = master_.exchange(-1);
        if (master >= 0) close(master);
    }
}

void PtyPeer::Run() {
    for (;;) {
        const int master = master_;
        const bool lineUp = master >= 0;
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {master, POLLIN, 0}};
        // With no host on the line the master reports a hang-up without end:
        // then only the stop signal is watched, with a short nap.
        int n = poll(fds, lineUp ? 2 : 1, lineUp ? -1 : 10);
        if (n < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        if (!lineUp) continue;
        if (fds[1].revents & POLLIN) {
            std::lock_guard lock(mutex_);
            ReadAvailable();
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            pollfd stop{stopFd_, POLLIN, 0};
            if (poll(&stop, 1, 10) > 0) return;
        }
        // Play every step, and send every answer, whose input has arrived.
        for (;;) {
            Step step;
            std::string trigger;
            std::string reply;
            {
                std::lock_guard lock(mutex_);
                if (!NextAction(step, trigger, reply)) break;
            }
            if (!trigger.empty()) {
                PlayStep(step, trigger);
            } else {
                WriteAll(reply);
            }
            std::lock_guard lock(mutex_);
            inFlight_ = false;
            changed_.notify_all();
            if (hungUp_) return;
        }
    }
}

ScopedChdir::ScopedChdir(const std::string& dir) : previous_(CurrentDir()) {
    if (chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScopedChdir::~ScopedChdir() {
    if (chdir(previous_.c_str()) != 0) {
        // the directory of before has gone; stay where we are
    }
}
