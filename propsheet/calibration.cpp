#include "propsheet/calibration.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/wheel_ids.h"

#if defined(_WIN32)
#include "common/registry_win32.h"
#endif

namespace velquin {

static_assert(sizeof(JOYREGHWCONFIG) == kJoystickSettingsSize, "the 98/Me record is stored whole");

namespace {

using wheel::RegistryApi;
using wheel::RegKey;

const char kJoystickSettingsKey[] =
    "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\<FixedKey>"
    "\\CurrentJoystickSettings";
const char kDeviceClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char kInterfaceDirectXKey[] = "#\\Device Parameters\\DirectX";
const char kInterfaceAxesKey[] = "#\\Device Parameters\\DirectX\\Type\\Axes";
const char kCalibrationAxesKey[] = "Type\\Axes";
const char kDirectXKey[] = "Software\\Microsoft\\DirectX";

// Subkey names are at most 255 characters; the buffer leaves room for any the system returns.
constexpr DWORD kSubKeyNameSize = 2048;
// How much of the DirectX "Version" text is read.
constexpr DWORD kVersionTextSize = 256;

void PutLe32(BYTE* at, DWORD value) {
    at[0] = static_cast<BYTE>(value);
    at[1] = static_cast<BYTE>(value >> 8);
    at[2] = static_cast<BYTE>(value >> 16);
    at[3] = static_cast<BYTE>(value >> 24);
}

BYTE* PutJoyPos(BYTE* at, const JOYPOS& pos) {
    const DWORD members[] = {pos.dwX, pos.dwY, pos.dwZ, pos.dwR, pos.dwU, pos.dwV};
    for (DWORD member : members) {
        PutLe32(at, member);
        at += 4;
    }
    return at;
}

// One "%x" field: optional blanks, sign and 0x prefix, hexadecimal digits. strtoull keeps an
// out-of-range number defined where the C library's %x would not.
bool ParseHexField(const char** text, uint32_t* value) {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(*text, &end, 16);
    if (end == *text) {
        return false;
    }
    *value = static_cast<uint32_t>(number);
    *text = end;
    return true;
}

// The DirectInput calibration key: "...\DirectInput\VID_2D71&PID_5A08\Calibration".
void FormatDirectInputCalibrationKey(char* out, size_t size) {
    std::snprintf(out, size,
                  "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties"
                  "\\DirectInput\\VID_%04X&PID_%04X\\Calibration",
                  static_cast<unsigned>(wheel::kVendorId),
                  static_cast<unsigned>(wheel::kProductId));
}

// Opens path below parent, creating it only when it does not exist. On failure `key` stays empty,
// so nothing can be written through it.
LONG OpenOrCreate(RegistryApi& registry, HKEY parent, const char* path, RegKey* key) {
    HKEY raw = nullptr;
    LONG status = registry.OpenKey(parent, path, &raw);
    if (status == ERROR_FILE_NOT_FOUND) {
        raw = nullptr;
        status = registry.CreateKey(parent, path, &raw);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *key = RegKey(registry, raw);
    return ERROR_SUCCESS;
}

// The search both layouts share: the first subkey of parentPath whose "GUID" (read from
// guidKeyPath below it, or from the subkey itself when that is null) equals guidInstance.
LONG FindDeviceKey(RegistryApi& registry, HKEY root, const char* parentPath,
                   const char* guidKeyPath, const GUID& guidInstance, HKEY* key) {
    if (key == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *key = nullptr;
    HKEY rawParent = nullptr;
    LONG status = registry.OpenKey(root, parentPath, &rawParent);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegKey parent(registry, rawParent);
    for (DWORD index = 0;; ++index) {
        char name[kSubKeyNameSize] = {};
        status = registry.EnumKey(parent.get(), index, name, sizeof name);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        name[sizeof name - 1] = '\0';
        HKEY rawCandidate = nullptr;
        status = registry.OpenKey(parent.get(), name, &rawCandidate);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        RegKey candidate(registry, rawCandidate);
        RegKey guidKey;
        if (guidKeyPath != nullptr) {
            HKEY rawGuidKey = nullptr;
            if (registry.OpenKey(candidate.get(), guidKeyPath, &rawGuidKey) != ERROR_SUCCESS) {
                continue;
            }
            guidKey = RegKey(registry, rawGuidKey);
        }
        // A value of any other length is not a GUID: it neither matches nor leaves stale bytes
        // to compare.
        BYTE stored[sizeof(GUID)] = {};
        DWORD size = sizeof stored;
        DWORD type = 0;
        const LONG read = registry.QueryValue(guidKey ? guidKey.get() : candidate.get(), "GUID",
                                              &type, stored, &size);
        if (read != ERROR_SUCCESS || size != sizeof stored) {
            continue;
        }
        if (std::memcmp(stored, &guidInstance, sizeof stored) == 0) {
            *key = candidate.Detach();
            return ERROR_SUCCESS;
        }
    }
}

}  // namespace

std::array<BYTE, kAxisCalibrationSize> AxisCalibrationValue(const JOYRANGE& range,
                                                            DWORD JOYPOS::*member) {
    std::array<BYTE, kAxisCalibrationSize> value{};
    PutLe32(&value[0], range.jpMin.*member);
    PutLe32(&value[4], range.jpCenter.*member);
    PutLe32(&value[8], range.jpMax.*member);
    return value;
}

std::array<BYTE, kJoystickSettingsSize> JoystickSettingsValue(const JOYREGHWCONFIG& hwc) {
    std::array<BYTE, kJoystickSettingsSize> value{};
    BYTE* at = value.data();
    PutLe32(at, hwc.hws.dwFlags);
    PutLe32(at + 4, hwc.hws.dwNumButtons);
    PutLe32(at + 8, hwc.dwUsageSettings);
    at = PutJoyPos(at + 12, hwc.hwv.jrvHardware.jpMin);
    at = PutJoyPos(at, hwc.hwv.jrvHardware.jpMax);
    at = PutJoyPos(at, hwc.hwv.jrvHardware.jpCenter);
    for (DWORD pov : hwc.hwv.dwPOVValues) {
        PutLe32(at, pov);
        at += 4;
    }
    PutLe32(at, hwc.hwv.dwCalFlags);
    PutLe32(at + 4, hwc.dwType);
    PutLe32(at + 8, hwc.dwReserved);
    return value;
}

uint32_t ParseDirectXVersion(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    uint32_t numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*text != '.') {
                return 0;
            }
            ++text;
        }
        if (!ParseHexField(&text, &numbers[i])) {
            return 0;
        }
    }
    return numbers[1] * 256 + numbers[2];
}

