// velquin.dll loaded for real under Wine: its four exports and COM rules, the sheet object it
// hands out, its registration through regsvr32 and COM, and its resources (dialog templates,
// icon, version).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "propsheet/sheet_interface.h"
#include "tests/gui/gui_util.h"
#include "tests/native/propsheet_counting_objects.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT(STDAPICALLTYPE*)();

struct Velquin {
    std::string path;
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    NoArgFn canUnloadNow = nullptr;
    NoArgFn registerServer = nullptr;
    NoArgFn unregisterServer = nullptr;
};

// Loaded once for the whole program, as a control panel would keep it.
const Velquin& Dll() {
    static Velquin dll = [] {
        Velquin v;
        v.path = guitest::PathFromEnv("WHEEL_VELQUIN_DLL");
        v.module = LoadLibraryA(v.path.c_str());
        if (v.module != nullptr) {
            v.getClassObject = reinterpret_cast<GetClassObjectFn>(
                reinterpret_cast<void*>(GetProcAddress(v.module, "DllGetClassObject")));
            v.canUnloadNow = reinterpret_cast<NoArgFn>(
                reinterpret_cast<void*>(GetProcAddress(v.module, "DllCanUnloadNow")));
            v.registerServer = reinterpret_cast<NoArgFn>(
                reinterpret_cast<void*>(GetProcAddress(v.module, "DllRegisterServer")));
            v.unregisterServer = reinterpret_cast<NoArgFn>(
                reinterpret_cast<void*>(GetProcAddress(v.module, "DllUnregisterServer")));
        }
        return v;
    }();
    return dll;
}

const std::string kClsidKey = "CLSID\\{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}";
void* const kGarbage = reinterpret_cast<void*>(static_cast<uintptr_t>(0xBAD));

class VelquinDll : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Dll().path.empty()) << "WHEEL_VELQUIN_DLL is not set";
        ASSERT_NE(Dll().module, nullptr) << "cannot load " << Dll().path;
        ASSERT_NE(Dll().getClassObject, nullptr);
        ASSERT_NE(Dll().canUnloadNow, nullptr);
        ASSERT_NE(Dll().registerServer, nullptr);
        ASSERT_NE(Dll().unregisterServer, nullptr);
        ASSERT_EQ(Dll().canUnloadNow(), S_OK) << "an earlier test left something alive";
    }
    void TearDown() override { EXPECT_EQ(Dll().canUnloadNow(), S_OK) << "left alive"; }

    IClassFactory* Factory() {
        void* out = nullptr;
        EXPECT_EQ(Dll().getClassObject(wheel::kVelquinClsid, IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    IDIGameCntrlPropSheet* NewSheet() {
        IClassFactory* factory = Factory();
        if (factory == nullptr) {
            return nullptr;
        }
        void* out = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDIGameCntrlPropSheet, &out), S_OK);
        factory->Release();
        return static_cast<IDIGameCntrlPropSheet*>(out);
    }

    // Whether an address lies inside the DLL's image.
    static bool InModule(const void* address) {
        const auto* base = reinterpret_cast<const BYTE*>(Dll().module);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto* p = static_cast<const BYTE*>(address);
        return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
    }
};

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

TEST_F(VelquinDll, GetClassObjectRows) {
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
        {"driver class, IClassFactory", wheel::kDravikClsid, IID_IClassFactory,
         CLASS_E_CLASSNOTAVAILABLE},
        {"driver class, IUnknown", wheel::kDravikClsid, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Row& row : rows) {
        void* out = kGarbage;
        EXPECT_EQ(Dll().getClassObject(row.clsid, row.iid, &out), row.result) << row.what;
        if (row.result == S_OK) {
            ASSERT_NE(out, nullptr) << row.what;
            EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << row.what;
            static_cast<IClassFactory*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr) << row.what;
        }
        EXPECT_EQ(Dll().canUnloadNow(), S_OK) << row.what;
    }
}

TEST_F(VelquinDll, CanUnloadNowCountsFactoriesObjectsAndLocks) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    void* out = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), S_OK);
    auto* sheet = static_cast<IUnknown*>(out);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);  // sheet and two locks
    sheet->Release();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);  // two locks
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);  // the factory itself
    factory->Release();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(VelquinDll, FailedCreateInstanceLeavesNothingAlive) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    sheettest::CallCounts counts;
    sheettest::CountingDevice outer(counts);
    void* out = kGarbage;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = kGarbage;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory->Release();
    // TearDown: DllCanUnloadNow is S_OK again, so no sheet was left counted.
}

