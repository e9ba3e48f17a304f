// The Win32 services the DLL uses, on Wine's real kernel objects, timer and registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/device_link_win32.h"
#include "ffdriver/effect_driver.h"
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
