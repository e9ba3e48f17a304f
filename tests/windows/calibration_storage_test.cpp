// Calibration storage through advapi32 under Wine: every layout written into the real registry
// and read back with RegQueryValueEx, and the probe run under Windows 98 (32-bit), XP and 7 to
// see the running system's class choose the layout.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "propsheet/calibration.h"
#include "tests/windows/probe/calibration_probe.h"
#include "win_test_util.h"

namespace {

using velquin::CalibrationLayout;

const std::string kJoystickResources =
    "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\<FixedKey>";
const std::string kSettingsKey = kJoystickResources + "\\CurrentJoystickSettings";
const std::string kDeviceClasses =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kDiWheel =
    "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\DirectInput"
    "\\VID_2D71&PID_5A08";
const std::string kDiCalibration = kDiWheel + "\\Calibration";
const std::string kDirectXKey = "Software\\Microsoft\\DirectX";
const char kProbeAppKey[] = "Software\\Wine\\AppDefaults\\calibration_probe.exe";

// Device-class subkeys of this test; Wine may list HID interfaces of its own beside them.
const std::string kWheelInterface =
    "##?#HID#VID_2D71&PID_5A08#velquin-calibration-test#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kNoGuidInterface =
    "##?#HID#VID_2D71&PID_5A08#velquin-calibration-a#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kOtherInterface =
    "##?#HID#VID_2D71&PID_5A08#velquin-calibration-b#{4d1e55b2-f16f-11cf-88cb-001111000030}";

constexpr GUID kOtherGuid = {
    0x0BADC0DE, 0x0001, 0x0002, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}};

constexpr GUID kAbsentGuid = {
    0x12345678, 0x0003, 0x0004, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};

