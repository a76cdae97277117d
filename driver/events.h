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
        // Notified under the lock: a waiter that sees the flag may destroy the
        // event (the hand's destructor does) as soon as the lock is free.
        std::lock_guard lock(mutex_);
        set_ = true;
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
        // Notified under the lock: a waiter that sees the flag may destroy the
        // event (the hand's destructor does) as soon as the lock is free.
        std::lock_guard lock(mutex_);
        set_ = true;
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

}  // namespace zhand::detail
