// The property-sheet server's COM rules, the sheet object and its registration, on the
// portable code with test services and the in-memory registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "hosted/memory_registry.h"
#include "propsheet/registration.h"
#include "propsheet/resource.h"
#include "propsheet/sheet_factory.h"
#include "tests/native/propsheet_counting_objects.h"

namespace velquin {
namespace {

// What the services saw; reset by the fixture.
struct ServiceLog {
    int captionsMade = 0;
    int captionsFreed = 0;
    bool failCaption = false;
    std::vector<HINSTANCE> registrations;
};
ServiceLog serviceLog;

LPWSTR TestNewCaption(const char* ansi) {
    if (serviceLog.failCaption) {
        return nullptr;
    }
    auto* caption = static_cast<LPWSTR>(std::calloc(kCaptionChars, sizeof(WCHAR)));
    for (int i = 0; ansi[i] != '\0' && i < kCaptionChars - 1; ++i) {
        caption[i] = static_cast<WCHAR>(static_cast<unsigned char>(ansi[i]));
    }
    ++serviceLog.captionsMade;
    return caption;
}

void TestFreeCaption(LPWSTR caption) {
    ++serviceLog.captionsFreed;
    std::free(caption);
}

void TestRegisterControls(HINSTANCE instance) {
    serviceLog.registrations.push_back(instance);
}

INT_PTR CALLBACK TestPage(HWND, UINT, WPARAM, LPARAM) {
    return 1;
}
INT_PTR CALLBACK CalibrationPage(HWND, UINT, WPARAM, LPARAM) {
    return 2;
}
INT_PTR CALLBACK EffectPage(HWND, UINT, WPARAM, LPARAM) {
    return 3;
}

HINSTANCE FakeModule() {
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000));
}

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

void* const kGarbage = reinterpret_cast<void*>(static_cast<uintptr_t>(0xBAD));

class PropsheetServer : public ::testing::Test {
  protected:
    void SetUp() override {
        serviceLog = ServiceLog();
        services.objectCount = &objectCount;
        services.moduleInstance = FakeModule();
        services.testPageProc = TestPage;
        services.calibrationPageProc = CalibrationPage;
        services.effectPageProc = EffectPage;
        services.newCaption = TestNewCaption;
        services.freeCaption = TestFreeCaption;
        services.registerControls = TestRegisterControls;
    }
    void TearDown() override {
        EXPECT_EQ(objectCount.Value(), 0) << "an object, factory or lock outlived the test";
        EXPECT_EQ(serviceLog.captionsFreed, serviceLog.captionsMade);
    }

    IClassFactory* Factory() {
        void* out = nullptr;
        EXPECT_EQ(GetSheetClassObject(services, wheel::kVelquinClsid, IID_IClassFactory, &out),
                  S_OK);
        return static_cast<IClassFactory*>(out);
    }

    IDIGameCntrlPropSheet* NewSheet() {
        IClassFactory* factory = Factory();
        void* out = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDIGameCntrlPropSheet, &out), S_OK);
        factory->Release();
        return static_cast<IDIGameCntrlPropSheet*>(out);
    }

    wheel::ModuleCount objectCount;
    SheetServices services;
};