uint32_t GetDirectXVersion(RegistryApi& registry) {
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, kDirectXKey, &raw) != ERROR_SUCCESS) {
        return 0;
    }
    RegKey key(registry, raw);
    // One byte more than is read, so the text always ends inside the buffer even when the
    // stored value has no terminator.
    char text[kVersionTextSize + 1] = {};
    DWORD size = kVersionTextSize;
    DWORD type = 0;
    if (registry.QueryValue(key.get(), "Version", &type, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    text[size < kVersionTextSize ? size : kVersionTextSize] = '\0';
    return ParseDirectXVersion(text);
}

CalibrationLayout SelectCalibrationLayout(RegistryApi& registry, wheel::OsClass os) {
    switch (os) {
        case wheel::OsWin98:
        case wheel::OsWinMe:
            return CalibrationLayout::JoystickSettings;
        case wheel::OsWinNT6:
            return CalibrationLayout::DirectInputUser;
        default:
            return GetDirectXVersion(registry) < kDirectInputCalibrationVersion
                       ? CalibrationLayout::DeviceClass
                       : CalibrationLayout::DirectInputMachine;
    }
}

void WriteCalibration(RegistryApi& registry, wheel::OsClass os, const DIJOYCONFIG& config,
                      DWORD flags, const GUID& guidInstance, uint16_t joystickId) {
    const CalibrationLayout layout = SelectCalibrationLayout(registry, os);
    if (layout == CalibrationLayout::JoystickSettings) {
        WriteJoystickSettings(registry, joystickId, config);
    } else {
        WriteAxisCalibration(registry, layout, guidInstance, config, flags);
    }
}

LONG WriteJoystickSettings(RegistryApi& registry, uint16_t joystickId, const DIJOYCONFIG& config) {
    HKEY raw = nullptr;
    const LONG status = registry.OpenKey(HKEY_LOCAL_MACHINE, kJoystickSettingsKey, &raw);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegKey key(registry, raw);
    // Joysticks are numbered from 1 here; the ID is a signed 16-bit number to the system.
    char name[40];
    std::snprintf(name, sizeof name, "Joystick%dConfiguration",
                  static_cast<int>(static_cast<int16_t>(joystickId)) + 1);
    const auto value = JoystickSettingsValue(config.hwc);
    return registry.SetValue(key.get(), name, REG_BINARY, value.data(),
                             static_cast<DWORD>(value.size()));
}

LONG FindInterfaceKey(RegistryApi& registry, const GUID& guidInstance, HKEY* key) {
    return FindDeviceKey(registry, HKEY_LOCAL_MACHINE, kDeviceClassKey, kInterfaceDirectXKey,
                         guidInstance, key);
}

LONG FindCalibrationKey(RegistryApi& registry, HKEY root, const GUID& guidInstance, HKEY* key) {
    char parent[256];
    FormatDirectInputCalibrationKey(parent, sizeof parent);
    return FindDeviceKey(registry, root, parent, nullptr, guidInstance, key);
}

LONG WriteAxisCalibration(RegistryApi& registry, CalibrationLayout layout, const GUID& guidInstance,
                          const DIJOYCONFIG& config, DWORD flags) {
    HKEY rawDevice = nullptr;
    LONG found = ERROR_SUCCESS;
    const char* axesPath = kCalibrationAxesKey;
    switch (layout) {
        case CalibrationLayout::DeviceClass:
            found = FindInterfaceKey(registry, guidInstance, &rawDevice);
            axesPath = kInterfaceAxesKey;
            break;
        case CalibrationLayout::DirectInputMachine:
            found = FindCalibrationKey(registry, HKEY_LOCAL_MACHINE, guidInstance, &rawDevice);
            break;
        case CalibrationLayout::DirectInputUser:
            found = FindCalibrationKey(registry, HKEY_CURRENT_USER, guidInstance, &rawDevice);
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    if (found != ERROR_SUCCESS) {
        return static_cast<LONG>(E_FAIL);
    }
    RegKey device(registry, rawDevice);
    if ((flags & kCalibrateAxes) == 0) {
        return ERROR_SUCCESS;
    }
    RegKey axes;
    LONG status = OpenOrCreate(registry, device.get(), axesPath, &axes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    for (const CalibratedAxis& axis : kCalibratedAxes) {
        RegKey axisKey;
        status = OpenOrCreate(registry, axes.get(), axis.subKey, &axisKey);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        const auto value = AxisCalibrationValue(config.hwc.hwv.jrvHardware, axis.member);
        status = registry.SetValue(axisKey.get(), "Calibration", REG_BINARY, value.data(),
                                   static_cast<DWORD>(value.size()));
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return ERROR_SUCCESS;
}

#if defined(_WIN32)
void WriteCalibration(const DIJOYCONFIG& config, DWORD flags, const GUID& guidInstance,
                      uint16_t joystickId) {
    wheel::Win32Registry registry;
    WriteCalibration(registry, wheel::GetOsClass(), config, flags, guidInstance, joystickId);
}
#endif

}  // namespace velquin