TEST_F(VelquinDll, SheetRecords) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->GetID(), 0xFFFF);
    EXPECT_EQ(sheet->SetID(2), S_OK);
    EXPECT_EQ(sheet->GetID(), 2);

    LPDIGCSHEETINFO info = nullptr;
    ASSERT_EQ(sheet->GetSheetInfo(&info), S_OK);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->dwSize, sizeof(void*) == 8 ? 32u : 20u);
    EXPECT_EQ(info->nNumPages, 3);
    EXPECT_EQ(Narrow(info->lpwszSheetCaption), "Talvex DX");
    EXPECT_EQ(info->fSheetIconFlag, TRUE);
    EXPECT_EQ(info->lpwszSheetIcon, MAKEINTRESOURCEW(32517));
    // The caption buffer is a zero-filled local allocation of 64 characters.
    EXPECT_GE(LocalSize(info->lpwszSheetCaption), 128u);

    LPDIGCPAGEINFO pages = nullptr;
    ASSERT_EQ(sheet->GetPageInfo(&pages), S_OK);
    const WORD templates[] = {107, 109, 108};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].dwSize, sizeof(void*) == 8 ? 80u : 40u) << i;
        EXPECT_EQ(pages[i].lpwszPageTitle, nullptr) << i;
        EXPECT_TRUE(InModule(reinterpret_cast<const void*>(pages[i].fpPageProc))) << i;
        EXPECT_EQ(pages[i].fProcFlag, FALSE) << i;
        EXPECT_EQ(pages[i].fpPrePostProc, nullptr) << i;
        EXPECT_EQ(pages[i].fIconFlag, TRUE) << i;
        EXPECT_EQ(pages[i].lpwszPageIcon, MAKEINTRESOURCEW(102)) << i;
        EXPECT_EQ(pages[i].lpwszTemplate, MAKEINTRESOURCEW(templates[i])) << i;
        EXPECT_EQ(pages[i].lParam, reinterpret_cast<LPARAM>(sheet)) << i;
        EXPECT_EQ(pages[i].hInstance, Dll().module) << i;
    }
    EXPECT_NE(pages[0].fpPageProc, pages[1].fpPageProc);
    EXPECT_NE(pages[1].fpPageProc, pages[2].fpPageProc);

    void* out = kGarbage;
    EXPECT_EQ(sheet->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sheet->QueryInterface(IID_IDIGameCntrlPropSheet, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(sheet));
    EXPECT_EQ(sheet->Release(), 1u);
    IDirectInputDevice2A* device = static_cast<IDirectInputDevice2A*>(kGarbage);
    EXPECT_EQ(sheet->GetDevice(&device), S_OK);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(sheet->Release(), 0u);
}

TEST_F(VelquinDll, InitializeRegistersTheFourWindowClasses) {
    IDIGameCntrlPropSheet* sheet = NewSheet();
    ASSERT_NE(sheet, nullptr);
    for (const char* name : {"LampControl", "AxesControl", "PovControl", "RumbleControl"}) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        ASSERT_TRUE(GetClassInfoExA(Dll().module, name, &wc)) << name;
        EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW)) << name;
        EXPECT_EQ(wc.cbClsExtra, 0) << name;
        EXPECT_EQ(wc.cbWndExtra, 0) << name;
        EXPECT_EQ(wc.hIcon, nullptr) << name;
        EXPECT_EQ(wc.hCursor, LoadCursor(nullptr, IDC_ARROW)) << name;
        EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(16))) << name;
        EXPECT_EQ(wc.lpszMenuName, nullptr) << name;
        EXPECT_TRUE(InModule(reinterpret_cast<const void*>(wc.lpfnWndProc))) << name;
    }
    sheet->Release();
}

TEST_F(VelquinDll, SecondSheetInOneProcess) {
    IDIGameCntrlPropSheet* first = NewSheet();
    // The classes are registered already; the second sheet succeeds all the same.
    IDIGameCntrlPropSheet* second = NewSheet();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    LPDIGCPAGEINFO pages = nullptr;
    second->GetPageInfo(&pages);
    EXPECT_EQ(pages[0].lParam, reinterpret_cast<LPARAM>(second));
    first->Release();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    second->Release();
}

