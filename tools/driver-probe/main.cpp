// driver-probe: what a game's DirectInput and the control panel would meet on this machine. It
// reads the wheel's registration, creates the force-feedback driver through COM, asks its
// versions and lets it look for the wheel, creates the property sheet, and prints what it saw.
// Exit code 0 when the driver could be created.
#include <cstdio>
#include <string>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/wheel_ids.h"

namespace {

std::string ReadText(wheel::RegistryApi& registry, HKEY root, const std::string& key,
                     const char* name) {
    HKEY raw = nullptr;
    if (registry.OpenKey(root, key.c_str(), &raw) != ERROR_SUCCESS) {
        return "(missing key)";
    }
    wheel::RegKey owner(registry, raw);
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    if (registry.QueryValue(raw, name, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return "(missing value)";
    }
    return type == REG_SZ ? std::string(buffer) : "(not a string)";
}

int CountEffectKeys(wheel::RegistryApi& registry) {
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, wheel::OemEffectsKey().c_str(), &raw) !=
        ERROR_SUCCESS) {
        return 0;
    }
    wheel::RegKey owner(registry, raw);
    int count = 0;
    char name[256];
    while (registry.EnumKey(raw, static_cast<DWORD>(count), name, sizeof name) == ERROR_SUCCESS) {
        ++count;
    }
    return count;
}

}  // namespace

int main() {
    wheel::Win32Registry registry;
    const std::string clsid = wheel::ClsidKey(wheel::kDravikClsid);
    std::printf("architecture: %s\n", sizeof(void*) == 8 ? "x64" : "x86");
    std::printf("windows class: %u\n", static_cast<unsigned>(wheel::GetOsClass()));
    std::printf("HKCR\\%s = %s\n", clsid.c_str(),
                ReadText(registry, HKEY_CLASSES_ROOT, clsid, nullptr).c_str());
    std::printf("HKCR\\%s\\InProcServer32 = %s\n", clsid.c_str(),
                ReadText(registry, HKEY_CLASSES_ROOT, clsid + "\\InProcServer32", nullptr).c_str());
    std::printf("HKCR\\%s\\InProcServer32 ThreadingModel = %s\n", clsid.c_str(),
                ReadText(registry, HKEY_CLASSES_ROOT, clsid + "\\InProcServer32", "ThreadingModel")
                    .c_str());
    std::printf("HKLM\\...\\OEM\\%s OEMName = %s\n", wheel::VidPidName().c_str(),
                ReadText(registry, HKEY_LOCAL_MACHINE, wheel::OemKey(), "OEMName").c_str());
    std::printf(
        "HKLM\\...\\OEM\\%s\\OEMForceFeedback CLSID = %s\n", wheel::VidPidName().c_str(),
        ReadText(registry, HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID").c_str());
    std::printf("effect types installed: %d\n", CountEffectKeys(registry));

    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::printf("COM could not be initialised\n");
        return 1;
    }
    IDirectInputEffectDriver* driver = nullptr;
    const HRESULT created =
        CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver));
    std::printf("CoCreateInstance(driver): 0x%08lX\n", static_cast<unsigned long>(created));
    int exitCode = 1;
    if (SUCCEEDED(created) && driver != nullptr) {
        DIDRIVERVERSIONS versions = {};
        versions.dwSize = sizeof versions;
        const HRESULT hr = driver->GetVersions(&versions);
        std::printf("GetVersions: 0x%08lX firmware %lu, hardware %lu, driver %lu\n",
                    static_cast<unsigned long>(hr),
                    static_cast<unsigned long>(versions.dwFirmwareRevision),
                    static_cast<unsigned long>(versions.dwHardwareRevision),
                    static_cast<unsigned long>(versions.dwFFDriverVersion));
        const HRESULT bound = driver->DeviceID(0x0700, 0, 1, 0, nullptr);
        std::printf("DeviceID(joystick 0): 0x%08lX (%s)\n", static_cast<unsigned long>(bound),
                    bound == S_OK ? "the wheel is bound; reports go out every 25 ms"
                    : bound == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
                        ? "no wheel is connected"
                        : "failed");
        driver->Release();
        exitCode = 0;
    }
    // The control panel creates the property sheet the same way.
    IUnknown* sheet = nullptr;
    const HRESULT sheetCreated =
        CoCreateInstance(wheel::kVelquinClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                         reinterpret_cast<void**>(&sheet));
    std::printf("CoCreateInstance(property sheet): 0x%08lX\n",
                static_cast<unsigned long>(sheetCreated));
    if (sheet != nullptr) {
        sheet->Release();
    }
    CoUninitialize();
    return exitCode;
}
