// driver-probe: what a game's DirectInput and the control panel would meet on this machine. It
// reads the wheel's registration, creates the force-feedback driver through COM, asks its
// versions and lets it look for the wheel, creates the property sheet, and prints what it saw.
// Exit code 0 when the driver could be created.
//
//   driver-probe [--hid-wheel [--play MS]]
//
// --hid-wheel gives the driver's DirectInput the joystick-configuration piece Wine lacks (the
// wheel is then the virtual HID wheel in Wine's own HID stack); --play MS then plays a constant
// force along motor A for MS milliseconds before the driver is released. With --play the exit
// code is 0 only when the wheel was bound and every effect call succeeded.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "joy_config_shim.h"

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

// A constant force along the first of two axes, endless, full gain; true when it plays.
bool PlayConstant(IDirectInputEffectDriver* driver, DWORD ms) {
    DWORD axes[2] = {0x002, 0x102};
    LONG direction[2] = {1, 0};
    DICONSTANTFORCE constant = {8000};
    DIEFFECT effect = {};
    effect.dwSize = sizeof effect;
    effect.dwFlags = DIEFF_CARTESIAN;
    effect.dwDuration = INFINITE;
    effect.dwGain = 10000;
    effect.dwTriggerButton = DIEB_NOTRIGGER;
    effect.cAxes = 2;
    effect.rgdwAxes = axes;
    effect.rglDirection = direction;
    effect.cbTypeSpecificParams = sizeof constant;
    effect.lpvTypeSpecificParams = &constant;
    DWORD handle = 0;
    const HRESULT gain = driver->SetGain(0, 10000);
    const HRESULT downloaded = driver->DownloadEffect(0, 0, &handle, &effect, 0);
    const HRESULT started = driver->StartEffect(0, handle, 0, 1);
    std::printf(
        "SetGain 0x%08lX, DownloadEffect(constant force 8000) 0x%08lX, StartEffect "
        "0x%08lX; playing for %lu ms\n",
        static_cast<unsigned long>(gain), static_cast<unsigned long>(downloaded),
        static_cast<unsigned long>(started), static_cast<unsigned long>(ms));
    std::fflush(stdout);
    Sleep(ms);
    return gain == S_OK && downloaded == S_OK && started == S_OK;
}

int main(int argc, char** argv) {
    bool hidWheel = false;
    long playMs = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hid-wheel") == 0) {
            hidWheel = true;
        } else if (std::strcmp(argv[i], "--play") == 0 && i + 1 < argc && hidWheel) {
            playMs = std::atol(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: driver-probe [--hid-wheel [--play MS]]\n");
            return 2;
        }
    }
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
        if (hidWheel && !hidwheel::SupplyJoyConfig(hidwheel::ModuleOfObject(driver))) {
            std::printf("the driver does not import DirectInputCreateEx\n");
        }
        const HRESULT bound = driver->DeviceID(0x0700, 0, 1, 0, nullptr);
        std::printf("DeviceID(joystick 0): 0x%08lX (%s)\n", static_cast<unsigned long>(bound),
                    bound == S_OK ? "the wheel is bound; reports go out every 25 ms"
                    : bound == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
                        ? "no wheel is connected"
                        : "failed");
        exitCode = 0;
        if (playMs >= 0 && (bound != S_OK || !PlayConstant(driver, static_cast<DWORD>(playMs)))) {
            exitCode = 1;
        }
        driver->Release();
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
