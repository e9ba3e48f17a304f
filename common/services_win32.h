// The Win32 versions of the platform services.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "common/services.h"

namespace wheel {

class Win32Clock final : public Clock {
  public:
    uint32_t TickCount() override { return GetTickCount(); }
};

// timeSetEvent with TIME_KILL_SYNCHRONOUS, so that timeKillEvent returns only when the
// callback is not running and cannot start again. winmm reuses the IDs of killed timers: a
// record leaves the table before its timer is killed, Kill acts only on IDs this object still
// runs, and a timer whose record cannot be kept is not left running.
class MultimediaTimer final : public PeriodicTimer {
  public:
    uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, TimerCallback callback,
                   void* user) override;
    void Kill(uint32_t id) override;

    struct Thunk {
        TimerCallback callback;
        void* user;
    };

  private:
    std::mutex mutex_;
    // Each running timer's callback and user value, freed when the timer is killed.
    std::map<uint32_t, std::unique_ptr<Thunk>> thunks_;
};

// Each piece of work on a thread of its own, which holds a reference to the module of this code
// until the work has ended: a driver released meanwhile may let the module unload otherwise.
class WorkerThreads final : public BackgroundWork {
  public:
    bool Run(WorkFunction work, void* user) override;
};

// The store lock as a named auto-reset event shared by every process that loads the library.
class NamedEventLock final : public StoreLock {
  public:
    NamedEventLock() = default;
    NamedEventLock(const NamedEventLock&) = delete;
    NamedEventLock& operator=(const NamedEventLock&) = delete;
    ~NamedEventLock() { Close(); }

    // The named auto-reset event, initially signalled: created with rights that let every
    // process of the session's users wait on it and signal it, or else opened for just those
    // two rights; false when neither works.
    bool Create(const char* name);
    void Close();
    HANDLE handle() const { return event_; }

    bool Wait(uint32_t milliseconds) override;
    void Signal() override;

  private:
    HANDLE event_ = nullptr;
};

// Makes a named object shared across processes under the first of `descriptors` (SDDL strings)
// with which `create` succeeds. Each is tried at creation, not just converted: Windows without
// integrity levels refuses a label, and a creator that may not set one (an untrusted process)
// fails the creation itself. Null when none made it, for the caller's own fallback. The last
// error is that of the last creation tried (ERROR_ALREADY_EXISTS when the object existed).
using CreateSharedFunction = HANDLE (*)(SECURITY_ATTRIBUTES* attributes, const void* context);
HANDLE CreateUnderFirstSecurity(std::span<const char* const> descriptors,
                                CreateSharedFunction create, const void* context);

template <typename Create>
HANDLE CreateUnderFirstSecurity(std::span<const char* const> descriptors, const Create& create) {
    return CreateUnderFirstSecurity(
        descriptors,
        [](SECURITY_ATTRIBUTES* attributes, const void* context) -> HANDLE {
            return (*static_cast<const Create*>(context))(attributes);
        },
        &create);
}

// How many handles to a kernel object are open, in all processes (the store event's tells
// whether another program has the driver loaded); false when it cannot be asked.
bool HandleCount(HANDLE object, ULONG* count);

}  // namespace wheel
