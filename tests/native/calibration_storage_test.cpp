// Calibration storage against the in-memory registry: which layout each system gets, the search
// for the device key, the bytes of the per-axis values and of the 98/Me record, and what happens
// when the registry refuses.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "hosted/memory_registry.h"
#include "propsheet/calibration.h"

namespace {

using hosted::MemoryRegistry;
using velquin::CalibrationLayout;

// The paths written out here rather than taken from the code under test, so a typo there shows.
const std::string kSettingsKey =
    "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\<FixedKey>"
    "\\CurrentJoystickSettings";
const std::string kDeviceClasses =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kDiCalibration =
    "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\DirectInput"
    "\\VID_2D71&PID_5A08\\Calibration";
const std::string kInterfaceDirectX = "#\\Device Parameters\\DirectX";
const std::string kDirectXKey = "Software\\Microsoft\\DirectX";
const std::string kWheelInterface = "##?#HID#VID_2D71&PID_5A08#7&1f2e3d4c&0&0000#{4d1e55b2}";

// The last byte is zero so that a 15-byte value padded with zeros would compare equal.
constexpr GUID kWheelGuid = {
    0x9A3C51E0, 0x2D71, 0x5A08, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00}};
constexpr GUID kOtherGuid = {
    0x1B2C3D4E, 0x0001, 0x0002, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}};

const HKEY kHklm = HKEY_LOCAL_MACHINE;
const HKEY kHkcu = HKEY_CURRENT_USER;

// Forwards to a MemoryRegistry and checks how the code under test uses it: every handle it
// passes in must be a root or one it opened and has not closed. Chosen calls can be made to
// fail; a failed open or create leaves a poisoned handle behind, as careless code might use it.
class CheckedRegistry final : public wheel::RegistryApi {
  public:
    enum class Op { Open, Create };

    MemoryRegistry memory;
    std::vector<std::string> misuse;
    int creates = 0;

    void Fail(Op op, const std::string& subKey, LONG error) {
        faults_.push_back({op, subKey, error});
    }

    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override {
        Check(root, "OpenKey");
        LONG status = Fault(Op::Open, subKey);
        if (status == ERROR_SUCCESS) {
            status = memory.OpenKey(root, subKey, result);
        }
        return Track(status, result);
    }
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override {
        Check(root, "CreateKey");
        ++creates;
        LONG status = Fault(Op::Create, subKey);
        if (status == ERROR_SUCCESS) {
            status = memory.CreateKey(root, subKey, result);
        }
        return Track(status, result);
    }
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override {
        Check(key, "EnumKey");
        return memory.EnumKey(key, index, name, nameSize);
    }
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override {
        Check(key, "QueryValue");
        return memory.QueryValue(key, valueName, type, data, dataSize);
    }
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override {
        Check(key, "SetValue");
        return memory.SetValue(key, valueName, type, data, dataSize);
    }
    LONG CloseKey(HKEY key) override {
        Check(key, "CloseKey");
        live_.erase(key);
        return memory.CloseKey(key);
    }

  private:
    struct FaultRule {
        Op op;
        std::string subKey;
        LONG error;
    };

    static bool IsRoot(HKEY key) {
        return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
               key == HKEY_USERS;
    }
    void Check(HKEY key, const char* call) {
        if (!IsRoot(key) && live_.count(key) == 0) {
            misuse.push_back(std::string(call) + " on a handle that is not open");
        }
    }
    LONG Fault(Op op, const char* subKey) const {
        for (const FaultRule& rule : faults_) {
            if (rule.op == op && subKey != nullptr && rule.subKey == subKey) {
                return rule.error;
            }
        }
        return ERROR_SUCCESS;
    }
    LONG Track(LONG status, HKEY* result) {
        if (status == ERROR_SUCCESS) {
            live_.insert(*result);
        } else {
            *result = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xBAD1));
        }
        return status;
    }

    std::vector<FaultRule> faults_;
    std::set<HKEY> live_;
};

// Every DWORD of the hardware configuration distinct and four bytes wide, so a value taken from
// the wrong member or in the wrong byte order shows. Ranges: 0x0P0M0M5A with P 1 (min), 2 (max),
// 3 (centre) and M the member's place (X 1 ... V 6).
DIJOYCONFIG MakeConfig() {
    DIJOYCONFIG config = {};
    config.dwSize = sizeof config;
    config.guidInstance = kWheelGuid;
    config.hwc.hws.dwFlags = 0xA1B2C3D4;
    config.hwc.hws.dwNumButtons = 12;
    config.hwc.dwUsageSettings = 0x00010203;
    JOYPOS* const positions[3] = {&config.hwc.hwv.jrvHardware.jpMin,
                                  &config.hwc.hwv.jrvHardware.jpMax,
                                  &config.hwc.hwv.jrvHardware.jpCenter};
    for (DWORD p = 0; p < 3; ++p) {
        DWORD* const members[6] = {&positions[p]->dwX, &positions[p]->dwY, &positions[p]->dwZ,
                                   &positions[p]->dwR, &positions[p]->dwU, &positions[p]->dwV};
        for (DWORD m = 0; m < 6; ++m) {
            *members[m] = 0x00010000u * (p + 1) + 0x101u * (m + 1) + 0x5A000000u;
        }
    }
    for (DWORD i = 0; i < 4; ++i) {
        config.hwc.hwv.dwPOVValues[i] = 0x0B000000u + i * 9000;
    }
    config.hwc.hwv.dwCalFlags = 0x0C0D0E0F;
    config.hwc.dwType = 0x7E6D5C4B;
    config.hwc.dwReserved = 0x31415926;
    config.dwGain = 10000;
    return config;
}

// Every axis from 0 to 255 with the centre at 128: what "Default" stores.
DIJOYCONFIG DefaultConfig() {
    DIJOYCONFIG config = MakeConfig();
    JOYRANGE& range = config.hwc.hwv.jrvHardware;
    for (JOYPOS* pos : {&range.jpMin, &range.jpMax, &range.jpCenter}) {
        const DWORD v = pos == &range.jpMin ? 0 : pos == &range.jpMax ? 255 : 128;
        *pos = {v, v, v, v, v, v};
    }
    return config;
}

