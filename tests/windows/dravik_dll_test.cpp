// The real dravik.dll under Wine: loaded by LoadLibrary and by COM, registered by regsvr32,
// reading the installed wheel data from the registry Wine keeps.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <functional>
#include <string>

#include "common/wheel_ids.h"
#include "ffdriver/effect_types.h"
#include "win_test_util.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using NoArgFn = HRESULT(STDAPICALLTYPE*)();

const char kEventName[] = "VID_2D71&PID_5A08";

// GetProcAddress hands out a generic pointer; go through void* to its real type.
template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class DravikDll : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = wintest::DllPathFromEnv("WHEEL_DRAVIK_DLL");
        ASSERT_FALSE(path_.empty()) << "WHEEL_DRAVIK_DLL is not set";
        wintest::InstallWheelData();
        module_ = LoadLibraryA(path_.c_str());
        ASSERT_NE(module_, nullptr) << "cannot load " << path_;
        getClassObject_ = Export<GetClassObjectFn>(module_, "DllGetClassObject");
        canUnloadNow_ = Export<NoArgFn>(module_, "DllCanUnloadNow");
        registerServer_ = Export<NoArgFn>(module_, "DllRegisterServer");
        unregisterServer_ = Export<NoArgFn>(module_, "DllUnregisterServer");
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
        ASSERT_NE(registerServer_, nullptr);
        ASSERT_NE(unregisterServer_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject_(wheel::kDravikClsid, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }

    std::string path_;
    HMODULE module_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
    NoArgFn canUnloadNow_ = nullptr;
    NoArgFn registerServer_ = nullptr;
    NoArgFn unregisterServer_ = nullptr;
};

std::string ClsidKey() {
    return wheel::ClsidKey(wheel::kDravikClsid);
}

TEST_F(DravikDll, ClassObjectAcceptsOnlyItsClassAndTheFactoryInterface) {
    struct Row {
        const char* what;
        CLSID clsid;
        IID iid;
        HRESULT expected;
    };
    const Row rows[] = {
        {"IUnknown is refused", wheel::kDravikClsid, IID_IUnknown, E_NOINTERFACE},
        {"foreign class", wheel::kVelquinClsid, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"foreign class and IID", wheel::kVelquinClsid, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"driver interface is no factory", wheel::kDravikClsid, IID_IDirectInputEffectDriver,
         E_NOINTERFACE},
    };
    for (const Row& row : rows) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(getClassObject_(row.clsid, row.iid, &out), row.expected) << row.what;
        EXPECT_EQ(out, nullptr) << row.what;
    }
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(DravikDll, OneFactoryHandsOutOneDriverWhileItLives) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);

    IDirectInputEffectDriver* first = nullptr;
    IDirectInputEffectDriver* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                      reinterpret_cast<void**>(&first)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                      reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_EQ(first, second);
    // Two references from the factory plus this one.
    EXPECT_EQ(first->AddRef(), 3u);
    EXPECT_EQ(first->Release(), 2u);
    EXPECT_EQ(second->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);

    // The remembered object is gone: the next call builds a new one.
    IDirectInputEffectDriver* third = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                      reinterpret_cast<void**>(&third)),
              S_OK);
    DIDRIVERVERSIONS versions = {};
    versions.dwSize = sizeof versions;
    EXPECT_EQ(third->GetVersions(&versions), S_OK);
    EXPECT_EQ(versions.dwFFDriverVersion, 2u);
    third->Release();

    // Never called: aggregation is refused before the outer object is touched.
    int notAnObject = 0;
    auto* outer = reinterpret_cast<IUnknown*>(&notAnObject);
    void* out = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    factory->LockServer(TRUE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a server lock keeps the module";
    // The lock outlives the factory that took it; balance it through a new one.
    IClassFactory* other = Factory();
    other->LockServer(FALSE);
    other->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(DravikDll, CreationFailsWhenAnEffectTypeIsNotInstalled) {
    const std::string removed =
        wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(7));
    wintest::DeleteTree(HKEY_LOCAL_MACHINE, removed);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    void* out = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    factory->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK) << "the failed object must be gone";
    wintest::InstallWheelData();
}

