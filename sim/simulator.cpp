#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <limits>

#include "line_rate.h"
#include "pty_link.h"
#include "zhand_sim.h"

namespace zhandsim {

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
constexpr std::size_t kMaxBacklog = 65536;  // received bytes held before reading stops

double MonotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool WriteWholeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path temporary = path.string() + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!file) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

std::filesystem::path LoaderFilePath(const std::filesystem::path& directory, int port,
                                     LoaderFile file) {
    static constexpr const char* kSuffix[] = {"-eeploadr.bin", "-eeprom.bin", "-firmware.bin"};
    return directory / ("COM" + std::to_string(port) + kSuffix[static_cast<int>(file)]);
}

}  // namespace

struct Simulator::Server {
    struct InByte {
        char byte;
        int baud;
        double available;
    };
    struct OutChunk {
        std::string bytes;
        int baud = 0;
        double ready = 0;
        std::size_t sent = 0;
        bool checked = false;
        bool hangup = false;
        int downMs = 0;
    };

    explicit Server(const SimulatorOptions& options)
        : options(options),
          controller(ControllerOptions{options.seed, options.speed, options.minSpreadVelocity,
                                       options.faults}),
          pace(options.pace) {}

    ~Server() {
        for (int fd : wake)
            if (fd >= 0) close(fd);
        if (timer >= 0) close(timer);
    }

    double Now() const { return MonotonicSeconds() - origin; }

    // Makes the timer fire at `at` (seconds of Now()). The kernel holds the
    // deadline as an absolute time, so time spent getting into the wait
    // does not push it back.
    void ArmTimer(double at) {
        if (at == armedAt) return;
        const double absolute = std::max(at + origin, 1e-9);
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(absolute);
        when.it_value.tv_nsec =
            static_cast<long>((absolute - static_cast<double>(when.it_value.tv_sec)) * 1e9);
        timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
        armedAt = at;
    }

    void Trace(std::string_view text) {
        if (!options.trace) return;
        if (options.traceSink) {
            options.traceSink(text);
        } else {
            std::string line = "zhand-sim: " + std::string(text) + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
    }

    void DrainWake() {
        char drain[64];
        while (read(wake[0], drain, sizeof drain) > 0) {
        }
    }

    void Wake() {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wake[1], &byte, 1);
    }

    // Writes a loader's data to its file (called with the lock held).
    void SaveLoaderData(LoaderFile file) {
        const std::filesystem::path path = LoaderPath(file);
        bool ok = false;
        switch (file) {
            case LoaderFile::BootLoader: {
                const auto& bytes = controller.BootLoaderBytes();
                ok = WriteWholeFile(path, bytes.data(), bytes.size());
                break;
            }
            case LoaderFile::Eeprom: {
                const auto& bytes = controller.EepromImage();
                ok = WriteWholeFile(path, bytes.data(), bytes.size());
                break;
            }
            case LoaderFile::Firmware: {
                const auto& memory = controller.FirmwareMemory();
                ok = WriteWholeFile(path, memory.data(), memory.size());
                break;
            }
        }
        Trace((ok ? "wrote " : "cannot write ") + path.string());
    }

    std::filesystem::path LoaderPath(LoaderFile file) const {
        return LoaderFilePath(options.directory, options.port, file);
    }

    bool OpenLine(std::string& error) {
        if (!pty.Open(error)) return false;
        if (!CreateLink(link, pty.SlavePath(), error)) {
            pty.Close();
            return false;
        }
        std::lock_guard lock(mutex);
        device = pty.SlavePath();
        lineUp = true;
        return true;
    }

