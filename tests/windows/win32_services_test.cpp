// The Win32 services the DLL uses, on Wine's real kernel objects, timer and registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/device_link_win32.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"
#include "win_test_util.h"

namespace {

TEST(Win32Services, NamedEventIsAnAutoResetLockWithABoundedWait) {
    wheel::NamedEventLock lock;
    ASSERT_TRUE(lock.Create("WheelTestsStoreEvent"));
    EXPECT_TRUE(lock.Wait(100)) << "created signalled";
    const DWORD before = GetTickCount();
    EXPECT_FALSE(lock.Wait(100)) << "auto reset: a second wait must run out";
    EXPECT_GE(GetTickCount() - before, 50u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WAIT_TIMEOUT));
    lock.Signal();
    // A second handle to the same name shares the state.
    wheel::NamedEventLock other;
    ASSERT_TRUE(other.Create("WheelTestsStoreEvent"));
    EXPECT_TRUE(other.Wait(0));
    EXPECT_FALSE(lock.Wait(0));
}

struct TickCounter {
    std::atomic<int> ticks{0};
    static void Tick(void* user) { static_cast<TickCounter*>(user)->ticks.fetch_add(1); }
};

TEST(Win32Services, MultimediaTimerTicksUntilKilledAndNeverAfter) {
    wheel::MultimediaTimer timer;
    TickCounter counter;
    const uint32_t id = timer.Start(10, 100, &TickCounter::Tick, &counter);
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 200 && counter.ticks.load() < 3; ++i) {
        Sleep(10);
    }
    EXPECT_GE(counter.ticks.load(), 3);
    timer.Kill(id);
    const int atKill = counter.ticks.load();
    Sleep(60);
    EXPECT_EQ(counter.ticks.load(), atKill);
}

// Waits up to two seconds for `done`.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) {
        Sleep(10);
    }
    return done();
}

TEST(Win32Services, MultimediaTimerKillsOnlyTheTimersItStillRuns) {
    // winmm hands the IDs of killed timers out again: an ID this object killed before, or one
    // another object started, may name someone else's timer, which a kill must not stop.
    wheel::MultimediaTimer first;
    wheel::MultimediaTimer second;
    TickCounter mine;
    TickCounter theirs;
    const uint32_t killed = first.Start(10, 100, &TickCounter::Tick, &mine);
    ASSERT_NE(killed, 0u);
    first.Kill(killed);
    const uint32_t other = second.Start(10, 100, &TickCounter::Tick, &theirs);
    ASSERT_NE(other, 0u);
    first.Kill(other);
    first.Kill(killed);
    const int before = theirs.ticks.load();
    EXPECT_TRUE(WaitFor([&] { return theirs.ticks.load() >= before + 3; }))
        << "a kill of a timer this object does not run stopped it";
    second.Kill(other);
    const int atKill = theirs.ticks.load();
    Sleep(60);
    EXPECT_EQ(theirs.ticks.load(), atKill);
}

// A callback that needs a lock the test holds, as the driver's tick needs the driver's lock while
// DeviceID holds it to start the timer.
struct LockedTick {
    std::mutex lock;
    std::atomic<bool> entered{false};
    static void Tick(void* user) {
        auto* self = static_cast<LockedTick*>(user);
        self->entered.store(true);
        std::lock_guard<std::mutex> guard(self->lock);
    }
};

TEST(Win32Services, MultimediaTimerStartsWhileAKillWaitsForItsCallback) {
    wheel::MultimediaTimer timer;
    LockedTick blocked;
    std::unique_lock<std::mutex> held(blocked.lock);
    const uint32_t id = timer.Start(5, 100, &LockedTick::Tick, &blocked);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor([&] { return blocked.entered.load(); }));

    std::atomic<bool> killed{false};
    std::thread killer([&] {
        timer.Kill(id);
        killed.store(true);
    });
    Sleep(50);
    TickCounter counter;
    std::atomic<uint32_t> next{0};
    std::atomic<bool> started{false};
    std::thread starter([&] {
        next.store(timer.Start(10, 100, &TickCounter::Tick, &counter));
        started.store(true);
    });
    const bool startedWhileHeld = WaitFor([&] { return started.load(); });
    const bool killedWhileRunning = killed.load();
    held.unlock();
    starter.join();
    killer.join();
    EXPECT_TRUE(startedWhileHeld) << "Start waited for a kill that waits for the callback";
    EXPECT_FALSE(killedWhileRunning) << "Kill returned while its callback still ran";
    ASSERT_NE(next.load(), 0u);
    EXPECT_TRUE(WaitFor([&] { return counter.ticks.load() >= 3; }));
    timer.Kill(next.load());
}

