// A device and a joystick-configuration object that count what the property sheet does to
// them: AddRef, Release and Unacquire. Every other slot answers E_NOTIMPL. Used by the native
// tests and by the tests of the real DLL under Wine.
#pragma once

#include <atomic>

#include "propsheet/sheet_interface.h"

namespace sheettest {

struct CallCounts {
    std::atomic<int> addRefs{0};
    std::atomic<int> releases{0};
    std::atomic<int> unacquires{0};
    // Unacquire calls that came after the last Release (a use after the reference was gone).
    std::atomic<int> unacquiresAfterRelease{0};
};

#define SHEETTEST_NOTIMPL(signature)               \
    HRESULT STDMETHODCALLTYPE signature override { \
        return E_NOTIMPL;                          \
    }

class CountingDevice final : public IDirectInputDevice2A {
  public:
    explicit CountingDevice(CallCounts& counts) : counts_(counts) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return E_NOTIMPL;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(++counts_.addRefs - counts_.releases + 1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ++counts_.releases;
        return static_cast<ULONG>(counts_.addRefs - counts_.releases + 1);
    }
    HRESULT STDMETHODCALLTYPE Unacquire() override {
        ++counts_.unacquires;
        if (counts_.releases > counts_.addRefs) {
            ++counts_.unacquiresAfterRelease;
        }
        return S_OK;
    }
    SHEETTEST_NOTIMPL(GetCapabilities(LPDIDEVCAPS))
    SHEETTEST_NOTIMPL(EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD))
    SHEETTEST_NOTIMPL(GetProperty(REFGUID, LPDIPROPHEADER))
    SHEETTEST_NOTIMPL(SetProperty(REFGUID, LPCDIPROPHEADER))
    SHEETTEST_NOTIMPL(Acquire())
    SHEETTEST_NOTIMPL(GetDeviceState(DWORD, LPVOID))
    SHEETTEST_NOTIMPL(GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD))
    SHEETTEST_NOTIMPL(SetDataFormat(LPCDIDATAFORMAT))
    SHEETTEST_NOTIMPL(SetEventNotification(HANDLE))
    SHEETTEST_NOTIMPL(SetCooperativeLevel(HWND, DWORD))
    SHEETTEST_NOTIMPL(GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD))
    SHEETTEST_NOTIMPL(GetDeviceInfo(LPDIDEVICEINSTANCEA))
    SHEETTEST_NOTIMPL(RunControlPanel(HWND, DWORD))
    SHEETTEST_NOTIMPL(Initialize(HINSTANCE, DWORD, REFGUID))
    SHEETTEST_NOTIMPL(CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN))
    SHEETTEST_NOTIMPL(EnumEffects(LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD))
    SHEETTEST_NOTIMPL(GetEffectInfo(LPDIEFFECTINFOA, REFGUID))
    SHEETTEST_NOTIMPL(GetForceFeedbackState(LPDWORD))
    SHEETTEST_NOTIMPL(SendForceFeedbackCommand(DWORD))
    SHEETTEST_NOTIMPL(EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD))
    SHEETTEST_NOTIMPL(Escape(LPDIEFFESCAPE))
    SHEETTEST_NOTIMPL(Poll())
    SHEETTEST_NOTIMPL(SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD))

  private:
    CallCounts& counts_;
};

class CountingJoyConfig final : public IDirectInputJoyConfig {
  public:
    explicit CountingJoyConfig(CallCounts& counts) : counts_(counts) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return E_NOTIMPL;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(++counts_.addRefs - counts_.releases + 1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ++counts_.releases;
        return static_cast<ULONG>(counts_.addRefs - counts_.releases + 1);
    }
    HRESULT STDMETHODCALLTYPE Acquire() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unacquire() override {
        ++counts_.unacquires;
        if (counts_.releases > counts_.addRefs) {
            ++counts_.unacquiresAfterRelease;
        }
        return S_OK;
    }
    SHEETTEST_NOTIMPL(SetCooperativeLevel(HWND, DWORD))
    SHEETTEST_NOTIMPL(SendNotify())
    SHEETTEST_NOTIMPL(EnumTypes(LPVOID, LPVOID))
    SHEETTEST_NOTIMPL(GetTypeInfo(LPCWSTR, LPDIJOYTYPEINFO, DWORD))
    SHEETTEST_NOTIMPL(SetTypeInfo(LPCWSTR, LPCDIJOYTYPEINFO, DWORD))
    SHEETTEST_NOTIMPL(DeleteType(LPCWSTR))
    SHEETTEST_NOTIMPL(GetConfig(UINT, LPDIJOYCONFIG, DWORD))
    SHEETTEST_NOTIMPL(SetConfig(UINT, LPCDIJOYCONFIG, DWORD))
    SHEETTEST_NOTIMPL(DeleteConfig(UINT))
    SHEETTEST_NOTIMPL(GetUserValues(LPDIJOYUSERVALUES, DWORD))
    SHEETTEST_NOTIMPL(SetUserValues(LPCDIJOYUSERVALUES, DWORD))
    SHEETTEST_NOTIMPL(AddNewHardware(HWND, REFGUID))
    SHEETTEST_NOTIMPL(OpenTypeKey(LPCWSTR, DWORD, HKEY*))
    SHEETTEST_NOTIMPL(OpenConfigKey(UINT, DWORD, HKEY*))

  private:
    CallCounts& counts_;
};

#undef SHEETTEST_NOTIMPL

}  // namespace sheettest
