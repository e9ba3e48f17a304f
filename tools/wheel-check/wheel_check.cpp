#include "wheel_check.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/report_board_win32.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/device_link_win32.h"
#include "ffdriver/effect_math.h"
#include "ffdriver/effect_types.h"
#include "ffdriver/hid_search_win32.h"
#include "ffdriver/motor_report.h"

// After windows.h.
#include <tlhelp32.h>

namespace wheelcheck {

namespace {

constexpr DWORD kDiVersion = 0x0700;
constexpr DWORD kMotorMs = 1000;
// Same as the driver's: a path that does not fit its record is no match.
constexpr size_t kPathSize = 1024;

const GUID kIidDirectInput7A = {
    0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const GUID kIidJoyConfig = {
    0x1DE12AB1, 0xC9F5, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// As long as the text needs: a finding may name many effect types and long paths.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

// Text from the ANSI calls (registry values, paths) is in the ANSI code page, which holds ASCII
// as it is; the output is UTF-8.
std::string Utf8FromAnsi(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    const int wideLength =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wideLength <= 0) {
        return text;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        wideLength);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return text;
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::string Hex(HRESULT hr) {
    return Format("0x%08lX", static_cast<unsigned long>(hr));
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Is64BitProgram() {
    return sizeof(void*) == 8;
}

// A 32-bit program on 64-bit Windows.
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return !Is64BitProgram() && IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool WindowsIs64Bit() {
    return Is64BitProgram() || RunsUnderWow64();
}

// The registry view the games of this program's bitness read.
REGSAM OwnView() {
    return Is64BitProgram() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

const char* OwnBits() {
    return Is64BitProgram() ? "64-bit" : "32-bit";
}
const char* OtherBits() {
    return Is64BitProgram() ? "32-bit" : "64-bit";
}
const char* OtherCopy() {
    return Is64BitProgram() ? "wheel-check-32.exe" : "wheel-check.exe";
}

// Where the installer puts this bitness's libraries.
std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = RunsUnderWow64() ? GetSystemWow64DirectoryA(folder, sizeof folder)
                                         : GetSystemDirectoryA(folder, sizeof folder);
    return length > 0 && length < sizeof folder ? folder : "";
}

const char* OsClassText(wheel::OsClass os) {
    switch (os) {
        case wheel::OsWin32s:
            return "Win32s";
        case wheel::OsWin95:
            return "Windows 95";
        case wheel::OsWin98:
            return "Windows 98";
        case wheel::OsWinMe:
            return "Windows Me";
        case wheel::OsWinNT4:
            return "Windows NT 4";
        case wheel::OsWin2000:
            return "Windows 2000";
        case wheel::OsWinXP:
            return "Windows XP";
        case wheel::OsWinNT6:
            return "Windows Vista or later";
        default:
            return "an unknown Windows version";
    }
}

const char* HiveText(HKEY root) {
    return root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// A string value, a REG_EXPAND_SZ one expanded as COM expands it; false when the key or the
// value is missing or not a string.
bool ReadText(wheel::RegistryApi& registry, HKEY root, const std::string& key, const char* name,
              std::string* text) {
    HKEY raw = nullptr;
    if (registry.OpenKey(root, key.c_str(), &raw) != ERROR_SUCCESS) {
        return false;
    }
    wheel::RegKey owner(registry, raw);
    DWORD size = 0;
    DWORD type = 0;
    if (registry.QueryValue(raw, name, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    std::string buffer(size + 1, '\0');
    if (registry.QueryValue(raw, name, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(strnlen(buffer.c_str(), buffer.size()));
    if (type == REG_EXPAND_SZ) {
        const DWORD length = ExpandEnvironmentStringsA(buffer.c_str(), nullptr, 0);
        std::string expanded(length + 1, '\0');
        const DWORD written =
            length == 0 ? 0
                        : ExpandEnvironmentStringsA(buffer.c_str(), expanded.data(), length + 1);
        if (written == 0 || written > length + 1) {
            return false;
        }
        expanded.resize(strnlen(expanded.c_str(), expanded.size()));
        buffer = expanded;
    }
    *text = buffer;
    return true;
}

// Amplify in one hive: its registry type and size, and the number the driver reads from it.
struct StoredAmplify {
    bool present = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    uint32_t value = 0;
};

StoredAmplify ReadAmplify(wheel::RegistryApi& registry, HKEY root) {
    StoredAmplify stored;
    HKEY raw = nullptr;
    if (registry.OpenKey(root, wheel::OemKeyText().c_str(), &raw) != ERROR_SUCCESS) {
        return stored;
    }
    wheel::RegKey key(registry, raw);
    stored.present =
        registry.QueryValue(key.get(), "Amplify", &stored.type, nullptr, &stored.size) ==
            ERROR_SUCCESS &&
        wheel::ReadRegistryValue(registry, key.get(), "Amplify", &stored.value) == ERROR_SUCCESS;
    return stored;
}

std::string TypeName(DWORD type) {
    switch (type) {
        case REG_DWORD:
            return "REG_DWORD";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return Format("type %lu", static_cast<unsigned long>(type));
    }
}

std::string Percent(uint32_t amplify) {
    return amplify % 10 == 0 ? Format("%lu %%", static_cast<unsigned long>(amplify / 10))
                             : Format("%.1f %%", amplify / 10.0);
}

template <typename T>
struct ComReleaser {
    void operator()(T* p) const {
        if (p != nullptr) {
            p->Release();
        }
    }
};

// --- 1. Windows and bitness ---

CheckResult CheckWindows() {
    const wheel::OsClass os = wheel::GetOsClass();
    std::string found = Format("%s (class %u); the rumble intensity lives in %s", OsClassText(os),
                               static_cast<unsigned>(os), HiveText(wheel::AmplifyRoot(os)));
    if (!WindowsIs64Bit()) {
        found += "; a 32-bit program on 32-bit Windows, where all games are 32-bit";
    } else {
        found += Format(
            "; a %s program on 64-bit Windows: it checks what %s games use, %s checks what %s "
            "games use",
            OwnBits(), OwnBits(), OtherCopy(), OtherBits());
    }
    return {"Windows and bitness", Verdict::Ok, found, ""};
}

// --- 2. Installation ---

struct Server {
    const char* file;
    CLSID clsid;
    const char* role;
};

void CheckServer(wheel::RegistryApi& registry, const std::string& folder, const Server& server,
                 std::vector<std::string>* problems) {
    const std::string installed = folder + "\\" + server.file;
    if (!FileExists(installed)) {
        problems->push_back(Format("%s is missing from %s", server.file, folder.c_str()));
    }
    const std::string key = wheel::ClsidKey(server.clsid) + "\\InProcServer32";
    std::string path;
    if (!ReadText(registry, HKEY_CLASSES_ROOT, key, nullptr, &path)) {
        problems->push_back(Format("the %s class %s is not registered in the %s view", server.role,
                                   wheel::GuidString(server.clsid).c_str(), OwnBits()));
        return;
    }
    if (!FileExists(path)) {
        problems->push_back(
            Format("the %s class points at %s, which does not exist", server.role, path.c_str()));
    } else if (!SameText(path, installed)) {
        problems->push_back(Format("the %s class points at %s, not at the installed %s",
                                   server.role, path.c_str(), installed.c_str()));
    }
    std::string model;
    if (!ReadText(registry, HKEY_CLASSES_ROOT, key, "ThreadingModel", &model) ||
        !SameText(model, "Both")) {
        problems->push_back(Format("the %s class has no ThreadingModel \"Both\"", server.role));
    }
}

// A REG_BINARY value of exactly `size` bytes.
bool ReadBytes(wheel::RegistryApi& registry, const std::string& key, const char* name, DWORD size,
               uint8_t* data) {
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, key.c_str(), &raw) != ERROR_SUCCESS) {
        return false;
    }
    wheel::RegKey owner(registry, raw);
    DWORD type = 0;
    DWORD got = size;
    return registry.QueryValue(raw, name, &type, data, &got) == ERROR_SUCCESS &&
           type == REG_BINARY && got == size;
}

uint32_t Le32(const uint8_t* b) {
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// DirectInput takes an axis for a force-feedback actuator only when its Attributes
// (DIOBJECTATTRIBUTES) say so and its FFAttributes (DIFFOBJECTATTRIBUTES) are there; games put
// their effects on actuators only.
void CheckForceAxes(wheel::RegistryApi& registry, std::vector<std::string>* problems) {
    std::vector<std::string> findings;
    std::vector<std::string> good;
    for (const wheel::ForceAxis& axis : wheel::kForceAxes) {
        const std::string key = wheel::OemAxesKey() + "\\" + std::to_string(axis.instance);
        uint8_t attributes[8];
        uint8_t ffAttributes[8];
        std::vector<std::string> wrong;
        if (!ReadBytes(registry, key, "Attributes", sizeof attributes, attributes)) {
            wrong.push_back("no Attributes");
        } else if ((Le32(attributes) & DIDOI_FFACTUATOR) == 0 || attributes[4] != 1 ||
                   attributes[5] != 0 || (attributes[6] | attributes[7] << 8) != axis.usage) {
            wrong.push_back(
                Format("Attributes that do not make it a force-feedback actuator of usage 0x%02X",
                       axis.usage));
        }
        if (!ReadBytes(registry, key, "FFAttributes", sizeof ffAttributes, ffAttributes)) {
            wrong.push_back("no FFAttributes");
        } else if (Le32(ffAttributes) == 0) {
            wrong.push_back("FFAttributes with no force");
        }
        if (wrong.empty()) {
            good.push_back(axis.name);
        } else {
            findings.push_back(Format("%s (Axes\\%u) has ", axis.name, axis.instance) +
                               Join(wrong, " and "));
        }
    }
    if (findings.empty()) {
        return;
    }
    problems->push_back(Join(findings, ", ") +
                        (good.empty() ? std::string(": games would see no force-feedback axis")
                                      : ": games would see only " + Join(good, " and ") +
                                            " as a force-feedback axis"));
}

// The OEM key's values and the twelve effect types under it.
void CheckWheelData(wheel::RegistryApi& registry, std::string* name,
                    std::vector<std::string>* problems) {
    if (!ReadText(registry, HKEY_LOCAL_MACHINE, wheel::OemKey(), "OEMName", name) ||
        name->empty()) {
        problems->push_back("the wheel's OEM key has no OEMName");
    }
    std::string config;
    if (!ReadText(registry, HKEY_LOCAL_MACHINE, wheel::OemKey(), "ConfigCLSID", &config) ||
        !SameText(config, wheel::GuidString(wheel::kVelquinClsid))) {
        problems->push_back("the OEM key's ConfigCLSID does not name the property sheet");
    }
    std::string driver;
    if (!ReadText(registry, HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID", &driver) ||
        !SameText(driver, wheel::GuidString(wheel::kDravikClsid))) {
        problems->push_back("OEMForceFeedback's CLSID does not name the driver");
    }
    CheckForceAxes(registry, problems);

    // Missing ones keep the driver from starting; wrong IDs do not, but DirectInput hands the
    // driver each game effect by its dwEffectId, so it would play as another type.
    std::vector<std::string> missing;
    std::vector<std::string> wrong;
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        DIEFFECTATTRIBUTES attributes = {};
        attributes.dwEffectId = 0xFFFFFFFF;
        const std::string label = Format("%s %s", dravik::EffectTypeName(type),
                                         wheel::GuidString(dravik::EffectTypeGuid(type)).c_str());
        if (!dravik::ReadEffectAttributes(registry, type, &attributes)) {
            missing.push_back(label);
        } else if (attributes.dwEffectId != type) {
            wrong.push_back(label + Format(" (its dwEffectId is %lu, not %lu)",
                                           static_cast<unsigned long>(attributes.dwEffectId),
                                           static_cast<unsigned long>(type)));
        }
    }
    const auto count = [](const std::vector<std::string>& list) {
        return list.size() == dravik::kEffectTypeCount
                   ? std::string("all 12 effect types")
                   : Format("%u of the 12 effect types", static_cast<unsigned>(list.size()));
    };
    const auto isAre = [](const std::vector<std::string>& list) {
        return list.size() == 1 ? "is" : "are";
    };
    if (missing.size() == dravik::kEffectTypeCount) {
        problems->push_back(
            "none of the 12 effect types is registered (the driver does not start "
            "without all twelve)");
    } else if (!missing.empty()) {
        problems->push_back(
            Format("%s %s missing: %s (the driver does not start without all "
                   "twelve)",
                   count(missing).c_str(), isAre(missing), Join(missing, ", ").c_str()));
    }
    if (!wrong.empty()) {
        problems->push_back(
            Format("%s %s registered with a wrong dwEffectId: %s (the driver "
                   "starts, but games' effects of %s would play as other types)",
                   count(wrong).c_str(), isAre(wrong), Join(wrong, ", ").c_str(),
                   wrong.size() == 1 ? "that type" : "these types"));
    }
}

CheckResult CheckInstallation() {
    wheel::Win32RegistryView registry(OwnView());
    std::vector<std::string> problems;
    const std::string folder = SystemFolder();
    const Server servers[] = {{"dravik.dll", wheel::kDravikClsid, "driver"},
                              {"velquin.dll", wheel::kVelquinClsid, "property sheet"}};
    for (const Server& server : servers) {
        CheckServer(registry, folder, server, &problems);
    }

    std::string name;
    HKEY oem = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, wheel::OemKey().c_str(), &oem) != ERROR_SUCCESS) {
        problems.push_back("the wheel's registry data is missing (no HKEY_LOCAL_MACHINE\\" +
                           wheel::OemKey() + ")");
    } else {
        registry.CloseKey(oem);
        CheckWheelData(registry, &name, &problems);
    }

    std::string other;
    if (WindowsIs64Bit()) {
        wheel::Win32RegistryView otherView(Is64BitProgram() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
        std::string unused;
        const bool registered =
            ReadText(otherView, HKEY_CLASSES_ROOT,
                     wheel::ClsidKey(wheel::kDravikClsid) + "\\InProcServer32", nullptr, &unused);
        other = Format("; the %s view %s the driver (%s tells more)", OtherBits(),
                       registered ? "registers" : "does not register", OtherCopy());
    }
    if (problems.empty()) {
        return {"Installation", Verdict::Ok,
                Format("dravik.dll and velquin.dll are in %s and registered (ThreadingModel Both) "
                       "in the %s view; the OEM key names \"%s\", its property sheet and its "
                       "driver; X and Y are force-feedback axes; all 12 effect types are there",
                       folder.c_str(), OwnBits(), name.c_str()) +
                    other,
                ""};
    }
    return {"Installation", Verdict::Problem, Join(problems, "; ") + other,
            "run the installer again"};
}

// --- The motors at an intensity ---

// A constant force, endless, full strength, along one of the two axes.
struct MotorEffect {
    DWORD axes[2] = {0x002, 0x102};
    LONG direction[2];
    DICONSTANTFORCE constant = {10000};
    DIEFFECT effect = {};

    explicit MotorEffect(int motor) : direction{motor == 0 ? 1 : 0, motor == 0 ? 0 : 1} {
        effect.dwSize = sizeof effect;
        effect.dwFlags = DIEFF_CARTESIAN;
        effect.dwDuration = INFINITE;
        effect.dwGain = 10000;
        effect.dwTriggerButton = DIEB_NOTRIGGER;
        effect.cAxes = 2;
        effect.rgdwAxes = axes;
        effect.rglDirection = direction;
        effect.cbTypeSpecificParams = sizeof constant;
        effect.lpvTypeSpecificParams = &constant;
    }
};

using Report = std::array<uint8_t, 4>;

// The report the driver's own mixing makes of one motor's full-strength effect at `amplify`.
Report MotorReport(int motor, uint32_t amplify, uint8_t reportId) {
    const MotorEffect effect(motor);
    dravik::EffectSlot slot = {};
    slot.inUse = 1;
    slot.params = effect.effect;
    slot.axesLength = 2;
    slot.directionLength = 2;
    slot.effectType = dravik::EffectConstant;
    slot.playState = dravik::StatePlaying;
    dravik::AxisLevels levels;
    int32_t a = 0;
    int32_t b = 0;
    if (SUCCEEDED(dravik::EffectMath().ComputeEffectOutput(slot, {10000, amplify}, &levels)) &&
        levels.count == 2) {
        a = dravik::ClampLevel(levels.levels[0]);
        b = dravik::ClampLevel(levels.levels[1]);
    }
    return dravik::BuildMotorReport(reportId, a, b);
}

std::string ReportText(const Report& bytes) {
    return Format("{%u, %u, %u, %u}", bytes[0], bytes[1], bytes[2], bytes[3]);
}

// A motor whose full-strength effect the report turns into all off.
bool MotorSilent(int motor, uint32_t amplify) {
    return MotorReport(motor, amplify, 0) == dravik::BuildMotorReport(0, 0, 0);
}

const char* MotorName(int motor) {
    return motor == 0 ? "motor A" : "motor B";
}

// The Effect page's slider writes Amplify from 0 to 1500.
constexpr uint32_t kSliderMax = 1500;

// The lowest slider position at which both motors can be felt, by the driver's own arithmetic;
// kSliderMax + 1 when there is none.
uint32_t LowestWorkingAmplify() {
    for (uint32_t amplify = 0; amplify <= kSliderMax; ++amplify) {
        if (!MotorSilent(0, amplify) && !MotorSilent(1, amplify)) {
            return amplify;
        }
    }
    return kSliderMax + 1;
}

// --- 3. Rumble intensity ---

CheckResult CheckIntensity(uint32_t* amplifyInUse) {
    wheel::Win32RegistryView registry(OwnView());
    const HKEY used = wheel::AmplifyRoot(wheel::GetOsClass());
    const HKEY other = used == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const StoredAmplify stored = ReadAmplify(registry, used);
    // Without a value the driver keeps its 1000.
    const uint32_t value = stored.present ? stored.value : 1000;
    *amplifyInUse = value;
    std::string found =
        stored.present
            ? Format("Amplify is %lu (%s) in %s, the hive the driver reads on this Windows",
                     static_cast<unsigned long>(value), Percent(value).c_str(), HiveText(used))
            : Format(
                  "no Amplify in %s, the hive the driver reads on this Windows: effects play "
                  "at 100 %%",
                  HiveText(used));
    const StoredAmplify otherValue = ReadAmplify(registry, other);
    if (otherValue.present && (!stored.present || otherValue.value != value)) {
        found +=
            Format("; %s holds %lu (%s), which is not used on this Windows", HiveText(other),
                   static_cast<unsigned long>(otherValue.value), Percent(otherValue.value).c_str());
    }

    std::vector<std::string> problems;
    if (stored.present && (stored.type != REG_DWORD || stored.size != sizeof(DWORD))) {
        problems.push_back(
            Format("it is a %s value of %lu bytes, where the Effect page writes a "
                   "4-byte REG_DWORD, and the driver reads its bytes as that number",
                   TypeName(stored.type).c_str(), static_cast<unsigned long>(stored.size)));
    }
    if (value > kSliderMax) {
        problems.push_back(Format("that is beyond the slider's 0 to %lu (150 %%)",
                                  static_cast<unsigned long>(kSliderMax)));
    }
    // What the driver's own arithmetic makes of a full-strength effect on each motor.
    const bool silentA = MotorSilent(0, value);
    const bool silentB = MotorSilent(1, value);
    const uint32_t lowest = LowestWorkingAmplify();
    if (silentA || silentB) {
        problems.push_back(Format(
            "at this intensity %s even at full strength, as the driver rounds the levels; both "
            "motors work from %lu (%s) on",
            silentA && silentB ? "both motors stay still"
                               : (std::string(MotorName(silentA ? 0 : 1)) + " stays still").c_str(),
            static_cast<unsigned long>(lowest), Percent(lowest).c_str()));
    }
    if (problems.empty()) {
        return {"Rumble intensity", Verdict::Ok, found, ""};
    }
    return {"Rumble intensity", Verdict::Problem, found + ": " + Join(problems, "; "),
            Format("on the Effect page (Game Controllers, the wheel's Properties) move the "
                   "intensity slider to %lu (%s) or above, at most %lu (150 %%), and press Apply",
                   static_cast<unsigned long>(lowest), Percent(lowest).c_str(),
                   static_cast<unsigned long>(kSliderMax))};
}

// --- 4. The wheel ---

struct WheelFound {
    std::string path;  // the driver's own search found this; "" when it found nothing
    uint8_t reportId = 0;
};

// What stopped DirectInput from naming the wheel's joystick ID.
enum class DirectInputGap { OtherDevice, NoDirectInput, NoJoyConfig };

// Why the driver's search found nothing: what this DirectInput says about the joystick ID.
std::string DirectInputAnswer(HINSTANCE module, uint32_t joystickId, DirectInputGap* gap) {
    *gap = DirectInputGap::OtherDevice;
    IDirectInput7A* raw = nullptr;
    const HRESULT created = DirectInputCreateEx(module, kDiVersion, kIidDirectInput7A,
                                                reinterpret_cast<void**>(&raw), nullptr);
    if (FAILED(created) || raw == nullptr) {
        *gap = DirectInputGap::NoDirectInput;
        return "DirectInput 7 could not be created (" + Hex(created) + ")";
    }
    std::unique_ptr<IDirectInput7A, ComReleaser<IDirectInput7A>> input(raw);
    IDirectInputJoyConfig* rawConfig = nullptr;
    if (FAILED(input->QueryInterface(kIidJoyConfig, reinterpret_cast<void**>(&rawConfig))) ||
        rawConfig == nullptr) {
        *gap = DirectInputGap::NoJoyConfig;
        return "this DirectInput has no IDirectInputJoyConfig, through which the driver maps a "
               "joystick ID to a device";
    }
    std::unique_ptr<IDirectInputJoyConfig, ComReleaser<IDirectInputJoyConfig>> config(rawConfig);
    DIJOYCONFIG joy = {};
    joy.dwSize = sizeof joy;
    const HRESULT hr = config->GetConfig(joystickId, &joy, DIJC_GUIDINSTANCE);
    if (hr != S_OK) {
        return Format("DirectInput has no joystick %lu (%s)",
                      static_cast<unsigned long>(joystickId), Hex(hr).c_str());
    }
    return Format("DirectInput's joystick %lu is another device",
                  static_cast<unsigned long>(joystickId));
}

CheckResult CheckWheel(const Options& options, WheelFound* wheelFound) {
    const HINSTANCE module = GetModuleHandleA(nullptr);
    dravik::HidDeviceLink link(module);
    char path[kPathSize] = {};
    link.FindDevicePath(options.joystickId, path, sizeof path);
    const unsigned long id = options.joystickId;
    if (path[0] != '\0') {
        uint16_t vid = 0;
        uint16_t pid = 0;
        if (!dravik::HidDeviceIds(path, &vid, &pid)) {
            return {"The wheel", Verdict::Problem,
                    Format("joystick %lu is at %s, but the device does not answer", id, path),
                    "unplug the wheel and plug it in again"};
        }
        if (vid != wheel::kVendorId || pid != wheel::kProductId) {
            return {"The wheel", Verdict::Problem,
                    Format("joystick %lu is another device (vendor %04X, product %04X) at %s", id,
                           vid, pid, path),
                    "make the wheel the first game controller in Game Controllers (Advanced), or "
                    "run the check with --id and the wheel's number"};
        }
        const HANDLE device = link.Open(path);
        if (device == INVALID_HANDLE_VALUE || device == nullptr) {
            return {"The wheel", Verdict::Problem,
                    Format("joystick %lu is the wheel at %s, but it cannot be opened for the "
                           "motors (error %lu)",
                           id, path, GetLastError()),
                    "close the programs that use the wheel, or unplug it and plug it in again"};
        }
        wheelFound->reportId = link.ReportId(device);
        link.Close(device);
        wheelFound->path = path;
        return {"The wheel", Verdict::Ok,
                Format("joystick %lu is the wheel (vendor %04X, product %04X) at %s; the driver "
                       "sends it report ID %u",
                       id, vid, pid, path, wheelFound->reportId),
                ""};
    }
    DirectInputGap gap = DirectInputGap::OtherDevice;
    const std::string why = DirectInputAnswer(module, options.joystickId, &gap);
    const std::string plugged = dravik::FindHidInterfaceByIds(wheel::kVendorId, wheel::kProductId);
    if (!plugged.empty()) {
        const char* advice =
            gap == DirectInputGap::NoDirectInput
                ? "DirectInput itself does not start on this computer, so no game finds the "
                  "wheel: repair DirectX (install DirectX 7 or later, or on Windows 10 and later "
                  "run \"sfc /scannow\" as an administrator) and run the check again"
            : gap == DirectInputGap::NoJoyConfig
                ? "nothing on the wheel's side: this DirectInput (Wine's, for one) cannot tell "
                  "the driver which device a joystick ID is; on Windows, install DirectX 7 or "
                  "later"
                : "make the wheel the first game controller in Game Controllers (Advanced), or "
                  "run the check with --id and the wheel's number";
        return {"The wheel", Verdict::Problem,
                Format("the wheel is plugged in (%s) but DirectInput does not list it as "
                       "joystick %lu: %s; the driver would not find it either",
                       plugged.c_str(), id, why.c_str()),
                advice};
    }
    return {"The wheel", Verdict::Problem,
            Format("no wheel is plugged in (no HID device with vendor %04X, product %04X; %s)",
                   wheel::kVendorId, wheel::kProductId, why.c_str()),
            "plug the wheel in (straight into the computer, not a hub) and run the check again"};
}

// --- Other programs with the driver ---

// A report this recent means the program is driving the wheel now (one goes out every 25 ms).
constexpr uint32_t kSendingWithinMs = 250;

struct DriverUsers {
    // Programs that sent the wheel reports just now: they spoil the rumble test.
    std::vector<std::string> senders;
    // Programs with the driver loaded that send the wheel nothing: harmless to the test.
    std::vector<std::string> idle;
    // Something else has the driver loaded that this program may not look into.
    bool unseenHolder = false;
};

// The processes whose drivers sent the wheel at `path` a report within kSendingWithinMs, as the
// drivers' report board tells.
std::vector<DWORD> SendingProcesses(const std::string& path) {
    std::vector<DWORD> senders;
    std::vector<wheel::ReportBoardEntry> entries;
    wheel::ReadReportBoard(&entries);
    const LONG hash = wheel::ReportBoardPathHash(path.c_str());
    for (const wheel::ReportBoardEntry& entry : entries) {
        if (entry.processId != GetCurrentProcessId() && entry.pathHash == hash &&
            entry.msSinceReport < kSendingWithinMs) {
            senders.push_back(entry.processId);
        }
    }
    return senders;
}

// "game.exe (process 42, 32-bit)": the bitness where this program may ask.
std::string ProcessName(const PROCESSENTRY32& process) {
    std::string bits;
    const HANDLE handle =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.th32ProcessID);
    if (handle != nullptr) {
        BOOL wow64 = FALSE;
        if (IsWow64Process(handle, &wow64)) {
            bits = wow64 || !WindowsIs64Bit() ? ", 32-bit" : ", 64-bit";
        }
        CloseHandle(handle);
    }
    return Format("%s (process %lu%s)", Utf8FromAnsi(process.szExeFile).c_str(),
                  static_cast<unsigned long>(process.th32ProcessID), bits.c_str());
}

// Whether a process has the driver and the property sheet loaded; false when this program may
// not look into it. The 32-bit modules of a 32-bit process are listed to a 64-bit program too.
bool LoadedModules(DWORD processId, bool* driver, bool* sheet) {
    const HANDLE modules =
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    if (modules == INVALID_HANDLE_VALUE) {
        return false;
    }
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL next = Module32First(modules, &module); next; next = Module32Next(modules, &module)) {
        *driver = *driver || _stricmp(module.szModule, "dravik.dll") == 0;
        *sheet = *sheet || _stricmp(module.szModule, "velquin.dll") == 0;
    }
    CloseHandle(modules);
    return true;
}

// The other processes that drive the wheel now (`sending`, from the report board), and those that
// merely have the driver loaded, named as far as this program may look into them.
DriverUsers OtherDriverUsers(const std::vector<DWORD>& sending) {
    DriverUsers users;
    std::vector<DWORD> unnamed = sending;
    size_t holders = 0;
    const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 process = {};
        process.dwSize = sizeof process;
        for (BOOL more = Process32First(processes, &process); more;
             more = Process32Next(processes, &process)) {
            const DWORD id = process.th32ProcessID;
            if (id == GetCurrentProcessId() || id == 0) {
                continue;
            }
            bool driver = false;
            bool sheet = false;
            LoadedModules(id, &driver, &sheet);
            const auto sender = std::find(unnamed.begin(), unnamed.end(), id);
            if (sender != unnamed.end()) {
                unnamed.erase(sender);
                users.senders.push_back(
                    ProcessName(process) +
                    (sheet ? ", Game Controllers with the wheel's Properties open (its Effect "
                             "page drives the motors)"
                           : ", a game or another program that uses the wheel's force feedback"));
                ++holders;
            } else if (driver) {
                users.idle.push_back(ProcessName(process));
                ++holders;
            }
        }
        CloseHandle(processes);
    }
    for (DWORD id : unnamed) {
        users.senders.push_back(Format("process %lu, which this check may not look into",
                                       static_cast<unsigned long>(id)));
        ++holders;
    }
    // The driver's named event lives while any process has the driver loaded: more handles to it
    // than this program's own mean a holder not named above. This process counts itself out:
    // the handle opened here to ask, and the driver's own when it is loaded here.
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, wheel::VidPidName().c_str());
    if (event != nullptr) {
        const ULONG own = GetModuleHandleA("dravik.dll") != nullptr ? 2 : 1;
        ULONG count = 0;
        users.unseenHolder = wheel::HandleCount(event, &count) && count > own + holders;
        CloseHandle(event);
    } else {
        // Refused means it is there, made by someone under rights of their own.
        users.unseenHolder = GetLastError() == ERROR_ACCESS_DENIED && holders == 0;
    }
    return users;
}

// The note for programs that have the driver loaded but do not drive the wheel.
std::string IdleNote(const DriverUsers& users) {
    std::vector<std::string> who = users.idle;
    if (users.unseenHolder) {
        who.push_back("a program this check may not look into (one run as administrator, perhaps)");
    }
    if (who.empty()) {
        return "";
    }
    return " (note: " + Join(who, "; ") + (who.size() == 1 ? " has" : " have") +
           " the wheel's driver loaded but sent the wheel nothing during the test, which does "
           "not disturb it)";
}

// --- 5. Rumble test ---

// Why COM could not create the installed driver: its library's start-up (DllMain) failing is
// told apart from a missing or broken installation.
CheckResult CreationFailed(HRESULT created) {
    const char* name = "Rumble test";
    bool startFailed = created == HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED);
    if (!startFailed) {
        wheel::Win32RegistryView registry(OwnView());
        std::string path;
        if (ReadText(registry, HKEY_CLASSES_ROOT,
                     wheel::ClsidKey(wheel::kDravikClsid) + "\\InProcServer32", nullptr, &path)) {
            const HMODULE module = LoadLibraryA(path.c_str());
            if (module != nullptr) {
                FreeLibrary(module);
            } else {
                startFailed = GetLastError() == ERROR_DLL_INIT_FAILED;
            }
        }
    }
    if (!startFailed) {
        return {name, Verdict::Problem,
                "the installed driver could not be created through COM (" + Hex(created) + ")",
                "run the installer again"};
    }
    std::string found = "the installed driver's library refused to start (its DllMain failed, " +
                        Hex(HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED)) + "; COM said " +
                        Hex(created) + ")";
    // The one thing its start-up does is to make or open the event every driver shares.
    HANDLE event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, wheel::VidPidName().c_str());
    const bool refused = event == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
    if (event != nullptr) {
        CloseHandle(event);
    }
    if (refused) {
        found += ": the event " + wheel::VidPidName() +
                 ", which every program with the driver shares, was made by another program "
                 "under rights that do not let this one even wait on it";
        return {name, Verdict::Problem, found,
                "close the programs that use the wheel (a game run as administrator, for one) "
                "and run the check again; if it stays, restart Windows"};
    }
    return {name, Verdict::Problem, found, "restart Windows and run the check again"};
}

CheckResult RumbleTest(const Options& options, const WheelFound& wheelFound, uint32_t amplify) {
    const char* name = "Rumble test";
    if (!options.rumble) {
        return {name, Verdict::Skipped, "not run (--no-rumble)", ""};
    }
    if (wheelFound.path.empty()) {
        return {name, Verdict::Skipped, "not run: the driver would find no wheel", ""};
    }
    // Who drives the wheel is asked before the test and after it: a program may start or stop
    // in between.
    std::vector<DWORD> sending = SendingProcesses(wheelFound.path);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IDirectInputEffectDriver* raw = nullptr;
    const HRESULT created =
        CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&raw));
    if (FAILED(created) || raw == nullptr) {
        if (SUCCEEDED(init)) {
            CoUninitialize();
        }
        return CreationFailed(FAILED(created) ? created : E_POINTER);
    }
    const DWORD id = options.joystickId;
    // One report straight to the wheel before the driver plays: do its sends succeed at all?
    dravik::HidDeviceLink link(GetModuleHandleA(nullptr));
    const HANDLE device = link.Open(wheelFound.path.c_str());
    const auto allOff = dravik::BuildMotorReport(wheelFound.reportId, 0, 0);
    const bool sendOk =
        device != INVALID_HANDLE_VALUE &&
        link.SendFeature(device, allOff.data(), static_cast<uint32_t>(allOff.size()));
    if (device != INVALID_HANDLE_VALUE) {
        link.Close(device);
    }
    if (!sendOk) {
        raw->Release();
        if (SUCCEEDED(init)) {
            CoUninitialize();
        }
        return {name, Verdict::Problem,
                "the wheel refused an all-off report sent to it directly: it is not answering",
                "unplug the wheel, plug it in again and run the check again"};
    }

    std::vector<std::string> failures;
    auto note = [&failures](const char* call, HRESULT hr) {
        if (hr != S_OK) {
            failures.push_back(Format("%s gave %s", call, Hex(hr).c_str()));
        }
    };
    note("DeviceID", raw->DeviceID(kDiVersion, id, TRUE, 0, nullptr));
    note("SetGain", raw->SetGain(id, 10000));
    std::string sent;
    for (int motor = 0; motor < 2 && failures.empty(); ++motor) {
        MotorEffect effect(motor);
        DWORD handle = 0;
        note("DownloadEffect",
             raw->DownloadEffect(id, dravik::EffectConstant, &handle, &effect.effect, 0));
        note("StartEffect", raw->StartEffect(id, handle, 0, 1));
        Sleep(kMotorMs);
        note("StopEffect", raw->StopEffect(id, handle));
        note("DestroyEffect", raw->DestroyEffect(id, handle));
        sent += Format("%s%s alone for 1 s (%s every 25 ms)", motor == 0 ? "" : ", then ",
                       MotorName(motor),
                       ReportText(MotorReport(motor, amplify, wheelFound.reportId)).c_str());
    }
    for (DWORD id : SendingProcesses(wheelFound.path)) {
        if (std::find(sending.begin(), sending.end(), id) == sending.end()) {
            sending.push_back(id);
        }
    }
    // The last release stops the driver, which ends with an all-off report.
    raw->Release();
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
    const DriverUsers users = OtherDriverUsers(sending);
    if (!failures.empty()) {
        return {name, Verdict::Problem,
                "the installed driver did not play the test: " + Join(failures, ", "),
                "unplug the wheel, plug it in again and run the check again; if it stays, run the "
                "installer again"};
    }
    std::string found = "the installed driver played " + sent + ", then all off " +
                        ReportText(dravik::BuildMotorReport(wheelFound.reportId, 0, 0)) +
                        "; every call succeeded and the wheel accepts reports";
    if (!users.senders.empty()) {
        return {name, Verdict::Inconclusive,
                "inconclusive: another program sends the wheel its own report every 25 ms "
                "between the test's, so the motors stutter or stay still whatever the test plays "
                "(" +
                    Join(users.senders, "; ") + "); " + found + IdleNote(users),
                "close that program (or the wheel's Properties in Game Controllers) and run the "
                "check again"};
    }
    found += IdleNote(users);
    // Only the motors the reports move are worth asking about.
    const bool feltA = !MotorSilent(0, amplify);
    const bool feltB = !MotorSilent(1, amplify);
    if (feltA && feltB) {
        found += ". Did you feel motor A, then motor B?";
    } else if (feltA || feltB) {
        found += Format(". At this intensity %s stays still: did you feel %s?",
                        MotorName(feltA ? 1 : 0), MotorName(feltA ? 0 : 1));
    } else {
        found += " (at this intensity both motors stay still)";
    }
    return {name, Verdict::Ok, found, ""};
}

