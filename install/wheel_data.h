// The registry data the wheel's installation writes: the OEM key that names the wheel and its
// property sheet, and the force-feedback key with the driver's CLSID, the device attributes and
// the twelve effect types. This table is the one source for every form of it (the .reg file,
// the installer script, the test set-up).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/registry.h"

namespace install {

struct RegEntry {
    HKEY root;
    std::string key;
    // Empty: the key's default value. `type` REG_NONE: the key alone.
    std::string valueName;
    DWORD type;
    std::vector<uint8_t> data;
};

// Every key and value, parents before children.
std::vector<RegEntry> WheelRegistryData();

// Writes the table through a registry; returns the first error, or ERROR_SUCCESS.
LONG WriteWheelData(wheel::RegistryApi& registry);

// The table as a REGEDIT4 file.
std::string WheelDataRegFile();

// NSIS lines that write the table, and lines that remove what they wrote: the force-feedback
// subtree and the OEM key's own values, while the OEM key itself stays as long as it holds the
// user's Amplify. The calibration is DirectInput's (its calibration keys, or the joystick
// settings on Windows 98/Me), and the uninstaller does not touch it.
std::string WheelDataNsisInstall();
std::string WheelDataNsisUninstall();

}  // namespace install