    // Sends what is due; returns when output next needs attention.
    double WriteOutput(double now, int host) {
        while (!out.empty()) {
            OutChunk& chunk = out.front();
            if (chunk.hangup) {
                hangupDownMs = chunk.downMs;
                hangupNow = true;
                out.pop_front();
                return kNever;
            }
            if (!chunk.checked) {
                if (!Controller::SameRate(host, chunk.baud)) {
                    // The host may still be switching its rate; a real line
                    // would have had the bytes in flight that long.
                    if ((now - chunk.ready) * 1000 < options.graceMs) return now + 0.001;
                    Trace("line: host at " + std::to_string(host) + " baud, hand at " +
                          std::to_string(chunk.baud) + ": the host gets garbage");
                    for (char& c : chunk.bytes)
                        c = static_cast<char>(Controller::Garble(static_cast<std::uint8_t>(c)));
                }
                chunk.checked = true;
            }
            if (!paced) {
                Send(chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent);
                out.pop_front();
                continue;
            }
            // Each byte leaves when the wire has carried it, counted from
            // when the hand had it ready and the wire was free, never from
            // when this thread woke: a late wake-up sends what is overdue at
            // once and the wire's schedule goes on unchanged.
            const int rate = host > 0 ? host : (chunk.baud > 0 ? chunk.baud : 9600);
            const double byteTime = 10.0 / rate;
            while (chunk.sent < chunk.bytes.size()) {
                const double due = std::max(chunk.ready, outFree) + byteTime;
                if (now < due) return due;
                std::size_t count = 1;
                double last = due;
                while (chunk.sent + count < chunk.bytes.size() && last + byteTime <= now) {
                    last += byteTime;
                    ++count;
                }
                Send(chunk.bytes.data() + chunk.sent, count);
                chunk.sent += count;
                outFree = last;
            }
            out.pop_front();
        }
        return kNever;
    }

    void Send(const char* data, std::size_t size) {
        while (size > 0 && pty.IsOpen()) {
            const ssize_t n = write(pty.Master(), data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return;  // nobody reads the line: the bytes are lost, as on a wire
            }
        }
    }

    // Waits up to `seconds` (forever when negative) or until Stop.
    void Sleep(double seconds) {
        pollfd fd{wake[0], POLLIN, 0};
        const int ms = seconds < 0 ? -1 : static_cast<int>(std::ceil(seconds * 1000));
        if (poll(&fd, 1, ms) > 0) DrainWake();
    }

    void HangUp() {
        hangupNow = false;
        out.clear();
        in.clear();
        {
            // A pulled adapter takes its device node with it. The link goes
            // too, so that while the line is down nobody who follows it
            // reaches a new pty that was given the old one's number.
            std::lock_guard lock(mutex);
            RemoveLink(link, device);
            pty.Close();
            ++hangups;
            lineUp = false;
            controller.LineReset(Now());
        }
        Trace("line: hung up");
        changed.notify_all();
        if (hangupDownMs < 0) {
            while (!stopping) Sleep(-1);
            return;
        }
        Sleep(hangupDownMs / 1000.0);
        if (stopping) return;
        std::string error;
        if (OpenLine(error))
            Trace("line: COM" + std::to_string(options.port) + " -> " + pty.SlavePath());
        else
            Trace("line: " + error);
        changed.notify_all();
    }

