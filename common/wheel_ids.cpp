#include "wheel_ids.h"

#include <cctype>
#include <cstdio>

namespace wheel {

namespace {

const char kOemKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM"
    "\\VID_%04X&PID_%04X%s";
// "{" 36 characters "}" and the NUL.
using GuidChars = char[39];

void FormatGuid(const GUID& g, GuidChars& text) noexcept {
    std::snprintf(text, sizeof text, "{%.8X-%.4X-%.4X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

}  // namespace

FixedName VidPidText() noexcept {
    FixedName name;
    std::snprintf(name.text, sizeof name.text, "VID_%04X&PID_%04X",
                  static_cast<unsigned>(kVendorId), static_cast<unsigned>(kProductId));
    return name;
}

FixedName GuidText(const GUID& guid) noexcept {
    GuidChars text;
    FormatGuid(guid, text);
    FixedName name;
    std::snprintf(name.text, sizeof name.text, "%s", text);
    return name;
}

FixedName ClsidKeyText(const GUID& guid, const char* suffix) noexcept {
    GuidChars text;
    FormatGuid(guid, text);
    FixedName name;
    std::snprintf(name.text, sizeof name.text, "CLSID\\%s%s", text, suffix);
    return name;
}

FixedName OemKeyText(const char* suffix) noexcept {
    FixedName name;
    std::snprintf(name.text, sizeof name.text, kOemKey, static_cast<unsigned>(kVendorId),
                  static_cast<unsigned>(kProductId), suffix);
    return name;
}

FixedName EffectTypeKeyText(const GUID& type) noexcept {
    GuidChars text;
    FormatGuid(type, text);
    char suffix[80];
    std::snprintf(suffix, sizeof suffix, "\\OEMForceFeedback\\Effects\\%s", text);
    return OemKeyText(suffix);
}

std::string VidPidName() {
    return VidPidText().c_str();
}

std::string GuidString(const GUID& guid) {
    return GuidText(guid).c_str();
}

std::string ClsidKey(const GUID& guid) {
    return ClsidKeyText(guid).c_str();
}

std::string OemKey() {
    return OemKeyText().c_str();
}

std::string OemForceFeedbackKey() {
    return OemKeyText("\\OEMForceFeedback").c_str();
}

std::string OemEffectsKey() {
    return OemKeyText("\\OEMForceFeedback\\Effects").c_str();
}

std::string OemAxesKey() {
    return OemKeyText("\\Axes").c_str();
}

bool ParseGuid(const std::string& text, GUID* guid) {
    // {8-4-4-4-12}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return false;
    }
    static const int kDashes[] = {9, 14, 19, 24};
    uint8_t bytes[16];
    int nibbles = 0;
    for (size_t i = 1; i < 37; ++i) {
        const char c = text[i];
        bool dash = false;
        for (int d : kDashes) {
            dash = dash || static_cast<int>(i) == d;
        }
        if (dash) {
            if (c != '-') {
                return false;
            }
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        const int v = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        if (nibbles % 2 == 0) {
            bytes[nibbles / 2] = static_cast<uint8_t>(v << 4);
        } else {
            bytes[nibbles / 2] = static_cast<uint8_t>(bytes[nibbles / 2] | v);
        }
        ++nibbles;
    }
    guid->Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                  (uint32_t{bytes[2]} << 8) | bytes[3];
    guid->Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid->Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) {
        guid->Data4[i] = bytes[8 + i];
    }
    return true;
}

}  // namespace wheel
