#include "services_win32.h"

#include <sddl.h>

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

namespace {

struct WorkStart {
    WorkFunction work;
    void* user;
    HMODULE module;
};

DWORD WINAPI WorkThread(void* parameter) {
    const WorkStart start = *static_cast<WorkStart*>(parameter);
    delete static_cast<WorkStart*>(parameter);
    start.work(start.user);
    if (start.module != nullptr) {
        FreeLibraryAndExitThread(start.module, 0);
    }
    return 0;
}

}  // namespace

bool WorkerThreads::Run(WorkFunction work, void* user) {
    auto* start = new (std::nothrow) WorkStart{work, user, nullptr};
    if (start == nullptr) {
        return false;
    }
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<const char*>(&WorkThread), &start->module);
    const HMODULE module = start->module;
    HANDLE thread = CreateThread(nullptr, 0, &WorkThread, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        if (module != nullptr) {
            FreeLibrary(module);
        }
        return false;
    }
    CloseHandle(thread);
    return true;
}

HANDLE CreateUnderFirstSecurity(std::span<const char* const> descriptors,
                                CreateSharedFunction create, const void* context) {
    for (const char* sddl : descriptors) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            continue;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        HANDLE object = create(&attributes, context);
        const DWORD error = GetLastError();
        LocalFree(descriptor);
        SetLastError(error);
        if (object != nullptr) {
            return object;
        }
    }
    return nullptr;
}

namespace {

// The store event is shared by every process of the session that loads the driver: a game run
// as administrator, the control panel and a second game alike. Under the creator's default
// security an elevated creator would lock every other process out, so it is made with rights of
// its own: every authenticated user's processes may wait on it and signal it, elevated or not,
// and a low label keeps integrity levels out of the way. Authenticated users rather than
// interactive ones: a game started by a launcher's service or under a batch logon has no
// interactive token, and the name lives in the session's own namespace, so no other session
// reaches it. Each descriptor is tried at creation: Windows without integrity levels refuses the
// label, and a creator that may not set it (an untrusted process) fails the creation itself;
// the same rights then go without the label, and last the creator's defaults.
const char* const kStoreEventSecurity[] = {
    "D:(A;;0x1F0003;;;SY)(A;;0x1F0003;;;BA)(A;;0x100002;;;AU)S:(ML;;NW;;;LW)",
    "D:(A;;0x1F0003;;;SY)(A;;0x1F0003;;;BA)(A;;0x100002;;;AU)",
};

HANDLE CreateSharedEvent(const char* name) {
    HANDLE event =
        CreateUnderFirstSecurity(kStoreEventSecurity, [name](SECURITY_ATTRIBUTES* attributes) {
            return CreateEventA(attributes, FALSE, TRUE, name);
        });
    return event != nullptr ? event : CreateEventA(nullptr, FALSE, TRUE, name);
}

}  // namespace

bool NamedEventLock::Create(const char* name) {
    Close();
    event_ = CreateSharedEvent(name);
    // It exists already under rights that refuse this process full access (this driver's own,
    // made by another program, grant others waiting and signalling only): those two rights are
    // all the lock needs. An event made under a creator's default rights (an older driver in an
    // elevated process) grants a process that is not elevated nothing, and stays shut.
    if (event_ == nullptr && name != nullptr) {
        event_ = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
    }
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

namespace {

// NtQueryObject's ObjectBasicInformation, which the platform headers do not declare.
struct ObjectBasicInformation {
    ULONG attributes;
    ACCESS_MASK grantedAccess;
    ULONG handleCount;
    ULONG pointerCount;
    ULONG reserved[10];
};
using QueryObjectFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);

}  // namespace

bool HandleCount(HANDLE object, ULONG* count) {
    const auto query = reinterpret_cast<QueryObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    ObjectBasicInformation info = {};
    if (query == nullptr || query(object, 0, &info, sizeof info, nullptr) < 0) {
        return false;
    }
    *count = info.handleCount;
    return true;
}

}  // namespace wheel
