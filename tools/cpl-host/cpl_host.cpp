// cpl-host: opens the wheel's property sheet as the Game Controllers control panel does. It
// finds the sheet's CLSID under the wheel's OEM key (ConfigCLSID), creates the object through
// COM, sets the joystick ID, reads the sheet and page records and shows them with
// PropertySheetW under the sheet's caption.
//
//   cpl-host [--clsid {GUID}] [--id N] [--page N] [--exit-after MS] [--screenshot FILE.bmp]
//
// --exit-after closes the sheet by itself after MS milliseconds; --screenshot saves the sheet
// window as a 24-bit BMP just before that. Exit code 0 on success.
#include "common/platform.h"

// After windows.h.
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "propsheet/sheet_interface.h"

namespace {

constexpr UINT_PTR kExitTimer = 0x4C50;
constexpr int kMaxPages = 16;

struct Options {
    bool haveClsid = false;
    CLSID clsid{};
    unsigned id = 0;
    int page = 0;
    unsigned exitAfterMs = 0;
    std::string screenshot;
};

// What the sheet callback and the timer need; the sheet runs modally on this thread.
Options options;
bool screenshotFailed = false;

int Fail(const std::string& message) {
    std::fprintf(stderr, "cpl-host: %s\n", message.c_str());
    return 1;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

bool ParseNumber(const char* text, unsigned long* value) {
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0';
}

bool ParseArguments(int argc, char** argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            *error = "missing value after " + arg;
            return false;
        }
        const char* value = argv[++i];
        unsigned long number = 0;
        if (arg == "--clsid") {
            if (!wheel::ParseGuid(value, &options.clsid)) {
                *error = std::string("not a CLSID: ") + value;
                return false;
            }
            options.haveClsid = true;
        } else if (arg == "--id" && ParseNumber(value, &number) && number <= 0xFFFF) {
            options.id = static_cast<unsigned>(number);
        } else if (arg == "--page" && ParseNumber(value, &number) && number < kMaxPages) {
            options.page = static_cast<int>(number);
        } else if (arg == "--exit-after" && ParseNumber(value, &number)) {
            options.exitAfterMs = static_cast<unsigned>(number);
        } else if (arg == "--screenshot") {
            options.screenshot = value;
        } else {
            *error = "bad argument: " + arg + " " + value;
            return false;
        }
    }
    return true;
}

// ConfigCLSID under HKLM\...\OEM\VID_2D71&PID_5A08.
bool ReadConfigClsid(CLSID* clsid) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, wheel::OemKey().c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    char text[64] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, "ConfigCLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ && wheel::ParseGuid(text, clsid);
}

// The whole sheet window, frame included, as a bottom-up 24-bit BMP.
bool SaveWindowBitmap(HWND window, const std::string& path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDc = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* out = std::fopen(path.c_str(), "wb");
        ok = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, imageSize, 1, out) == 1;
        if (out != nullptr) {
            ok = std::fclose(out) == 0 && ok;
        }
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    ReleaseDC(window, windowDc);
    return ok;
}

void CALLBACK ExitTimer(HWND sheet, UINT, UINT_PTR id, DWORD) {
    KillTimer(sheet, id);
    if (!options.screenshot.empty()) {
        // Paint everything that is still pending before the capture.
        RedrawWindow(sheet, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        screenshotFailed = !SaveWindowBitmap(sheet, options.screenshot);
    }
    PropSheet_PressButton(sheet, PSBTN_CANCEL);
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && options.exitAfterMs != 0) {
        SetTimer(sheet, kExitTimer, options.exitAfterMs, ExitTimer);
    }
    return 0;
}

int ShowSheet(IDIGameCntrlPropSheet* sheet) {
    HRESULT hr = sheet->SetID(static_cast<USHORT>(options.id));
    if (FAILED(hr)) {
        return Fail("SetID failed: " + Hex(hr));
    }
    LPDIGCSHEETINFO sheetInfo = nullptr;
    LPDIGCPAGEINFO pageInfo = nullptr;
    hr = sheet->GetSheetInfo(&sheetInfo);
    if (FAILED(hr) || sheetInfo == nullptr) {
        return Fail("GetSheetInfo failed: " + Hex(hr));
    }
    hr = sheet->GetPageInfo(&pageInfo);
    if (FAILED(hr) || pageInfo == nullptr) {
        return Fail("GetPageInfo failed: " + Hex(hr));
    }
    const int count = sheetInfo->nNumPages;
    if (count < 1 || count > kMaxPages) {
        return Fail("the sheet describes " + std::to_string(count) + " pages");
    }
    if (options.page >= count) {
        return Fail("--page: the sheet has " + std::to_string(count) + " pages");
    }
    std::vector<PROPSHEETPAGEW> pages(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const DIGCPAGEINFO& from = pageInfo[i];
        PROPSHEETPAGEW& page = pages[static_cast<size_t>(i)];
        page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = from.hInstance;
        page.pszTemplate = from.lpwszTemplate;
        page.pfnDlgProc = from.fpPageProc;
        page.lParam = from.lParam;
        if (from.fIconFlag) {
            page.dwFlags |= PSP_USEICONID;
            page.pszIcon = from.lpwszPageIcon;
        }
        if (from.lpwszPageTitle != nullptr) {
            page.dwFlags |= PSP_USETITLE;
            page.pszTitle = from.lpwszPageTitle;
        }
    }
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = nullptr;
    header.hInstance = nullptr;  // the sheet's icon is a system icon
    if (sheetInfo->fSheetIconFlag) {
        header.dwFlags |= PSH_USEICONID;
        header.pszIcon = sheetInfo->lpwszSheetIcon;
    }
    header.pszCaption = sheetInfo->lpwszSheetCaption;
    header.nPages = static_cast<UINT>(count);
    header.nStartPage = static_cast<UINT>(options.page);
    header.ppsp = pages.data();
    header.pfnCallback = SheetCallback;
    if (PropertySheetW(&header) < 0) {
        return Fail("PropertySheetW failed, error " + std::to_string(GetLastError()));
    }
    if (screenshotFailed) {
        return Fail("could not write the screenshot " + options.screenshot);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!ParseArguments(argc, argv, &error)) {
        Fail(error);
        std::fprintf(stderr,
                     "usage: cpl-host [--clsid {GUID}] [--id N] [--page N] [--exit-after MS] "
                     "[--screenshot FILE.bmp]\n");
        return 2;
    }
    if (!options.haveClsid && !ReadConfigClsid(&options.clsid)) {
        return Fail("no ConfigCLSID under HKEY_LOCAL_MACHINE\\" + wheel::OemKey() +
                    " (run \"wheel-data write\" or pass --clsid)");
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        return Fail("CoInitialize failed: " + Hex(hr));
    }
    IDIGameCntrlPropSheet* sheet = nullptr;
    hr = CoCreateInstance(options.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDIGameCntrlPropSheet,
                          reinterpret_cast<void**>(&sheet));
    int result = 0;
    if (FAILED(hr) || sheet == nullptr) {
        result =
            Fail("creating the sheet " + wheel::GuidString(options.clsid) + " failed: " + Hex(hr));
    } else {
        result = ShowSheet(sheet);
        sheet->Release();
    }
    CoUninitialize();
    return result;
}
