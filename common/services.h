// The platform services the portable code reaches through small interfaces, so that the DLLs
// supply the Win32 versions and tests and tools supply their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace wheel {

// GetTickCount: milliseconds, wrapping at 2^32.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;
};

using TimerCallback = void (*)(void* user);

// A periodic timer (timeSetEvent). Start returns the timer's ID, 0 on failure. When Kill
// returns, the callback is not running and will not run again for that ID.
class PeriodicTimer {
  public:
    virtual ~PeriodicTimer() = default;
    virtual uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, TimerCallback callback,
                           void* user) = 0;
    virtual void Kill(uint32_t id) = 0;
};

// The store lock: an auto-reset event, initially signalled. Wait returns false when the time
// ran out; callers go on regardless and signal afterwards.
class StoreLock {
  public:
    virtual ~StoreLock() = default;
    virtual bool Wait(uint32_t milliseconds) = 0;
    virtual void Signal() = 0;
};

// The link to the wheel's HID interface.
class DeviceLink {
  public:
    virtual ~DeviceLink() = default;
    // The interface path of the wheel DirectInput knows as `joystickId`; the empty string when
    // there is none or the search fails. Never writes more than `size` bytes; a path that does
    // not fit counts as no match.
    virtual void FindDevicePath(uint32_t joystickId, char* path, size_t size) = 0;
    // The interface path of a present device with the wheel's vendor and product IDs, whatever
    // joystick ID it has; the empty string when there is none. Links that cannot tell leave it
    // empty.
    virtual void FindWheelPath(char* path, size_t size) {
        if (path != nullptr && size > 0) {
            path[0] = '\0';
        }
    }
    // Opens a path; null or INVALID_HANDLE_VALUE when it cannot be opened.
    virtual HANDLE Open(const char* path) = 0;
    // The report ID of the first output value capability, 0 when none can be read.
    virtual uint8_t ReportId(HANDLE device) = 0;
    // One feature report; false when it was not delivered.
    virtual bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) = 0;
    virtual void Close(HANDLE device) = 0;
};

// Runs slow work (a device search through DirectInput and SetupAPI) on a thread of its own, so
// that the multimedia timer's thread never waits on it. Run returns false when the work could
// not be started, and then it never runs; otherwise it runs exactly once, later, and nobody
// waits for it: what it needs must stay alive through the work itself.
using WorkFunction = void (*)(void* user);
class BackgroundWork {
  public:
    virtual ~BackgroundWork() = default;
    virtual bool Run(WorkFunction work, void* user) = 0;
};

// Told of every motor report the driver has delivered to a wheel, with the wheel's interface
// path and the time, so that other programs can see who is driving the wheel now.
class ReportSink {
  public:
    virtual ~ReportSink() = default;
    virtual void Sent(const char* devicePath, uint32_t tick) = 0;
};

// The module-wide count of live objects, factories and server locks (DllCanUnloadNow).
class ModuleCount {
  public:
    void Add() { count_.fetch_add(1); }
    void Drop() { count_.fetch_sub(1); }
    int32_t Value() const { return count_.load(); }

  private:
    std::atomic<int32_t> count_{0};
};

inline bool IsOpenHandle(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

}  // namespace wheel
