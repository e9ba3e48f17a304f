// Plays one full-strength constant force through the driver's own code, reading Amplify from
// the real registry by the real Windows version class, and exits with the motor-A byte the
// virtual wheel received, so a test can tell which hive the value came from.
#include "common/os_class.h"
#include "common/registry_win32.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"

int main() {
    wheel::Win32Registry registry;
    if (install::WriteWheelData(registry) != ERROR_SUCCESS) {
        return 255;
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
    if (driver == nullptr || FAILED(driver->InitDriver()) ||
        driver->DeviceID(0x0700, 0, 1, 0, nullptr) != S_OK) {
        return 254;
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
        return 253;
    }
    clock.Advance(25);
    timer.Fire();
    const auto reports = wheel.Reports();
    const int byte2 = reports.empty() ? 252 : reports.back().bytes[2];
    driver->Release();
    return byte2;
}