TEST_F(PropsheetServer, GetClassObjectAcceptsOnlyItsClassAndIClassFactory) {
    struct Row {
        const char* what;
        CLSID clsid;
        IID iid;
        HRESULT result;
    };
    const Row rows[] = {
        {"own class, IClassFactory", wheel::kVelquinClsid, IID_IClassFactory, S_OK},
        {"own class, IUnknown", wheel::kVelquinClsid, IID_IUnknown, E_NOINTERFACE},
        {"own class, sheet interface", wheel::kVelquinClsid, IID_IDIGameCntrlPropSheet,
         E_NOINTERFACE},
        // The class test comes before the interface test.
        {"driver class, IClassFactory", wheel::kDravikClsid, IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
        {"driver class, IUnknown", wheel::kDravikClsid, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"sheet IID as class", IID_IDIGameCntrlPropSheet, IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Row& row : rows) {
        void* out = kGarbage;
        EXPECT_EQ(GetSheetClassObject(services, row.clsid, row.iid, &out), row.result) << row.what;
        if (row.result == S_OK) {
            ASSERT_NE(out, nullptr) << row.what;
            EXPECT_EQ(objectCount.Value(), 1) << row.what;
            EXPECT_EQ(CanUnloadNow(objectCount), S_FALSE) << row.what;
            EXPECT_EQ(static_cast<IClassFactory*>(out)->Release(), 0u) << row.what;
        } else {
            EXPECT_EQ(out, nullptr) << row.what;
        }
        EXPECT_EQ(objectCount.Value(), 0) << row.what;
        EXPECT_EQ(CanUnloadNow(objectCount), S_OK) << row.what;
    }
    EXPECT_EQ(GetSheetClassObject(services, wheel::kVelquinClsid, IID_IClassFactory, nullptr),
              E_POINTER);
}

TEST_F(PropsheetServer, EveryCallMakesANewFactory) {
    IClassFactory* a = Factory();
    IClassFactory* b = Factory();
    EXPECT_NE(a, b);
    EXPECT_EQ(objectCount.Value(), 2);
    a->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_FALSE);
    b->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_OK);
}

TEST_F(PropsheetServer, FactoryInterfacesAndReferenceCount) {
    IClassFactory* factory = Factory();
    void* out = kGarbage;
    EXPECT_EQ(factory->QueryInterface(IID_IDIGameCntrlPropSheet, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    for (const IID& iid : {IID_IUnknown, IID_IClassFactory}) {
        EXPECT_EQ(factory->QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(factory));
    }
    EXPECT_EQ(factory->AddRef(), 4u);
    EXPECT_EQ(factory->Release(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(objectCount.Value(), 1);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(PropsheetServer, LockServerCountsUntilAsManyUnlocks) {
    IClassFactory* factory = Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_FALSE);
    // A factory is needed to unlock; the new one counts too, so release it first.
    IClassFactory* other = Factory();
    EXPECT_EQ(other->LockServer(FALSE), S_OK);
    other->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_FALSE);
    other = Factory();
    EXPECT_EQ(other->LockServer(FALSE), S_OK);
    other->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_OK);
}

TEST_F(PropsheetServer, CreateInstanceFailuresLeaveNothingBehind) {
    IClassFactory* factory = Factory();
    const int before = objectCount.Value();
    struct Row {
        const char* what;
        bool aggregate;
        IID iid;
        bool failCaption;
        HRESULT result;
    };
    const Row rows[] = {
        {"aggregation", true, IID_IDIGameCntrlPropSheet, false, CLASS_E_NOAGGREGATION},
        {"IClassFactory", false, IID_IClassFactory, false, E_NOINTERFACE},
        {"a foreign IID", false, wheel::kDravikClsid, false, E_NOINTERFACE},
        {"caption out of memory", false, IID_IDIGameCntrlPropSheet, true, E_OUTOFMEMORY},
    };
    sheettest::CallCounts outerCounts;
    sheettest::CountingDevice outer(outerCounts);
    for (const Row& row : rows) {
        serviceLog.failCaption = row.failCaption;
        void* out = kGarbage;
        EXPECT_EQ(factory->CreateInstance(row.aggregate ? &outer : nullptr, row.iid, &out),
                  row.result)
            << row.what;
        EXPECT_EQ(out, nullptr) << row.what;
        EXPECT_EQ(objectCount.Value(), before) << row.what;
        EXPECT_EQ(serviceLog.captionsFreed, serviceLog.captionsMade) << row.what;
    }
    // Without a caption Initialize stops before registering the window classes.
    EXPECT_EQ(serviceLog.registrations.size(), 2u);
    EXPECT_EQ(outerCounts.addRefs + outerCounts.releases, 0);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    factory->Release();
}

TEST_F(PropsheetServer, CreateInstanceHandsOutAnInitialisedSheet) {
    IClassFactory* factory = Factory();
    for (const IID& iid : {IID_IUnknown, IID_IDIGameCntrlPropSheet}) {
        void* out = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, iid, &out), S_OK);
        auto* sheet = static_cast<IDIGameCntrlPropSheet*>(out);
        EXPECT_EQ(objectCount.Value(), 2);
        LPDIGCSHEETINFO info = nullptr;
        ASSERT_EQ(sheet->GetSheetInfo(&info), S_OK);
        EXPECT_EQ(Narrow(info->lpwszSheetCaption), "Talvex DX");
        EXPECT_EQ(sheet->Release(), 0u);
        EXPECT_EQ(objectCount.Value(), 1);
    }
    ASSERT_EQ(serviceLog.registrations.size(), 2u);
    EXPECT_EQ(serviceLog.registrations[0], FakeModule());
    factory->Release();
}

