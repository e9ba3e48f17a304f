// The wheel's identity and the names derived from it, shared by both libraries.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"

namespace wheel {

inline constexpr uint16_t kVendorId = 0x2D71;
inline constexpr uint16_t kProductId = 0x5A08;

// Data2 and Data3 carry the vendor and product IDs.
inline constexpr CLSID kVelquinClsid = {
    0x6E3D9B27, kVendorId, kProductId, {0x94, 0xC2, 0x5B, 0x07, 0xE1, 0xA3, 0xD8, 0x6F}};
inline constexpr CLSID kDravikClsid = {
    0x41C7A5E3, kVendorId, kProductId, {0x8B, 0x6D, 0x20, 0xF9, 0x4E, 0x7C, 0x13, 0xA5}};

// What registers each class (DllRegisterServer and the installers alike): the class key's
// description, the InProcServer32 threading model, and the sheet's InProcHandler32, the
// platform's game-controller handler (only named here).
inline constexpr char kDravikDescription[] = "USB Joystick Force FeedBack Support DLL";
inline constexpr char kVelquinDescription[] = "USB Vibration Racing Wheel Property Sheet DLL";
inline constexpr char kThreadingModel[] = "Both";
inline constexpr char kVelquinInProcHandler[] = "gchand.dll";

// A name formatted into a buffer of its own. Making one allocates nothing and cannot throw, so
// the DLL entry points and the COM methods build their key and event names with these; the
// std::string forms below are for tools and tests.
struct FixedName {
    // The longest name, an effect type's key, is 161 characters.
    char text[192];
    const char* c_str() const noexcept { return text; }
};

// "VID_2D71&PID_5A08": the OEM key's last component and the name of the store event.
FixedName VidPidText() noexcept;
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
FixedName GuidText(const GUID& guid) noexcept;
// "CLSID\{...}" followed by `suffix` ("\InProcServer32", or nothing).
FixedName ClsidKeyText(const GUID& guid, const char* suffix = "") noexcept;
// The OEM key followed by `suffix` ("\OEMForceFeedback", or nothing).
FixedName OemKeyText(const char* suffix = "") noexcept;
// ...\OEMForceFeedback\Effects\{type GUID}
FixedName EffectTypeKeyText(const GUID& type) noexcept;

std::string VidPidName();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string GuidString(const GUID& guid);
// "CLSID\{...}", the key under HKEY_CLASSES_ROOT.
std::string ClsidKey(const GUID& guid);

// SYSTEM\CurrentControlSet\Control\MediaProperties\PrivateProperties\Joystick\OEM\VID_2D71&PID_5A08
std::string OemKey();
// ...\OEMForceFeedback
std::string OemForceFeedbackKey();
// ...\OEMForceFeedback\Effects
std::string OemEffectsKey();
// ...\Axes: one subkey per axis instance, DirectInput's per-object attributes.
std::string OemAxesKey();

// The two axes that carry the motors, as DirectInput numbers the wheel's objects: X (instance 0)
// is motor A, Y (instance 1) motor B. `usage` is the HID usage on the Generic Desktop page.
struct ForceAxis {
    uint32_t instance;
    uint16_t usage;
    const char* name;
};
inline constexpr ForceAxis kForceAxes[] = {{0, 0x30, "X"}, {1, 0x31, "Y"}};

// Parses "{...}" (36 hex digits and dashes in braces); false on anything else.
bool ParseGuid(const std::string& text, GUID* guid);

}  // namespace wheel
