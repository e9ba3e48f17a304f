#include "hid_wheel.h"

#include <setupapi.h>
// The HID headers do not declare C linkage themselves.
extern "C" {
#include <hidsdi.h>
}
#include <newdev.h>

#include "ffdriver/hid_search_win32.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace hidwheel {

namespace {

const GUID kHidClassGuid = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

std::string LastError(const char* what) {
    char text[160];
    std::snprintf(text, sizeof text, "%s failed (error %lu)", what, GetLastError());
    return text;
}

struct InfoSet {
    HDEVINFO set;
    explicit InfoSet(HDEVINFO s) : set(s) {}
    ~InfoSet() {
        if (set != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set);
        }
    }
    InfoSet(const InfoSet&) = delete;
    InfoSet& operator=(const InfoSet&) = delete;
};

struct File {
    HANDLE handle;
    explicit File(HANDLE h) : handle(h) {}
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

bool DevicePresent(unsigned port) {
    InfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (set.set == INVALID_HANDLE_VALUE) {
        return false;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    return SetupDiOpenDeviceInfoA(set.set, kInstanceIds[port], nullptr, 0, &data) != FALSE;
}

// Removes the device from one port; true when it is not there (any more).
bool Remove(unsigned port, std::string* message) {
    InfoSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (set.set == INVALID_HANDLE_VALUE) {
        *message = LastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiOpenDeviceInfoA(set.set, kInstanceIds[port], nullptr, 0, &data)) {
        return true;
    }
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set.set, &data)) {
        *message = LastError("SetupDiCallClassInstaller(DIF_REMOVE)");
        return false;
    }
    return true;
}

bool EnsureChannel(std::string* message) {
    if (!CreateDirectoryA(HID_WHEEL_DIR, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *message = LastError("creating " HID_WHEEL_DIR);
        return false;
    }
    if (GetFileAttributesA(HID_WHEEL_CONTROL_FILE) == INVALID_FILE_ATTRIBUTES &&
        !WriteControl(RestingControl())) {
        *message = LastError("writing " HID_WHEEL_CONTROL_FILE);
        return false;
    }
    return true;
}

}  // namespace

std::string DefaultInfPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return "hidwheel.inf";
    }
    std::string result(path, length);
    const size_t slash = result.find_last_of("\\/");
    return result.substr(0, slash + 1) + "hidwheel.inf";
}

bool Install(const std::string& infPath, std::string* message, unsigned port) {
    if (port >= kPorts) {
        *message = "no such port";
        return false;
    }
    if (!EnsureChannel(message)) {
        return false;
    }
    if (DevicePresent(port)) {
        if (!WaitForInterface(true, 5000)) {
            *message = "the device is installed but its HID interface did not appear";
            return false;
        }
        return true;
    }
    if (GetFileAttributesA(infPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *message = "no driver information file at " + infPath;
        return false;
    }
    // One wheel: out of the port it was in first.
    for (unsigned other = 0; other < kPorts; ++other) {
        if (other != port && DevicePresent(other) && !Unplug(message)) {
            return false;
        }
    }
    if (!SetupCopyOEMInfA(infPath.c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
        *message = LastError("SetupCopyOEMInfA");
        return false;
    }
    InfoSet set(SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr));
    if (set.set == INVALID_HANDLE_VALUE) {
        *message = LastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiCreateDeviceInfoA(set.set, kInstanceIds[port], &kHidClassGuid, nullptr, nullptr, 0,
                                  &data)) {
        *message = LastError("SetupDiCreateDeviceInfoA");
        return false;
    }
    // A multi-string: the ID and two terminating zeros.
    char hardwareIds[32] = {};
    std::strcpy(hardwareIds, kHardwareId);
    const DWORD idsLength = static_cast<DWORD>(std::strlen(kHardwareId) + 2);
    if (!SetupDiSetDeviceRegistryPropertyA(set.set, &data, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(hardwareIds), idsLength)) {
        *message = LastError("SetupDiSetDeviceRegistryPropertyA");
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.set, &data)) {
        *message = LastError("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
        return false;
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareId, infPath.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
        *message = LastError("UpdateDriverForPlugAndPlayDevicesA");
        SetupDiCallClassInstaller(DIF_REMOVE, set.set, &data);
        return false;
    }
    if (!WaitForInterface(true, 5000)) {
        *message = "the device was installed but its HID interface did not appear";
        return false;
    }
    return true;
}

bool Unplug(std::string* message) {
    bool present = false;
    for (unsigned port = 0; port < kPorts; ++port) {
        present = present || DevicePresent(port);
        if (!Remove(port, message)) {
            return false;
        }
    }
    if (!present) {
        *message = "the device is not installed";
        return false;
    }
    if (!WaitForInterface(false, 5000)) {
        *message = "the device was removed but its HID interface is still there";
        return false;
    }
    return true;
}

std::string FindInterfacePath() {
    return dravik::FindHidInterfaceByIds(HID_WHEEL_VENDOR_ID, HID_WHEEL_PRODUCT_ID);
}

bool WaitForInterface(bool present, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (FindInterfacePath().empty() != present) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(5);
    }
}

HidWheelControl RestingControl() {
    HidWheelControl control = {};
    for (auto& axis : control.axes) {
        axis = 0x80;
    }
    control.hat = HID_WHEEL_HAT_CENTRED;
    return control;
}

bool WriteControl(const HidWheelControl& control) {
    // Written in place, never truncated first, so the device never reads a short file.
    File file(CreateFileA(HID_WHEEL_CONTROL_FILE, GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.handle, &control, sizeof control, &written, nullptr) &&
           written == sizeof control;
}

HidWheelControl ReadControl() {
    HidWheelControl control = RestingControl();
    File file(CreateFileA(HID_WHEEL_CONTROL_FILE, GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    HidWheelControl read;
    DWORD got = 0;
    if (file.handle != INVALID_HANDLE_VALUE &&
        ReadFile(file.handle, &read, sizeof read, &got, nullptr) && got == sizeof read) {
        control = read;
    }
    return control;
}

std::vector<HidWheelRecord> ReadRecords(size_t from) {
    std::vector<HidWheelRecord> records;
    File file(CreateFileA(HID_WHEEL_REPORTS_FILE, GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE) {
        return records;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle, &size)) {
        return records;
    }
    // Only whole records: the device may be appending one right now.
    const size_t count = static_cast<size_t>(size.QuadPart) / sizeof(HidWheelRecord);
    if (from >= count) {
        return records;
    }
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(from * sizeof(HidWheelRecord));
    SetFilePointerEx(file.handle, offset, nullptr, FILE_BEGIN);
    records.resize(count - from);
    DWORD got = 0;
    const DWORD bytes = static_cast<DWORD>(records.size() * sizeof(HidWheelRecord));
    if (!ReadFile(file.handle, records.data(), bytes, &got, nullptr)) {
        got = 0;
    }
    records.resize(got / sizeof(HidWheelRecord));
    return records;
}

size_t RecordCount() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(HID_WHEEL_REPORTS_FILE, GetFileExInfoStandard, &data)) {
        return 0;
    }
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return static_cast<size_t>(size / sizeof(HidWheelRecord));
}

int64_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime);
}

}  // namespace hidwheel