TEST_F(PropsheetServer, SheetAndPageRecords) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    ASSERT_NE(sheet, nullptr);
    LPDIGCSHEETINFO info = nullptr;
    ASSERT_EQ(sheet->GetSheetInfo(&info), S_OK);
    EXPECT_EQ(info->dwSize, sizeof(DIGCSHEETINFO));
    EXPECT_EQ(info->nNumPages, 3);
    EXPECT_EQ(Narrow(info->lpwszSheetCaption), "Talvex DX");
    // The zero fill terminates the text and leaves the rest of the 64 characters empty.
    for (int i = 9; i < kCaptionChars; ++i) {
        EXPECT_EQ(info->lpwszSheetCaption[i], 0) << i;
    }
    EXPECT_EQ(info->fSheetIconFlag, TRUE);
    EXPECT_EQ(info->lpwszSheetIcon, ResourceName(32517));

    LPDIGCPAGEINFO pages = nullptr;
    ASSERT_EQ(sheet->GetPageInfo(&pages), S_OK);
    struct Row {
        uint16_t templateId;
        DLGPROC proc;
    };
    const Row rows[] = {{107, TestPage}, {109, CalibrationPage}, {108, EffectPage}};
    for (int i = 0; i < 3; ++i) {
        const DIGCPAGEINFO& page = pages[i];
        EXPECT_EQ(page.dwSize, sizeof(DIGCPAGEINFO)) << i;
        EXPECT_EQ(page.lpwszPageTitle, nullptr) << i;
        EXPECT_EQ(page.fpPageProc, rows[i].proc) << i;
        EXPECT_EQ(page.fProcFlag, FALSE) << i;
        EXPECT_EQ(page.fpPrePostProc, nullptr) << i;
        EXPECT_EQ(page.fIconFlag, TRUE) << i;
        EXPECT_EQ(page.lpwszPageIcon, ResourceName(IDI_WHEEL)) << i;
        EXPECT_EQ(page.lpwszTemplate, ResourceName(rows[i].templateId)) << i;
        EXPECT_EQ(page.lParam, reinterpret_cast<LPARAM>(sheet)) << i;
        EXPECT_EQ(page.hInstance, FakeModule()) << i;
    }
    // The records live in the object: asking again gives the same addresses.
    LPDIGCPAGEINFO again = nullptr;
    LPDIGCSHEETINFO infoAgain = nullptr;
    sheet->GetPageInfo(&again);
    sheet->GetSheetInfo(&infoAgain);
    EXPECT_EQ(again, pages);
    EXPECT_EQ(infoAgain, info);
    sheet->Release();
}

TEST_F(PropsheetServer, JoystickIdAndInterfaces) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    EXPECT_EQ(sheet->GetID(), 0xFFFF);
    EXPECT_EQ(sheet->SetID(3), S_OK);
    EXPECT_EQ(sheet->GetID(), 3);
    EXPECT_EQ(sheet->SetID(0), S_OK);
    EXPECT_EQ(sheet->GetID(), 0);

    void* out = kGarbage;
    EXPECT_EQ(sheet->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sheet->QueryInterface(IID_IDIGameCntrlPropSheet, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(sheet));
    EXPECT_EQ(sheet->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(sheet));
    EXPECT_EQ(sheet->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(sheet->AddRef(), 4u);
    EXPECT_EQ(sheet->Release(), 3u);
    EXPECT_EQ(sheet->Release(), 2u);
    EXPECT_EQ(sheet->Release(), 1u);
    EXPECT_EQ(sheet->Release(), 0u);
}

// The count is 16 bits wide and AddRef reports it sign-extended.
TEST_F(PropsheetServer, ReferenceCountIsSixteenBitsSignExtended) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    for (int i = 0; i < 32766; ++i) {
        sheet->AddRef();
    }
    EXPECT_EQ(sheet->AddRef(), 0xFFFF8000u);
    EXPECT_EQ(sheet->Release(), 32767u);
    for (int i = 0; i < 32766; ++i) {
        sheet->Release();
    }
    EXPECT_EQ(objectCount.Value(), 1);
    EXPECT_EQ(sheet->Release(), 0u);
}

