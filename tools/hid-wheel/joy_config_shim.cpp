#include "joy_config_shim.h"

#include "common/dinput_shapes.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

namespace hidwheel {

namespace {

using wheel::kGuidHidClass;
using wheel::kIidDirectInput7A;
using wheel::kIidJoyConfig;

std::function<void(const std::string&)> shimLog;

void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Note(const char* format, ...) {
    if (!shimLog) {
        return;
    }
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    shimLog(line);
}

using CreateExFunction = HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, void**, IUnknown*);

CreateExFunction RealCreateEx() {
    static CreateExFunction function = reinterpret_cast<CreateExFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("dinput.dll"), "DirectInputCreateEx")));
    return function;
}

BOOL CALLBACK CollectJoystick(LPCDIDEVICEINSTANCEA instance, LPVOID context) {
    static_cast<std::vector<GUID>*>(context)->push_back(instance->guidInstance);
    return DIENUM_CONTINUE;
}

// The other device's instance GUID, made up: no device of Wine's has it.
constexpr GUID kStandInGuid = {
    0x5d1f0a44, 0x0b3c, 0x4e2a, {0x9a, 0x61, 0x3e, 0x7b, 0x20, 0xc4, 0x51, 0x8d}};

struct StandIn {
    std::mutex mutex;
    UINT id = 0;
    std::string path;
    std::function<void()> getConfigHook;
};
StandIn& TheStandIn() {
    static StandIn standIn;
    return standIn;
}

// Joystick IDs as the control panel numbers them: the attached joysticks in DirectInput's order,
// with the stand-in device at its ID.
std::vector<GUID> Joysticks(IDirectInput7A* input) {
    std::vector<GUID> found;
    input->EnumDevices(DIDEVTYPE_JOYSTICK, CollectJoystick, &found, DIEDFL_ATTACHEDONLY);
    StandIn& standIn = TheStandIn();
    std::lock_guard<std::mutex> hold(standIn.mutex);
    if (!standIn.path.empty()) {
        found.insert(found.begin() + std::min<size_t>(standIn.id, found.size()), kStandInGuid);
    }
    return found;
}

