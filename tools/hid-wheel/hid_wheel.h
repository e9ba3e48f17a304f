// The user-mode side of the virtual HID wheel: installing, unplugging and replugging the device in
// the running Wine prefix, finding its HID interface, and its control and reports files.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "channel.h"
#include "common/wheel_descriptor.h"

namespace hidwheel {

// Hardware ID of the root-enumerated device (as in hidwheel.inf), and its device instance in
// each of the USB ports it can be plugged into: another port is another device instance, whose
// HID interface has another path.
inline constexpr const char* kHardwareId = "root\\hidwheel";
inline constexpr const char* kInstanceIds[] = {"ROOT\\HIDWHEEL\\0000", "ROOT\\HIDWHEEL\\0001"};
inline constexpr unsigned kPorts = 2;

// The INF beside the running program, where the build puts it with the driver.
std::string DefaultInfPath();

// Installs the device from `infPath` in USB port `port` (below kPorts) and waits until its HID
// interface is there. Installing a device that is present there already succeeds and changes
// nothing; one present in another port is unplugged first. False with `message` set on failure.
bool Install(const std::string& infPath, std::string* message, unsigned port = 0);
// Removes the device from whichever port it is in (the wheel unplugged) and waits until its
// interface is gone.
bool Unplug(std::string* message);
// The interface path of the HID device with the wheel's vendor and product IDs, or "".
std::string FindInterfacePath();
// Waits up to `timeoutMs` for the interface to be there (or gone).
bool WaitForInterface(bool present, DWORD timeoutMs);

// The wheel at rest: axes centred, hat centred, nothing pressed, sends accepted.
HidWheelControl RestingControl();
bool WriteControl(const HidWheelControl& control);
HidWheelControl ReadControl();

// Every report the wheel received since it was installed, oldest first; `from` skips that many.
std::vector<HidWheelRecord> ReadRecords(size_t from = 0);
size_t RecordCount();

// The system time in the units the device stamps its records with.
int64_t Now();

}  // namespace hidwheel