TEST_F(VelquinDll, LastReleaseLetsGoOfDeviceAndJoyConfigOnce) {
    sheettest::CallCounts replaced, device, config;
    sheettest::CountingDevice replacedDevice(replaced);
    sheettest::CountingDevice heldDevice(device);
    sheettest::CountingJoyConfig heldConfig(config);
    IDIGameCntrlPropSheet* sheet = NewSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->SetDevice(&replacedDevice), S_OK);
    EXPECT_EQ(sheet->SetDevice(&heldDevice), S_OK);
    EXPECT_EQ(sheet->SetJoyConfig(&heldConfig), S_OK);
    IDirectInputDevice2A* gotDevice = nullptr;
    IDirectInputJoyConfig* gotConfig = nullptr;
    sheet->GetDevice(&gotDevice);
    sheet->GetJoyConfig(&gotConfig);
    EXPECT_EQ(gotDevice, &heldDevice);
    EXPECT_EQ(gotConfig, &heldConfig);
    sheet->AddRef();
    EXPECT_EQ(sheet->Release(), 1u);
    EXPECT_EQ(device.releases + device.unacquires, 0) << "let go before the last Release";
    EXPECT_EQ(sheet->Release(), 0u);
    EXPECT_EQ(device.unacquires, 1);
    EXPECT_EQ(device.releases, 1);
    EXPECT_EQ(device.unacquiresAfterRelease, 0);
    EXPECT_EQ(config.unacquires, 1);
    EXPECT_EQ(config.releases, 1);
    EXPECT_EQ(config.unacquiresAfterRelease, 0);
    EXPECT_EQ(device.addRefs + config.addRefs, 0);
    EXPECT_EQ(replaced.addRefs + replaced.releases + replaced.unacquires, 0);
}

TEST_F(VelquinDll, Regsvr32WritesTheFourValuesAndAgainTheSame) {
    guitest::DeleteTree(HKEY_CLASSES_ROOT, kClsidKey);
    ASSERT_FALSE(guitest::KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    const std::string command = "regsvr32 /s \"" + Dll().path + "\"";
    {
        guitest::Process regsvr32(command);
        ASSERT_TRUE(regsvr32.started()) << command;
        EXPECT_EQ(regsvr32.Wait(60000), 0) << command;
    }
    EXPECT_EQ(guitest::ReadString(HKEY_CLASSES_ROOT, kClsidKey, nullptr),
              "USB Vibration Racing Wheel Property Sheet DLL");
    const std::string server =
        guitest::ReadString(HKEY_CLASSES_ROOT, kClsidKey + "\\InProcServer32", nullptr);
    // The path names this very DLL: loading it again gives the module already loaded.
    HMODULE again = LoadLibraryA(server.c_str());
    EXPECT_EQ(again, Dll().module) << server;
    if (again != nullptr) {
        FreeLibrary(again);
    }
    EXPECT_EQ(
        guitest::ReadString(HKEY_CLASSES_ROOT, kClsidKey + "\\InProcServer32", "ThreadingModel"),
        "Both");
    EXPECT_EQ(guitest::ReadString(HKEY_CLASSES_ROOT, kClsidKey + "\\InProcHandler32", nullptr),
              "gchand.dll");
    const std::vector<std::string> first = guitest::DumpTree(HKEY_CLASSES_ROOT, kClsidKey);
    EXPECT_EQ(first.size(), 4u);
    {
        guitest::Process regsvr32(command);
        ASSERT_TRUE(regsvr32.started());
        EXPECT_EQ(regsvr32.Wait(60000), 0);
    }
    EXPECT_EQ(guitest::DumpTree(HKEY_CLASSES_ROOT, kClsidKey), first);

    // Unregistering removes nothing.
    EXPECT_EQ(Dll().unregisterServer(), S_OK);
    EXPECT_EQ(guitest::DumpTree(HKEY_CLASSES_ROOT, kClsidKey), first);
    // In-process registration writes the same.
    EXPECT_EQ(Dll().registerServer(), S_OK);
    EXPECT_EQ(guitest::DumpTree(HKEY_CLASSES_ROOT, kClsidKey), first);
}

TEST_F(VelquinDll, CoCreateInstanceThroughTheRegistration) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IDIGameCntrlPropSheet* sheet = nullptr;
    const HRESULT hr =
        CoCreateInstance(wheel::kVelquinClsid, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IDIGameCntrlPropSheet, reinterpret_cast<void**>(&sheet));
    ASSERT_EQ(hr, S_OK) << guitest::Hex(static_cast<uint32_t>(hr));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->GetID(), 0xFFFF);
    LPDIGCPAGEINFO pages = nullptr;
    sheet->GetPageInfo(&pages);
    // COM loaded the registered file, which is the module this test loaded.
    EXPECT_EQ(pages[2].hInstance, Dll().module);
    EXPECT_EQ(sheet->Release(), 0u);
    CoFreeUnusedLibraries();
    CoUninitialize();
}

// --- Resources -----------------------------------------------------------------------------