// The driver on the real named store event, with the wheel and the timer of the test.
struct StoreEventRig {
    hosted::MemoryRegistry registry;
    hosted::ManualClock clock{1000};
    hosted::ManualTimer timer;
    hosted::VirtualWheel wheel{clock};
    wheel::NamedEventLock event;
    wheel::ModuleCount count;
    dravik::EffectDriver* driver = nullptr;

    bool Create() {
        if (install::WriteWheelData(registry) != ERROR_SUCCESS ||
            !event.Create(wheel::VidPidName().c_str())) {
            return false;
        }
        wheel.Attach(0);
        dravik::DriverServices services;
        services.registry = &registry;
        services.clock = &clock;
        services.timer = &timer;
        services.storeLock = &event;
        services.link = &wheel;
        services.moduleCount = &count;
        services.osClass = [] { return wheel::OsWinNT6; };
        driver = dravik::EffectDriver::Create(services);
        return driver != nullptr && driver->InitDriver() == S_OK &&
               driver->DeviceID(0x0700, 0, 1, 0, nullptr) == S_OK;
    }
    ~StoreEventRig() {
        if (driver != nullptr) {
            driver->Release();
        }
    }
};

TEST(Win32Services, StoreEventHeldElsewhereHoldsTheDriverUpForItsTimeOutOnly) {
    StoreEventRig rig;
    ASSERT_TRUE(rig.Create());
    // Another holder of the event, as a second process that loaded the driver would be.
    HANDLE holder = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, "VID_2D71&PID_5A08");
    ASSERT_NE(holder, nullptr);

    LONG magnitude = 10000;
    DIEFFECT effect = {};
    effect.dwSize = sizeof effect;
    effect.dwDuration = INFINITE;
    effect.dwGain = 10000;
    effect.cbTypeSpecificParams = sizeof magnitude;
    effect.lpvTypeSpecificParams = &magnitude;
    DWORD handle = 0;
    struct Row {
        const char* what;
        std::function<HRESULT()> run;
    };
    const Row rows[] = {
        {"a new download", [&] { return rig.driver->DownloadEffect(0, 0, &handle, &effect, 0); }},
        {"the tick",
         [&] {
             const size_t before = rig.wheel.Reports().size();
             rig.clock.Advance(25);
             rig.timer.Fire();
             return rig.wheel.Reports().size() == before + 1 ? S_OK : E_FAIL;
         }},
        {"an update that starts the effect",
         [&] {
             return rig.driver->DownloadEffect(0, 0, &handle, &effect, DIEP_GAIN | DIEP_START);
         }},
        {"a destroy", [&] { return rig.driver->DestroyEffect(0, 1); }},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(WaitForSingleObject(holder, 1000), WAIT_OBJECT_0) << row.what;
        const DWORD start = GetTickCount();
        const HRESULT result = row.run();
        const DWORD waited = GetTickCount() - start;
        EXPECT_EQ(result, S_OK) << row.what << " goes on without the event";
        EXPECT_GE(waited, 80u) << row.what << " did not wait for the event";
        EXPECT_LT(waited, 1000u) << row.what << " waited past its time-out";
        EXPECT_EQ(WaitForSingleObject(holder, 0), WAIT_OBJECT_0)
            << row.what << " left the event unsignalled";
        SetEvent(holder);
    }
    EXPECT_EQ(handle, 1u);
    CloseHandle(holder);
}

// Each descriptor is tried at creation: the first that both converts and creates wins.
TEST(Win32Services, SharedObjectIsMadeUnderTheFirstDescriptorThatCreatesIt) {
    const char* const labelled = "D:(A;;0x1F0003;;;SY)(A;;0x100002;;;AU)S:(ML;;NW;;;LW)";
    const char* const plain = "D:(A;;0x1F0003;;;SY)(A;;0x100002;;;AU)";
    const char* const broken = "D:(A;;nonsense)";
    const struct {
        const char* what;
        std::vector<const char*> descriptors;
        int refused;  // creations refused (as an untrusted creator's labelled one is)
        int tries;
        bool made;
    } cases[] = {
        {"the first creates", {labelled, plain}, 0, 1, true},
        {"a refused creation goes on to the next", {labelled, plain}, 1, 2, true},
        {"one that does not convert is skipped", {broken, plain}, 0, 1, true},
        {"none creates", {labelled, broken, plain}, 2, 2, false},
    };
    for (const auto& c : cases) {
        int tries = 0;
        HANDLE made = wheel::CreateUnderFirstSecurity(
            c.descriptors, [&](SECURITY_ATTRIBUTES* attributes) -> HANDLE {
                return tries++ < c.refused ? nullptr
                                           : CreateEventA(attributes, FALSE, FALSE, nullptr);
            });
        EXPECT_EQ(tries, c.tries) << c.what;
        EXPECT_EQ(made != nullptr, c.made) << c.what;
        if (made != nullptr) {
            CloseHandle(made);
        }
    }
}

