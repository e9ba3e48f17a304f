// The two registry routines both libraries carry, what the registrations write, and the
// registry paths behind the COM and DLL entry points, which must not throw.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "common/registry.h"
#include "common/wheel_ids.h"
#include "driver_fixture.h"
#include "ffdriver/registration.h"
#include "hosted/memory_registry.h"
#include "install/wheel_data.h"
#include "propsheet/pages.h"
#include "propsheet/registration.h"

namespace {

// While above 0, every throwing allocation of this thread throws std::bad_alloc. The nothrow
// forms keep working: the libraries use those where running out of memory is a result.
thread_local int g_throwingAllocationsFail = 0;

void* Allocate(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// The whole test program allocates through these; only the scope below makes them fail. Kept
// out of line so that the compiler sees no free() paired with operator new.
[[gnu::noinline]] void* operator new(std::size_t size) {
    void* block = g_throwingAllocationsFail > 0 ? nullptr : Allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
    return ::operator new(size);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace {

// A std::bad_alloc on a path that DirectInput, COM or the loader calls into would cross the
// boundary and end the game: such paths must build their names without allocating.
class ThrowingAllocationsFail {
  public:
    ThrowingAllocationsFail() { ++g_throwingAllocationsFail; }
    ~ThrowingAllocationsFail() { --g_throwingAllocationsFail; }
    ThrowingAllocationsFail(const ThrowingAllocationsFail&) = delete;
    ThrowingAllocationsFail& operator=(const ThrowingAllocationsFail&) = delete;
};

// The registry as advapi32 is: it never throws. The in-memory tree does allocate, so its calls
// are let through the failing scope.
class PlatformRegistry final : public wheel::RegistryApi {
  public:
    explicit PlatformRegistry(wheel::RegistryApi& tree) : tree_(tree) {}
    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override {
        Let let;
        return tree_.OpenKey(root, subKey, result);
    }
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override {
        Let let;
        return tree_.CreateKey(root, subKey, result);
    }
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override {
        Let let;
        return tree_.EnumKey(key, index, name, nameSize);
    }
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override {
        Let let;
        return tree_.QueryValue(key, valueName, type, data, dataSize);
    }
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override {
        Let let;
        return tree_.SetValue(key, valueName, type, data, dataSize);
    }
    LONG CloseKey(HKEY key) override {
        Let let;
        return tree_.CloseKey(key);
    }

  private:
    struct Let {
        Let() : saved(g_throwingAllocationsFail) { g_throwingAllocationsFail = 0; }
        ~Let() { g_throwingAllocationsFail = saved; }
        int saved;
    };
    wheel::RegistryApi& tree_;
};

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

// The installers write the classes themselves, from their own table: it must hold exactly what
// DllRegisterServer writes (administrator writes to HKEY_CLASSES_ROOT land in
// HKLM\\Software\\Classes), so the two ways of registering can never drift apart.
TEST(RegisterDriver, InstallerTableHoldsWhatDllRegisterServerWrites) {
    const char velquinPath[] = "C:\\Windows\\System32\\velquin.dll";
    hosted::MemoryRegistry selfRegistered;
    dravik::RegisterDriver(selfRegistered, kPath);
    velquin::RegisterSheet(selfRegistered, velquinPath);

    hosted::MemoryRegistry installed;
    std::vector<install::RegEntry> entries = install::ClassRegistrationData(kPath, velquinPath);
    for (const install::RegEntry& entry : install::WheelRegistryData()) {
        if (entry.key == wheel::OemForceFeedbackKey() && entry.valueName == "CLSID") {
            entries.push_back(entry);
        }
    }
    const std::string classes = "Software\\Classes\\";
    for (const install::RegEntry& entry : entries) {
        const bool isClass = entry.key.rfind(classes, 0) == 0;
        installed.PutValue(isClass ? HKEY_CLASSES_ROOT : entry.root,
                           isClass ? entry.key.substr(classes.size()) : entry.key, entry.valueName,
                           entry.type, entry.data.data(), entry.data.size());
    }
    EXPECT_EQ(Dump(installed), Dump(selfRegistered));
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

TEST(EntryPaths, RegistryWorkBehindTheEntryPointsNeverThrows) {
    drivertest::DriverRig rig;
    PlatformRegistry platform(rig.registry);
    rig.services.registry = &platform;
    ASSERT_EQ(rig.CreateDriver(), S_OK);
    ASSERT_EQ(rig.Bind(0), S_OK);
    const DWORD handle = rig.Download(0, 0, drivertest::Effect::Constant(10000));
    ASSERT_NE(handle, 0u);
    rig.SetAmplify(HKEY_CURRENT_USER, 700);
    const std::string sheetKey = wheel::ClsidKey(wheel::kVelquinClsid);

    struct Row {
        const char* path;
        std::function<HRESULT()> run;
        std::function<void()> check;
    };
    const Row rows[] = {
        {"StartEffect reads Amplify", [&] { return rig.driver->StartEffect(0, handle, 0, 1); },
         [&] { EXPECT_EQ(rig.driver->CopyRecord(0).amplify, 700u); }},
        {"InitDriver reads the twelve effect types", [&] { return rig.driver->InitDriver(); },
         [&] {
             for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
                 EXPECT_EQ(rig.driver->EffectAttributes(type).dwEffectId, type);
             }
         }},
        {"the driver's DllRegisterServer",
         [&] {
             dravik::RegisterDriver(platform, kPath);
             return S_OK;
         },
         [&] {
             EXPECT_EQ(rig.registry.GetString(HKEY_CLASSES_ROOT, kServerKey, ""), kPath);
             EXPECT_EQ(
                 rig.registry.GetString(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID"),
                 "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");
         }},
        {"the sheet's DllRegisterServer",
         [&] {
             velquin::RegisterSheet(platform, kPath);
             return S_OK;
         },
         [&] {
             EXPECT_EQ(
                 rig.registry.GetString(HKEY_CLASSES_ROOT, sheetKey + "\\InProcHandler32", ""),
                 "gchand.dll");
         }},
        {"the Effect page stores Amplify",
         [&] {
             return HRESULT_FROM_WIN32(
                 velquin::WriteAmplify(platform, wheel::OsWinNT6, 1200, nullptr));
         },
         [&] {
             uint32_t value = 0;
             EXPECT_EQ(velquin::ReadAmplify(rig.registry, wheel::OsWinNT6, &value), ERROR_SUCCESS);
             EXPECT_EQ(value, 1200u);
         }},
        {"the Effect page reads Amplify",
         [&] {
             uint32_t value = 0;
             const LONG read = velquin::ReadAmplify(platform, wheel::OsWinNT6, &value);
             return read == ERROR_SUCCESS && value == 1200 ? S_OK : E_FAIL;
         },
         [] {}},
    };
    for (const Row& row : rows) {
        bool threw = false;
        HRESULT hr = E_FAIL;
        {
            ThrowingAllocationsFail scope;
            try {
                hr = row.run();
            } catch (const std::bad_alloc&) {
                threw = true;
            }
        }
        EXPECT_FALSE(threw) << row.path;
        EXPECT_EQ(hr, S_OK) << row.path;
        if (!threw) {
            row.check();
        }
    }
}

}  // namespace