void SetValue(HKEY root, const std::string& key, const char* name, DWORD type, const void* data,
              DWORD size) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, key.c_str(), &handle), ERROR_SUCCESS) << key;
    EXPECT_EQ(RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

void SetGuid(HKEY root, const std::string& key, const GUID& guid) {
    SetValue(root, key, "GUID", REG_BINARY, &guid, sizeof guid);
}

struct Stored {
    DWORD type = 0;
    std::vector<BYTE> data;
};

// A value as Wine's registry holds it; nothing when the key or the value is missing.
std::optional<Stored> Read(HKEY root, const std::string& key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Stored stored;
    DWORD size = 0;
    LONG result = RegQueryValueExA(handle, name, nullptr, &stored.type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        stored.data.resize(size);
        result = RegQueryValueExA(handle, name, nullptr, &stored.type, stored.data.data(), &size);
        stored.data.resize(size);
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return stored;
}

void PutLe32(std::vector<BYTE>* bytes, DWORD value) {
    for (int i = 0; i < 4; ++i) {
        bytes->push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

struct AxisRow {
    const char* subKey;
    DWORD JOYPOS::*member;
};
const AxisRow kAxes[] = {
    {"0", &JOYPOS::dwX}, {"1", &JOYPOS::dwY}, {"2", &JOYPOS::dwZ}, {"5", &JOYPOS::dwR}};

std::vector<BYTE> AxisBytes(const DIJOYCONFIG& config, DWORD JOYPOS::*member) {
    const JOYRANGE& range = config.hwc.hwv.jrvHardware;
    std::vector<BYTE> bytes;
    PutLe32(&bytes, range.jpMin.*member);
    PutLe32(&bytes, range.jpCenter.*member);
    PutLe32(&bytes, range.jpMax.*member);
    return bytes;
}

// The 98/Me record by the offsets of the platform's JOYREGHWCONFIG.
std::vector<BYTE> SettingsBytes(const DIJOYCONFIG& config) {
    const JOYREGHWCONFIG& hwc = config.hwc;
    std::vector<BYTE> bytes;
    PutLe32(&bytes, hwc.hws.dwFlags);
    PutLe32(&bytes, hwc.hws.dwNumButtons);
    PutLe32(&bytes, hwc.dwUsageSettings);
    for (const JOYPOS* pos :
         {&hwc.hwv.jrvHardware.jpMin, &hwc.hwv.jrvHardware.jpMax, &hwc.hwv.jrvHardware.jpCenter}) {
        for (DWORD v : {pos->dwX, pos->dwY, pos->dwZ, pos->dwR, pos->dwU, pos->dwV}) {
            PutLe32(&bytes, v);
        }
    }
    for (DWORD pov : hwc.hwv.dwPOVValues) {
        PutLe32(&bytes, pov);
    }
    PutLe32(&bytes, hwc.hwv.dwCalFlags);
    PutLe32(&bytes, hwc.dwType);
    PutLe32(&bytes, hwc.dwReserved);
    return bytes;
}

struct Place {
    CalibrationLayout layout;
    const char* name;
    HKEY root;
    std::string guidKey;  // where the device's "GUID" is kept
    std::string axesKey;
};

const Place kPlaces[] = {
    {CalibrationLayout::DeviceClass, "device class", HKEY_LOCAL_MACHINE,
     kDeviceClasses + "\\" + kWheelInterface + "\\#\\Device Parameters\\DirectX",
     kDeviceClasses + "\\" + kWheelInterface + "\\#\\Device Parameters\\DirectX\\Type\\Axes"},
    {CalibrationLayout::DirectInputMachine, "DirectInput machine", HKEY_LOCAL_MACHINE,
     kDiCalibration + "\\0", kDiCalibration + "\\0\\Type\\Axes"},
    {CalibrationLayout::DirectInputUser, "DirectInput user", HKEY_CURRENT_USER,
     kDiCalibration + "\\0", kDiCalibration + "\\0\\Type\\Axes"},
};

// Each test starts from a registry without this test's keys and leaves it so, with the DirectX
// version as Wine had it.
class CalibrationUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        savedVersion_ = Read(HKEY_LOCAL_MACHINE, kDirectXKey, "Version");
        hadDiWheel_[0] = wintest::KeyExists(HKEY_LOCAL_MACHINE, kDiWheel);
        hadDiWheel_[1] = wintest::KeyExists(HKEY_CURRENT_USER, kDiWheel);
        Clean();
    }
    void TearDown() override {
        Clean();
        // The wheel's DirectInput key, when this test made it.
        if (!hadDiWheel_[0]) {
            wintest::DeleteTree(HKEY_LOCAL_MACHINE, kDiWheel);
        }
        if (!hadDiWheel_[1]) {
            wintest::DeleteTree(HKEY_CURRENT_USER, kDiWheel);
        }
        if (savedVersion_) {
            SetValue(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", savedVersion_->type,
                     savedVersion_->data.data(), static_cast<DWORD>(savedVersion_->data.size()));
        } else {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDirectXKey.c_str(), 0, KEY_SET_VALUE, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(key, "Version");
                RegCloseKey(key);
            }
        }
    }

    static void Clean() {
        for (const std::string& sub : {kWheelInterface, kNoGuidInterface, kOtherInterface}) {
            wintest::DeleteTree(HKEY_LOCAL_MACHINE, kDeviceClasses + "\\" + sub);
        }
        wintest::DeleteTree(HKEY_LOCAL_MACHINE, kDiCalibration);
        wintest::DeleteTree(HKEY_CURRENT_USER, kDiCalibration);
        wintest::DeleteTree(HKEY_LOCAL_MACHINE, kJoystickResources);
        wintest::DeleteTree(HKEY_CURRENT_USER, kProbeAppKey);
    }

    // Every layout's device key with the wheel's GUID, and the 98/Me settings key.
    static void InstallEveryLayout() {
        for (const Place& place : kPlaces) {
            SetGuid(place.root, place.guidKey, calibration_probe::kWheelInstance);
        }
        SetValue(HKEY_LOCAL_MACHINE, kSettingsKey, "Joystick2Configuration", REG_BINARY, "keep", 4);
    }

    static void SetDirectXVersion(const char* text) {
        SetValue(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", REG_SZ, text,
                 static_cast<DWORD>(std::strlen(text) + 1));
    }

    // The places that hold a calibration now.
    static std::set<std::string> Landed() {
        std::set<std::string> names;
        if (Read(HKEY_LOCAL_MACHINE, kSettingsKey, "Joystick1Configuration")) {
            names.insert("joystick settings");
        }
        for (const Place& place : kPlaces) {
            if (wintest::KeyExists(place.root, place.axesKey)) {
                names.insert(place.name);
            }
        }
        return names;
    }

    static void ExpectAxes(const Place& place, const DIJOYCONFIG& config) {
        for (const AxisRow& axis : kAxes) {
            const auto stored = Read(place.root, place.axesKey + "\\" + axis.subKey, "Calibration");
            ASSERT_TRUE(stored.has_value()) << place.name << " axis " << axis.subKey;
            EXPECT_EQ(stored->type, static_cast<DWORD>(REG_BINARY));
            EXPECT_EQ(stored->data, AxisBytes(config, axis.member))
                << place.name << " axis " << axis.subKey;
        }
        for (const char* absent : {"3", "4"}) {
            EXPECT_FALSE(wintest::KeyExists(place.root, place.axesKey + "\\" + absent))
                << place.name;
        }
    }

    std::optional<Stored> savedVersion_;
    bool hadDiWheel_[2] = {};
};

TEST_F(CalibrationUnderWine, EveryPerAxisLayoutThroughAdvapi32) {
    wheel::Win32Registry registry;
    DIJOYCONFIG config = calibration_probe::Config();
    // Subkeys to pass over on the way: one without a GUID, one of another device.
    SetValue(HKEY_LOCAL_MACHINE,
             kDeviceClasses + "\\" + kNoGuidInterface + "\\#\\Device Parameters\\DirectX", "Other",
             REG_SZ, "x", 2);
    SetGuid(HKEY_LOCAL_MACHINE,
            kDeviceClasses + "\\" + kOtherInterface + "\\#\\Device Parameters\\DirectX",
            kOtherGuid);
    SetValue(HKEY_LOCAL_MACHINE, kDiCalibration + "\\-a", "Other", REG_SZ, "x", 2);
    SetGuid(HKEY_CURRENT_USER, kDiCalibration + "\\-b", kOtherGuid);

    for (const Place& place : kPlaces) {
        SetGuid(place.root, place.guidKey, calibration_probe::kWheelInstance);
        EXPECT_EQ(
            velquin::WriteAxisCalibration(registry, place.layout, calibration_probe::kWheelInstance,
                                          config, velquin::kCalibrateAxes),
            ERROR_SUCCESS)
            << place.name;
        ExpectAxes(place, config);

        // Again with another range: the keys are reused and a neighbouring value stays.
        SetValue(place.root, place.axesKey + "\\1", "Attributes", REG_BINARY, "attr", 4);
        config.hwc.hwv.jrvHardware.jpCenter.dwY = 99;
        EXPECT_EQ(
            velquin::WriteAxisCalibration(registry, place.layout, calibration_probe::kWheelInstance,
                                          config, velquin::kCalibrateAxes),
            ERROR_SUCCESS)
            << place.name;
        ExpectAxes(place, config);
        const auto attributes = Read(place.root, place.axesKey + "\\1", "Attributes");
        ASSERT_TRUE(attributes.has_value());
        EXPECT_EQ(std::string(attributes->data.begin(), attributes->data.end()), "attr");

        // No device with this GUID: nothing to write to.
        EXPECT_EQ(velquin::WriteAxisCalibration(registry, place.layout, kAbsentGuid, config,
                                                velquin::kCalibrateAxes),
                  static_cast<LONG>(E_FAIL))
            << place.name;
        config = calibration_probe::Config();
    }
}

TEST_F(CalibrationUnderWine, SearchesHandTheDeviceKeyOverOpen) {
    wheel::Win32Registry registry;
    InstallEveryLayout();
    SetValue(HKEY_LOCAL_MACHINE, kDeviceClasses + "\\" + kWheelInterface, "Marker", REG_SZ, "dc",
             3);
    SetValue(HKEY_LOCAL_MACHINE, kDiCalibration + "\\0", "Marker", REG_SZ, "lm", 3);
    SetValue(HKEY_CURRENT_USER, kDiCalibration + "\\0", "Marker", REG_SZ, "cu", 3);
    struct Row {
        const char* name;
        LONG (*find)(wheel::RegistryApi& registry, HKEY* key);
        const char* marker;
    };
    const Row rows[] = {
        {"FindInterfaceKey",
         [](wheel::RegistryApi& r, HKEY* k) {
             return velquin::FindInterfaceKey(r, calibration_probe::kWheelInstance, k);
         },
         "dc"},
        {"FindCalibrationKey HKLM",
         [](wheel::RegistryApi& r, HKEY* k) {
             return velquin::FindCalibrationKey(r, HKEY_LOCAL_MACHINE,
                                                calibration_probe::kWheelInstance, k);
         },
         "lm"},
        {"FindCalibrationKey HKCU",
         [](wheel::RegistryApi& r, HKEY* k) {
             return velquin::FindCalibrationKey(r, HKEY_CURRENT_USER,
                                                calibration_probe::kWheelInstance, k);
         },
         "cu"},
    };
    for (const Row& row : rows) {
        HKEY key = nullptr;
        ASSERT_EQ(row.find(registry, &key), ERROR_SUCCESS) << row.name;
        char marker[8] = {};
        DWORD size = sizeof marker - 1;
        EXPECT_EQ(RegQueryValueExA(key, "Marker", nullptr, nullptr, reinterpret_cast<BYTE*>(marker),
                                   &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(marker, row.marker) << row.name;
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
}

TEST_F(CalibrationUnderWine, JoystickSettingsThroughAdvapi32) {
    wheel::Win32Registry registry;
    const DIJOYCONFIG config = calibration_probe::Config();
    EXPECT_EQ(velquin::WriteJoystickSettings(registry, 0, config), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey)) << "never created";

    SetValue(HKEY_LOCAL_MACHINE, kSettingsKey, "Other", REG_SZ, "x", 2);
    ASSERT_EQ(velquin::WriteJoystickSettings(registry, 0, config), ERROR_SUCCESS);
    const auto stored = Read(HKEY_LOCAL_MACHINE, kSettingsKey, "Joystick1Configuration");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(stored->data.size(), 112u);
    EXPECT_EQ(stored->data, SettingsBytes(config));

    ASSERT_EQ(velquin::WriteJoystickSettings(registry, 0xFFFF, config), ERROR_SUCCESS);
    EXPECT_TRUE(Read(HKEY_LOCAL_MACHINE, kSettingsKey, "Joystick0Configuration").has_value());
    EXPECT_EQ(wintest::ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, "Other"), "x");
}

TEST_F(CalibrationUnderWine, DirectXVersionChoosesTheLayoutBeforeNt6) {
    wheel::Win32Registry registry;
    struct Row {
        const char* text;
        uint32_t version;
        const char* landed;
    };
    const Row rows[] = {
        {"4.08.00.0400", 0x0800, "device class"},
        {"4.08.01.0810", 0x0801, "DirectInput machine"},
        {"4.09.00.0904", 0x0900, "DirectInput machine"},
        {"not a version", 0, "device class"},
    };
    for (const Row& row : rows) {
        Clean();
        InstallEveryLayout();
        SetDirectXVersion(row.text);
        EXPECT_EQ(velquin::GetDirectXVersion(registry), row.version) << row.text;
        velquin::WriteCalibration(registry, wheel::OsWinXP, calibration_probe::Config(),
                                  velquin::kCalibrateAxes, calibration_probe::kWheelInstance, 0);
        EXPECT_EQ(Landed(), std::set<std::string>{row.landed}) << row.text;
    }
}

// The probe goes the way of the Calibration page: GetOsClass of its own process and the real
// registry. Wine reports the Windows version set for the probe alone.
TEST_F(CalibrationUnderWine, ProbeStoresWhereTheRunningWindowsVersionSays) {
    const std::string probe = wintest::DllPathFromEnv("WHEEL_CALIBRATION_PROBE");
    ASSERT_FALSE(probe.empty()) << "WHEEL_CALIBRATION_PROBE is not set";
    struct Row {
        const char* version;
        const char* directX;
        wheel::OsClass expectedClass;
        const char* landed;
    };
    std::vector<Row> rows = {
        {"winxp", "4.08.00.0400", wheel::OsWinXP, "device class"},
        {"winxp", "4.09.00.0904", wheel::OsWinXP, "DirectInput machine"},
        {"win7", "4.08.00.0400", wheel::OsWinNT6, "DirectInput user"},
        {"win7", "4.09.00.0904", wheel::OsWinNT6, "DirectInput user"},
    };
    // Windows 98 never ran 64-bit programs.
    if (sizeof(void*) == 4) {
        rows.push_back({"win98", "4.09.00.0904", wheel::OsWin98, "joystick settings"});
    }
    const DIJOYCONFIG config = calibration_probe::Config();
    for (const Row& row : rows) {
        const std::string context = std::string(row.version) + ", DirectX " + row.directX;
        Clean();
        InstallEveryLayout();
        SetDirectXVersion(row.directX);
        SetValue(HKEY_CURRENT_USER, kProbeAppKey, "Version", REG_SZ, row.version,
                 static_cast<DWORD>(std::strlen(row.version) + 1));
        EXPECT_EQ(wintest::Run("\"" + probe + "\""), static_cast<int>(row.expectedClass))
            << context;
        EXPECT_EQ(Landed(), std::set<std::string>{row.landed}) << context;
        if (std::strcmp(row.landed, "joystick settings") == 0) {
            const auto stored = Read(HKEY_LOCAL_MACHINE, kSettingsKey, "Joystick1Configuration");
            ASSERT_TRUE(stored.has_value()) << context;
            EXPECT_EQ(stored->data, SettingsBytes(config)) << context;
        } else {
            for (const Place& place : kPlaces) {
                if (std::strcmp(place.name, row.landed) == 0) {
                    ExpectAxes(place, config);
                }
            }
        }
    }
}

}  // namespace
