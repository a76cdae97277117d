// The two signals between a caller and the I/O thread: a manual-reset event
// (a level that stays set until cleared) and an auto-reset event (released
// to one waiter, then clear again). Setting never gets lost: a Set before the
// Wait is seen by the Wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zhand::detail {

class ManualResetEvent {
  public:
    void Set() {
        // Woken after the unlock, so that the waiter does not run only to
        // wait for the lock. The waiter may be done with the event before
        // notify returns: whoever sets an event that may be destroyed
        // meanwhile holds it (the hand's I/O thread holds its hand-off).
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
        changed_.notify_all();
    }
    bool IsSet() {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // Blocks until the event is set.
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

class AutoResetEvent {
  public:
    void Set() {
        // Woken after the unlock, as ManualResetEvent::Set.
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_one();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    // Waits until set, then clears it: true. False after ms (-1 = no limit).
    bool Wait(int ms) {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return set_; };
        if (ms < 0) {
            changed_.wait(lock, ready);
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
            return false;
        }
        set_ = false;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// The pair of signals between a hand's caller and its I/O thread. Shared:
// the I/O thread holds it too, so that a Set of the thread's may finish
// after the hand is gone (a thread left behind in a user callback).
struct HandOff {
    ManualResetEvent request;  // set while a request is handed over
    AutoResetEvent done;       // a request has completed
};

}  // namespace zhand::detail
