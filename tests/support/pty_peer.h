// The hand's end of a real pseudo-terminal, scripted, for the tests, the
// benchmarks and the fuzz targets. The host's end is linked as COM1 in a
// private temporary directory. The peer's thread owns the master: it records
// every byte the host writes, with the rate the host had set on the line when
// the byte arrived, and plays what it is told to:
//   - a script of steps, each waiting for its trigger (a count of bytes or a
//     command through its '\r') and then echoing, pausing, sending (once or
//     as a flood), waiting for a rate and hanging up;
//   - for whatever no step is left for, a responder: a plain answer to every
//     command, an answer per command, or any byte protocol;
//   - silence, when neither has anything to say.
// The line itself can be hung up and plugged back in at any time.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class PtyPeer {
  public:
    struct Options {
        // Holds the host's end open, raw, from the start: the line does not
        // hang up while the host has its end closed, and nothing the peer
        // sends is echoed back by the line discipline before the host has
        // set its own mode. Off, the host's end stays as a new pty has it.
        bool holdHostEnd = false;
    };

    struct Step {
        int expect = 0;       // bytes that trigger the step; 0: through the next '\r'
        bool echo = true;     // echo the trigger without its '\r'
        std::string send;     // then send these bytes
        int delayMs = 0;      // pause before `send`
        int waitBaud = 0;     // before `send`, wait up to 1 s for the host to run at this rate
        int times = 1;        // send `send` this many times over: a flood
        bool hangUp = false;  // close the line after `send`
    };
    // What the peer saw when it played a step.
    struct Played {
        std::string trigger;
        int baudAtTrigger = 0;
        int baudAtSend = 0;
    };
    // Bytes the host wrote in a row at one rate.
    struct Arrival {
        std::string bytes;
        int baud = 0;
        bool operator==(const Arrival&) const = default;
        friend std::ostream& operator<<(std::ostream& os, const Arrival& a) {
            return os << a.bytes.size() << " bytes at " << a.baud << " baud";
        }
    };

    // Takes what it answers from the bytes the host wrote that nothing has
    // taken yet: returns how many it takes (0: it waits for more) and appends
    // to `reply` what goes back. Runs on the peer's thread.
    using Responder = std::function<std::size_t(std::string_view input, std::string& reply)>;
    // The answer to a text command (given without its '\r'); nullopt: silence.
    using CommandAnswer = std::function<std::optional<std::string>(const std::string& command)>;

    PtyPeer() : PtyPeer(Options{}) {}
    explicit PtyPeer(Options options);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The private directory that holds the COM1 link.
    const std::string& Dir() const { return dir_; }
    // The host's end of the line (the link's target).
    const std::string& SlavePath() const { return slave_; }

    // Appends steps to the script.
    void Play(std::vector<Step> steps);
    // A step with a plain answer to the next text command: its echo, `text`,
    // the prompt.
    void Answer(const std::string& text);
    // Answers every text command that no step is left for with its echo,
    // `text` and the prompt.
    void AnswerAll(const std::string& text);
    // Answers every text command that no step is left for with its echo,
    // "\r\n", what `answer` gives and "\r\n=> "; nothing at all where it
    // gives nullopt.
    void AnswerCommands(CommandAnswer answer);
    // Hands what no step is left for to `responder`.
    void RespondWith(Responder responder);
    // No more answers: what no step is left for is let go unanswered.
    void StopAnswering();
    // Ends the script once a step being played has ended: drops the steps
    // not played yet and what the host wrote that nothing has taken, and
    // returns the steps played since the last call, forgetting them.
    std::vector<Played> ClearScript();

    // Sends bytes that no command asked for.
    void Send(const std::string& bytes);
    // Closes the line now, as an adapter pulled out: the host sees a hang-up
    // and the COM1 link points nowhere.
    void HangUp();
    // Offers a new line under the same COM1 link, as an adapter plugged back
    // in. The script and the bytes received so far carry on.
    void Relink();
    // Throws away what the peer sent that the host has not read yet (needs
    // Options::holdHostEnd; false without it).
    bool DiscardUnreadByHost();

    // All bytes the host has written, after `settleMs` of quiet time.
    std::string Received(int settleMs = 0);
    // The same bytes in runs of one rate.
    std::vector<Arrival> Arrivals(int settleMs = 0);
    // The text commands the host has written since the last call, each
    // without its '\r'; an unfinished one waits for the next call.
    std::vector<std::string> TakeCommands();
    // Forgets the bytes received and the steps played.
    void ClearReceived();
    // The steps played so far.
    std::vector<Played> PlayedSteps();
    // Blocks until every step has been played or `ms` passed; true when done.
    bool WaitScriptDone(int ms);

    // The rate the host set on its end of the line (output and input).
    int HostBaud() const;
    int HostInputBaud() const;
    // The master's descriptor: termios calls on it reach the host's settings.
    int MasterFd() const { return master_; }
    // CPU time the peer's thread has used, in microseconds.
    double ThreadCpuMicros() const;

  private:
    void OpenLine();
    void CloseLine();
    void StartThread();
    void StopThread();
    void Run();
    void ReadAvailable();
    bool NextAction(Step& step, std::string& trigger, std::string& reply);
    bool TakeTrigger(const Step& step, std::string& trigger);
    void WriteAll(const std::string& bytes);
    void PlayStep(const Step& step, const std::string& trigger);

    const Options options_;
    std::atomic<int> master_{-1};
    int hostEnd_ = -1;  // held with Options::holdHostEnd
    int stopFd_ = -1;
    std::string dir_;
    std::string link_;
    std::string slave_;
    std::thread thread_;
    clockid_t threadClock_{};
    std::atomic<bool> hungUp_{false};

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string received_;
    struct RateRun {
        std::size_t from;
        int baud;
    };
    std::vector<RateRun> rates_;  // where in received_ each rate begins
    std::size_t commandsFrom_ = 0;
    std::string pending_;  // received, not yet taken by a step or the responder
    std::deque<Step> script_;
    std::vector<Played> played_;
    bool inFlight_ = false;
    Responder responder_;
};

// Moves into a directory for the life of the object.
class ScopedChdir {
  public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

  private:
    std::string previous_;
};

// The rates of a tty as the kernel reports them (termios2); -1 when it cannot.
int TtyBaud(int fd);
int TtyInputBaud(int fd);
