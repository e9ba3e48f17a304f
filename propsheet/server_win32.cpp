// Velquin's module: the DLL entry point, the four exports and the Win32 services its sheet
// objects use.
#include "propsheet/server_win32.h"

#include <cstring>

#include "common/registry_win32.h"
#include "propsheet/controls_win32.h"
#include "propsheet/pages_win32.h"
#include "propsheet/registration.h"
#include "propsheet/sheet_factory.h"

namespace velquin {

HINSTANCE moduleInstance = nullptr;
CRITICAL_SECTION deviceLock;
wheel::ModuleCount objectCount;

namespace {

LPWSTR NewCaption(const char* ansi) {
    auto* caption = static_cast<LPWSTR>(LocalAlloc(LMEM_ZEROINIT, kCaptionChars * sizeof(WCHAR)));
    if (caption == nullptr) {
        return nullptr;
    }
    // The zero fill terminates the text; one character is kept for it.
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi, static_cast<int>(std::strlen(ansi)), caption,
                        kCaptionChars - 1);
    return caption;
}

void FreeCaption(LPWSTR caption) {
    LocalFree(caption);
}

SheetServices Services() {
    SheetServices services;
    services.objectCount = &objectCount;
    services.moduleInstance = moduleInstance;
    services.testPageProc = TestPageProc;
    services.calibrationPageProc = CalibrationPageProc;
    services.effectPageProc = EffectPageProc;
    services.newCaption = NewCaption;
    services.freeCaption = FreeCaption;
    services.registerControls = RegisterControls;
    return services;
}

}  // namespace

}  // namespace velquin

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            velquin::moduleInstance = instance;
            InitializeCriticalSection(&velquin::deviceLock);
            return TRUE;
        case DLL_PROCESS_DETACH:
            DeleteCriticalSection(&velquin::deviceLock);
            return TRUE;
        default:
            return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return velquin::GetSheetClassObject(velquin::Services(), rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return velquin::CanUnloadNow(velquin::objectCount);
}

STDAPI DllRegisterServer() {
    char path[1024] = {};
    GetModuleFileNameA(velquin::moduleInstance, path, sizeof path);
    wheel::Win32Registry registry;
    velquin::RegisterSheet(registry, path);
    return S_OK;
}

// Registration writes but never removes: the keys stay after an unregistration.
STDAPI DllUnregisterServer() {
    return S_OK;
}
