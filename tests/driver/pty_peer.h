// A scripted stand-in for the hand on a real pseudo-terminal. The host side
// (the slave) is linked as COM1 in a private temporary directory; the peer
// thread owns the master, records every byte the host writes and plays a
// script of steps.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyPeer {
  public:
    struct Step {
        int expect = 0;       // bytes that trigger the step; 0: through the next '\r'
        bool echo = true;     // echo the trigger without its '\r'
        std::string send;     // then send these bytes
        int delayMs = 0;      // pause before `send`
        int waitBaud = 0;     // before `send`, wait up to 1 s for the host to run at this rate
        bool hangUp = false;  // close the line after `send`
    };
    // What the peer saw when it played a step.
    struct Played {
        std::string trigger;
        int baudAtTrigger = 0;
        int baudAtSend = 0;
    };

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& Dir() const { return dir_; }
    const std::string& SlavePath() const { return slave_; }

    // Appends steps to the script.
    void Play(std::vector<Step> steps);
    // A plain answer to the next text command: its echo, `text`, the prompt.
    void Answer(const std::string& text);
    // Answers every text command that no step is left for with `text` and
    // the prompt (off: stay silent).
    void AnswerAll(const std::string& text);
    void StopAnswering();
    // Sends bytes that no command asked for.
    void Send(const std::string& bytes);
    // Closes the line now, as an adapter pulled out: the host sees a hang-up
    // and the COM1 link points nowhere.
    void HangUp();
    // Offers a new line under the same COM1 link, as an adapter plugged back
    // in. The script and the bytes received so far carry on.
    void Relink();

    // All bytes the host has written, after `settleMs` of quiet time.
    std::string Received(int settleMs = 0);
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

  private:
    void OpenLine();
    void StopPeer();
    void Run();
    bool TakeTrigger(const Step& step, std::string& trigger);
    void WriteAll(const std::string& bytes);
    void PlayStep(const Step& step, const std::string& trigger);

    std::atomic<int> master_{-1};
    int stopFd_ = -1;
    std::string dir_;
    std::string link_;
    std::string slave_;
    std::thread thread_;
    std::atomic<bool> hungUp_{false};

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string received_;
    std::string pending_;  // received, not yet consumed by a step
    std::deque<Step> script_;
    std::vector<Played> played_;
    bool inFlight_ = false;
    bool answerAll_ = false;
    std::string answerText_;
};

// Moves into a directory for the life of the object.
class ScopedChdir {
  public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();

  private:
    std::string previous_;
};

// The rates of a tty as the kernel reports them (termios2).
int TtyBaud(int fd);
int TtyInputBaud(int fd);