void PutLe32(std::vector<BYTE>* bytes, DWORD value) {
    for (int i = 0; i < 4; ++i) {
        bytes->push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

enum Member { kX, kY, kZ, kR };
DWORD Pick(const JOYPOS& pos, Member member) {
    switch (member) {
        case kX:
            return pos.dwX;
        case kY:
            return pos.dwY;
        case kZ:
            return pos.dwZ;
        default:
            return pos.dwR;
    }
}

// Minimum, centre, maximum.
std::vector<BYTE> AxisBytes(const DIJOYCONFIG& config, Member member) {
    const JOYRANGE& range = config.hwc.hwv.jrvHardware;
    std::vector<BYTE> bytes;
    PutLe32(&bytes, Pick(range.jpMin, member));
    PutLe32(&bytes, Pick(range.jpCenter, member));
    PutLe32(&bytes, Pick(range.jpMax, member));
    return bytes;
}

struct AxisRow {
    const char* subKey;
    Member member;
};
const AxisRow kAxes[] = {{"0", kX}, {"1", kY}, {"2", kZ}, {"5", kR}};

std::string Hex(const std::vector<BYTE>& bytes) {
    std::string text;
    for (BYTE byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    return text;
}

// Every key as "ROOT\path" and every value as "ROOT\path|name|type|hex", so created keys show
// as well as values.
std::set<std::string> Dump(const MemoryRegistry& registry) {
    std::set<std::string> lines;
    for (const auto& key : registry.Snapshot()) {
        lines.insert(key.first);
        for (const auto& value : key.second) {
            lines.insert(key.first + "|" + value.first + "|" + std::to_string(value.second.type) +
                         "|" + Hex(value.second.data));
        }
    }
    return lines;
}

std::vector<std::string> Minus(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::vector<std::string> out;
    for (const std::string& line : a) {
        if (b.count(line) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

void PutGuid(MemoryRegistry& registry, HKEY root, const std::string& key, const GUID& guid,
             DWORD type = REG_BINARY) {
    registry.PutValue(root, key, "GUID", type, &guid, sizeof guid);
}

// The device key of each layout with the wheel's GUID in place, and the 98/Me settings key.
struct Places {
    std::string interfaceKey = kDeviceClasses + "\\" + kWheelInterface;
    std::string machineKey = kDiCalibration + "\\0";
    std::string userKey = kDiCalibration + "\\0";
};

Places InstallEveryLayout(MemoryRegistry& registry) {
    Places places;
    registry.PutValue(kHklm, kSettingsKey, "Joystick2Configuration", REG_BINARY, "keep", 4);
    PutGuid(registry, kHklm, places.interfaceKey + "\\" + kInterfaceDirectX, kWheelGuid);
    PutGuid(registry, kHklm, places.machineKey, kWheelGuid);
    PutGuid(registry, kHkcu, places.userKey, kWheelGuid);
    return places;
}

void PutDirectXVersion(MemoryRegistry& registry, const char* text) {
    registry.PutValue(kHklm, kDirectXKey, "Version", REG_SZ, text, std::strlen(text) + 1);
}

const char* LayoutName(CalibrationLayout layout) {
    switch (layout) {
        case CalibrationLayout::JoystickSettings:
            return "joystick settings";
        case CalibrationLayout::DeviceClass:
            return "device class";
        case CalibrationLayout::DirectInputMachine:
            return "DirectInput machine";
        case CalibrationLayout::DirectInputUser:
            return "DirectInput user";
    }
    return "?";
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The layouts whose place a line of the dump belongs to. Key names compare as the registry
// compares them, whatever case created them first.
std::set<std::string> LayoutsTouched(const std::vector<std::string>& lines) {
    std::set<std::string> layouts;
    for (const std::string& line : lines) {
        auto under = [&line](HKEY root, const std::string& path) {
            const std::string prefix = Lower(
                std::string(root == kHklm ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") + path);
            return Lower(line).compare(0, prefix.size(), prefix) == 0;
        };
        if (under(kHklm, kSettingsKey)) {
            layouts.insert(LayoutName(CalibrationLayout::JoystickSettings));
        } else if (under(kHklm, kDeviceClasses)) {
            layouts.insert(LayoutName(CalibrationLayout::DeviceClass));
        } else if (under(kHklm, kDiCalibration)) {
            layouts.insert(LayoutName(CalibrationLayout::DirectInputMachine));
        } else if (under(kHkcu, kDiCalibration)) {
            layouts.insert(LayoutName(CalibrationLayout::DirectInputUser));
        } else {
            layouts.insert("elsewhere: " + line);
        }
    }
    return layouts;
}

// The four axis values below axesKey hold the configuration's ranges, the axis subkeys are
// exactly 0, 1, 2 and 5 and were created in that order.
void ExpectAxisValues(const MemoryRegistry& registry, HKEY root, const std::string& axesKey,
                      const DIJOYCONFIG& config) {
    EXPECT_EQ(registry.SubKeys(root, axesKey), (std::vector<std::string>{"0", "1", "2", "5"}))
        << axesKey;
    for (const AxisRow& axis : kAxes) {
        MemoryRegistry::Value value;
        ASSERT_TRUE(registry.GetValue(root, axesKey + "\\" + axis.subKey, "Calibration", &value))
            << axesKey << "\\" << axis.subKey;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(Hex(value.data), Hex(AxisBytes(config, axis.member))) << axis.subKey;
    }
}

void ExpectClean(const CheckedRegistry& registry, const std::string& context) {
    EXPECT_EQ(registry.memory.OpenHandles(), 0u) << context;
    EXPECT_TRUE(registry.misuse.empty()) << context << ": " << registry.misuse.front();
}

// ----------------------------------------------------------------------------------------------
// The DirectX version.

TEST(DirectXVersion, ParsesFourHexadecimalNumbers) {
    struct Row {
        const char* text;
        uint32_t expected;
    };
    const Row rows[] = {
        {"4.09.00.0904", 0x0900},
        {"4.08.01.0810", 0x0801},
        {"4.08.00.0400", 0x0800},
        {"4.07.00.0700", 0x0700},
        {"4.0a.0B.0000", 0x0A0B},
        {"4.100.1.0", 0x10001},
        {"0x4.0x09.0x01.0", 0x0901},
        {" 4. 08. 01. 0810", 0x0801},     // each number may follow blanks
        {"4.09.00.0904.7 beta", 0x0900},  // what follows the fourth number is ignored
        {"4.09.00", 0},
        {"4.09.00.", 0},
        {"4.09..0904", 0},
        {"4 .09.00.0904", 0},  // the point follows the number directly
        {"4,09,00,0904", 0},
        {"DirectX 9.0c", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(velquin::ParseDirectXVersion(row.text), row.expected)
            << (row.text == nullptr ? "(null)" : row.text);
    }
}

TEST(DirectXVersion, ReadsTheVersionValueWhateverItsType) {
    struct Row {
        const char* what;
        DWORD type;
        std::string bytes;
        uint32_t expected;
    };
    const std::string padded = "4.08.01.0810" + std::string(256 - 12, 'z');
    const Row rows[] = {
        {"REG_SZ 9.0", REG_SZ, std::string("4.09.00.0904", 13), 0x0900},
        {"REG_SZ 8.1", REG_SZ, std::string("4.08.01.0810", 13), 0x0801},
        {"REG_SZ 8.0", REG_SZ, std::string("4.08.00.0400", 13), 0x0800},
        {"binary text without terminator", REG_BINARY, "4.08.01.0810", 0x0801},
        {"256 bytes without terminator", REG_BINARY, padded, 0x0801},
        {"longer than 256 bytes", REG_SZ, padded + "z", 0},
        {"a number, not text", REG_DWORD, std::string("\x00\x09\x00\x00", 4), 0},
        {"empty", REG_SZ, "", 0},
        {"three numbers", REG_SZ, std::string("4.09.00", 8), 0},
    };
    for (const Row& row : rows) {
        CheckedRegistry registry;
        registry.memory.PutValue(kHklm, kDirectXKey, "Version", row.type, row.bytes.data(),
                                 row.bytes.size());
        EXPECT_EQ(velquin::GetDirectXVersion(registry), row.expected) << row.what;
        ExpectClean(registry, row.what);
    }
}

TEST(DirectXVersion, IsZeroWithoutTheKeyOrTheValue) {
    CheckedRegistry registry;
    EXPECT_EQ(velquin::GetDirectXVersion(registry), 0u);
    registry.memory.PutValue(kHklm, kDirectXKey, "InstalledVersion", REG_BINARY, "\0\0\0\x09", 4);
    EXPECT_EQ(velquin::GetDirectXVersion(registry), 0u);
    EXPECT_FALSE(registry.memory.GetValue(kHklm, kDirectXKey, "Version", nullptr));
    ExpectClean(registry, "no version");
}

// ----------------------------------------------------------------------------------------------
// The layout each system gets.

TEST(CalibrationLayoutChoice, FollowsTheVersionClassAndTheDirectXVersion) {
    struct Row {
        wheel::OsClass os;
        const char* directX;  // null: no "Version" value
        CalibrationLayout expected;
    };
    using L = CalibrationLayout;
    const char* const kDx80 = "4.08.00.0400";
    const char* const kDx81 = "4.08.01.0810";
    const char* const kDx90 = "4.09.00.0904";
    std::vector<Row> rows = {
        {wheel::OsWinXP, kDx80, L::DeviceClass},
        {wheel::OsWinXP, kDx81, L::DirectInputMachine},
        {wheel::OsWinXP, kDx90, L::DirectInputMachine},
        {wheel::OsWinXP, nullptr, L::DeviceClass},
        {wheel::OsWinXP, "4.09", L::DeviceClass},
        {wheel::OsWinXP, "nine", L::DeviceClass},
        {wheel::OsWinXP, "4.07.00.0700", L::DeviceClass},
        {wheel::OsWinXP, "4.08.02.0000", L::DirectInputMachine},
    };
    // Every class but 98, Me and NT 6 goes by DirectX.
    for (wheel::OsClass os : {wheel::OsUnknown, wheel::OsWin32s, wheel::OsWin95, wheel::OsWinNT4,
                              wheel::OsWin2000, static_cast<wheel::OsClass>(9)}) {
        rows.push_back({os, kDx80, L::DeviceClass});
        rows.push_back({os, kDx90, L::DirectInputMachine});
        rows.push_back({os, nullptr, L::DeviceClass});
    }
    // 98/Me and NT 6 ignore it.
    for (wheel::OsClass os : {wheel::OsWin98, wheel::OsWinMe}) {
        for (const char* dx : {kDx80, kDx90, static_cast<const char*>(nullptr)}) {
            rows.push_back({os, dx, L::JoystickSettings});
        }
    }
    for (const char* dx : {kDx80, kDx81, kDx90, static_cast<const char*>(nullptr)}) {
        rows.push_back({wheel::OsWinNT6, dx, L::DirectInputUser});
    }

    const DIJOYCONFIG config = MakeConfig();
    for (const Row& row : rows) {
        const std::string context = "class " + std::to_string(row.os) + ", DirectX " +
                                    (row.directX == nullptr ? "(none)" : row.directX);
        CheckedRegistry registry;
        const Places places = InstallEveryLayout(registry.memory);
        if (row.directX != nullptr) {
            PutDirectXVersion(registry.memory, row.directX);
        }
        EXPECT_EQ(velquin::SelectCalibrationLayout(registry, row.os), row.expected) << context;

        const auto before = Dump(registry.memory);
        velquin::WriteCalibration(registry, row.os, config, velquin::kCalibrateAxes, kWheelGuid, 0);
        const auto after = Dump(registry.memory);
        EXPECT_TRUE(Minus(before, after).empty()) << context << ": something was changed";
        EXPECT_EQ(LayoutsTouched(Minus(after, before)),
                  std::set<std::string>{LayoutName(row.expected)})
            << context;
        switch (row.expected) {
            case L::JoystickSettings:
                EXPECT_TRUE(registry.memory.GetValue(kHklm, kSettingsKey, "Joystick1Configuration",
                                                     nullptr))
                    << context;
                break;
            case L::DeviceClass:
                ExpectAxisValues(registry.memory, kHklm,
                                 places.interfaceKey + "\\" + kInterfaceDirectX + "\\Type\\Axes",
                                 config);
                break;
            case L::DirectInputMachine:
                ExpectAxisValues(registry.memory, kHklm, places.machineKey + "\\Type\\Axes",
                                 config);
                break;
            case L::DirectInputUser:
                ExpectAxisValues(registry.memory, kHkcu, places.userKey + "\\Type\\Axes", config);
                break;
        }
        ExpectClean(registry, context);
    }
}

TEST(CalibrationLayoutChoice, FlagsDecideThePerAxisLayoutsButNotTheSettings) {
    struct Row {
        wheel::OsClass os;
        DWORD flags;
        bool writes;
    };
    const Row rows[] = {
        {wheel::OsWinXP, 0, false},          {wheel::OsWinXP, 1, false},
        {wheel::OsWinXP, 0xFFFFFFFD, false}, {wheel::OsWinXP, 3, true},
        {wheel::OsWinNT6, 0, false},         {wheel::OsWinNT6, 2, true},
        {wheel::OsWin98, 0, true},           {wheel::OsWinMe, 0, true},
    };
    for (const Row& row : rows) {
        const std::string context =
            "class " + std::to_string(row.os) + ", flags " + std::to_string(row.flags);
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        PutDirectXVersion(registry.memory, "4.09.00.0904");
        const auto before = Dump(registry.memory);
        velquin::WriteCalibration(registry, row.os, MakeConfig(), row.flags, kWheelGuid, 0);
        EXPECT_EQ(!Minus(Dump(registry.memory), before).empty(), row.writes) << context;
        ExpectClean(registry, context);
    }
}

TEST(CalibrationLayoutChoice, FailuresAreSwallowedAndLeaveTheRegistryAsItWas) {
    for (wheel::OsClass os : {wheel::OsWin98, wheel::OsWinXP, wheel::OsWinNT6}) {
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        registry.memory.SetReadOnly(kHklm, true);
        registry.memory.SetReadOnly(kHkcu, true);
        const auto before = Dump(registry.memory);
        velquin::WriteCalibration(registry, os, MakeConfig(), velquin::kCalibrateAxes, kWheelGuid,
                                  0);
        EXPECT_EQ(Dump(registry.memory), before) << "class " << os;
        ExpectClean(registry, "read-only, class " + std::to_string(os));
    }
}

// ----------------------------------------------------------------------------------------------
// Windows 98/Me: the joystick settings record.

TEST(JoystickSettings, StoresTheHardwareConfigurationAs112LittleEndianBytes) {
    CheckedRegistry registry;
    registry.memory.PutValue(kHklm, kSettingsKey, "Other", REG_SZ, "x", 2);
    const DIJOYCONFIG config = MakeConfig();
    const auto before = Dump(registry.memory);
    EXPECT_EQ(velquin::WriteJoystickSettings(registry, 0, config), ERROR_SUCCESS);

    // The record by the offsets of the platform's JOYREGHWCONFIG.
    const JOYREGHWCONFIG& hwc = config.hwc;
    const JOYRANGE& range = hwc.hwv.jrvHardware;
    std::vector<BYTE> expected;
    PutLe32(&expected, hwc.hws.dwFlags);                                       // 0
    PutLe32(&expected, hwc.hws.dwNumButtons);                                  // 4
    PutLe32(&expected, hwc.dwUsageSettings);                                   // 8
    for (const JOYPOS* pos : {&range.jpMin, &range.jpMax, &range.jpCenter}) {  // 12, 36, 60
        for (DWORD v : {pos->dwX, pos->dwY, pos->dwZ, pos->dwR, pos->dwU, pos->dwV}) {
            PutLe32(&expected, v);
        }
    }
    for (DWORD pov : hwc.hwv.dwPOVValues) {  // 84
        PutLe32(&expected, pov);
    }
    PutLe32(&expected, hwc.hwv.dwCalFlags);  // 100
    PutLe32(&expected, hwc.dwType);          // 104
    PutLe32(&expected, hwc.dwReserved);      // 108
    ASSERT_EQ(expected.size(), 112u);

    MemoryRegistry::Value value;
    ASSERT_TRUE(registry.memory.GetValue(kHklm, kSettingsKey, "Joystick1Configuration", &value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value.data.size(), 112u);
    EXPECT_EQ(Hex(value.data), Hex(expected));
    EXPECT_EQ(Minus(Dump(registry.memory), before).size(), 1u) << "one value and nothing else";
    EXPECT_EQ(registry.memory.GetString(kHklm, kSettingsKey, "Other"), "x");
    EXPECT_EQ(registry.creates, 0);
    ExpectClean(registry, "settings");
}

TEST(JoystickSettings, NamesTheValueAfterTheSignedIdPlusOne) {
    struct Row {
        uint16_t id;
        const char* name;
    };
    const Row rows[] = {
        {0, "Joystick1Configuration"},      {1, "Joystick2Configuration"},
        {15, "Joystick16Configuration"},    {0x7FFF, "Joystick32768Configuration"},
        {0xFFFF, "Joystick0Configuration"}, {0x8000, "Joystick-32767Configuration"},
    };
    for (const Row& row : rows) {
        CheckedRegistry registry;
        registry.memory.PutValue(kHklm, kSettingsKey, "Joystick2Configuration", REG_BINARY, "old",
                                 3);
        const auto before = Dump(registry.memory);
        EXPECT_EQ(velquin::WriteJoystickSettings(registry, row.id, MakeConfig()), ERROR_SUCCESS);
        const auto added = Minus(Dump(registry.memory), before);
        ASSERT_EQ(added.size(), 1u) << row.name;
        // The key as the registry compares names; the value name exactly as written.
        const std::string key = "HKEY_LOCAL_MACHINE\\" + kSettingsKey;
        EXPECT_EQ(Lower(added[0].substr(0, key.size())), Lower(key)) << added[0];
        EXPECT_EQ(added[0].substr(key.size()).rfind(std::string("|") + row.name + "|3|", 0), 0u)
            << added[0];
        ExpectClean(registry, row.name);
    }
}

TEST(JoystickSettings, ReplacesAnEarlierRecordOfTheSameJoystick) {
    CheckedRegistry registry;
    registry.memory.PutValue(kHklm, kSettingsKey, "Joystick1Configuration", REG_BINARY, "old", 3);
    EXPECT_EQ(velquin::WriteJoystickSettings(registry, 0, MakeConfig()), ERROR_SUCCESS);
    MemoryRegistry::Value value;
    ASSERT_TRUE(registry.memory.GetValue(kHklm, kSettingsKey, "Joystick1Configuration", &value));
    EXPECT_EQ(value.data.size(), 112u);
    ExpectClean(registry, "replace");
}

TEST(JoystickSettings, NeverCreatesTheSettingsKeyAndReportsRefusals) {
    {
        CheckedRegistry registry;
        registry.memory.PutValue(kHklm,
                                 "System\\CurrentControlSet\\Control\\MediaResources\\Joystick",
                                 "x", REG_SZ, "", 1);
        const auto before = Dump(registry.memory);
        EXPECT_EQ(velquin::WriteJoystickSettings(registry, 0, MakeConfig()), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(Dump(registry.memory), before);
        EXPECT_EQ(registry.creates, 0);
        ExpectClean(registry, "missing key");
    }
    {
        CheckedRegistry registry;
        registry.memory.PutValue(kHklm, kSettingsKey, "Other", REG_SZ, "x", 2);
        registry.memory.SetReadOnly(kHklm, true);
        const auto before = Dump(registry.memory);
        EXPECT_EQ(velquin::WriteJoystickSettings(registry, 0, MakeConfig()), ERROR_ACCESS_DENIED);
        EXPECT_EQ(Dump(registry.memory), before);
        ExpectClean(registry, "read-only");
    }
}

// ----------------------------------------------------------------------------------------------
// The search for the device key, through each of its three callers.

struct Finder {
    const char* name;
    HKEY root;
    std::string parent;
    // Where a subkey keeps its "GUID": below it, or (empty) on the subkey itself.
    std::string guidPlace;
    LONG (*find)(wheel::RegistryApi& registry, const GUID& guid, HKEY* key);
};

std::vector<Finder> Finders() {
    return {
        {"FindInterfaceKey", kHklm, kDeviceClasses, kInterfaceDirectX,
         [](wheel::RegistryApi& r, const GUID& g, HKEY* k) {
             return velquin::FindInterfaceKey(r, g, k);
         }},
        {"FindCalibrationKey HKLM", kHklm, kDiCalibration, "",
         [](wheel::RegistryApi& r, const GUID& g, HKEY* k) {
             return velquin::FindCalibrationKey(r, HKEY_LOCAL_MACHINE, g, k);
         }},
        {"FindCalibrationKey HKCU", kHkcu, kDiCalibration, "",
         [](wheel::RegistryApi& r, const GUID& g, HKEY* k) {
             return velquin::FindCalibrationKey(r, HKEY_CURRENT_USER, g, k);
         }},
    };
}

std::string GuidKey(const Finder& finder, const std::string& subKey) {
    const std::string key = finder.parent + "\\" + subKey;
    return finder.guidPlace.empty() ? key : key + "\\" + finder.guidPlace;
}

// Reads the "Marker" value through a handle the search handed out.
std::string MarkerOf(CheckedRegistry& registry, HKEY key) {
    char text[16] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (registry.QueryValue(key, "Marker", &type, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS) {
        return "(none)";
    }
    return text;
}

TEST(DeviceKeySearch, SkipsSubkeysWithoutAMatchingGuidAndTakesTheFirstMatch) {
    for (const Finder& finder : Finders()) {
        CheckedRegistry registry;
        MemoryRegistry& m = registry.memory;
        // In creation order, which is the enumeration order.
        m.PutValue(finder.root, finder.parent + "\\a-nothing", "Marker", REG_SZ, "a", 2);
        m.PutValue(finder.root, GuidKey(finder, "b-no-guid"), "Other", REG_SZ, "b", 2);
        PutGuid(m, finder.root, GuidKey(finder, "c-other-guid"), kOtherGuid);
        m.PutValue(finder.root, GuidKey(finder, "d-short-guid"), "GUID", REG_BINARY, &kWheelGuid,
                   15);
        std::vector<BYTE> longGuid(sizeof(GUID) + 1, 0);
        std::memcpy(longGuid.data(), &kWheelGuid, sizeof(GUID));
        m.PutValue(finder.root, GuidKey(finder, "e-long-guid"), "GUID", REG_BINARY, longGuid.data(),
                   longGuid.size());
        PutGuid(m, finder.root, GuidKey(finder, "f-match"), kWheelGuid);
        m.PutValue(finder.root, finder.parent + "\\f-match", "Marker", REG_SZ, "f", 2);
        PutGuid(m, finder.root, GuidKey(finder, "g-match-too"), kWheelGuid);
        m.PutValue(finder.root, finder.parent + "\\g-match-too", "Marker", REG_SZ, "g", 2);

        HKEY key = nullptr;
        ASSERT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_SUCCESS) << finder.name;
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(MarkerOf(registry, key), "f") << finder.name;
        EXPECT_EQ(m.OpenHandles(), 1u) << finder.name << ": only the key handed out is open";
        registry.CloseKey(key);
        ExpectClean(registry, finder.name);

        // Asked for a GUID no subkey has, the search runs out.
        const GUID absent = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
        key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x77));
        EXPECT_EQ(finder.find(registry, absent, &key), ERROR_NO_MORE_ITEMS) << finder.name;
        EXPECT_EQ(key, nullptr);
        ExpectClean(registry, finder.name);
    }
}

TEST(DeviceKeySearch, TheGuidValueCountsWhateverItsType) {
    for (const Finder& finder : Finders()) {
        CheckedRegistry registry;
        PutGuid(registry.memory, finder.root, GuidKey(finder, "dev"), kWheelGuid, REG_SZ);
        HKEY key = nullptr;
        EXPECT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_SUCCESS) << finder.name;
        if (key != nullptr) {
            registry.CloseKey(key);
        }
        ExpectClean(registry, finder.name);
    }
}

TEST(DeviceKeySearch, ReadsTheGuidOnlyFromItsLayoutsPlace) {
    for (const Finder& finder : Finders()) {
        CheckedRegistry registry;
        // The GUID where the other kind of search would look for it.
        const std::string wrongPlace = finder.guidPlace.empty()
                                           ? finder.parent + "\\dev\\" + kInterfaceDirectX
                                           : finder.parent + "\\dev";
        PutGuid(registry.memory, finder.root, wrongPlace, kWheelGuid);
        HKEY key = nullptr;
        EXPECT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_NO_MORE_ITEMS) << finder.name;
        EXPECT_EQ(key, nullptr);
        ExpectClean(registry, finder.name);
    }
}

TEST(DeviceKeySearch, LooksOnlyUnderItsOwnRoot) {
    CheckedRegistry registry;
    PutGuid(registry.memory, kHkcu, kDiCalibration + "\\dev", kWheelGuid);
    HKEY key = nullptr;
    EXPECT_EQ(velquin::FindCalibrationKey(registry, HKEY_LOCAL_MACHINE, kWheelGuid, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    registry.memory.PutValue(kHklm, kDiCalibration, "x", REG_SZ, "", 1);
    EXPECT_EQ(velquin::FindCalibrationKey(registry, HKEY_LOCAL_MACHINE, kWheelGuid, &key),
              ERROR_NO_MORE_ITEMS);
    ExpectClean(registry, "roots");
}

TEST(DeviceKeySearch, StopsAtASubkeyThatCannotBeOpened) {
    for (const Finder& finder : Finders()) {
        CheckedRegistry registry;
        PutGuid(registry.memory, finder.root, GuidKey(finder, "a-other"), kOtherGuid);
        PutGuid(registry.memory, finder.root, GuidKey(finder, "b-locked"), kOtherGuid);
        PutGuid(registry.memory, finder.root, GuidKey(finder, "c-match"), kWheelGuid);
        registry.Fail(CheckedRegistry::Op::Open, "b-locked", ERROR_ACCESS_DENIED);
        HKEY key = nullptr;
        EXPECT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_ACCESS_DENIED) << finder.name;
        EXPECT_EQ(key, nullptr);
        ExpectClean(registry, finder.name);
    }
}

TEST(DeviceKeySearch, FailsWithoutTheParentKeyAndCreatesNothing) {
    for (const Finder& finder : Finders()) {
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        registry.memory.DeleteKey(finder.root, finder.parent);
        const auto before = Dump(registry.memory);
        HKEY key = nullptr;
        EXPECT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_FILE_NOT_FOUND) << finder.name;
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(Dump(registry.memory), before);
        EXPECT_EQ(registry.creates, 0);
        ExpectClean(registry, finder.name);

        // An empty parent: no subkey at all.
        registry.memory.PutValue(finder.root, finder.parent, "x", REG_SZ, "", 1);
        EXPECT_EQ(finder.find(registry, kWheelGuid, &key), ERROR_NO_MORE_ITEMS) << finder.name;
        ExpectClean(registry, finder.name);
    }
}

TEST(DeviceKeySearch, RefusesANullOutKey) {
    CheckedRegistry registry;
    InstallEveryLayout(registry.memory);
    EXPECT_EQ(velquin::FindInterfaceKey(registry, kWheelGuid, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(velquin::FindCalibrationKey(registry, HKEY_CURRENT_USER, kWheelGuid, nullptr),
              ERROR_INVALID_PARAMETER);
    ExpectClean(registry, "null out key");
}

// ----------------------------------------------------------------------------------------------
// The per-axis values.

struct AxisLayout {
    CalibrationLayout layout;
    HKEY root;
    std::string deviceKey;  // the wheel's device key
    std::string axesKey;    // its axes key
};

std::vector<AxisLayout> AxisLayouts() {
    const Places places;
    return {
        {CalibrationLayout::DeviceClass, kHklm, places.interfaceKey,
         places.interfaceKey + "\\" + kInterfaceDirectX + "\\Type\\Axes"},
        {CalibrationLayout::DirectInputMachine, kHklm, places.machineKey,
         places.machineKey + "\\Type\\Axes"},
        {CalibrationLayout::DirectInputUser, kHkcu, places.userKey,
         places.userKey + "\\Type\\Axes"},
    };
}

TEST(AxisCalibration, CreatesTheAxisKeysAndWritesEachAxisRange) {
    for (const AxisLayout& row : AxisLayouts()) {
        const char* name = LayoutName(row.layout);
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        const DIJOYCONFIG config = MakeConfig();
        const auto before = Dump(registry.memory);
        EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, config,
                                                velquin::kCalibrateAxes),
                  ERROR_SUCCESS)
            << name;
        ExpectAxisValues(registry.memory, row.root, row.axesKey, config);
        // Type, Axes, four axis keys and four values; nothing else.
        const auto added = Minus(Dump(registry.memory), before);
        EXPECT_EQ(added.size(), 10u) << name;
        EXPECT_EQ(LayoutsTouched(added), std::set<std::string>{name});
        EXPECT_TRUE(Minus(before, Dump(registry.memory)).empty()) << name;
        ExpectClean(registry, name);
    }
}

TEST(AxisCalibration, DefaultRangeIsStoredAsMinimumCentreMaximum) {
    const std::string expected =
        "00000000"
        "80000000"
        "ff000000";
    for (const AxisLayout& row : AxisLayouts()) {
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        ASSERT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, DefaultConfig(),
                                                velquin::kCalibrateAxes),
                  ERROR_SUCCESS);
        for (const AxisRow& axis : kAxes) {
            MemoryRegistry::Value value;
            ASSERT_TRUE(registry.memory.GetValue(row.root, row.axesKey + "\\" + axis.subKey,
                                                 "Calibration", &value));
            EXPECT_EQ(value.data.size(), 12u);
            EXPECT_EQ(Hex(value.data), expected) << LayoutName(row.layout) << " " << axis.subKey;
        }
        ExpectClean(registry, LayoutName(row.layout));
    }
}

TEST(AxisCalibration, ReusesExistingKeysAndKeepsTheirOtherValues) {
    for (const AxisLayout& row : AxisLayouts()) {
        const char* name = LayoutName(row.layout);
        CheckedRegistry registry;
        MemoryRegistry& m = registry.memory;
        InstallEveryLayout(m);
        m.PutValue(row.root, row.axesKey + "\\1", "Calibration", REG_BINARY, "old calibration", 15);
        m.PutValue(row.root, row.axesKey + "\\1", "Attributes", REG_BINARY, "attr", 4);
        m.PutValue(row.root, row.axesKey + "\\3", "Calibration", REG_BINARY, "slider", 6);
        m.PutValue(row.root, row.axesKey, "Flags", REG_DWORD, "\x01\0\0\0", 4);
        const DIJOYCONFIG config = MakeConfig();
        EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, config,
                                                velquin::kCalibrateAxes),
                  ERROR_SUCCESS)
            << name;
        EXPECT_EQ(m.SubKeys(row.root, row.axesKey),
                  (std::vector<std::string>{"1", "3", "0", "2", "5"}))
            << name;
        MemoryRegistry::Value value;
        ASSERT_TRUE(m.GetValue(row.root, row.axesKey + "\\1", "Calibration", &value));
        EXPECT_EQ(Hex(value.data), Hex(AxisBytes(config, kY))) << name;
        ASSERT_TRUE(m.GetValue(row.root, row.axesKey + "\\1", "Attributes", &value));
        EXPECT_EQ(std::string(value.data.begin(), value.data.end()), "attr");
        ASSERT_TRUE(m.GetValue(row.root, row.axesKey + "\\3", "Calibration", &value));
        EXPECT_EQ(std::string(value.data.begin(), value.data.end()), "slider");
        EXPECT_TRUE(m.GetValue(row.root, row.axesKey, "Flags", nullptr));
        EXPECT_FALSE(m.KeyExists(row.root, row.axesKey + "\\4"));
        ExpectClean(registry, name);
    }
}

TEST(AxisCalibration, WritesTheFirstMatchingDeviceOnly) {
    for (const AxisLayout& row : AxisLayouts()) {
        const char* name = LayoutName(row.layout);
        CheckedRegistry registry;
        MemoryRegistry& m = registry.memory;
        // An earlier subkey of another device and a later one with the same GUID.
        const std::string parent =
            row.layout == CalibrationLayout::DeviceClass ? kDeviceClasses : kDiCalibration;
        const std::string guidBelow =
            row.layout == CalibrationLayout::DeviceClass ? "\\" + kInterfaceDirectX : "";
        PutGuid(m, row.root, parent + "\\earlier" + guidBelow, kOtherGuid);
        InstallEveryLayout(m);
        PutGuid(m, row.root, parent + "\\later" + guidBelow, kWheelGuid);
        const auto before = Dump(m);
        EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                velquin::kCalibrateAxes),
                  ERROR_SUCCESS);
        ExpectAxisValues(m, row.root, row.axesKey, MakeConfig());
        for (const std::string& line : Minus(Dump(m), before)) {
            const std::string device =
                (row.root == kHklm ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
                row.deviceKey + "\\";
            EXPECT_EQ(Lower(line).compare(0, device.size(), Lower(device)), 0)
                << name << ": " << line;
        }
        ExpectClean(registry, name);
    }
}

TEST(AxisCalibration, WithoutTheAxesFlagOnlyLooksTheDeviceUp) {
    for (const AxisLayout& row : AxisLayouts()) {
        for (DWORD flags : {0u, 1u, 4u, 0xFFFFFFFDu}) {
            CheckedRegistry registry;
            InstallEveryLayout(registry.memory);
            const auto before = Dump(registry.memory);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                    flags),
                      ERROR_SUCCESS)
                << LayoutName(row.layout) << " flags " << flags;
            EXPECT_EQ(Dump(registry.memory), before);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kOtherGuid, MakeConfig(),
                                                    flags),
                      static_cast<LONG>(E_FAIL))
                << "no device, flags " << flags;
            ExpectClean(registry, LayoutName(row.layout));
        }
        CheckedRegistry registry;
        InstallEveryLayout(registry.memory);
        EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                0xFFFFFFFFu),
                  ERROR_SUCCESS);
        ExpectAxisValues(registry.memory, row.root, row.axesKey, MakeConfig());
        ExpectClean(registry, LayoutName(row.layout));
    }
}