TEST_F(PropsheetServer, DeviceAndJoyConfigAreHeldWithoutExtraReferences) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    auto* device = static_cast<IDirectInputDevice2A*>(kGarbage);
    ASSERT_EQ(sheet->GetDevice(&device), S_OK);
    EXPECT_EQ(device, nullptr);
    auto* joyConfig = static_cast<IDirectInputJoyConfig*>(kGarbage);
    ASSERT_EQ(sheet->GetJoyConfig(&joyConfig), S_OK);
    EXPECT_EQ(joyConfig, nullptr);
    EXPECT_EQ(sheet->GetDevice(nullptr), E_POINTER);
    EXPECT_EQ(sheet->GetJoyConfig(nullptr), E_POINTER);

    sheettest::CallCounts firstCounts, secondCounts, configCounts;
    sheettest::CountingDevice first(firstCounts);
    sheettest::CountingDevice second(secondCounts);
    sheettest::CountingJoyConfig config(configCounts);
    EXPECT_EQ(sheet->SetDevice(&first), S_OK);
    EXPECT_EQ(sheet->SetDevice(&second), S_OK);
    EXPECT_EQ(sheet->SetJoyConfig(&config), S_OK);
    sheet->GetDevice(&device);
    sheet->GetJoyConfig(&joyConfig);
    EXPECT_EQ(device, &second);
    EXPECT_EQ(joyConfig, &config);
    // Neither setter nor getter touches the references.
    EXPECT_EQ(firstCounts.addRefs + firstCounts.releases + firstCounts.unacquires, 0);
    EXPECT_EQ(secondCounts.addRefs + secondCounts.releases + secondCounts.unacquires, 0);
    EXPECT_EQ(configCounts.addRefs + configCounts.releases, 0);

    EXPECT_EQ(sheet->Release(), 0u);
    // The replaced device is the caller's business; the held ones are let go exactly once,
    // unacquired before they are released.
    EXPECT_EQ(firstCounts.releases + firstCounts.unacquires, 0);
    EXPECT_EQ(secondCounts.unacquires, 1);
    EXPECT_EQ(secondCounts.releases, 1);
    EXPECT_EQ(secondCounts.unacquiresAfterRelease, 0);
    EXPECT_EQ(configCounts.unacquires, 1);
    EXPECT_EQ(configCounts.releases, 1);
    EXPECT_EQ(configCounts.unacquiresAfterRelease, 0);
    EXPECT_EQ(secondCounts.addRefs + configCounts.addRefs, 0);
}

TEST_F(PropsheetServer, SecondInitializeRefillsTheRecordsWithANewCaption) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    LPDIGCSHEETINFO info = nullptr;
    LPDIGCPAGEINFO pages = nullptr;
    sheet->GetSheetInfo(&info);
    sheet->GetPageInfo(&pages);
    // Spoil the records; Initialize must write every field again.
    const DIGCPAGEINFO firstPage = pages[0];
    pages[0].lpwszTemplate = nullptr;
    pages[2].lParam = 0;
    info->nNumPages = 0;

    EXPECT_EQ(sheet->Initialize(), S_OK);
    EXPECT_EQ(serviceLog.captionsMade, 2);
    EXPECT_EQ(serviceLog.captionsFreed, 1);
    EXPECT_EQ(info->nNumPages, 3);
    EXPECT_EQ(pages[0].lpwszTemplate, firstPage.lpwszTemplate);
    EXPECT_EQ(pages[2].lParam, reinterpret_cast<LPARAM>(sheet));
    // Read through the new pointer: a freed one would show under the address sanitizer.
    EXPECT_EQ(Narrow(info->lpwszSheetCaption), "Talvex DX");
    EXPECT_EQ(serviceLog.registrations.size(), 2u);

    // A failed second Initialize keeps the caption it had.
    serviceLog.failCaption = true;
    EXPECT_EQ(sheet->Initialize(), E_OUTOFMEMORY);
    EXPECT_EQ(Narrow(info->lpwszSheetCaption), "Talvex DX");
    sheet->Release();
    EXPECT_EQ(serviceLog.captionsFreed, 2);
}

