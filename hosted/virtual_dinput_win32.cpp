#include "virtual_dinput_win32.h"

#include <utility>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/services_win32.h"

namespace hosted {

namespace {

struct Win32Platform {
    wheel::Win32Registry registry;
    wheel::Win32Clock clock;
    wheel::MultimediaTimer timer;
};

}  // namespace

std::shared_ptr<VirtualDirectInput> CreateWin32VirtualWheel(
    uint32_t joystickId, WheelTimeline timeline, JOYRANGE storedRange,
    std::function<void(const std::string&)> log) {
    auto platform = std::make_shared<Win32Platform>();
    VirtualWheelSetup setup;
    setup.joystickId = joystickId;
    setup.timeline = std::move(timeline);
    setup.storedRange = storedRange;
    setup.registry = &platform->registry;
    setup.clock = &platform->clock;
    setup.timer = &platform->timer;
    setup.osClass = [] { return wheel::GetOsClass(); };
    setup.sleep = [](uint32_t ms) { Sleep(ms); };
    setup.log = std::move(log);
    setup.keepAlive = platform;
    return VirtualDirectInput::Create(std::move(setup));
}

}  // namespace hosted
