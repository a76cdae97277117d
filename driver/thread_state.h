// What the I/O thread shares with the destructor beyond the object's life:
// a thread left behind in a user callback finds here that the object is gone.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace zhand::detail {

struct ThreadState {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;        // the thread touches the object no more
    bool inCallback = false;   // the thread runs `callback` (marked before the completion)
    std::thread::id ioThread;  // set by the thread when it starts
    pid_t tid = 0;             // the kernel's id of the thread, set with ioThread
    bool abandoned = false;    // the object was destroyed meanwhile
};

}  // namespace zhand::detail