// Counts starts, forwarding to the real timer.
class CountingTimer final : public wheel::PeriodicTimer {
  public:
    uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, wheel::TimerCallback callback,
                   void* user) override {
        ++starts;
        return real.Start(periodMs, resolutionMs, callback, user);
    }
    void Kill(uint32_t id) override { real.Kill(id); }
    wheel::MultimediaTimer real;
    int starts = 0;
};

TEST(Win32Services, DeviceSearchWithoutAWheelOpensNothingAndStartsNoTimer) {
    wintest::InstallWheelData();
    wheel::Win32Registry registry;
    wheel::Win32Clock clock;
    CountingTimer timer;
    wheel::NamedEventLock event;
    ASSERT_TRUE(event.Create(nullptr));
    dravik::HidDeviceLink link(GetModuleHandleA(nullptr));
    wheel::ModuleCount count;
    dravik::DriverServices services;
    services.registry = &registry;
    services.clock = &clock;
    services.timer = &timer;
    services.storeLock = &event;
    services.link = &link;
    services.moduleCount = &count;
    services.osClass = &wheel::GetOsClass;

    char path[dravik::kDevicePathSize];
    std::memset(path, 'x', sizeof path);
    link.FindDevicePath(0, path, sizeof path);
    EXPECT_STREQ(path, "");

    dravik::EffectDriver* driver = dravik::EffectDriver::Create(services);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->InitDriver(), S_OK);
    for (DWORD id = 0; id < 3; ++id) {
        EXPECT_EQ(driver->DeviceID(0x0700, id, 1, 0, nullptr),
                  HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    }
    EXPECT_EQ(timer.starts, 0);
    EXPECT_EQ(driver->TimerId(), 0u);
    EXPECT_EQ(driver->CopyRecord(0).bound, 0u);
    driver->Release();
    EXPECT_EQ(count.Value(), 0);
}

TEST(Win32Services, RegistryFollowsTheRulesTheLibrariesRelyOn) {
    wheel::Win32Registry registry;
    const std::string key = "Software\\WheelTests\\Registry";
    wintest::DeleteTree(HKEY_CURRENT_USER, key);
    EXPECT_EQ(
        wheel::SetRegistryString(registry, HKEY_CURRENT_USER, key.c_str(), "Name", "abc", false),
        ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(
        wheel::SetRegistryString(registry, HKEY_CURRENT_USER, key.c_str(), "Name", "abc", true),
        ERROR_SUCCESS);
    // Key names are case-insensitive.
    HKEY raw = nullptr;
    ASSERT_EQ(registry.OpenKey(HKEY_CURRENT_USER, "SOFTWARE\\wheeltests\\REGISTRY", &raw),
              ERROR_SUCCESS);
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(registry.QueryValue(raw, "name", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u) << "the NUL is counted";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const BYTE longer[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(registry.SetValue(raw, "Long", REG_BINARY, longer, sizeof longer), ERROR_SUCCESS);
    uint32_t value = 7;
    EXPECT_EQ(wheel::ReadRegistryValue(registry, raw, "Long", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0x04030201u);
    const BYTE two[2] = {0x34, 0x12};
    ASSERT_EQ(registry.SetValue(raw, "Two", REG_BINARY, two, sizeof two), ERROR_SUCCESS);
    EXPECT_EQ(wheel::ReadRegistryValue(registry, raw, "Two", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0x1234u);
    value = 7;
    EXPECT_EQ(wheel::ReadRegistryValue(registry, raw, "Missing", &value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 7u);
    registry.CloseKey(raw);
    wintest::DeleteTree(HKEY_CURRENT_USER, "Software\\WheelTests");
}

}  // namespace
