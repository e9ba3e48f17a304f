// Calibration storage: writes the Calibration page's ranges where DirectInput on the running
// system reads a joystick's calibration. Which registry layout that is depends on the Windows
// version class and, before NT 6, on the installed DirectX version. Portable: every registry
// access goes through RegistryApi, and the version class comes in as an argument, so each layout
// can be checked against any registry on any host.
#pragma once

#include <array>
#include <cstdint>

#include "common/dinput_shapes.h"
#include "common/os_class.h"
#include "common/platform.h"
#include "common/registry.h"

namespace velquin {

enum class CalibrationLayout : uint32_t {
    // Windows 98/Me: the whole hardware configuration as one value of the joystick settings.
    JoystickSettings,
    // DirectX up to 8.0: per-axis values below the device's interface key.
    DeviceClass,
    // DirectX 8.1 and later: per-axis values below DirectInput's calibration key, machine-wide.
    DirectInputMachine,
    // NT 6 and later: the same below the user's hive.
    DirectInputUser,
};

// Flags bit: store the per-axis calibration (the page always sets it).
inline constexpr DWORD kCalibrateAxes = 2;
// The first DirectX version whose DirectInput reads its own calibration key.
inline constexpr uint32_t kDirectInputCalibrationVersion = 0x0801;

inline constexpr size_t kAxisCalibrationSize = 12;
inline constexpr size_t kJoystickSettingsSize = 112;

// The axes the wheel has, in the order they are written: the subkey below "Type\Axes" and the
// member of each JOYPOS that belongs to it.
struct CalibratedAxis {
    const char* subKey;
    DWORD JOYPOS::*member;
};
inline constexpr CalibratedAxis kCalibratedAxes[] = {
    {"0", &JOYPOS::dwX},
    {"1", &JOYPOS::dwY},
    {"2", &JOYPOS::dwZ},
    {"5", &JOYPOS::dwR},
};

// One axis's "Calibration" value: minimum, centre, maximum, 32-bit little-endian each.
std::array<BYTE, kAxisCalibrationSize> AxisCalibrationValue(const JOYRANGE& range,
                                                            DWORD JOYPOS::*member);
// The hardware configuration as Windows 98/Me keep it, little-endian whatever the host.
std::array<BYTE, kJoystickSettingsSize> JoystickSettingsValue(const JOYREGHWCONFIG& hwc);

// "4.09.00.0904" -> 0x0900: the second number times 256 plus the third, the four numbers read
// as hexadecimal and separated by points; 0 when fewer than four numbers are found.
uint32_t ParseDirectXVersion(const char* text);
// The installed DirectX version from HKLM\Software\Microsoft\DirectX "Version"; 0 when it
// cannot be read.
uint32_t GetDirectXVersion(wheel::RegistryApi& registry);

// The layout DirectInput on a system of this class reads; DirectX is asked only when the class
// alone does not decide.
CalibrationLayout SelectCalibrationLayout(wheel::RegistryApi& registry, wheel::OsClass os);

// Stores the configuration's calibration in the layout of the given system. Failures are not
// reported: the page re-opens the device whatever happened.
void WriteCalibration(wheel::RegistryApi& registry, wheel::OsClass os, const DIJOYCONFIG& config,
                      DWORD flags, const GUID& guidInstance, uint16_t joystickId);

// Windows 98/Me: stores config.hwc as "Joystick<ID+1>Configuration" in the existing
// CurrentJoystickSettings key (never created here). Returns a Win32 error code.
LONG WriteJoystickSettings(wheel::RegistryApi& registry, uint16_t joystickId,
                           const DIJOYCONFIG& config);

// The device-class subkey whose "#\Device Parameters\DirectX" holds a "GUID" equal to
// guidInstance, handed over open (the caller closes it); *key is null on failure. Returns a
// Win32 error code: ERROR_NO_MORE_ITEMS when nothing matched.
LONG FindInterfaceKey(wheel::RegistryApi& registry, const GUID& guidInstance, HKEY* key);
// The same for DirectInput's calibration key under root (HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER), whose subkeys carry "GUID" themselves.
LONG FindCalibrationKey(wheel::RegistryApi& registry, HKEY root, const GUID& guidInstance,
                        HKEY* key);

// Writes "Calibration" for the axes 0, 1, 2 and 5 below the device key of the layout when
// kCalibrateAxes is set in flags, creating missing keys and keeping other values. Returns 0,
// E_FAIL when no device key matches guidInstance, ERROR_INVALID_PARAMETER for the joystick
// settings layout (it has no axis keys), or the first registry error; a write stops at its first
// failure and never goes through a key it could not open or create.
LONG WriteAxisCalibration(wheel::RegistryApi& registry, CalibrationLayout layout,
                          const GUID& guidInstance, const DIJOYCONFIG& config, DWORD flags);

#if defined(_WIN32)
// What the Calibration page calls: the running system's class and registry.
void WriteCalibration(const DIJOYCONFIG& config, DWORD flags, const GUID& guidInstance,
                      uint16_t joystickId);
#endif

}  // namespace velquin