TEST_F(PropsheetServer, SecondSheetInOneProcess) {
    IDIGameCntrlPropSheet* a = NewSheet();
    IDIGameCntrlPropSheet* b = NewSheet();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(objectCount.Value(), 2);
    a->SetID(1);
    EXPECT_EQ(b->GetID(), 0xFFFF);
    LPDIGCPAGEINFO pagesA = nullptr;
    LPDIGCPAGEINFO pagesB = nullptr;
    a->GetPageInfo(&pagesA);
    b->GetPageInfo(&pagesB);
    EXPECT_EQ(pagesA[1].lParam, reinterpret_cast<LPARAM>(a));
    EXPECT_EQ(pagesB[1].lParam, reinterpret_cast<LPARAM>(b));
    a->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_FALSE);
    b->Release();
    EXPECT_EQ(CanUnloadNow(objectCount), S_OK);
}

// "key|name|type|bytes" lines, for comparing whole registry states.
std::vector<std::string> Dump(
    const std::map<std::string, std::map<std::string, hosted::MemoryRegistry::Value>>& snapshot) {
    std::vector<std::string> lines;
    for (const auto& [key, values] : snapshot) {
        for (const auto& [name, value] : values) {
            std::string line = key + "|" + name + "|" + std::to_string(value.type) + "|";
            line.append(value.data.begin(), value.data.end());
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(PropsheetRegistration, WritesTheFourValuesAndRewritesThemAlike) {
    hosted::MemoryRegistry registry;
    const std::string clsidKey = "CLSID\\{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}";
    RegisterSheet(registry, "C:\\wheel\\velquin.dll");
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, clsidKey, ""),
              "USB Vibration Racing Wheel Property Sheet DLL");
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, clsidKey + "\\InProcServer32", ""),
              "C:\\wheel\\velquin.dll");
    EXPECT_EQ(
        registry.GetString(HKEY_CLASSES_ROOT, clsidKey + "\\InProcServer32", "ThreadingModel"),
        "Both");
    EXPECT_EQ(registry.GetString(HKEY_CLASSES_ROOT, clsidKey + "\\InProcHandler32", ""),
              "gchand.dll");
    hosted::MemoryRegistry::Value value;
    ASSERT_TRUE(registry.GetValue(HKEY_CLASSES_ROOT, clsidKey + "\\InProcHandler32", "", &value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value.data.size(), sizeof "gchand.dll");  // terminator counted
    EXPECT_EQ(registry.OpenHandles(), 0u);

    const auto first = registry.Snapshot();
    RegisterSheet(registry, "C:\\wheel\\velquin.dll");
    EXPECT_EQ(Dump(registry.Snapshot()), Dump(first));
    // Four values, all in the CLSID subtree.
    const std::vector<std::string> lines = Dump(first);
    EXPECT_EQ(lines.size(), 4u);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find(clsidKey), std::string::npos) << line;
    }
}

TEST(PropsheetRegistration, ReadOnlyClassesRootWritesNothing) {
    hosted::MemoryRegistry registry;
    registry.SetReadOnly(HKEY_CLASSES_ROOT, true);
    RegisterSheet(registry, "C:\\wheel\\velquin.dll");
    EXPECT_FALSE(
        registry.KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}"));
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

}  // namespace
}  // namespace velquin