TEST_F(DravikDll, DeviceIdWithoutAWheelFailsCleanly) {
    IClassFactory* factory = Factory();
    IDirectInputEffectDriver* driver = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                      reinterpret_cast<void**>(&driver)),
              S_OK);
    factory->Release();
    // Wine has no joystick and no joystick configuration: the search finds nothing.
    EXPECT_EQ(driver->DeviceID(0x0700, 0, 1, 0, nullptr),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(driver->DeviceID(0x0500, 0, 1, 0, nullptr), DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(driver->DeviceID(0x0700, 16, 1, 0, nullptr), E_INVALIDARG);
    // Stopping on an unbound device sends nothing and still succeeds.
    EXPECT_EQ(driver->StopEffect(0, 1), S_OK);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// The ACE of `type` in `acl` for a well-known SID, or null.
const ACE_HEADER* FindAce(PACL acl, BYTE type, WELL_KNOWN_SID_TYPE sidType) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (acl == nullptr || !CreateWellKnownSid(sidType, nullptr, sid, &size)) {
        return nullptr;
    }
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) {
            continue;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Allowed and label ACEs share one layout: header, mask, SID.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (header->AceType == type && EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid)) {
            return header;
        }
    }
    return nullptr;
}

TEST_F(DravikDll, NamedStoreEventExistsWhileTheLibraryIsLoaded) {
    HANDLE event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, kEventName);
    ASSERT_NE(event, nullptr);
    // Auto-reset and signalled when nobody holds it.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(event);
    CloseHandle(event);

    // Rights of its own, so that an elevated game that makes it first shuts nobody out.
    event = OpenEventA(READ_CONTROL, FALSE, kEventName);
    ASSERT_NE(event, nullptr);
    PACL dacl = nullptr;
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(event, SE_KERNEL_OBJECT,
                              DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, &sacl, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(event);
    struct Row {
        const char* what;
        PACL acl;
        BYTE type;
        WELL_KNOWN_SID_TYPE sid;
        ACCESS_MASK rights;
    };
    const Row rows[] = {
        {"every authenticated user's processes, a service's or batch logon's too, wait and "
         "signal",
         dacl, ACCESS_ALLOWED_ACE_TYPE, WinAuthenticatedUserSid, SYNCHRONIZE | EVENT_MODIFY_STATE},
        {"a low label: no integrity level is kept out", sacl, SYSTEM_MANDATORY_LABEL_ACE_TYPE,
         WinLowLabelSid, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP},
    };
    for (const Row& row : rows) {
        const ACE_HEADER* ace = FindAce(row.acl, row.type, row.sid);
        ASSERT_NE(ace, nullptr) << row.what;
        const ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
        EXPECT_EQ(mask & row.rights, row.rights) << row.what;
    }
    LocalFree(descriptor);

    // In a process of its own, where nothing else has the library: unloading it closes its
    // handle to the event.
    const std::string probe = wintest::DllPathFromEnv("WHEEL_STORE_EVENT_PROBE");
    ASSERT_FALSE(probe.empty()) << "WHEEL_STORE_EVENT_PROBE is not set";
    EXPECT_EQ(wintest::Run("\"" + probe + "\" load-unload \"" + path_ + "\""), 0);
}

// A program that made the event first under rights of its own (an elevated game, say) lets
// others only wait on it and signal it: the driver still loads, in a process of its own, and
// stores its effects under that one event.
TEST_F(DravikDll, LoadsWhereTheStoreEventOnlyLetsItWaitAndSignal) {
    ASSERT_EQ(registerServer_(), S_OK);
    const std::string probe = wintest::DllPathFromEnv("WHEEL_STORE_EVENT_PROBE");
    ASSERT_FALSE(probe.empty()) << "WHEEL_STORE_EVENT_PROBE is not set";
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "WheelTestsHolderReady");
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "WheelTestsHolderStop");
    ASSERT_NE(ready, nullptr);
    ASSERT_NE(stop, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder = {};
    std::string command = "\"" + probe + "\" hold";
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &holder));
    CloseHandle(holder.hThread);
    const HANDLE started[] = {ready, holder.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, started, FALSE, 30000), WAIT_OBJECT_0)
        << "the holder did not take the event";

    HANDLE event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, kEventName);
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    const int created = wintest::Run("\"" + probe + "\" create");
    EXPECT_EQ(created, 0) << "0x" << std::hex << static_cast<unsigned>(created);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "the driver gave the event back";
    SetEvent(event);
    CloseHandle(event);

    SetEvent(stop);
    EXPECT_EQ(WaitForSingleObject(holder.hProcess, 30000), WAIT_OBJECT_0);
    DWORD held = 1;
    GetExitCodeProcess(holder.hProcess, &held);
    EXPECT_EQ(held, 0u) << "the holder failed";
    CloseHandle(holder.hProcess);
    CloseHandle(ready);
    CloseHandle(stop);
}

