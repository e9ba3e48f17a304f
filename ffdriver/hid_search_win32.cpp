#include "hid_search_win32.h"

#include <setupapi.h>
// The HID headers do not declare C linkage themselves.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace dravik {

namespace {

struct DeviceInfoSet {
    HDEVINFO set;
    ~DeviceInfoSet() {
        if (set != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set);
        }
    }
};

}  // namespace

bool HidDeviceIds(const char* path, uint16_t* vendorId, uint16_t* productId) {
    // No access asked: the attributes can be read while another program has the device open.
    HANDLE device = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return false;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    const bool ok = HidD_GetAttributes(device, &attributes) != FALSE;
    CloseHandle(device);
    if (ok) {
        *vendorId = attributes.VendorID;
        *productId = attributes.ProductID;
    }
    return ok;
}

bool VisitHidInterfaces(HidInterfaceVisitor visit, void* context) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    DeviceInfoSet set{
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
    if (set.set == INVALID_HANDLE_VALUE) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set.set, nullptr, &hidGuid, index, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                return false;
            }
            continue;
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set.set, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            continue;
        }
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[required]);
        if (!buffer) {
            continue;
        }
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set.set, &data, detail, required, nullptr, nullptr)) {
            continue;
        }
        // A path without its end within what the system returned is no path.
        const size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const size_t length = strnlen(detail->DevicePath, room);
        if (length < room && visit(detail->DevicePath, length, context)) {
            return true;
        }
    }
}

std::string FindHidInterfaceByIds(uint16_t vendorId, uint16_t productId) {
    struct Wanted {
        uint16_t vendorId;
        uint16_t productId;
        std::string path;
    } wanted{vendorId, productId, {}};
    VisitHidInterfaces(
        [](const char* path, size_t length, void* context) {
            auto* want = static_cast<Wanted*>(context);
            // The path carries no IDs of its own: the device is asked.
            uint16_t vid = 0;
            uint16_t pid = 0;
            if (!HidDeviceIds(path, &vid, &pid) || vid != want->vendorId ||
                pid != want->productId) {
                return false;
            }
            want->path.assign(path, length);
            return true;
        },
        &wanted);
    return wanted.path;
}

}  // namespace dravik
