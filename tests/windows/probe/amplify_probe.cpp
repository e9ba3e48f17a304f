// Plays one full-strength constant force through the driver's own code, reading Amplify from
// the real registry by the real Windows version class, and exits with the motor-A byte the
// virtual wheel received, so a test can tell which hive the value came from. A byte is 0 to 254;
// every failure exits with a code above 255, so it can never pass for a byte.
#include "common/os_class.h"
#include "common/registry_win32.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"

namespace {

enum Failure {
    kNoWheelData = 256,
    kNoDriver,
    kInitFailed,
    kNotBound,
    kDownloadFailed,
    kNoReport,
};

}  // namespace

int main() {
    wheel::Win32Registry registry;
    if (install::WriteWheelData(registry) != ERROR_SUCCESS) {
        return kNoWheelData;
    }
    hosted::ManualClock clock;
    hosted::ManualTimer timer;
    hosted::AutoResetEvent event;
    hosted::VirtualWheel wheel(clock);
    wheel::ModuleCount count;
    wheel.Attach(0);
    dravik::DriverServices services;
    services.registry = &registry;
    services.clock = &clock;
    services.timer = &timer;
    services.storeLock = &event;
    services.link = &wheel;
    services.moduleCount = &count;
    services.osClass = &wheel::GetOsClass;

    dravik::EffectDriver* driver = dravik::EffectDriver::Create(services);
    if (driver == nullptr) {
        return kNoDriver;
    }
    if (FAILED(driver->InitDriver())) {
        driver->Release();
        return kInitFailed;
    }
    if (driver->DeviceID(0x0700, 0, 1, 0, nullptr) != S_OK) {
        driver->Release();
        return kNotBound;
    }
    DWORD axes[2] = {0x002, 0x102};
    LONG direction[2] = {1, 0};
    DICONSTANTFORCE constant = {10000};
    DIEFFECT effect = {};
    effect.dwSize = sizeof effect;
    effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTIDS;
    effect.dwDuration = INFINITE;
    effect.dwGain = 10000;
    effect.cAxes = 2;
    effect.rgdwAxes = axes;
    effect.rglDirection = direction;
    effect.cbTypeSpecificParams = sizeof constant;
    effect.lpvTypeSpecificParams = &constant;
    DWORD handle = 0;
    if (driver->DownloadEffect(0, 0, &handle, &effect, DIEP_START) != S_OK) {
        driver->Release();
        return kDownloadFailed;
    }
    clock.Advance(25);
    timer.Fire();
    const auto reports = wheel.Reports();
    const int byte2 = reports.empty() ? static_cast<int>(kNoReport) : reports.back().bytes[2];
    driver->Release();
    return byte2;
}