    void Run() {
        // The wire's timing is only as good as this thread's wake-ups: ask
        // the kernel not to defer its timers to batch them with others and,
        // where the process may, to run this thread as soon as it wakes, as
        // the hand's own controller would. It never spins, so it takes
        // little from anyone else.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        std::vector<char> buffer(4096);
        int host = 0;
        bool hostRead = false;  // `host` was read with the last bytes, just now
        while (!stopping) {
            double now = Now();
            paced = pace;
            if (!hostRead) host = pty.IsOpen() ? ReadLineRate(pty.Master()) : 0;
            hostRead = false;
            std::vector<Output> produced;
            double due = kNever;
            bool feeding = true;
            {
                std::lock_guard lock(mutex);
                while (!in.empty() && in.front().available <= now &&
                       controller.Backlog() < kMaxBacklog) {
                    controller.Receive(std::string_view(&in.front().byte, 1), in.front().baud,
                                       in.front().available);
                    in.pop_front();
                }
                controller.Advance(now, host);
                produced = controller.TakeOutput();
                due = controller.NextDue();
                feeding = controller.Backlog() < kMaxBacklog;
            }
            changed.notify_all();
            for (Output& o : produced)
                out.push_back(
                    OutChunk{std::move(o.bytes), o.baud, o.time, 0, false, o.hangup, o.downMs});
            const double outputDue = WriteOutput(now, host);
            if (hangupNow) {
                HangUp();
                continue;
            }
            if (now >= nextExclusiveCheck) {
                nextExclusiveCheck = now + 0.5;
                if (pty.ClearAbandonedExclusive())
                    Trace("line: cleared exclusive mode left by a program that has gone");
            }
            double next = std::min({due, outputDue, nextExclusiveCheck, now + 1.0});
            if (!in.empty() && feeding) next = std::min(next, in.front().available);
            ArmTimer(next);

            pollfd fds[3] = {{wake[0], POLLIN, 0}, {timer, POLLIN, 0}, {pty.Master(), POLLIN, 0}};
            // A host that floods the line while the hand is busy fills the
            // kernel's buffers, not ours.
            const bool listen = pty.IsOpen() && in.size() < kMaxBacklog;
            const int ready = ppoll(fds, listen ? 3 : 2, nullptr, nullptr);
            if (ready <= 0) continue;
            if (fds[0].revents & POLLIN) DrainWake();
            if (fds[1].revents & POLLIN) armedAt = kNever;  // re-arming clears it
            if (listen && (fds[2].revents & POLLIN)) {
                const ssize_t n = read(pty.Master(), buffer.data(), buffer.size());
                if (n > 0) {
                    host = ReadLineRate(pty.Master());
                    hostRead = true;
                    now = Now();
                    const double byteTime = 10.0 / (host > 0 ? host : 9600);
                    for (ssize_t i = 0; i < n; ++i) {
                        double available = now;
                        if (paced) available = inFree = std::max(now, inFree) + byteTime;
                        in.push_back(InByte{buffer[static_cast<std::size_t>(i)], host, available});
                    }
                }
            } else if (listen && (fds[2].revents & (POLLHUP | POLLERR))) {
                Sleep(0.01);  // cannot happen while the slave is held open; never spin
            }
        }
    }

    SimulatorOptions options;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Controller controller;
    Pty pty;
    std::string device;
    std::filesystem::path link;
    std::thread thread;
    std::atomic<bool> stopping{false};
    int wake[2] = {-1, -1};
    int timer = -1;           // the next moment anything falls due
    double armedAt = kNever;  // what the timer is set to; kNever once it fired
    std::atomic<bool> pace;
    bool paced = false;  // `pace` as this pass of Run took it
    unsigned hangups = 0;
    bool lineUp = false;
    double origin = MonotonicSeconds();
    std::deque<InByte> in;
    std::deque<OutChunk> out;
    double inFree = 0;
    double outFree = 0;
    bool hangupNow = false;
    double nextExclusiveCheck = 0;
    int hangupDownMs = 0;
};

