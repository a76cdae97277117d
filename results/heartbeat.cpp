#include "heartbeat.h"

#include <pthread.h>

#include "journal.h"
#include "run_ids.h"

namespace results {

Heartbeat::Heartbeat(Journal& journal, std::chrono::milliseconds every)
    : journal_(journal), every_(every) {
    thread_ = std::thread([this] { Run(); });
}

Heartbeat::~Heartbeat() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Heartbeat::Run() {
    pthread_setname_np(pthread_self(), "zhand-beat");
    std::unique_lock lock(mutex_);
    while (!stop_) {
        lock.unlock();
        const std::string run = journal_.OpenRun();
        journal_.Put(StationBeat{"", NowIso(), run.empty() ? kIdle : kTesting, run});
        lock.lock();
        wake_.wait_for(lock, every_, [&] { return stop_; });
    }
}

}  // namespace results
