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

// "VID_2D71&PID_5A08": the OEM key's last component and the name of the store event.
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

// Parses "{...}" (36 hex digits and dashes in braces); false on anything else.
bool ParseGuid(const std::string& text, GUID* guid);

}  // namespace wheel
