#include "hosted_services.h"

#include <chrono>

namespace hosted {

bool AutoResetEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                      [this] { return signalled_; })) {
        return false;
    }
    signalled_ = false;
    return true;
}

void AutoResetEvent::Signal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

ThreadTimer::~ThreadTimer() {
    std::vector<uint32_t> ids;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& entry : timers_) {
            ids.push_back(entry.first);
        }
    }
    for (uint32_t id : ids) {
        Kill(id);
    }
}

uint32_t ThreadTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/,
                            wheel::TimerCallback callback, void* user) {
    auto timer = std::make_unique<Timer>();
    Timer* raw = timer.get();
    raw->thread = std::thread([raw, periodMs, callback, user] {
        std::unique_lock<std::mutex> lock(raw->mutex);
        while (!raw->stop.load()) {
            if (raw->cv.wait_for(lock, std::chrono::milliseconds(periodMs),
                                 [raw] { return raw->stop.load(); })) {
                break;
            }
            lock.unlock();
            callback(user);
            lock.lock();
        }
    });
    std::lock_guard<std::mutex> guard(mutex_);
    const uint32_t id = nextId_++;
    timers_[id] = std::move(timer);
    return id;
}

void ThreadTimer::Kill(uint32_t id) {
    std::unique_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = timers_.find(id);
        if (it == timers_.end()) {
            return;
        }
        timer = std::move(it->second);
        timers_.erase(it);
    }
    {
        std::lock_guard<std::mutex> lock(timer->mutex);
        timer->stop.store(true);
    }
    timer->cv.notify_all();
    if (timer->thread.get_id() == std::this_thread::get_id()) {
        timer->thread.detach();
        // A callback that kills its own timer cannot wait for itself; its state must outlive it.
        timer.release();
    } else {
        timer->thread.join();
    }
}

uint32_t ManualTimer::Start(uint32_t periodMs, uint32_t resolutionMs, wheel::TimerCallback callback,
                            void* user) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (failStarts_) {
        return 0;
    }
    const uint32_t id = nextId_++;
    live_[id] = {callback, user};
    starts_.push_back({id, periodMs, resolutionMs});
    return id;
}

void ManualTimer::Kill(uint32_t id) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        live_.erase(id);
        kills_.push_back(id);
    }
    if (onKill_) {
        onKill_(id);
    }
}

void ManualTimer::Fire() {
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& entry : live_) {
            entries.push_back(entry.second);
        }
    }
    for (const Entry& entry : entries) {
        entry.callback(entry.user);
    }
}

size_t ManualTimer::Live() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.size();
}

std::vector<ManualTimer::Started> ManualTimer::Starts() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return starts_;
}

std::vector<uint32_t> ManualTimer::Kills() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return kills_;
}

bool ManualWork::Run(wheel::WorkFunction work, void* user) {
    if (failRuns_.load()) {
        return false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    queued_.push_back({work, user});
    return true;
}

size_t ManualWork::RunPending() {
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        entries.swap(queued_);
    }
    for (const Entry& entry : entries) {
        entry.work(entry.user);
    }
    return entries.size();
}

size_t ManualWork::Pending() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return queued_.size();
}

}  // namespace hosted
