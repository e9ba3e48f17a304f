// The control-panel host opens the wheel's sheet from the registry as the control panel does:
// the sheet window titled "Talvex DX", each page built from its template with the DLL's
// indicator classes, and a screenshot whose indicators are painted where the windows are.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/registry_win32.h"
#include "install/wheel_data.h"
#include "tests/gui/gui_util.h"

namespace {

using NoArgFn = HRESULT(STDAPICALLTYPE*)();

struct Window {
    HWND handle;
    int id;
    std::string className;
    std::string text;
    bool visible;
    RECT rect;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM out) {
    Window w{child, GetDlgCtrlID(child), {}, {}, IsWindowVisible(child) != FALSE, {}};
    char buffer[512] = {};
    GetClassNameA(child, buffer, sizeof buffer);
    w.className = buffer;
    buffer[0] = '\0';
    GetWindowTextA(child, buffer, sizeof buffer);
    w.text = buffer;
    GetWindowRect(child, &w.rect);
    reinterpret_cast<std::vector<Window>*>(out)->push_back(w);
    return TRUE;
}

std::vector<Window> Descendants(HWND parent) {
    std::vector<Window> all;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&all));
    return all;
}

struct FindSheet {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchSheet(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<FindSheet*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (pid == find->processId && std::wstring(title) == L"Talvex DX") {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

class CplHost : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The wheel's installation data (ConfigCLSID names the sheet) and the sheet's COM
        // registration, as the installer leaves them.
        wheel::Win32Registry registry;
        installed_ = install::WriteWheelData(registry) == ERROR_SUCCESS;
        HMODULE dll = LoadLibraryA(guitest::PathFromEnv("WHEEL_VELQUIN_DLL").c_str());
        if (dll != nullptr) {
            auto registerServer = reinterpret_cast<NoArgFn>(
                reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
            registered_ = registerServer != nullptr && registerServer() == S_OK;
            FreeLibrary(dll);
        }
    }

    void SetUp() override {
        ASSERT_TRUE(installed_);
        ASSERT_TRUE(registered_);
        host_ = guitest::PathFromEnv("WHEEL_CPL_HOST");
        ASSERT_FALSE(host_.empty()) << "WHEEL_CPL_HOST is not set";
    }

    std::string host_;
    static bool installed_;
    static bool registered_;
};
bool CplHost::installed_ = false;
bool CplHost::registered_ = false;

struct Control {
    int id;
    const char* className;
    const char* text;
    bool visible;
};

struct PageRow {
    int page;
    const char* caption;
    std::vector<Control> controls;
    // An indicator whose centre pixel is red as created: an axes box's cross-hair or the rumble
    // pad's dot.
    int indicator;
};

std::vector<PageRow> Pages() {
    return {
        {0,
         "Test Page",
         {{1000, "LampControl", "1", true},
          {1009, "LampControl", "10", true},
          {1011, "LampControl", "12", true},
          {1012, "LampControl", "13", false},
          {1013, "AxesControl", "Custom2", true},
          {1014, "AxesControl", "Custom2", true},
          {1015, "PovControl", "Custom3", true},
          // Wine's DirectInput has no joystick configuration: no wheel, shown once.
          {1024, "Static", "The device is not responding.", true}},
         1013},
        {1,
         "Calibration",
         {{1013, "AxesControl", "Custom2", true},
          {1014, "AxesControl", "Custom2", true},
          {1016, "Static", "0", true},
          {1019, "Static", "0", true},
          {1021, "Button", "Default", true},
          {1022, "Button", "Set", true},
          // No wheel: the labels keep the template's "0".
          {1025, "Static", "The device is not responding.", true}},
         1014},
        {2,
         "Effect Page",
         {{1023, "RumbleControl", "Custom1", true},
          {1026, "Static", "The device is not responding.", true},
          {1027, "msctls_trackbar32", "Slider1", true},
          {1028, "Button", "Apply", true}},
         1023},
    };
}

TEST_F(CplHost, ShowsEachPageFromItsTemplate) {
    for (const PageRow& row : Pages()) {
        SCOPED_TRACE(std::string("page ") + row.caption);
        const std::string shot =
            guitest::ArtefactPath("cpl-host-page" + std::to_string(row.page) + ".bmp");
        ASSERT_FALSE(shot.empty()) << "WHEEL_ARTEFACTS is not set";
        DeleteFileA(shot.c_str());
        guitest::Process host("\"" + host_ + "\" --page " + std::to_string(row.page) +
                              " --exit-after 5000 --screenshot \"" + shot + "\"");
        ASSERT_TRUE(host.started());

        // Wait for the sheet and its page.
        FindSheet find{host.id(), nullptr};
        std::vector<Window> children;
        HWND page = nullptr;
        for (int tries = 0; tries < 400 && page == nullptr; ++tries) {
            Sleep(25);
            find.found = nullptr;
            EnumWindows(MatchSheet, reinterpret_cast<LPARAM>(&find));
            if (find.found == nullptr) {
                continue;
            }
            children = Descendants(find.found);
            for (const Window& w : children) {
                if (w.text == row.caption && w.className == "#32770") {
                    page = w.handle;
                }
            }
            // The page's controls are made with it; give them a moment to be painted.
            if (page != nullptr) {
                Sleep(300);
                children = Descendants(find.found);
            }
        }
        ASSERT_NE(find.found, nullptr) << "no window titled Talvex DX";
        ASSERT_NE(page, nullptr) << "no page dialog captioned " << row.caption;
        RECT sheetRect{};
        GetWindowRect(find.found, &sheetRect);

        RECT indicator{};
        for (const Control& want : row.controls) {
            bool found = false;
            for (const Window& w : children) {
                if (w.id != want.id) {
                    continue;
                }
                found = true;
                EXPECT_EQ(Lower(w.className), Lower(want.className)) << want.id;
                EXPECT_EQ(w.text, want.text) << want.id;
                EXPECT_EQ(w.visible, want.visible) << want.id;
                if (want.id == row.indicator) {
                    indicator = w.rect;
                }
            }
            EXPECT_TRUE(found) << "control " << want.id << " missing";
        }
        // Only one page is built at a time: the other pages' controls are not there.
        for (const PageRow& other : Pages()) {
            if (other.page == row.page) {
                continue;
            }
            for (const Window& w : children) {
                EXPECT_NE(w.text, std::string(other.caption)) << "page built too early";
            }
        }

        EXPECT_EQ(host.Wait(30000), 0) << "cpl-host failed";
        const guitest::Image image = guitest::Image::Load(shot);
        ASSERT_FALSE(image.empty()) << shot;
        EXPECT_EQ(image.width(), sheetRect.right - sheetRect.left);
        EXPECT_EQ(image.height(), sheetRect.bottom - sheetRect.top);
        // The indicator's centre, in the window's own coordinates.
        const int width = indicator.right - indicator.left;
        const int height = indicator.bottom - indicator.top;
        ASSERT_GT(width, 20);
        const int x = indicator.left - sheetRect.left + width / 2;
        const int y = indicator.top - sheetRect.top + height / 2;
        EXPECT_EQ(guitest::Hex(image.At(x, y)), guitest::Hex(0x0000FF))
            << "indicator " << row.indicator << " centre (" << x << "," << y << ")";
    }
}

TEST_F(CplHost, FailuresExitNonZero) {
    struct Row {
        std::string arguments;
        int code;
    };
    // A script the host could run, so that only the clash of the two wheels stops it.
    const std::string script = guitest::ArtefactPath("cpl-host-still.json");
    ASSERT_FALSE(script.empty());
    std::ofstream(script) << R"({"frames": [{"at_ms": 0, "x": 0}]})";
    const Row rows[] = {
        {"--clsid {00000000-0000-0000-0000-000000000001} --exit-after 100", 1},
        {"--clsid not-a-guid", 2},
        {"--page", 2},
        {"--page 3 --exit-after 100", 1},
        {"--colour red", 2},
        // The two wheels are exclusive, and the HID wheel's actions need it and a whole input.
        {"--wheel \"" + script + "\" --hid-wheel hidwheel.inf --exit-after 100", 2},
        {"--at 50=hid:set:0,0,0,0,-1,0 --exit-after 100", 2},
        {"--hid-wheel hidwheel.inf --at 100=hid:set:1,2,3 --exit-after 100", 2},
        {"--hid-wheel hidwheel.inf --at 100=hid:set:65536,0,0,0,-1,0 --exit-after 100", 2},
        {"--hid-wheel hidwheel.inf --at 100=hid:set:0,0,0,0,8,0 --exit-after 100", 2},
        {"--hid-wheel hidwheel.inf --at 100=hid:replug --exit-after 100", 2},
    };
    for (const Row& row : rows) {
        guitest::Process host("\"" + host_ + "\" " + row.arguments);
        ASSERT_TRUE(host.started());
        EXPECT_EQ(host.Wait(30000), row.code) << row.arguments;
    }
}

}  // namespace
