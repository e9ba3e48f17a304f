#include "device_link_win32.h"

#include <setupapi.h>
// The HID headers do not declare C linkage themselves, and hidpi.h needs hidsdi.h first.
// clang-format off
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include "common/dinput_shapes.h"
#include "common/wheel_ids.h"
#include "hid_search_win32.h"

#include <cstring>
#include <memory>
#include <new>

namespace dravik {

namespace {

using wheel::kGuidHidClass;
using wheel::kIidDirectInput7A;
using wheel::kIidJoyConfig;

template <typename T>
struct ComReleaser {
    void operator()(T* p) const {
        if (p != nullptr) {
            p->Release();
        }
    }
};
template <typename T>
using ComOwner = std::unique_ptr<T, ComReleaser<T>>;

}  // namespace

void HidDeviceLink::FindDevicePath(uint32_t joystickId, char* path, size_t size) {
    if (path == nullptr || size == 0) {
        return;
    }
    path[0] = '\0';
    IDirectInput7A* rawInput = nullptr;
    if (FAILED(DirectInputCreateEx(module_, 0x0700, kIidDirectInput7A,
                                   reinterpret_cast<void**>(&rawInput), nullptr)) ||
        rawInput == nullptr) {
        return;
    }
    ComOwner<IDirectInput7A> input(rawInput);
    IDirectInputJoyConfig* rawConfig = nullptr;
    if (FAILED(input->QueryInterface(kIidJoyConfig, reinterpret_cast<void**>(&rawConfig))) ||
        rawConfig == nullptr) {
        return;
    }
    ComOwner<IDirectInputJoyConfig> joyConfig(rawConfig);
    DIJOYCONFIG config = {};
    config.dwSize = sizeof config;
    if (joyConfig->GetConfig(joystickId, &config, DIJC_GUIDINSTANCE) != S_OK) {
        return;
    }
    struct Search {
        IDirectInput7A* input;
        const GUID& wanted;
        char* path;
        size_t size;
    } search{input.get(), config.guidInstance, path, size};
    VisitHidInterfaces(
        [](const char* found, size_t length, void* context) {
            auto* search = static_cast<Search*>(context);
            // A path that does not fit is no match: a truncated path would open something else.
            if (length + 1 > search->size) {
                return false;
            }
            std::memcpy(search->path, found, length);
            search->path[length] = '\0';
            // Zeroed: a FindDevice that succeeds without naming a device (as Wine's does)
            // matches nothing.
            GUID instance = {};
            // The joystick ID may belong to another device by now (a gamepad plugged in while
            // the wheel was out): only the wheel's own vendor and product count.
            uint16_t vendorId = 0;
            uint16_t productId = 0;
            if (SUCCEEDED(search->input->FindDevice(kGuidHidClass, search->path, &instance)) &&
                !IsEqualGUID(instance, GUID_NULL) && IsEqualGUID(instance, search->wanted) &&
                HidDeviceIds(search->path, &vendorId, &productId) && vendorId == wheel::kVendorId &&
                productId == wheel::kProductId) {
                return true;
            }
            search->path[0] = '\0';
            return false;
        },
        &search);
}

void HidDeviceLink::FindWheelPath(char* path, size_t size) {
    if (path == nullptr || size == 0) {
        return;
    }
    path[0] = '\0';
    struct Search {
        char* path;
        size_t size;
    } search{path, size};
    VisitHidInterfaces(
        [](const char* found, size_t length, void* context) {
            auto* search = static_cast<Search*>(context);
            uint16_t vendorId = 0;
            uint16_t productId = 0;
            if (length + 1 > search->size || !HidDeviceIds(found, &vendorId, &productId) ||
                vendorId != wheel::kVendorId || productId != wheel::kProductId) {
                return false;
            }
            std::memcpy(search->path, found, length + 1);
            return true;
        },
        &search);
}

HANDLE HidDeviceLink::Open(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

uint8_t HidDeviceLink::ReportId(HANDLE device) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) {
        return 0;
    }
    HIDP_VALUE_CAPS caps[4];
    std::memset(caps, 0, sizeof caps);
    USHORT length = 4;
    uint8_t reportId = 0;
    if (HidP_GetSpecificValueCaps(HidP_Output, 0, 0, 0, caps, &length, preparsed) ==
            HIDP_STATUS_SUCCESS &&
        length > 0) {
        reportId = caps[0].ReportID;
    }
    HidD_FreePreparsedData(preparsed);
    return reportId;
}

bool HidDeviceLink::SendFeature(HANDLE device, const uint8_t* report, uint32_t length) {
    uint8_t buffer[4] = {};
    std::memcpy(buffer, report, length < sizeof buffer ? length : sizeof buffer);
    return HidD_SetFeature(device, buffer, length) != FALSE;
}

void HidDeviceLink::Close(HANDLE device) {
    CloseHandle(device);
}

}  // namespace dravik
