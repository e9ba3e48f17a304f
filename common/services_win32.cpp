#include "services_win32.h"

#include <new>

namespace wheel {

namespace {

void CALLBACK TimerProc(UINT /*id*/, UINT /*msg*/, DWORD_PTR user, DWORD_PTR /*dw1*/,
                        DWORD_PTR /*dw2*/) {
    const auto* thunk = reinterpret_cast<const MultimediaTimer::Thunk*>(user);
    thunk->callback(thunk->user);
}

}  // namespace

uint32_t MultimediaTimer::Start(uint32_t periodMs, uint32_t resolutionMs, TimerCallback callback,
                                void* user) {
    std::unique_ptr<Thunk> thunk(new (std::nothrow) Thunk{callback, user});
    if (!thunk) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    const UINT id =
        timeSetEvent(periodMs, resolutionMs, &TimerProc, reinterpret_cast<DWORD_PTR>(thunk.get()),
                     TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (id == 0) {
        return 0;
    }
    try {
        // A record still under this ID can only be that of a timer winmm has dropped, or the ID
        // would not have come back: the new record takes its place.
        thunks_[id] = std::move(thunk);
    } catch (...) {
        // A timer whose record is not kept would call into freed memory: it must not run.
        timeKillEvent(id);
        return 0;
    }
    return id;
}

void MultimediaTimer::Kill(uint32_t id) {
    std::unique_ptr<Thunk> thunk;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = thunks_.find(id);
        // Only a timer this object runs: an ID from an earlier kill may name another timer now.
        if (found == thunks_.end()) {
            return;
        }
        // Out of the table before winmm can hand the ID out again.
        thunk = std::move(found->second);
        thunks_.erase(found);
    }
    // Outside the lock: the synchronous kill waits for a running callback, and that callback may
    // wait for a thread that is starting a timer.
    timeKillEvent(id);
}

bool NamedEventLock::Create(const char* name) {
    Close();
    event_ = CreateEventA(nullptr, FALSE, TRUE, name);
    return event_ != nullptr;
}

void NamedEventLock::Close() {
    if (event_ != nullptr) {
        CloseHandle(event_);
        event_ = nullptr;
    }
}

bool NamedEventLock::Wait(uint32_t milliseconds) {
    const DWORD result = WaitForSingleObject(event_, milliseconds);
    if (result != WAIT_OBJECT_0) {
        SetLastError(result);
        return false;
    }
    return true;
}

void NamedEventLock::Signal() {
    SetEvent(event_);
}

}  // namespace wheel