struct Item {
    int id;
    std::string className;
    std::string text;
    DWORD style;
    short x, y, cx, cy;
};

struct Template {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string font;
    std::vector<Item> items;
};

// A classic DLGTEMPLATE, as the resource compiler writes a DIALOG statement.
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, size_t size) : p_(data), begin_(data), end_(data + size) {}

    bool Read(Template* out) {
        out->style = Dword();
        Dword();  // extended style
        const WORD count = Word();
        Short();
        Short();
        out->cx = Short();
        out->cy = Short();
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        out->caption = NameOrOrdinal();
        if (out->style & DS_SETFONT) {
            out->pointSize = Word();
            out->font = NameOrOrdinal();
        }
        for (WORD i = 0; i < count && ok_; ++i) {
            Align();
            Item item;
            item.style = Dword();
            Dword();
            item.x = Short();
            item.y = Short();
            item.cx = Short();
            item.cy = Short();
            item.id = static_cast<short>(Word());
            item.className = NameOrOrdinal();
            item.text = NameOrOrdinal();
            const WORD extra = Word();
            p_ += extra;
            out->items.push_back(item);
        }
        return ok_ && p_ <= end_;
    }

  private:
    WORD Word() {
        if (p_ + 2 > end_) {
            ok_ = false;
            return 0;
        }
        const WORD w = static_cast<WORD>(p_[0] | (p_[1] << 8));
        p_ += 2;
        return w;
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword() {
        const DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    void Align() {
        while ((p_ - begin_) % 4 != 0) {
            ++p_;
        }
    }
    std::string NameOrOrdinal() {
        WORD w = Word();
        if (w == 0xFFFF) {
            switch (Word()) {
                case 0x80:
                    return "Button";
                case 0x81:
                    return "Edit";
                case 0x82:
                    return "Static";
                default:
                    return "#ordinal";
            }
        }
        std::string text;
        while (w != 0 && ok_) {
            text += static_cast<char>(w);
            w = Word();
        }
        return text;
    }

    const BYTE* p_;
    const BYTE* begin_;
    const BYTE* end_;
    bool ok_ = true;
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return s;
}

constexpr DWORD kPageStyle = 0x48C00040;  // WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT
constexpr DWORD kCustom = 0x50010000;     // WS_CHILD | WS_VISIBLE | WS_TABSTOP
constexpr DWORD kLeft = 0x50020000;       // static, left, WS_GROUP
constexpr DWORD kCentred = 0x50020001;    // static, centred, WS_GROUP
constexpr DWORD kGroupBox = 0x50000007;
constexpr DWORD kPush = 0x50010000;  // push button, WS_TABSTOP

struct ExpectedTemplate {
    WORD id;
    const char* caption;
    std::vector<Item> items;
};

std::vector<ExpectedTemplate> ExpectedTemplates() {
    return {
        {107,
         "Test Page",
         {
             {1000, "LampControl", "1", kCustom, 19, 112, 20, 20},
             {1001, "LampControl", "2", kCustom, 51, 112, 20, 20},
             {1002, "LampControl", "3", kCustom, 83, 112, 20, 20},
             {1003, "LampControl", "4", kCustom, 115, 112, 20, 20},
             {1004, "LampControl", "5", kCustom, 147, 112, 20, 20},
             {1005, "LampControl", "6", kCustom, 179, 112, 20, 20},
             {1006, "LampControl", "7", kCustom, 211, 112, 20, 20},
             {1007, "LampControl", "8", kCustom, 19, 142, 20, 20},
             {1008, "LampControl", "9", kCustom, 51, 142, 20, 20},
             {1009, "LampControl", "10", kCustom, 83, 142, 20, 20},
             {-1, "Button", "Button State", kGroupBox, 10, 99, 235, 73},
             {-1, "Button", "Axes Information", kGroupBox, 10, 9, 140, 85},
             {1013, "AxesControl", "Custom2", kCustom, 20, 24, 48, 47},
             {1014, "AxesControl", "Custom2", kCustom, 85, 24, 49, 47},
             {-1, "Static", "X / Y", kCentred, 18, 75, 56, 9},
             {-1, "Static", "Rz / Z", kCentred, 82, 75, 60, 9},
             {-1, "Button", "Pov Info", kGroupBox, 158, 9, 88, 85},
             {1015, "PovControl", "Custom3", kCustom, 166, 20, 70, 66},
             {1024, "Static", "", kLeft, 24, 195, 205, 8},
             {-1, "Button", "Device State", kGroupBox, 10, 178, 236, 37},
             {1010, "LampControl", "11", kCustom, 115, 142, 20, 20},
             {1011, "LampControl", "12", kCustom, 147, 142, 20, 20},
             {1012, "LampControl", "13", 0x40010000, 179, 142, 20, 20},
         }},
        {108,
         "Effect Page",
         {
             {-1, "Static", "Please move X / Y to control rumble", kLeft, 6, 7, 201, 10},
             {1023, "RumbleControl", "Custom1", kCustom, 67, 22, 111, 113},
             {1026, "Static", "", kLeft, 24, 195, 205, 8},
             {-1, "Button", "Device State", kGroupBox, 10, 178, 236, 37},
             {1027, "msctls_trackbar32", "Slider1", 0x50010018, 84, 149, 106, 15},
             {-1, "Static", "Rumble Intensity", kLeft, 11, 152, 72, 10},
             {1028, "Button", "Apply", kPush, 195, 146, 50, 20},
         }},
        {109,
         "Calibration",
         {
             {1013, "AxesControl", "Custom2", kCustom, 15, 87, 64, 64},
             {1014, "AxesControl", "Custom2", kCustom, 129, 87, 64, 64},
             {-1, "Static", "X / Y", kCentred, 18, 156, 59, 8},
             {-1, "Static", "Rz / Z", kCentred, 132, 158, 59, 8},
             {-1, "Static", "X  =", kLeft, 86, 108, 17, 8},
             {-1, "Static", "Y  =", kLeft, 86, 129, 17, 8},
             {-1, "Static", "Z  =", kLeft, 199, 108, 17, 8},
             {-1, "Static", "Rz =", kLeft, 199, 129, 17, 8},
             {1016, "Static", "0", kLeft, 105, 108, 19, 8},
             {1017, "Static", "0", kLeft, 105, 129, 14, 8},
             {1018, "Static", "0", kLeft, 222, 108, 21, 8},
             {1019, "Static", "0", kLeft, 222, 129, 21, 8},
             {-1, "Static",
              "To Set your Controller's Center Position, first click button \"Default\" and  "
              "then click button \"Set\" to calibrate it.",
              kLeft, 13, 14, 230, 33},
             {1021, "Button", "Default", kPush, 51, 50, 48, 20},
             {1022, "Button", "Set", kPush, 143, 51, 51, 21},
             {1025, "Static", "", kLeft, 24, 195, 205, 8},
             {-1, "Button", "Device State", kGroupBox, 10, 178, 236, 37},
         }},
    };
}

TEST_F(VelquinDll, DialogTemplatesControlByControl) {
    for (const ExpectedTemplate& expected : ExpectedTemplates()) {
        SCOPED_TRACE("template " + std::to_string(expected.id));
        HRSRC found =
            FindResourceExA(Dll().module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(expected.id),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        ASSERT_NE(found, nullptr);
        const auto* data =
            static_cast<const BYTE*>(LockResource(LoadResource(Dll().module, found)));
        ASSERT_NE(data, nullptr);
        Template t;
        ASSERT_TRUE(TemplateReader(data, SizeofResource(Dll().module, found)).Read(&t));
        EXPECT_EQ(t.style, kPageStyle) << guitest::Hex(t.style);
        EXPECT_EQ(t.cx, 258);
        EXPECT_EQ(t.cy, 227);
        EXPECT_EQ(t.caption, expected.caption);
        EXPECT_EQ(t.pointSize, 8);
        EXPECT_EQ(t.font, "MS Shell Dlg");
        ASSERT_EQ(t.items.size(), expected.items.size());
        for (size_t i = 0; i < t.items.size(); ++i) {
            const Item& got = t.items[i];
            const Item& want = expected.items[i];
            SCOPED_TRACE("item " + std::to_string(i) + " id " + std::to_string(want.id));
            EXPECT_EQ(got.id, want.id);
            // Window class names are not case-sensitive; the resource compiler upper-cases them.
            EXPECT_EQ(Lower(got.className), Lower(want.className));
            EXPECT_EQ(got.text, want.text);
            EXPECT_EQ(got.style, want.style) << guitest::Hex(got.style);
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.cx, want.cx);
            EXPECT_EQ(got.cy, want.cy);
        }
    }
}

TEST_F(VelquinDll, IconGroupAndVersion) {
    EXPECT_NE(FindResourceA(Dll().module, MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(14)), nullptr);
    HANDLE icon = LoadImageA(Dll().module, MAKEINTRESOURCEA(102), IMAGE_ICON, 16, 16, 0);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) {
        DestroyIcon(static_cast<HICON>(icon));
    }

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(Dll().path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(Dll().path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    char* name = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(name, "velquin.dll");
}

}  // namespace