// The length of the well-formed UTF-8 sequence at `text`, 0 when there is none.
size_t Utf8Sequence(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    size_t length = 0;
    uint32_t point = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (length > left) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
        point = (point << 6) | (text[i] & 0x3F);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
        return 0;
    }
    return length;
}

// A JSON string of UTF-8 text; a byte that is no part of well-formed UTF-8 becomes U+FFFD, so
// the output is JSON whatever the text holds.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        const size_t length = Utf8Sequence(bytes + i, text.size() - i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += Format("\\u%04x", static_cast<unsigned>(c));
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    *options = Options();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-rumble") {
            options->rumble = false;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options->help = true;
        } else if (arg == "--id") {
            if (i + 1 >= args.size()) {
                *error = "--id needs a joystick ID";
                return false;
            }
            const std::string& value = args[++i];
            char* end = nullptr;
            const unsigned long id = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || id > 15) {
                *error = "--id takes a joystick ID from 0 to 15, not \"" + value + "\"";
                return false;
            }
            options->joystickId = static_cast<uint32_t>(id);
        } else {
            *error = "unknown argument \"" + arg + "\"";
            return false;
        }
    }
    return true;
}

std::vector<CheckResult> RunChecks(const Options& options) {
    std::vector<CheckResult> results;
    results.push_back(CheckWindows());
    results.push_back(CheckInstallation());
    uint32_t amplify = 1000;
    results.push_back(CheckIntensity(&amplify));
    WheelFound wheelFound;
    results.push_back(CheckWheel(options, &wheelFound));
    results.push_back(RumbleTest(options, wheelFound, amplify));
    // What the checks found holds registry text and paths in the ANSI code page.
    for (CheckResult& result : results) {
        result.found = Utf8FromAnsi(result.found);
        result.advice = Utf8FromAnsi(result.advice);
    }
    return results;
}

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Problem:
            return "problem";
        case Verdict::Inconclusive:
            return "inconclusive";
        default:
            return "skipped";
    }
}

