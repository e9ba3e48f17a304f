// The virtual wheel on Windows: its driver reads Amplify from the real registry (Wine's, under
// the hive the process' Windows version chooses), ticks on the multimedia timer and keeps time
// with GetTickCount, as the driver DLL does.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hosted/virtual_dinput.h"

namespace hosted {

std::shared_ptr<VirtualDirectInput> CreateWin32VirtualWheel(
    uint32_t joystickId, WheelTimeline timeline, JOYRANGE storedRange,
    std::function<void(const std::string&)> log);

}  // namespace hosted
