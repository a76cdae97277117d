#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

std::string CurrentDir() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "/";
}

}  // namespace

PtyPeer::PtyPeer() {
    std::string pattern = "/tmp/zhand-driver-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temp dir");
    dir_ = pattern;
    link_ = dir_ + "/COM1";
    OpenLine();
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread(&PtyPeer::Run, this);
}

PtyPeer::~PtyPeer() {
    StopPeer();
    if (master_ >= 0) close(master_.load());
    close(stopFd_);
    unlink(link_.c_str());
    rmdir(dir_.c_str());
}

// A new pseudo-terminal, its host side linked as COM1.
void PtyPeer::OpenLine() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slave_ = ptsname(master);
    unlink(link_.c_str());
    if (symlink(slave_.c_str(), link_.c_str()) != 0) throw std::runtime_error("no COM1 link");
    master_ = master;
}

// Ends the peer thread and takes back its stop signal.
void PtyPeer::StopPeer() {
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
    }
    if (thread_.joinable()) thread_.join();
    uint64_t count = 0;
    if (read(stopFd_, &count, sizeof count) < 0) {
    }
}

void PtyPeer::HangUp() {
    StopPeer();
    int master = master_.exchange(-1);
    if (master >= 0) close(master);
    hungUp_ = true;
}

void PtyPeer::Relink() {
    StopPeer();
    int master = master_.exchange(-1);
    if (master >= 0) close(master);
    OpenLine();
    hungUp_ = false;
    {
        std::lock_guard lock(mutex_);
        pending_.clear();
    }
    thread_ = std::thread(&PtyPeer::Run, this);
}

void PtyPeer::Play(std::vector<Step> steps) {
    std::lock_guard lock(mutex_);
    for (auto& step : steps) script_.push_back(std::move(step));
    changed_.notify_all();
}

void PtyPeer::Answer(const std::string& text) {
    Play({{.send = text + "\r\n=> "}});
}

void PtyPeer::AnswerAll(const std::string& text) {
    std::lock_guard lock(mutex_);
    answerAll_ = true;
    answerText_ = text;
    changed_.notify_all();
}

void PtyPeer::StopAnswering() {
    std::lock_guard lock(mutex_);
    answerAll_ = false;
}

void PtyPeer::Send(const std::string& bytes) {
    WriteAll(bytes);
}

std::string PtyPeer::Received(int settleMs) {
    if (settleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    std::lock_guard lock(mutex_);
    return received_;
}

void PtyPeer::ClearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
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

// Takes the bytes that trigger `step` from the unconsumed input, if all there.
bool PtyPeer::TakeTrigger(const Step& step, std::string& trigger) {
    size_t length = 0;
    if (step.expect > 0) {
        if (pending_.size() < static_cast<size_t>(step.expect)) return false;
        length = static_cast<size_t>(step.expect);
    } else {
        size_t cr = pending_.find('\r');
        if (cr == std::string::npos) return false;
        length = cr + 1;
    }
    trigger = pending_.substr(0, length);
    pending_.erase(0, length);
    return true;
}

void PtyPeer::WriteAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !hungUp_) {
        ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd fds[2] = {{master_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        poll(fds, 2, 50);
        if (fds[1].revents) return;
    }
}

void PtyPeer::PlayStep(const Step& step, const std::string& trigger) {
    Played played{trigger, HostBaud(), 0};
    std::string out;
    if (step.echo) out = trigger.substr(0, trigger.size() - (trigger.ends_with('\r') ? 1 : 0));
    WriteAll(out);
    if (step.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
    if (step.waitBaud != 0) {
        auto giveUp = Clock::now() + std::chrono::seconds(1);
        while (HostBaud() != step.waitBaud && Clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    played.baudAtSend = HostBaud();
    {
        std::lock_guard lock(mutex_);  // recorded before the host can see the answer
        played_.push_back(played);
    }
    WriteAll(step.send);
    if (step.hangUp) {
        hungUp_ = true;
        close(master_.exchange(-1));
    }
}

void PtyPeer::Run() {
    for (;;) {
        bool lineUp = master_ >= 0;
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {master_, POLLIN, 0}};
        // With no host on the line the master reports a hang-up without end:
        // then only the stop signal is watched, with a short nap.
        int n = poll(fds, lineUp ? 2 : 1, lineUp ? -1 : 10);
        if (n < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        if (!lineUp) continue;
        if (fds[1].revents & POLLIN) {
            char buffer[4096];
            ssize_t got = read(master_, buffer, sizeof buffer);
            if (got > 0) {
                std::lock_guard lock(mutex_);
                received_.append(buffer, static_cast<size_t>(got));
                pending_.append(buffer, static_cast<size_t>(got));
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            pollfd stop{stopFd_, POLLIN, 0};
            if (poll(&stop, 1, 10) > 0) return;
        }
        // Play every step whose trigger has arrived.
        for (;;) {
            Step step;
            std::string trigger;
            {
                std::lock_guard lock(mutex_);
                if (!script_.empty()) {
                    if (!TakeTrigger(script_.front(), trigger)) break;
                    step = script_.front();
                    script_.pop_front();
                    inFlight_ = true;
                } else if (answerAll_) {
                    step = Step{.send = answerText_ + "\r\n=> "};
                    if (!TakeTrigger(step, trigger)) break;
                } else {
                    pending_.clear();
                    break;
                }
            }
            PlayStep(step, trigger);
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
    }
}