int ExitCode(const std::vector<CheckResult>& results) {
    for (const CheckResult& result : results) {
        if (!result.ok()) {
            return kExitProblem;
        }
    }
    return kExitOk;
}

std::string FormatText(const std::vector<CheckResult>& results) {
    std::string text;
    size_t problems = 0;
    size_t unsure = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& result = results[i];
        const char* stop = !result.found.empty() && result.found.back() == '?' ? "" : ".";
        text += Format("%-8s %u. ", VerdictText(result.verdict), static_cast<unsigned>(i + 1)) +
                result.name + ": " + result.found + stop;
        if (result.verdict == Verdict::Problem || result.verdict == Verdict::Inconclusive) {
            ++(result.verdict == Verdict::Problem ? problems : unsure);
            text += " What to do: " + result.advice + ".";
        }
        text += "\n";
    }
    if (problems > 0) {
        text += Format("%u problem%s found: the wheel will not rumble until %s mended.\n",
                       static_cast<unsigned>(problems), problems == 1 ? "" : "s",
                       problems == 1 ? "it is" : "they are");
    } else if (unsure > 0) {
        text +=
            "No problem found, but the rumble test is inconclusive: close the other program "
            "and run the check again.\n";
    } else {
        text += "Every check is ok: games of this bitness can make the wheel rumble.\n";
    }
    return text;
}