TEST(AxisCalibration, WithoutADeviceKeyFailsAndWritesNothing) {
    for (const AxisLayout& row : AxisLayouts()) {
        const char* name = LayoutName(row.layout);
        struct Case {
            const char* what;
            void (*prepare)(MemoryRegistry& m, const AxisLayout& row);
        };
        const Case cases[] = {
            {"no parent key",
             [](MemoryRegistry& m, const AxisLayout& r) {
                 m.DeleteKey(r.root, r.layout == CalibrationLayout::DeviceClass ? kDeviceClasses
                                                                                : kDiCalibration);
             }},
            {"other GUID only",
             [](MemoryRegistry& m, const AxisLayout& r) {
                 const std::string guidKey = r.layout == CalibrationLayout::DeviceClass
                                                 ? r.deviceKey + "\\" + kInterfaceDirectX
                                                 : r.deviceKey;
                 PutGuid(m, r.root, guidKey, kOtherGuid);
             }},
        };
        for (const Case& c : cases) {
            CheckedRegistry registry;
            InstallEveryLayout(registry.memory);
            c.prepare(registry.memory, row);
            const auto before = Dump(registry.memory);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                    velquin::kCalibrateAxes),
                      static_cast<LONG>(E_FAIL))
                << name << ": " << c.what;
            EXPECT_EQ(Dump(registry.memory), before) << name << ": " << c.what;
            EXPECT_EQ(registry.creates, 0);
            ExpectClean(registry, std::string(name) + ": " + c.what);
        }
    }
}

