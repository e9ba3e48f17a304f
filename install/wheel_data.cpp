#include "wheel_data.h"

#include <cstdio>

#include "common/wheel_ids.h"
#include "ffdriver/effect_types.h"

namespace install {

namespace {

constexpr uint32_t kHasZ = 0x00000001;    // JOY_HWS_HASZ
constexpr uint32_t kHasPov = 0x00000002;  // JOY_HWS_HASPOV
constexpr uint32_t kHasR = 0x00080000;    // JOY_HWS_HASR
constexpr uint32_t kButtons = 12;

// Effect type classes and capabilities as DirectInput registers them.
constexpr uint32_t kEftConstant = 0x01;
constexpr uint32_t kEftRamp = 0x02;
constexpr uint32_t kEftPeriodic = 0x03;
constexpr uint32_t kEftCondition = 0x04;
constexpr uint32_t kEftCustom = 0x05;
constexpr uint32_t kEftAttack = 0x200;
constexpr uint32_t kEftFade = 0x400;
// Duration, sample period, gain, trigger button and interval, axes, direction, envelope and
// type-specific parameters; conditions have no envelope.
constexpr uint32_t kParamsWithEnvelope = 0x1FF;
constexpr uint32_t kParamsNoEnvelope = 0x17F;
// Cartesian and polar, so DirectInput converts other coordinate systems for the driver.
constexpr uint32_t kCoords = 0x10 | 0x20;

// Per-axis data (DirectInput's DIOBJECTATTRIBUTES and DIFFOBJECTATTRIBUTES, "Axes\<instance>"
// under the OEM key). Without FFAttributes DirectInput takes an axis for one that carries no
// force feedback, and games find no actuator to put their effects on.
constexpr uint32_t kDidoiFfActuator = 0x00000001;      // DIDOI_FFACTUATOR
constexpr uint32_t kDidoiAspectPosition = 0x00000100;  // DIDOI_ASPECTPOSITION
constexpr uint16_t kUsagePageGenericDesktop = 0x01;
// dwFFMaxForce is in newtons at the hand. The motors shake the rim rather than turn it; a
// newton is the order of their force, and any nonzero value marks the axis as an actuator.
constexpr uint32_t kMaxForceNewtons = 1;
// dwFFForceResolution is the number of steps from no force to the maximum. Motor A takes a
// level of 0..127 (the report carries it doubled; below 25 it stays still); motor B is either
// off or on.
constexpr uint32_t kMotorAResolution = 127;
constexpr uint32_t kMotorBResolution = 1;

void PutDword(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

std::vector<uint8_t> Dwords(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) {
        PutDword(out, v);
    }
    return out;
}

std::vector<uint8_t> ObjectAttributes(uint32_t flags, uint16_t usagePage, uint16_t usage) {
    std::vector<uint8_t> out;
    PutDword(out, flags);
    PutDword(out, usagePage | static_cast<uint32_t>(usage) << 16);
    return out;
}

std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

uint32_t EffectClass(uint32_t type) {
    switch (type) {
        case dravik::EffectConstant:
            return kEftConstant | kEftAttack | kEftFade;
        case dravik::EffectRamp:
            return kEftRamp | kEftAttack | kEftFade;
        case dravik::EffectCustomForce:
            return kEftCustom | kEftAttack | kEftFade;
        case dravik::EffectSpring:
        case dravik::EffectDamper:
        case dravik::EffectInertia:
        case dravik::EffectFriction:
            return kEftCondition;
        default:
            return kEftPeriodic | kEftAttack | kEftFade;
    }
}

// The subtrees the installation owns whole and the uninstaller removes whole; of the OEM key
// itself only the values written are removed, since it also holds the user's Amplify.
std::vector<std::string> OwnedTrees() {
    return {wheel::OemForceFeedbackKey(), wheel::OemAxesKey()};
}

bool InOwnedTree(const std::string& key) {
    for (const std::string& tree : OwnedTrees()) {
        if (key.compare(0, tree.size(), tree) == 0 &&
            (key.size() == tree.size() || key[tree.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<RegEntry> WheelRegistryData() {
    const std::string oem = wheel::OemKey();
    const std::string ff = wheel::OemForceFeedbackKey();
    std::vector<RegEntry> entries = {
        {HKEY_LOCAL_MACHINE, oem, "OEMName", REG_SZ, Text("USB Vibration Racing Wheel")},
        {HKEY_LOCAL_MACHINE, oem, "OEMData", REG_BINARY,
         Dwords({kHasZ | kHasPov | kHasR, kButtons})},
        {HKEY_LOCAL_MACHINE, oem, "ConfigCLSID", REG_SZ,
         Text(wheel::GuidString(wheel::kVelquinClsid))},
    };
    for (const wheel::ForceAxis& axis : wheel::kForceAxes) {
        const std::string key = wheel::OemAxesKey() + "\\" + std::to_string(axis.instance);
        const uint32_t resolution = axis.instance == 0 ? kMotorAResolution : kMotorBResolution;
        entries.push_back({HKEY_LOCAL_MACHINE, key, "Attributes", REG_BINARY,
                           ObjectAttributes(kDidoiFfActuator | kDidoiAspectPosition,
                                            kUsagePageGenericDesktop, axis.usage)});
        entries.push_back({HKEY_LOCAL_MACHINE, key, "FFAttributes", REG_BINARY,
                           Dwords({kMaxForceNewtons, resolution})});
    }
    const std::vector<RegEntry> ffEntries = {
        {HKEY_LOCAL_MACHINE, ff, "CLSID", REG_SZ, Text(wheel::GuidString(wheel::kDravikClsid))},
        // DIFFDEVICEATTRIBUTES: no flags, 25 ms sample period and time resolution.
        {HKEY_LOCAL_MACHINE, ff, "Attributes", REG_BINARY, Dwords({0, 25000, 25000})},
    };
    entries.insert(entries.end(), ffEntries.begin(), ffEntries.end());
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        const std::string key =
            wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(type));
        const bool conditionType = (EffectClass(type) & 0xFF) == kEftCondition;
        const uint32_t params = conditionType ? kParamsNoEnvelope : kParamsWithEnvelope;
        entries.push_back(
            {HKEY_LOCAL_MACHINE, key, "", REG_SZ, Text(dravik::EffectTypeName(type))});
        entries.push_back({HKEY_LOCAL_MACHINE, key, "Attributes", REG_BINARY,
                           Dwords({type, EffectClass(type), params, params, kCoords})});
    }
    return entries;
}

LONG WriteWheelData(wheel::RegistryApi& registry) {
    for (const RegEntry& entry : WheelRegistryData()) {
        HKEY raw = nullptr;
        LONG result = registry.CreateKey(entry.root, entry.key.c_str(), &raw);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        wheel::RegKey key(registry, raw);
        if (entry.type == REG_NONE) {
            continue;
        }
        result = registry.SetValue(
            key.get(), entry.valueName.empty() ? nullptr : entry.valueName.c_str(), entry.type,
            entry.data.data(), static_cast<DWORD>(entry.data.size()));
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

std::string RegQuote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string NsisQuote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '$':
                out += "$$";
                break;
            case '"':
                out += "$\\\"";
                break;
            case '\r':
                out += "$\\r";
                break;
            case '\n':
                out += "$\\n";
                break;
            case '\t':
                out += "$\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

std::string GuidBinaryHex(const GUID& guid) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&guid);
    std::string out;
    for (size_t i = 0; i < sizeof guid; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

std::string WheelDataRegFile() {
    return WheelDataRegFile(WheelRegistryData());
}

std::string WheelDataRegFile(const std::vector<RegEntry>& entries) {
    std::string out = "REGEDIT4\r\n";
    std::string currentKey;
    for (const RegEntry& entry : entries) {
        const std::string fullKey = "HKEY_LOCAL_MACHINE\\" + entry.key;
        if (fullKey != currentKey) {
            out += "\r\n[" + fullKey + "]\r\n";
            currentKey = fullKey;
        }
        if (entry.type == REG_NONE) {
            continue;
        }
        out += entry.valueName.empty() ? "@" : RegQuote(entry.valueName);
        out += "=";
        if (entry.type == REG_SZ) {
            out += RegQuote(std::string(entry.data.begin(), entry.data.end() - 1));
        } else {
            out += "hex:";
            for (size_t i = 0; i < entry.data.size(); ++i) {
                char byte[4];
                std::snprintf(byte, sizeof byte, "%02x", entry.data[i]);
                out += (i == 0 ? "" : ",") + std::string(byte);
            }
        }
        out += "\r\n";
    }
    return out;
}

std::string WheelDataNsisInstall() {
    return WheelDataNsisInstall(WheelRegistryData());
}

std::string WheelDataNsisInstall(const std::vector<RegEntry>& entries) {
    std::string out;
    for (const RegEntry& entry : entries) {
        const std::string head = " HKLM " + NsisQuote(entry.key) + " " + NsisQuote(entry.valueName);
        if (entry.type == REG_SZ) {
            out += "  WriteRegStr" + head + " " +
                   NsisQuote(std::string(entry.data.begin(), entry.data.end() - 1)) + "\n";
        } else if (entry.type == REG_BINARY) {
            std::string hex;
            for (uint8_t byte : entry.data) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", byte);
                hex += two;
            }
            out += "  WriteRegBin" + head + " " + hex + "\n";
        }
    }
    return out;
}

std::string WheelDataNsisUninstall() {
    return WheelDataNsisUninstall(WheelRegistryData());
}

std::string WheelDataNsisUninstall(const std::vector<RegEntry>& entries) {
    std::string out;
    for (const std::string& tree : OwnedTrees()) {
        out += "  DeleteRegKey HKLM " + NsisQuote(tree) + "\n";
    }
    for (const RegEntry& entry : entries) {
        if (InOwnedTree(entry.key) || entry.type == REG_NONE) {
            continue;
        }
        out += "  DeleteRegValue HKLM " + NsisQuote(entry.key) + " " + NsisQuote(entry.valueName) +
               "\n";
    }
    out += "  DeleteRegKey /ifempty HKLM " + NsisQuote(wheel::OemKey()) + "\n";
    return out;
}

std::string WheelDataNsisUninstallCheck() {
    return WheelDataNsisUninstallCheck(WheelRegistryData());
}

std::string WheelDataNsisUninstallCheck(const std::vector<RegEntry>& entries) {
    const auto left = [](const std::string& what) {
        return "  DetailPrint " + NsisQuote("Could not remove HKLM\\" + what) +
               "\n  IntOp $Failed $Failed + 1\n";
    };
    std::string out;
    for (const std::string& tree : OwnedTrees()) {
        out += "  ClearErrors\n  EnumRegKey $0 HKLM " + NsisQuote(tree) + " 0\n  IfErrors +3\n" +
               left(tree);
    }
    int n = 0;
    for (const RegEntry& entry : entries) {
        if (InOwnedTree(entry.key) || entry.type == REG_NONE || entry.valueName.empty()) {
            continue;
        }
        // NSIS reads no binary value as text, so the value is looked for by name.
        const std::string label = "wheel_value_" + std::to_string(n++);
        out += "  StrCpy $1 0\n" + label + "_next:\n  ClearErrors\n  EnumRegValue $0 HKLM " +
               NsisQuote(entry.key) + " $1\n  IfErrors " + label + "_done\n  StrCmp $0 \"\" " +
               label + "_done\n  StrCmp $0 " + NsisQuote(entry.valueName) + " 0 +4\n" +
               left(entry.key + " " + entry.valueName) + "  Goto " + label +
               "_done\n  IntOp $1 $1 + 1\n  Goto " + label + "_next\n" + label + "_done:\n";
    }
    // The OEM key itself stays only while it holds something (the user's settings).
    const std::string oem = NsisQuote(wheel::OemKey());
    out += "  ClearErrors\n  EnumRegKey $0 HKLM " + oem +
           " 0\n  IfErrors wheel_oem_done\n  StrCmp $0 \"\" 0 wheel_oem_done\n"
           "  EnumRegValue $0 HKLM " +
           oem + " 0\n  StrCmp $0 \"\" 0 wheel_oem_done\n" + left(wheel::OemKey()) +
           "wheel_oem_done:\n";
    return out;
}

std::vector<RegEntry> ClassRegistrationData(const std::string& dravikPath,
                                            const std::string& velquinPath) {
    const auto key = [](const GUID& clsid, const char* suffix) {
        return "Software\\Classes\\" + wheel::ClsidKey(clsid) + suffix;
    };
    const GUID& dravik = wheel::kDravikClsid;
    const GUID& velquin = wheel::kVelquinClsid;
    return {
        {HKEY_LOCAL_MACHINE, key(dravik, ""), "", REG_SZ, Text(wheel::kDravikDescription)},
        {HKEY_LOCAL_MACHINE, key(dravik, "\\InProcServer32"), "", REG_SZ, Text(dravikPath),
         "\"${DRAVIK}\""},
        {HKEY_LOCAL_MACHINE, key(dravik, "\\InProcServer32"), "ThreadingModel", REG_SZ,
         Text(wheel::kThreadingModel)},
        {HKEY_LOCAL_MACHINE, key(velquin, ""), "", REG_SZ, Text(wheel::kVelquinDescription)},
        {HKEY_LOCAL_MACHINE, key(velquin, "\\InProcServer32"), "", REG_SZ, Text(velquinPath),
         "\"${VELQUIN}\""},
        {HKEY_LOCAL_MACHINE, key(velquin, "\\InProcServer32"), "ThreadingModel", REG_SZ,
         Text(wheel::kThreadingModel)},
        {HKEY_LOCAL_MACHINE, key(velquin, "\\InProcHandler32"), "", REG_SZ,
         Text(wheel::kVelquinInProcHandler)},
    };
}

std::string ClassRegistrationNsis() {
    const std::vector<RegEntry> entries = ClassRegistrationData("", "");
    const auto value = [](const RegEntry& entry) {
        return entry.nsisValue ? std::string(entry.nsisValue)
                               : NsisQuote(std::string(entry.data.begin(), entry.data.end() - 1));
    };
    std::string out = "!macro WheelWriteClasses DRAVIK VELQUIN\n";
    for (const RegEntry& entry : entries) {
        out += "  WriteRegStr HKLM " + NsisQuote(entry.key) + " " + NsisQuote(entry.valueName) +
               " " + value(entry) + "\n";
    }
    out += "!macroend\n!macro WheelCheckClasses DRAVIK VELQUIN\n";
    for (const RegEntry& entry : entries) {
        // What was found goes in the message: the quoted text is reopened for "$0'".
        std::string message =
            NsisQuote("Registration check: HKLM\\" + entry.key + " " +
                      (entry.valueName.empty() ? "(default)" : entry.valueName) + " is '");
        message.pop_back();
        // StrCmpS: a path or name that differs only in case is not what was written.
        out += "  ClearErrors\n  ReadRegStr $0 HKLM " + NsisQuote(entry.key) + " " +
               NsisQuote(entry.valueName) + "\n  IfErrors +2\n  StrCmpS $0 " + value(entry) +
               " +3\n  DetailPrint " + message + "$0'\"\n  IntOp $R9 $R9 + 1\n";
    }
    return out + "!macroend\n";
}

std::string WheelDataNsisDefines() {
    return "!define WHEEL_FF_KEY " + NsisQuote(wheel::OemForceFeedbackKey()) + "\n";
}

}  // namespace install
