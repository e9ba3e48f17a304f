#include "pages_win32.h"

#include <prsht.h>

#include "propsheet/server_win32.h"

namespace velquin {

namespace {

HRESULT CreateDirectInput(HINSTANCE instance, DWORD version, IDirectInputA** out) {
    return DirectInputCreateA(instance, version, out, nullptr);
}

void EnterDeviceLock() {
    EnterCriticalSection(&deviceLock);
}

void LeaveDeviceLock() {
    LeaveCriticalSection(&deviceLock);
}

void SetStatusText(HWND page, int controlId, const char* text) {
    SetDlgItemTextA(page, controlId, text);
}

}  // namespace

const DeviceServices& PageDeviceServices() {
    // moduleInstance is set at process attach, before any page exists.
    static DeviceServices services;
    services.moduleInstance = moduleInstance;
    services.createDirectInput = CreateDirectInput;
    services.lock = EnterDeviceLock;
    services.unlock = LeaveDeviceLock;
    services.setStatusText = SetStatusText;
    return services;
}

IDIGameCntrlPropSheet* TakeSheet(HWND page, LPARAM initParam) {
    // The ANSI and wide page records keep lParam at the same place.
    const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(initParam);
    const LPARAM sheet = record != nullptr ? record->lParam : 0;
    SetWindowLongPtrW(page, DWLP_USER, sheet);
    return reinterpret_cast<IDIGameCntrlPropSheet*>(sheet);
}

UINT NotifyCode(LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    return header != nullptr ? header->code : 0;
}

}  // namespace velquin