TEST(AxisCalibration, TheSettingsLayoutHasNoAxisKeys) {
    CheckedRegistry registry;
    InstallEveryLayout(registry.memory);
    const auto before = Dump(registry.memory);
    EXPECT_EQ(velquin::WriteAxisCalibration(registry, CalibrationLayout::JoystickSettings,
                                            kWheelGuid, MakeConfig(), velquin::kCalibrateAxes),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Dump(registry.memory), before);
    ExpectClean(registry, "settings layout");
}

// A key that can be neither opened nor created stops the write there with its error; nothing
// is written through a handle that was not opened.
TEST(AxisCalibration, StopsAtTheFirstKeyItCannotOpenOrCreate) {
    using Op = CheckedRegistry::Op;
    struct Case {
        const char* what;
        Op op;
        // The subkey argument as the code passes it: the axes path below the device key, or an
        // axis name below the axes key.
        bool axesKey;
        const char* axis;
        LONG error;
        std::vector<std::string> written;  // axis subkeys that hold a value afterwards
        bool axesCreated;
        int creates;
    };
    const Case cases[] = {
        {"axes key cannot be created",
         Op::Create,
         true,
         nullptr,
         ERROR_NOT_ENOUGH_MEMORY,
         {},
         false,
         1},
        {"axes key is refused, not missing",
         Op::Open,
         true,
         nullptr,
         ERROR_ACCESS_DENIED,
         {},
         false,
         0},
        {"axis 2 cannot be created",
         Op::Create,
         false,
         "2",
         ERROR_ACCESS_DENIED,
         {"0", "1"},
         true,
         4},
        {"axis 0 cannot be created", Op::Create, false, "0", ERROR_NOT_ENOUGH_MEMORY, {}, true, 2},
        {"axis 5 cannot be created",
         Op::Create,
         false,
         "5",
         ERROR_ACCESS_DENIED,
         {"0", "1", "2"},
         true,
         5},
        {"axis 1 is refused, not missing",
         Op::Open,
         false,
         "1",
         ERROR_ACCESS_DENIED,
         {"0"},
         true,
         2},
    };
    for (const AxisLayout& row : AxisLayouts()) {
        for (const Case& c : cases) {
            const std::string context = std::string(LayoutName(row.layout)) + ": " + c.what;
            CheckedRegistry registry;
            InstallEveryLayout(registry.memory);
            const std::string axesArgument = row.layout == CalibrationLayout::DeviceClass
                                                 ? kInterfaceDirectX + "\\Type\\Axes"
                                                 : "Type\\Axes";
            registry.Fail(c.op, c.axesKey ? axesArgument : c.axis, c.error);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                    velquin::kCalibrateAxes),
                      c.error)
                << context;
            EXPECT_EQ(registry.memory.KeyExists(row.root, row.axesKey), c.axesCreated) << context;
            std::vector<std::string> written;
            for (const AxisRow& axis : kAxes) {
                if (registry.memory.GetValue(row.root, row.axesKey + "\\" + axis.subKey,
                                             "Calibration", nullptr)) {
                    written.push_back(axis.subKey);
                }
            }
            EXPECT_EQ(written, c.written) << context;
            EXPECT_EQ(registry.creates, c.creates) << context;
            ExpectClean(registry, context);
        }
    }
}