class JoyConfig final : public IDirectInputJoyConfig {
  public:
    explicit JoyConfig(IDirectInput7A* input) : input_(input) { input_->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, kIidJoyConfig)) {
            *ppv = static_cast<IDirectInputJoyConfig*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) {
            input_->Release();
            delete this;
        }
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE Acquire() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE Unacquire() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD) override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE SendNotify() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE EnumTypes(LPVOID, LPVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(LPCWSTR, LPDIJOYTYPEINFO, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetTypeInfo(LPCWSTR, LPCDIJOYTYPEINFO, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteType(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConfig(UINT id, LPDIJOYCONFIG config, DWORD flags) override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> hold(TheStandIn().mutex);
            hook = TheStandIn().getConfigHook;
        }
        if (hook) {
            hook();
        }
        const HRESULT result = ReadConfig(id, config, flags);
        Note("get-config id=%u flags=0x%08lX hr=0x%08lX", id, static_cast<unsigned long>(flags),
             static_cast<unsigned long>(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE SetConfig(UINT, LPCDIJOYCONFIG, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteConfig(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserValues(LPDIJOYUSERVALUES, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetUserValues(LPCDIJOYUSERVALUES, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddNewHardware(HWND, REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenTypeKey(LPCWSTR, DWORD, HKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenConfigKey(UINT, DWORD, HKEY*) override { return E_NOTIMPL; }

  private:
    ~JoyConfig() = default;

    HRESULT ReadConfig(UINT id, LPDIJOYCONFIG config, DWORD flags) {
        if (config == nullptr) {
            return E_POINTER;
        }
        if (config->dwSize != sizeof(DIJOYCONFIG)) {
            return DIERR_INVALIDPARAM;
        }
        const std::vector<GUID> joysticks = Joysticks(input_);
        if (id >= joysticks.size()) {
            return DIERR_NOMOREITEMS;
        }
        const DWORD size = config->dwSize;
        std::memset(config, 0, sizeof *config);
        config->dwSize = size;
        if ((flags & DIJC_GUIDINSTANCE) != 0) {
            config->guidInstance = joysticks[id];
        }
        if ((flags & DIJC_REGHWCONFIGTYPE) != 0) {
            // A custom wheel with Z, R and a hat and twelve buttons, calibrated over its whole
            // range, as DirectInput holds a wheel that was never calibrated.
            JOYREGHWCONFIG& hwc = config->hwc;
            hwc.hws.dwFlags = JOY_HWS_HASZ | JOY_HWS_HASR | JOY_HWS_HASPOV;
            hwc.hws.dwNumButtons = 12;
            hwc.dwUsageSettings = JOY_US_PRESENT;
            JOYRANGE& range = hwc.hwv.jrvHardware;
            range.jpMin = {0, 0, 0, 0, 0, 0};
            range.jpCenter = {128, 128, 128, 128, 0, 0};
            range.jpMax = {255, 255, 255, 255, 0, 0};
            hwc.dwType = JOY_HW_CUSTOM;
        }
        return DI_OK;
    }

    std::atomic<LONG> refs_{1};
    IDirectInput7A* input_;
};

// Wine's DirectInput object with the two missing pieces added. One class serves both creation
// functions: IDirectInput7A begins with IDirectInputA's slots.
class Input final : public IDirectInput7A {
  public:
    explicit Input(IDirectInput7A* real) : real_(real) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualGUID(riid, kIidJoyConfig)) {
            auto* config = new (std::nothrow) JoyConfig(real_);
            *ppv = static_cast<IDirectInputJoyConfig*>(config);
            return config != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDirectInputA) ||
            IsEqualGUID(riid, IID_IDirectInput2A) || IsEqualGUID(riid, kIidDirectInput7A)) {
            *ppv = static_cast<IDirectInput7A*>(this);
            AddRef();
            return S_OK;
        }
        return real_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) {
            real_->Release();
            delete this;
        }
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICEA* device,
                                           LPUNKNOWN outer) override {
        return real_->CreateDevice(guid, device, outer);
    }
    HRESULT STDMETHODCALLTYPE EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKA callback,
                                          LPVOID context, DWORD flags) override {
        return real_->EnumDevices(type, callback, context, flags);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(REFGUID guid) override {
        return real_->GetDeviceStatus(guid);
    }
    HRESULT STDMETHODCALLTYPE RunControlPanel(HWND owner, DWORD flags) override {
        return real_->RunControlPanel(owner, flags);
    }
    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version) override {
        return real_->Initialize(instance, version);
    }
    HRESULT STDMETHODCALLTYPE FindDevice(REFGUID classGuid, LPCSTR name, LPGUID instance) override {
        if (!IsEqualGUID(classGuid, kGuidHidClass)) {
            return real_->FindDevice(classGuid, name, instance);
        }
        const HRESULT result = FindHidDevice(name, instance);
        Note("find-device hr=0x%08lX", static_cast<unsigned long>(result));
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateDeviceEx(REFGUID guid, REFIID riid, LPVOID* out,
                                             LPUNKNOWN outer) override {
        return real_->CreateDeviceEx(guid, riid, out, outer);
    }

  private:
    ~Input() = default;

    // The joystick whose HID interface is at `name`, as DirectInput's own path property says.
    HRESULT FindHidDevice(LPCSTR name, LPGUID instance) {
        if (name == nullptr || instance == nullptr) {
            return E_POINTER;
        }
        {
            StandIn& standIn = TheStandIn();
            std::lock_guard<std::mutex> hold(standIn.mutex);
            if (!standIn.path.empty() && lstrcmpiA(standIn.path.c_str(), name) == 0) {
                *instance = kStandInGuid;
                return DI_OK;
            }
        }
        wchar_t wide[1024];
        if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 1024) == 0) {
            return DIERR_DEVICENOTREG;
        }
        for (const GUID& candidate : Joysticks(real_)) {
            IDirectInputDeviceA* device = nullptr;
            if (FAILED(real_->CreateDevice(candidate, &device, nullptr)) || device == nullptr) {
                continue;
            }
            DIPROPGUIDANDPATH property = {};
            property.diph.dwSize = sizeof property;
            property.diph.dwHeaderSize = sizeof property.diph;
            property.diph.dwHow = DIPH_DEVICE;
            const HRESULT got = device->GetProperty(DIPROP_GUIDANDPATH, &property.diph);
            device->Release();
            if (SUCCEEDED(got) && _wcsicmp(property.wszPath, wide) == 0) {
                *instance = candidate;
                return DI_OK;
            }
        }
        return DIERR_DEVICENOTREG;
    }

    std::atomic<LONG> refs_{1};
    IDirectInput7A* real_;
};

}  // namespace

HRESULT WINAPI ShimDirectInputCreateEx(HINSTANCE instance, DWORD version, REFIID riid, void** out,
                                       IUnknown* outer) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    CreateExFunction real = RealCreateEx();
    if (real == nullptr) {
        return E_FAIL;
    }
    IDirectInput7A* input = nullptr;
    const HRESULT result =
        real(instance, version, kIidDirectInput7A, reinterpret_cast<void**>(&input), outer);
    Note("directinput-create version=0x%04lX hr=0x%08lX", static_cast<unsigned long>(version),
         static_cast<unsigned long>(result));
    if (FAILED(result) || input == nullptr) {
        return result;
    }
    auto* proxy = new (std::nothrow) Input(input);
    if (proxy == nullptr) {
        input->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT asked = proxy->QueryInterface(riid, out);
    proxy->Release();
    return asked;
}

HRESULT WINAPI ShimDirectInputCreateA(HINSTANCE instance, DWORD version, IDirectInputA** out,
                                      IUnknown* outer) {
    return ShimDirectInputCreateEx(instance, version, IID_IDirectInputA,
                                   reinterpret_cast<void**>(out), outer);
}

void SetShimLog(std::function<void(const std::string&)> log) {
    shimLog = std::move(log);
}

void SetJoystickStandIn(UINT id, const std::string& path) {
    StandIn& standIn = TheStandIn();
    std::lock_guard<std::mutex> hold(standIn.mutex);
    standIn.id = id;
    standIn.path = path;
}

void SetGetConfigHook(std::function<void()> hook) {
    StandIn& standIn = TheStandIn();
    std::lock_guard<std::mutex> hold(standIn.mutex);
    standIn.getConfigHook = std::move(hook);
}

bool RedirectImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    if (module == nullptr) {
        return false;
    }
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return false;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return false;
    }
    bool redirected = false;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) {
            continue;
        }
        const DWORD namesAt =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &old)) {
                return false;
            }
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            redirected = true;
        }
    }
    return redirected;
}

HMODULE ModuleOfObject(const void* object) {
    HMODULE module = nullptr;
    const void* methods = *static_cast<void* const*>(object);
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<const char*>(methods), &module);
    return module;
}

bool SupplyJoyConfig(HMODULE module) {
    const bool ex = RedirectImport(module, "dinput.dll", "DirectInputCreateEx",
                                   reinterpret_cast<void*>(ShimDirectInputCreateEx));
    const bool plain = RedirectImport(module, "dinput.dll", "DirectInputCreateA",
                                      reinterpret_cast<void*>(ShimDirectInputCreateA));
    return ex || plain;
}

}  // namespace hidwheel
