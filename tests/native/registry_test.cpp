// The two registry routines both libraries carry, and what the driver's registration writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/registry.h"
#include "common/wheel_ids.h"
#include "ffdriver/registration.h"
#include "hosted/memory_registry.h"
#include "install/wheel_data.h"

namespace {

const char kTestKey[] = "Software\\Talvex\\Test";

// Every value of the registry as "path|name|type|hex bytes" lines; keys without values appear
// as "path" alone, so created keys show too.
std::vector<std::string> Dump(const hosted::MemoryRegistry& registry) {
    std::vector<std::string> lines;
    for (const auto& key : registry.Snapshot()) {
        lines.push_back(key.first);
        for (const auto& value : key.second) {
            std::string line =
                key.first + "|" + value.first + "|" + std::to_string(value.second.type) + "|";
            for (BYTE byte : value.second.data) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x", byte);
                line += hex;
            }
            lines.push_back(line);
        }
    }
    return lines;
}

// Lines of `after` that `before` does not have.
std::vector<std::string> Added(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
    std::vector<std::string> added;
    for (const std::string& line : after) {
        bool found = false;
        for (const std::string& old : before) {
            found = found || old == line;
        }
        if (!found) {
            added.push_back(line);
        }
    }
    return added;
}

std::vector<BYTE> Raw(hosted::MemoryRegistry& registry, HKEY root, const std::string& key,
                      const std::string& name, DWORD* type = nullptr) {
    hosted::MemoryRegistry::Value value;
    EXPECT_TRUE(registry.GetValue(root, key, name, &value)) << key << " " << name;
    if (type != nullptr) {
        *type = value.type;
    }
    return value.data;
}

TEST(ReadRegistryValue, ReadsUpToFourBytesLittleEndianWhateverTheType) {
    struct Row {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        uint32_t expected;
    };
    const Row rows[] = {
        {"two-byte binary", REG_BINARY, {0x34, 0x12}, 0x1234u},
        {"dword 1000", REG_DWORD, {0xE8, 0x03, 0x00, 0x00}, 1000u},
        {"zero length", REG_BINARY, {}, 0u},
        {"one byte", REG_BINARY, {0xAB}, 0xABu},
        {"three bytes", REG_BINARY, {0x01, 0x02, 0x03}, 0x030201u},
        {"top bit set", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu},
        {"six bytes: the first four",
         REG_BINARY,
         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
         0x04030201u},
        {"eight bytes: the first four",
         REG_BINARY,
         {0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89},
         0x12345678u},
        {"a string's bytes", REG_SZ, {'A', 'B', 0}, 0x004241u},
    };
    for (const Row& row : rows) {
        hosted::MemoryRegistry registry;
        registry.PutValue(HKEY_CURRENT_USER, kTestKey, "V", row.type, row.data.data(),
                          row.data.size());
        HKEY key = nullptr;
        ASSERT_EQ(registry.OpenKey(HKEY_CURRENT_USER, kTestKey, &key), ERROR_SUCCESS);
        uint32_t value = 0xDEADBEEFu;
        EXPECT_EQ(wheel::ReadRegistryValue(registry, key, "V", &value), ERROR_SUCCESS) << row.what;
        EXPECT_EQ(value, row.expected) << row.what;
        registry.CloseKey(key);
        EXPECT_EQ(registry.OpenHandles(), 0u) << row.what;
    }
}

TEST(ReadRegistryValue, MissingValueReportsTheErrorAndLeavesTheNumber) {
    hosted::MemoryRegistry registry;
    registry.PutDword(HKEY_CURRENT_USER, kTestKey, "Other", 5);
    HKEY key = nullptr;
    ASSERT_EQ(registry.OpenKey(HKEY_CURRENT_USER, kTestKey, &key), ERROR_SUCCESS);
    uint32_t value = 0xDEADBEEFu;
    EXPECT_EQ(wheel::ReadRegistryValue(registry, key, "Amplify", &value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 0xDEADBEEFu);
    registry.CloseKey(key);
}

TEST(SetRegistryString, CreatesOnlyWhenAskedAndStoresTheTerminatingNul) {
    hosted::MemoryRegistry registry;

    EXPECT_EQ(wheel::SetRegistryString(registry, HKEY_CURRENT_USER, kTestKey, "Name", "abc", false),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(registry.KeyExists(HKEY_CURRENT_USER, kTestKey)) << "nothing created";
    EXPECT_FALSE(registry.KeyExists(HKEY_CURRENT_USER, "Software"));

    EXPECT_EQ(wheel::SetRegistryString(registry, HKEY_CURRENT_USER, kTestKey, "Name", "abc", true),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Raw(registry, HKEY_CURRENT_USER, kTestKey, "Name", &type),
              (std::vector<BYTE>{'a', 'b', 'c', 0}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // The key exists now: no create flag needed to overwrite.
    EXPECT_EQ(wheel::SetRegistryString(registry, HKEY_CURRENT_USER, kTestKey, "Name", "", false),
              ERROR_SUCCESS);
    EXPECT_EQ(Raw(registry, HKEY_CURRENT_USER, kTestKey, "Name"), (std::vector<BYTE>{0}));
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

TEST(SetRegistryString, NullValueNameIsTheDefaultValueAndNullTextOnlyMakesTheKey) {
    hosted::MemoryRegistry registry;
    EXPECT_EQ(
        wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, "A\\B", nullptr, "Default", true),
        ERROR_SUCCESS);
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, "A\\B", ""), "Default");

    EXPECT_EQ(wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, "A\\B\\C", "X", nullptr, true),
              ERROR_SUCCESS);
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, "A\\B\\C"));
    EXPECT_FALSE(registry.GetValue(HKEY_CLASSES_ROOT, "A\\B\\C", "X", nullptr));
    EXPECT_FALSE(registry.GetValue(HKEY_CLASSES_ROOT, "A\\B\\C", "", nullptr));

    // Without create, null text on a missing key is still "not found", and creates nothing.
    EXPECT_EQ(
        wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, "A\\D", nullptr, nullptr, false),
        ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, "A\\D"));
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