TEST(AxisCalibration, ReadOnlyRegistryIsReportedAndLeftAsItWas) {
    for (const AxisLayout& row : AxisLayouts()) {
        const char* name = LayoutName(row.layout);
        // Keys missing: the create is refused.
        {
            CheckedRegistry registry;
            InstallEveryLayout(registry.memory);
            registry.memory.SetReadOnly(row.root, true);
            const auto before = Dump(registry.memory);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                    velquin::kCalibrateAxes),
                      ERROR_ACCESS_DENIED)
                << name;
            EXPECT_EQ(Dump(registry.memory), before) << name;
            ExpectClean(registry, name);
        }
        // Keys present: the value store is refused, and that is not success either.
        {
            CheckedRegistry registry;
            InstallEveryLayout(registry.memory);
            for (const AxisRow& axis : kAxes) {
                registry.memory.PutValue(row.root, row.axesKey + "\\" + axis.subKey, "Calibration",
                                         REG_BINARY, "old", 3);
            }
            registry.memory.SetReadOnly(row.root, true);
            const auto before = Dump(registry.memory);
            EXPECT_EQ(velquin::WriteAxisCalibration(registry, row.layout, kWheelGuid, MakeConfig(),
                                                    velquin::kCalibrateAxes),
                      ERROR_ACCESS_DENIED)
                << name;
            EXPECT_EQ(Dump(registry.memory), before) << name;
            ExpectClean(registry, name);
        }
    }
}

}  // namespace