Simulator::Simulator(SimulatorOptions options) : options_(std::move(options)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    std::string message;
    auto fail = [&](std::string text) {
        if (error) *error = std::move(text);
        server_.reset();
        return false;
    };
    if (server_) {
        if (error) *error = "already running";
        return false;
    }
    if (options_.port < 1 || options_.port > 9) return fail("port must be 1 to 9");
    if (!(options_.speed > 0)) return fail("speed must be above 0");
    server_ = std::make_unique<Server>(options_);
    Server& s = *server_;
    if (pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("cannot make a wake-up pipe");
    s.timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (s.timer < 0) return fail("cannot make a timer");
    s.link = options_.directory / ("COM" + std::to_string(options_.port));
    if (!s.OpenLine(message)) return fail(message);
    s.controller.trace = [&s](std::string_view text) { s.Trace(text); };
    s.controller.onLoaderData = [&s](LoaderFile file) { s.SaveLoaderData(file); };
    s.thread = std::thread([&s] { s.Run(); });
    return true;
}

void Simulator::Stop() {
    if (!server_) return;
    Server& s = *server_;
    s.stopping = true;
    s.Wake();
    if (s.thread.joinable()) s.thread.join();
    {
        std::lock_guard lock(s.mutex);
        s.controller.LineReset(s.Now());  // a loader session in progress keeps its data
        RemoveLink(s.link, s.device);
        s.pty.Close();
    }
    server_.reset();
}

bool Simulator::Running() const {
    return server_ != nullptr;
}

std::string Simulator::DevicePath() const {
    if (!server_) return {};
    std::lock_guard lock(server_->mutex);
    return server_->device;
}

std::filesystem::path Simulator::LinkPath() const {
    return options_.directory / ("COM" + std::to_string(options_.port));
}

std::filesystem::path Simulator::LoaderPath(LoaderFile file) const {
    return LoaderFilePath(options_.directory, options_.port, file);
}

void Simulator::SetPace(bool pace) {
    options_.pace = pace;
    if (server_) {
        server_->pace = pace;
        server_->Wake();
    }
}

void Simulator::SetSpeed(double speed) {
    if (server_) {
        std::lock_guard lock(server_->mutex);
        server_->controller.SetSpeed(speed, server_->Now());
        server_->Wake();
    } else if (speed > 0) {
        options_.speed = speed;
    }
}

void Simulator::InjectFault(const Fault& fault) {
    if (!server_) {
        options_.faults.push_back(fault);
        return;
    }
    std::lock_guard lock(server_->mutex);
    server_->controller.AddFault(fault);
    server_->Trace("fault: " + DescribeFault(fault));
}

void Simulator::ClearFaults() {
    if (!server_) {
        options_.faults.clear();
        return;
    }
    std::lock_guard lock(server_->mutex);
    server_->controller.ClearFaults();
}

namespace {

HandState Snapshot(const Controller& controller, double now, unsigned hangups, bool lineUp) {
    HandState state;
    const HandModel& model = controller.Model();
    const double t = controller.ModelTime(now);
    for (int m = 1; m <= kMotorCount; ++m) {
        MotorState& motor = state.motors[static_cast<std::size_t>(m - 1)];
        motor.position = model.Position(m, t);
        motor.closes = model.Closes(m);
        motor.opens = model.Opens(m);
        motor.working = model.Working(m);
        motor.stored = model.Stored(m);
    }
    state.mode = controller.CurrentMode();
    state.handBaud = controller.HandBaud();
    state.commands = controller.Commands();
    state.hangups = hangups;
    state.lineUp = lineUp;
    state.temperatureTenths =
        HandModel::kAmbientTenths + static_cast<int>(std::lround(model.Heat(t)));
    state.loopMotors = controller.LoopMotors();
    state.controlLength = controller.ControlLength();
    state.feedbackLength = controller.FeedbackLength();
    state.firmwarePackets = controller.FirmwarePackets();
    state.firmwareBetweenPackets = controller.FirmwareBetweenPackets();
    return state;
}

}  // namespace

HandState Simulator::State() const {
    if (!server_) return {};
    std::lock_guard lock(server_->mutex);
    return Snapshot(server_->controller, server_->Now(), server_->hangups, server_->lineUp);
}

int Simulator::Parameter(int motor, std::string_view name) const {
    const int index = ParameterIndex(name);
    if (index < 0 || motor < 1 || motor > kMotorCount) return 0;
    return State()
        .motors[static_cast<std::size_t>(motor - 1)]
        .working[static_cast<std::size_t>(index)];
}

std::vector<std::uint8_t> Simulator::BootLoaderBytes() const {
    if (!server_) return {};
    std::lock_guard lock(server_->mutex);
    return server_->controller.BootLoaderBytes();
}

std::vector<std::uint8_t> Simulator::EepromImage() const {
    if (!server_) return {};
    std::lock_guard lock(server_->mutex);
    return server_->controller.EepromImage();
}

std::vector<std::uint8_t> Simulator::FirmwareMemory() const {
    if (!server_) return {};
    std::lock_guard lock(server_->mutex);
    const auto& memory = server_->controller.FirmwareMemory();
    return {memory.begin(), memory.end()};
}

void Simulator::WithController(const std::function<void(Controller&)>& f) {
    if (!server_) return;
    {
        std::lock_guard lock(server_->mutex);
        f(server_->controller);
    }
    server_->Wake();
}

bool Simulator::WaitFor(const std::function<bool(const HandState&)>& done,
                        std::chrono::milliseconds limit) const {
    if (!server_) return false;
    Server& s = *server_;
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(
        lock, limit, [&] { return done(Snapshot(s.controller, s.Now(), s.hangups, s.lineUp)); });
}

}  // namespace zhandsim
