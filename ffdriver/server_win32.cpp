// Dravik's module: the DLL entry point, the four exports and the Win32 services the driver
// objects of this process share.
#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/report_board_win32.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/device_link_win32.h"
#include "ffdriver/driver_factory.h"
#include "ffdriver/registration.h"

namespace {

HINSTANCE g_module = nullptr;
wheel::Win32Registry g_registry;
wheel::Win32Clock g_clock;
wheel::MultimediaTimer g_timer;
wheel::NamedEventLock g_storeEvent;
dravik::HidDeviceLink g_link(nullptr);
wheel::ModuleCount g_moduleCount;
wheel::WorkerThreads g_work;
wheel::SharedReportBoard g_reportBoard;

dravik::DriverServices Services() {
    dravik::DriverServices services;
    services.registry = &g_registry;
    services.clock = &g_clock;
    services.timer = &g_timer;
    services.storeLock = &g_storeEvent;
    services.link = &g_link;
    services.moduleCount = &g_moduleCount;
    services.work = &g_work;
    services.reports = &g_reportBoard;
    services.osClass = &wheel::GetOsClass;
    services.sleep = [](uint32_t ms) { Sleep(ms); };
    return services;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    const wheel::FixedName eventName = wheel::VidPidText();
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            g_module = instance;
            g_link.SetModule(instance);
            return g_storeEvent.Create(eventName.c_str()) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            g_storeEvent.Close();
            return TRUE;
        default:
            return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return dravik::GetDriverClassObject(Services(), rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return dravik::CanUnloadNow(g_moduleCount);
}

STDAPI DllRegisterServer() {
    char path[1024] = {};
    GetModuleFileNameA(g_module, path, sizeof path);
    dravik::RegisterDriver(g_registry, path);
    return S_OK;
}

// Registration writes but never removes: the wheel's keys outlive an unregistration.
STDAPI DllUnregisterServer() {
    return S_OK;
}
