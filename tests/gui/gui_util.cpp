#include "gui_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/registry_win32.h"
#include "install/wheel_data.h"

namespace guitest {

std::string ArtefactPath(const std::string& fileName) {
    const std::string folder = PathFromEnv("WHEEL_ARTEFACTS");
    if (folder.empty()) {
        return {};
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\" + fileName;
}

Process::Process(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

Process::~Process() {
    if (process_ != nullptr) {
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
    }
}

int Process::Wait(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

COLORREF Image::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return CLR_INVALID;
    }
    return pixels_[y * width_ + x];
}

bool Image::Save(const std::string& path) const {
    if (path.empty() || empty()) {
        return false;
    }
    const DWORD stride = (static_cast<DWORD>(width_) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width_;
    info.biHeight = height_;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = stride * static_cast<DWORD>(height_);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<BYTE> rows(info.biSizeImage);
    for (int y = 0; y < height_; ++y) {
        BYTE* row = &rows[(height_ - 1 - y) * stride];
        for (int x = 0; x < width_; ++x) {
            const COLORREF c = At(x, y);
            row[x * 3 + 0] = GetBValue(c);
            row[x * 3 + 1] = GetGValue(c);
            row[x * 3 + 2] = GetRValue(c);
        }
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&info, sizeof info, 1, out) == 1 &&
              std::fwrite(rows.data(), rows.size(), 1, out) == 1;
    ok = std::fclose(out) == 0 && ok;
    return ok;
}

Image Image::Load(const std::string& path) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return {};
    }
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    Image image;
    if (std::fread(&file, sizeof file, 1, in) == 1 && std::fread(&info, sizeof info, 1, in) == 1 &&
        file.bfType == 0x4D42 && info.biBitCount == 24 && info.biCompression == BI_RGB &&
        info.biWidth > 0 && info.biHeight != 0) {
        const int width = info.biWidth;
        const int height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        std::vector<BYTE> rows(stride * static_cast<DWORD>(height));
        if (std::fseek(in, static_cast<long>(file.bfOffBits), SEEK_SET) == 0 &&
            std::fread(rows.data(), rows.size(), 1, in) == 1) {
            image = Image(width, height);
            for (int y = 0; y < height; ++y) {
                const int fileRow = info.biHeight > 0 ? height - 1 - y : y;
                const BYTE* row = &rows[fileRow * stride];
                for (int x = 0; x < width; ++x) {
                    image.Set(x, y, RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3 + 0]));
                }
            }
        }
    }
    std::fclose(in);
    return image;
}

Image CaptureClient(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        return {};
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    Image image;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY)) {
            GdiFlush();
            image = Image(width, height);
            const auto* pixels = static_cast<const uint32_t*>(bits);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const uint32_t p = pixels[y * width + x];  // 0x00RRGGBB in memory order
                    image.Set(x, y, RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
                }
            }
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    ReleaseDC(window, windowDc);
    return image;
}

void PumpMessages(DWORD forMs) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < forMs);
}

bool CreateKey(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegCreateKeyA(root, key.c_str(), &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

void DeleteValue(HKEY root, const std::string& key, const char* valueName) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
        RegDeleteValueA(handle, valueName);
        RegCloseKey(handle);
    }
}

bool ReadValue(HKEY root, const std::string& key, const char* valueName, DWORD* type,
               std::vector<BYTE>* data) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    BYTE buffer[4096];
    DWORD size = sizeof buffer;
    const LONG result = RegQueryValueExA(handle, valueName, nullptr, type, buffer, &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        return false;
    }
    data->assign(buffer, buffer + size);
    return true;
}

bool InstallWheelAndSheet() {
    using NoArgFn = HRESULT(STDAPICALLTYPE*)();
    wheel::Win32Registry registry;
    if (install::WriteWheelData(registry) != ERROR_SUCCESS) {
        return false;
    }
    HMODULE dll = LoadLibraryA(PathFromEnv("WHEEL_VELQUIN_DLL").c_str());
    if (dll == nullptr) {
        return false;
    }
    auto registerServer = reinterpret_cast<NoArgFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    const bool registered = registerServer != nullptr && registerServer() == S_OK;
    FreeLibrary(dll);
    return registered;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace guitest
