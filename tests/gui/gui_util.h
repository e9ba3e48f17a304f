// Helpers for the property sheet's tests under Wine: paths handed in by the build, the real
// registry, child processes, and pixels read back from windows and BMP files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "tests/windows/win_test_util.h"

namespace guitest {

// A Windows path for the Unix path in an environment variable (Wine maps Z: to /); empty when
// the variable is not set.
inline std::string PathFromEnv(const char* variable) {
    return wintest::DllPathFromEnv(variable);
}
// The folder for screenshots, created on first use; "" when the build gave none.
std::string ArtefactPath(const std::string& fileName);

// Registry through advapi32, shared with the driver's Windows tests.
using wintest::DeleteTree;
using wintest::DumpTree;
using wintest::KeyExists;
using wintest::ReadString;

bool CreateKey(HKEY root, const std::string& key);
void DeleteValue(HKEY root, const std::string& key, const char* valueName);
// A value's type and bytes; false when the key or the value is missing.
bool ReadValue(HKEY root, const std::string& key, const char* valueName, DWORD* type,
               std::vector<BYTE>* data);

// The wheel's installation data (ConfigCLSID names the sheet) and the sheet's COM registration
// from the DLL in WHEEL_VELQUIN_DLL, as the installer leaves them; false when either failed.
bool InstallWheelAndSheet();

using wintest::ClearAppVersion;
using wintest::SetAppVersion;

// A started program; the destructor waits briefly and closes the handles.
class Process {
  public:
    explicit Process(const std::string& commandLine);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    // The exit code, or -1 when it did not end within the time.
    int Wait(DWORD timeoutMs);

  private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Pixels as COLORREF values (0x00BBGGRR), row by row from the top.
class Image {
  public:
    Image() = default;
    Image(int width, int height) : width_(width), height_(height), pixels_(width * height) {}

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    COLORREF At(int x, int y) const;
    void Set(int x, int y, COLORREF colour) { pixels_[y * width_ + x] = colour; }
    // A 24-bit BMP; false when it cannot be written.
    bool Save(const std::string& path) const;
    static Image Load(const std::string& path);

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<COLORREF> pixels_;
};

// What a window's client area shows now (BitBlt from its device context).
Image CaptureClient(HWND window);
// Runs the messages that are waiting, including paints, for a short while.
void PumpMessages(DWORD forMs = 50);

std::string Hex(uint32_t value);

}  // namespace guitest
