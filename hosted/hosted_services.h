// Stand-ins for the platform services: a clock the test moves, an in-process auto-reset event,
// a periodic timer on a thread, and a timer whose ticks the test fires.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/services.h"

namespace hosted {

class ManualClock final : public wheel::Clock {
  public:
    explicit ManualClock(uint32_t start = 0) : now_(start) {}
    uint32_t TickCount() override { return now_.load(); }
    void Set(uint32_t ms) { now_.store(ms); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }

  private:
    std::atomic<uint32_t> now_;
};

class AutoResetEvent final : public wheel::StoreLock {
  public:
    bool Wait(uint32_t milliseconds) override;
    void Signal() override;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = true;
};

// Each started timer runs its callback every period on a thread of its own. Kill joins it.
class ThreadTimer final : public wheel::PeriodicTimer {
  public:
    ~ThreadTimer() override;
    uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, wheel::TimerCallback callback,
                   void* user) override;
    void Kill(uint32_t id) override;

  private:
    struct Timer {
        std::thread thread;
        std::atomic<bool> stop{false};
        std::mutex mutex;
        std::condition_variable cv;
    };
    std::mutex mutex_;
    std::map<uint32_t, std::unique_ptr<Timer>> timers_;
    uint32_t nextId_ = 1;
};

// A timer the test drives: Fire runs the callbacks of every live timer once, on the calling
// thread. It records starts and kills, and can be told to refuse a start.
class ManualTimer final : public wheel::PeriodicTimer {
  public:
    struct Started {
        uint32_t id;
        uint32_t periodMs;
        uint32_t resolutionMs;
    };

    uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, wheel::TimerCallback callback,
                   void* user) override;
    void Kill(uint32_t id) override;
    void Fire();

    void FailStarts(bool fail) { failStarts_ = fail; }
    size_t Live() const;
    std::vector<Started> Starts() const;
    std::vector<uint32_t> Kills() const;
    // Called on every Kill, for tests that order events.
    void OnKill(std::function<void(uint32_t)> hook) { onKill_ = std::move(hook); }

  private:
    struct Entry {
        wheel::TimerCallback callback;
        void* user;
    };
    mutable std::mutex mutex_;
    std::map<uint32_t, Entry> live_;
    std::vector<Started> starts_;
    std::vector<uint32_t> kills_;
    uint32_t nextId_ = 100;
    bool failStarts_ = false;
    std::function<void(uint32_t)> onKill_;
};

// Background work the test runs: Run queues it, RunPending runs what is queued on the calling
// thread. What is still queued when it is destroyed runs then, so nothing queued is lost.
class ManualWork final : public wheel::BackgroundWork {
  public:
    ~ManualWork() override { RunPending(); }
    bool Run(wheel::WorkFunction work, void* user) override;
    // Runs the queued work; how many ran.
    size_t RunPending();
    size_t Pending() const;
    void FailRuns(bool fail) { failRuns_ = fail; }

  private:
    struct Entry {
        wheel::WorkFunction work;
        void* user;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> queued_;
    std::atomic<bool> failRuns_{false};
};

}  // namespace hosted