TEST_F(DravikDll, DriverWaitsForTheStoreEventHeldElsewhereThenGoesOn) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IDirectInputEffectDriver* driver = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                      reinterpret_cast<void**>(&driver)),
              S_OK);
    factory->Release();
    HANDLE holder = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, kEventName);
    ASSERT_NE(holder, nullptr);

    LONG magnitude = 5000;
    DIEFFECT effect = {};
    effect.dwSize = sizeof effect;
    effect.dwDuration = INFINITE;
    effect.cbTypeSpecificParams = sizeof magnitude;
    effect.lpvTypeSpecificParams = &magnitude;
    DWORD handle = 0;
    struct Row {
        const char* what;
        std::function<HRESULT()> run;
    };
    const Row rows[] = {
        {"download", [&] { return driver->DownloadEffect(0, 0, &handle, &effect, 0); }},
        {"destroy", [&] { return driver->DestroyEffect(0, handle); }},
    };
    for (const Row& row : rows) {
        const char* what = row.what;
        // Held by someone else: the driver waits its 100 ms, goes on, and gives the event back.
        ASSERT_EQ(WaitForSingleObject(holder, 1000), WAIT_OBJECT_0) << what;
        const DWORD start = GetTickCount();
        const HRESULT result = row.run();
        const DWORD waited = GetTickCount() - start;
        EXPECT_EQ(result, S_OK) << what;
        EXPECT_GE(waited, 80u) << what << " did not wait for the event";
        EXPECT_LT(waited, 1000u) << what << " waited past its time-out";
        EXPECT_EQ(WaitForSingleObject(holder, 0), WAIT_OBJECT_0) << what << " left it unsignalled";
        SetEvent(holder);
    }
    EXPECT_EQ(handle, 1u);
    CloseHandle(holder);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(DravikDll, RegistrationWritesTheFourValuesAndUnregistrationRemovesNothing) {
    wintest::DeleteTree(HKEY_CLASSES_ROOT, ClsidKey());
    ASSERT_EQ(wintest::Run("regsvr32.exe /s \"" + path_ + "\""), 0);

    const std::string server = ClsidKey() + "\\InProcServer32";
    EXPECT_EQ(wintest::ReadString(HKEY_CLASSES_ROOT, ClsidKey(), nullptr),
              "USB Joystick Force FeedBack Support DLL");
    char modulePath[1024] = {};
    GetModuleFileNameA(module_, modulePath, sizeof modulePath);
    EXPECT_STRCASEEQ(wintest::ReadString(HKEY_CLASSES_ROOT, server, nullptr).c_str(), modulePath);
    EXPECT_EQ(wintest::ReadString(HKEY_CLASSES_ROOT, server, "ThreadingModel"), "Both");
    EXPECT_EQ(wintest::ReadString(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID"),
              "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");

    const auto before = wintest::DumpTree(HKEY_CLASSES_ROOT, ClsidKey());
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(wintest::DumpTree(HKEY_CLASSES_ROOT, ClsidKey()), before);

    EXPECT_EQ(unregisterServer_(), S_OK);
    EXPECT_EQ(wintest::DumpTree(HKEY_CLASSES_ROOT, ClsidKey()), before);
    EXPECT_TRUE(wintest::KeyExists(HKEY_LOCAL_MACHINE, wheel::OemEffectsKey()));
}

TEST_F(DravikDll, ComCreatesTheRegisteredDriver) {
    ASSERT_EQ(registerServer_(), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IDirectInputEffectDriver* driver = nullptr;
    EXPECT_EQ(CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver)),
              S_OK);
    ASSERT_NE(driver, nullptr);
    DIDRIVERVERSIONS versions = {};
    versions.dwSize = sizeof versions;
    EXPECT_EQ(driver->GetVersions(&versions), S_OK);
    EXPECT_EQ(versions.dwFirmwareRevision, 1u);
    EXPECT_EQ(versions.dwHardwareRevision, 1u);
    EXPECT_EQ(versions.dwFFDriverVersion, 2u);
    driver->Release();

    const std::string removed =
        wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(11));
    wintest::DeleteTree(HKEY_LOCAL_MACHINE, removed);
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDirectInputEffectDriver, &out),
              E_FAIL);
    EXPECT_EQ(out, nullptr);
    wintest::InstallWheelData();
    CoUninitialize();
}

}  // namespace
