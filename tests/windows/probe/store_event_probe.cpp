// The other processes of the store-event tests, each a fresh process of its own:
//
//   hold               holds the driver's named event under rights that allow others only to
//                      wait on it and signal it, as a program that made it first under other
//                      security does; it signals WheelTestsHolderReady, waits for
//                      WheelTestsHolderStop and puts the event's rights back
//   create             creates the registered driver through COM while the test holds the event,
//                      and stores an effect, which must wait for the event
//   load-unload DLL    loads the library and unloads it again, counting the handles to the event
//
// Exit code 0 when all went as it should; a failed creation exits with its HRESULT, anything
// else with one of the small codes below.
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "common/platform.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"

namespace {

enum Failure {
    kBadArguments = 2,
    kNoSignalEvents,
    kNoEvent,
    kRightsNotChanged,
    kDownloadFailed,
    kDidNotWait,
    kStillLoaded,
    kHandleNotClosed,
    kNoHandleCount,
    kNoCom,
};

const char kReady[] = "WheelTestsHolderReady";
const char kStop[] = "WheelTestsHolderStop";

// The rights another program might have given the event: waiting and signalling, nothing more.
const char kWaitAndSignalOnly[] = "D:(A;;0x100002;;;WD)";

int Hold() {
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReady);
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, kStop);
    if (ready == nullptr || stop == nullptr) {
        return kNoSignalEvents;
    }
    PSECURITY_DESCRIPTOR restricted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kWaitAndSignalOnly, SDDL_REVISION_1,
                                                              &restricted, nullptr)) {
        return kRightsNotChanged;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, restricted, FALSE};
    const std::string name = wheel::VidPidName();
    HANDLE event = CreateEventA(&attributes, FALSE, TRUE, name.c_str());
    if (event == nullptr) {
        return kNoEvent;
    }
    // Made already by a process of the test: it gets the same rights, and its own back at the end.
    PACL original = nullptr;
    PSECURITY_DESCRIPTOR originalOwner = nullptr;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (existed) {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        if (GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &original, nullptr, &originalOwner) != ERROR_SUCCESS ||
            !GetSecurityDescriptorDacl(restricted, &present, &dacl, &defaulted) ||
            SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            dacl, nullptr) != ERROR_SUCCESS) {
            return kRightsNotChanged;
        }
    }
    SetEvent(ready);
    WaitForSingleObject(stop, 120000);
    if (existed) {
        SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        original, nullptr);
        LocalFree(originalOwner);
    }
    LocalFree(restricted);
    CloseHandle(event);
    return 0;
}

int CreateDriver() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return kNoCom;
    }
    IDirectInputEffectDriver* driver = nullptr;
    const HRESULT created =
        CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver));
    if (FAILED(created) || driver == nullptr) {
        CoUninitialize();
        return FAILED(created) ? static_cast<int>(created) : kNoEvent;
    }
    // The test holds the event: a store that waits for it shows the driver has the shared one.
    LONG magnitude = 5000;
    DIEFFECT effect = {};
    effect.dwSize = sizeof effect;
    effect.dwDuration = INFINITE;
    effect.cbTypeSpecificParams = sizeof magnitude;
    effect.lpvTypeSpecificParams = &magnitude;
    DWORD handle = 0;
    const DWORD start = GetTickCount();
    const HRESULT stored = driver->DownloadEffect(0, 0, &handle, &effect, 0);
    const DWORD waited = GetTickCount() - start;
    int result = 0;
    if (stored != S_OK || driver->DestroyEffect(0, handle) != S_OK) {
        result = kDownloadFailed;
    } else if (waited < 80) {
        result = kDidNotWait;
    }
    driver->Release();
    CoUninitialize();
    return result;
}

int LoadUnload(const char* dll) {
    HMODULE module = LoadLibraryA(dll);
    if (module == nullptr) {
        return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
    }
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, wheel::VidPidName().c_str());
    if (event == nullptr) {
        return kNoEvent;
    }
    ULONG loaded = 0;
    ULONG unloaded = 0;
    if (!wheel::HandleCount(event, &loaded)) {
        return kNoHandleCount;
    }
    FreeLibrary(module);
    if (GetModuleHandleA(dll) != nullptr) {
        return kStillLoaded;
    }
    // The count covers every process, and only this one opens or closes the event meanwhile.
    if (!wheel::HandleCount(event, &unloaded)) {
        return kNoHandleCount;
    }
    CloseHandle(event);
    return unloaded + 1 == loaded ? 0 : kHandleNotClosed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "hold") == 0) {
        return Hold();
    }
    if (argc == 2 && std::strcmp(argv[1], "create") == 0) {
        return CreateDriver();
    }
    if (argc == 3 && std::strcmp(argv[1], "load-unload") == 0) {
        return LoadUnload(argv[2]);
    }
    return kBadArguments;
}