TEST(SetRegistryString, ReadOnlyRootReturnsTheError) {
    hosted::MemoryRegistry registry;
    registry.PutValue(HKEY_LOCAL_MACHINE, kTestKey, "Name", REG_SZ, "old", 4);
    registry.SetReadOnly(HKEY_LOCAL_MACHINE, true);
    const auto before = Dump(registry);

    EXPECT_EQ(wheel::SetRegistryString(registry, HKEY_LOCAL_MACHINE, kTestKey, "Name", "new", true),
              ERROR_ACCESS_DENIED)
        << "existing key, value write refused";
    EXPECT_EQ(
        wheel::SetRegistryString(registry, HKEY_LOCAL_MACHINE, "Software\\New", "N", "v", true),
        ERROR_ACCESS_DENIED)
        << "missing key, create refused";
    EXPECT_EQ(Dump(registry), before);
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

const char kClsidKey[] = "CLSID\\{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}";
const char kServerKey[] = "CLSID\\{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}\\InProcServer32";
const char kPath[] = "C:\\Windows\\System32\\dravik.dll";

TEST(RegisterDriver, WritesExactlyTheFourValues) {
    hosted::MemoryRegistry registry;
    dravik::RegisterDriver(registry, kPath);

    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, kClsidKey, ""),
              "USB Joystick Force FeedBack Support DLL");
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, kServerKey, ""), kPath);
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel"), "Both");
    EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE,
                                 "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\"
                                 "PrivateProperties\\Joystick\\OEM\\VID_2D71&PID_5A08\\"
                                 "OEMForceFeedback",
                                 "CLSID"),
              "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");
    // Each is a REG_SZ with its NUL, and nothing else carries a value.
    size_t values = 0;
    for (const auto& key : registry.Snapshot()) {
        for (const auto& value : key.second) {
            ++values;
            EXPECT_EQ(value.second.type, static_cast<DWORD>(REG_SZ))
                << key.first << " " << value.first;
            ASSERT_FALSE(value.second.data.empty());
            EXPECT_EQ(value.second.data.back(), 0) << key.first << " " << value.first;
        }
    }
    EXPECT_EQ(values, 4u);
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

TEST(RegisterDriver, TwiceLeavesTheSameRegistry) {
    hosted::MemoryRegistry registry;
    dravik::RegisterDriver(registry, kPath);
    const auto once = Dump(registry);
    dravik::RegisterDriver(registry, kPath);
    EXPECT_EQ(Dump(registry), once);
}

TEST(RegisterDriver, KeepsTheInstalledForceFeedbackKeys) {
    hosted::MemoryRegistry registry;
    ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
    const auto installed = Dump(registry);
    dravik::RegisterDriver(registry, kPath);
    const auto after = Dump(registry);
    // Everything installed is still there unchanged; what is new lies under HKEY_CLASSES_ROOT.
    EXPECT_TRUE(Added(after, installed).empty());
    for (const std::string& line : Added(installed, after)) {
        EXPECT_EQ(line.rfind("HKEY_CLASSES_ROOT", 0), 0u) << line;
    }
}

TEST(RegisterDriver, WithoutWriteAccessGoesOnAndWritesWhatItCan) {
    {
        hosted::MemoryRegistry registry;
        registry.SetReadOnly(HKEY_LOCAL_MACHINE, true);
        registry.SetReadOnly(HKEY_CLASSES_ROOT, true);
        const auto before = Dump(registry);
        dravik::RegisterDriver(registry, kPath);
        EXPECT_EQ(Dump(registry), before);
        EXPECT_EQ(registry.OpenHandles(), 0u);
    }
    {
        // A refused class key does not stop the force-feedback value.
        hosted::MemoryRegistry registry;
        registry.SetReadOnly(HKEY_CLASSES_ROOT, true);
        dravik::RegisterDriver(registry, kPath);
        EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
        EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID"),
                  "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");
    }
    {
        hosted::MemoryRegistry registry;
        registry.SetReadOnly(HKEY_LOCAL_MACHINE, true);
        dravik::RegisterDriver(registry, kPath);
        EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel"), "Both");
        EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey()));
    }
}

}  // namespace