std::string FormatJson(const std::vector<CheckResult>& results) {
    std::string json = Format("{\"exit_code\": %d, \"checks\": [", ExitCode(results));
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& result = results[i];
        json += std::string(i == 0 ? "" : ", ") + "{\"name\": " + JsonString(result.name) +
                ", \"verdict\": \"" + VerdictText(result.verdict) +
                "\", \"ok\": " + (result.ok() ? "true" : "false") +
                ", \"found\": " + JsonString(result.found) +
                ", \"advice\": " + JsonString(result.advice) + "}";
    }
    return json + "]}\n";
}

std::string Usage() {
    return "usage: wheel-check [--id N] [--no-rumble] [--json] [--help]\n"
           "Checks whether the Talvex DX wheel will rumble in games of this program's bitness,\n"
           "and says why not: Windows, the installation, the rumble intensity, the wheel, and a\n"
           "short rumble of each motor. It changes nothing.\n"
           "  --id N       the wheel's DirectInput joystick ID, 0 to 15 (default 0)\n"
           "  --no-rumble  leave the motors alone\n"
           "  --json       the results as one JSON object\n"
           "Exit code: 0 every check ok, 1 a problem, 2 bad arguments.\n";
}

int RunWheelCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        err << "wheel-check: " << error << "\n" << Usage();
        return kExitBadArguments;
    }
    if (options.help) {
        out << Usage();
        return kExitOk;
    }
    const std::vector<CheckResult> results = RunChecks(options);
    out << (options.json ? FormatJson(results) : FormatText(results));
    out.flush();
    return ExitCode(results);
}

}  // namespace wheelcheck
