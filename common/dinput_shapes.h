// The DirectInput device side as the property sheet and the virtual wheel use it: the device,
// effect, joystick-configuration and DirectInput objects and their records. On Windows these
// are the SDK's own; elsewhere this header declares them in the slot order and layout of the
// Windows headers (records the code never looks into stay incomplete), so the same sources and
// the same test objects build on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/platform.h"

#if !defined(_WIN32)

using USHORT = uint16_t;
using SHORT = int16_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPUNKNOWN = IUnknown*;
using LPGUID = GUID*;

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct HWND__;
using HWND = HWND__*;

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct DIJOYSTATE {
    LONG lX;
    LONG lY;
    LONG lZ;
    LONG lRx;
    LONG lRy;
    LONG lRz;
    LONG rglSlider[2];
    DWORD rgdwPOV[4];
    BYTE rgbButtons[32];
};
using LPDIJOYSTATE = DIJOYSTATE*;

struct JOYPOS {
    DWORD dwX;
    DWORD dwY;
    DWORD dwZ;
    DWORD dwR;
    DWORD dwU;
    DWORD dwV;
};
struct JOYRANGE {
    JOYPOS jpMin;
    JOYPOS jpMax;
    JOYPOS jpCenter;
};
struct JOYREGHWSETTINGS {
    DWORD dwFlags;
    DWORD dwNumButtons;
};
struct JOYREGHWVALUES {
    JOYRANGE jrvHardware;
    DWORD dwPOVValues[4];
    DWORD dwCalFlags;
};
struct JOYREGHWCONFIG {
    JOYREGHWSETTINGS hws;
    DWORD dwUsageSettings;
    JOYREGHWVALUES hwv;
    DWORD dwType;
    DWORD dwReserved;
};

struct DIJOYCONFIG {
    DWORD dwSize;
    GUID guidInstance;
    JOYREGHWCONFIG hwc;
    DWORD dwGain;
    WCHAR wszType[256];
    WCHAR wszCallout[256];
    GUID guidGameport;
};
using LPDIJOYCONFIG = DIJOYCONFIG*;
using LPCDIJOYCONFIG = const DIJOYCONFIG*;

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};
using LPDIPROPHEADER = DIPROPHEADER*;
using LPCDIPROPHEADER = const DIPROPHEADER*;

struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
};

struct DIOBJECTDATAFORMAT;
struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwObjSize;
    DWORD dwFlags;
    DWORD dwDataSize;
    DWORD dwNumObjs;
    DIOBJECTDATAFORMAT* rgodf;
};
using LPCDIDATAFORMAT = const DIDATAFORMAT*;

// What a device tells of itself and its objects and effect types, as DirectInput 7 fills them.
struct DIDEVCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDevType;
    DWORD dwAxes;
    DWORD dwButtons;
    DWORD dwPOVs;
    DWORD dwFFSamplePeriod;
    DWORD dwFFMinTimeResolution;
    DWORD dwFirmwareRevision;
    DWORD dwHardwareRevision;
    DWORD dwFFDriverVersion;
};
struct DIDEVICEOBJECTINSTANCEA {
    DWORD dwSize;
    GUID guidType;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
    char tszName[260];
    DWORD dwFFMaxForce;
    DWORD dwFFForceResolution;
    WORD wCollectionNumber;
    WORD wDesignatorIndex;
    WORD wUsagePage;
    WORD wUsage;
    DWORD dwDimension;
    WORD wExponent;
    WORD wReserved;
};
struct DIEFFECTINFOA {
    DWORD dwSize;
    GUID guid;
    DWORD dwEffType;
    DWORD dwStaticParams;
    DWORD dwDynamicParams;
    char tszName[260];
};

// Records the portable code passes along but never reads.
struct DIDEVICEOBJECTDATA;
struct DIDEVICEINSTANCEA;
struct DIJOYTYPEINFO;
struct DIJOYUSERVALUES;
using LPDIDEVCAPS = DIDEVCAPS*;
using LPDIDEVICEOBJECTDATA = DIDEVICEOBJECTDATA*;
using LPCDIDEVICEOBJECTDATA = const DIDEVICEOBJECTDATA*;
using LPDIDEVICEOBJECTINSTANCEA = DIDEVICEOBJECTINSTANCEA*;
using LPDIDEVICEINSTANCEA = DIDEVICEINSTANCEA*;
using LPDIEFFECTINFOA = DIEFFECTINFOA*;
using LPDIJOYTYPEINFO = DIJOYTYPEINFO*;
using LPCDIJOYTYPEINFO = const DIJOYTYPEINFO*;
using LPDIJOYUSERVALUES = DIJOYUSERVALUES*;
using LPCDIJOYUSERVALUES = const DIJOYUSERVALUES*;

struct IDirectInputEffect;
using LPDIRECTINPUTEFFECT = IDirectInputEffect*;

using LPDIENUMDEVICESCALLBACKA = BOOL (*)(const DIDEVICEINSTANCEA*, LPVOID);
using LPDIENUMDEVICEOBJECTSCALLBACKA = BOOL (*)(const DIDEVICEOBJECTINSTANCEA*, LPVOID);
using LPDIENUMEFFECTSCALLBACKA = BOOL (*)(const DIEFFECTINFOA*, LPVOID);
using LPDIENUMCREATEDEFFECTOBJECTSCALLBACK = BOOL (*)(LPDIRECTINPUTEFFECT, LPVOID);

struct IDirectInputEffect : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version,
                                                 REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEffectGuid(LPGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParameters(LPDIEFFECT effect, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetParameters(LPCDIEFFECT effect, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(DWORD iterations, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEffectStatus(LPDWORD status) = 0;
    virtual HRESULT STDMETHODCALLTYPE Download() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unload() = 0;
    virtual HRESULT STDMETHODCALLTYPE Escape(LPDIEFFESCAPE escape) = 0;

  protected:
    ~IDirectInputEffect() = default;
};

struct IDirectInputDeviceA : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(LPDIDEVCAPS caps) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback,
                                                  LPVOID ref, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(REFGUID property, LPDIPROPHEADER header) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(REFGUID property, LPCDIPROPHEADER header) = 0;
    virtual HRESULT STDMETHODCALLTYPE Acquire() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unacquire() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA data,
                                                    LPDWORD inOut, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE event) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA info, DWORD object,
                                                    DWORD how) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceInfo(LPDIDEVICEINSTANCEA info) = 0;
    virtual HRESULT STDMETHODCALLTYPE RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version,
                                                 REFGUID guid) = 0;

  protected:
    ~IDirectInputDeviceA() = default;
};
using LPDIRECTINPUTDEVICEA = IDirectInputDeviceA*;

struct IDirectInputDevice2A : IDirectInputDeviceA {
    virtual HRESULT STDMETHODCALLTYPE CreateEffect(REFGUID guid, LPCDIEFFECT effect,
                                                   LPDIRECTINPUTEFFECT* out, LPUNKNOWN outer) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumEffects(LPDIENUMEFFECTSCALLBACKA callback, LPVOID ref,
                                                  DWORD type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEffectInfo(LPDIEFFECTINFOA info, REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetForceFeedbackState(LPDWORD state) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumCreatedEffectObjects(
        LPDIENUMCREATEDEFFECTOBJECTSCALLBACK callback, LPVOID ref, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Escape(LPDIEFFESCAPE escape) = 0;
    virtual HRESULT STDMETHODCALLTYPE Poll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SendDeviceData(DWORD objectSize, LPCDIDEVICEOBJECTDATA data,
                                                     LPDWORD inOut, DWORD flags) = 0;

  protected:
    ~IDirectInputDevice2A() = default;
};
using LPDIRECTINPUTDEVICE2A = IDirectInputDevice2A*;

struct IDirectInputA : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICEA* device,
                                                   LPUNKNOWN outer) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKA callback,
                                                  LPVOID ref, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceStatus(REFGUID instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE RunControlPanel(HWND owner, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version) = 0;

  protected:
    ~IDirectInputA() = default;
};
using LPDIRECTINPUTA = IDirectInputA*;

struct IDirectInputJoyConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Acquire() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unacquire() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendNotify() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumTypes(LPVOID callback, LPVOID ref) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(LPCWSTR type, LPDIJOYTYPEINFO info,
                                                  DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTypeInfo(LPCWSTR type, LPCDIJOYTYPEINFO info,
                                                  DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteType(LPCWSTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConfig(UINT id, LPDIJOYCONFIG config, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConfig(UINT id, LPCDIJOYCONFIG config, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteConfig(UINT id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUserValues(LPDIJOYUSERVALUES values, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUserValues(LPCDIJOYUSERVALUES values, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNewHardware(HWND owner, REFGUID type) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenTypeKey(LPCWSTR type, DWORD access, HKEY* key) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenConfigKey(UINT id, DWORD access, HKEY* key) = 0;

  protected:
    ~IDirectInputJoyConfig() = default;
};
using LPDIRECTINPUTJOYCONFIG = IDirectInputJoyConfig*;

#define DI_OK S_OK
#define DI_DOWNLOADSKIPPED static_cast<HRESULT>(3)
#define DIERR_NOTACQUIRED static_cast<HRESULT>(0x8007000Cu)
#define DIERR_INPUTLOST static_cast<HRESULT>(0x8007001Eu)
#define DIERR_OTHERAPPHASPRIO static_cast<HRESULT>(0x80070005u)
#define DIERR_INVALIDPARAM E_INVALIDARG
#define DIERR_NOMOREITEMS static_cast<HRESULT>(0x80070103u)
#define DIERR_DEVICENOTREG static_cast<HRESULT>(0x80040154u)
#define DIERR_UNSUPPORTED E_NOTIMPL
#define DIERR_NOTINITIALIZED static_cast<HRESULT>(0x80070015u)
#define DIERR_NOTEXCLUSIVEACQUIRED static_cast<HRESULT>(0x80040205u)
#define DIERR_UNPLUGGED static_cast<HRESULT>(0x80040209u)
#define DIERR_NOAGGREGATION CLASS_E_NOAGGREGATION

#define DIJC_GUIDINSTANCE 0x00000001u
#define DIJC_REGHWCONFIGTYPE 0x00000002u
#define JOY_HW_CUSTOM 1u
#define JOY_HWS_HASZ 0x00000001u
#define JOY_HWS_HASPOV 0x00000002u
#define JOY_HWS_HASR 0x00080000u
#define JOY_US_PRESENT 0x00000002u
#define DISCL_EXCLUSIVE 0x00000001u
#define DISCL_NONEXCLUSIVE 0x00000002u
#define DISCL_FOREGROUND 0x00000004u
#define DISCL_BACKGROUND 0x00000008u
#define DIPH_DEVICE 0u
#define DIPH_BYOFFSET 1u
#define DIPH_BYID 2u
#define DIDFT_ABSAXIS 0x00000002u
#define DIDFT_MAKEINSTANCE(n) (static_cast<DWORD>(static_cast<WORD>(n)) << 8)
#define DIDFT_GETINSTANCE(n) (static_cast<WORD>((n) >> 8))
#define DIEB_NOTRIGGER 0xFFFFFFFFu
#define DIDFT_ALL 0x00000000u
#define DIDFT_GETTYPE(n) (static_cast<BYTE>(n))
#define DIDFT_AXIS 0x00000003u
#define DIDFT_PSHBUTTON 0x00000004u
#define DIDFT_BUTTON 0x0000000Cu
#define DIDFT_POV 0x00000010u
#define DIDFT_FFACTUATOR 0x01000000u
#define DIDFT_FFEFFECTTRIGGER 0x02000000u
#define DIDOI_FFACTUATOR 0x00000001u
#define DIDOI_ASPECTPOSITION 0x00000100u
#define DIDC_ATTACHED 0x00000001u
#define DIDC_FORCEFEEDBACK 0x00000100u
#define DIDEVTYPE_JOYSTICK 4u
#define DIDEVTYPE_HID 0x00010000u
#define DIDEVTYPEJOYSTICK_WHEEL 6u
#define DIEFT_ALL 0x00000000u
#define DIENUM_STOP 0
#define DIENUM_CONTINUE 1
#define DIJOFS_X offsetof(DIJOYSTATE, lX)
#define DIJOFS_Y offsetof(DIJOYSTATE, lY)
#define DIJOFS_Z offsetof(DIJOYSTATE, lZ)
#define DIJOFS_RZ offsetof(DIJOYSTATE, lRz)

inline constexpr IID IID_IDirectInputJoyConfig = {
    0x1DE12AB1, 0xC9F5, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr IID IID_IDirectInputDeviceA = {
    0x5944E680, 0xC92E, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr IID IID_IDirectInputDevice2A = {
    0x5944E682, 0xC92E, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr IID IID_IDirectInputEffect = {
    0xE7E1F7C0, 0x88D2, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
inline constexpr GUID GUID_ConstantForce = {
    0x13541C20, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

#endif  // hosted

static_assert(sizeof(DIJOYSTATE) == 80, "DIJOYSTATE");
static_assert(sizeof(DIJOYCONFIG) == 1176, "DIJOYCONFIG");
static_assert(sizeof(DIPROPDWORD) == 20, "DIPROPDWORD");
static_assert(sizeof(DIDEVCAPS) == 44, "DIDEVCAPS");
static_assert(sizeof(DIDEVICEOBJECTINSTANCEA) == 316, "DIDEVICEOBJECTINSTANCEA");
static_assert(sizeof(DIEFFECTINFOA) == 292, "DIEFFECTINFOA");

namespace wheel {

// Declared here rather than taken from import libraries that may not carry them: DirectInput 7's
// interface, its joystick-configuration interface and the HID device class.
inline constexpr GUID kIidDirectInput7A = {
    0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
inline constexpr GUID kIidJoyConfig = {
    0x1DE12AB1, 0xC9F5, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID kGuidHidClass = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// The dead-zone property. DirectInput names its properties by small integers cast to GUID
// references, so they are told apart by address, never by contents.
#if defined(_WIN32)
inline const GUID& DeadZoneProperty() {
    return DIPROP_DEADZONE;
}
#else
inline const GUID& DeadZoneProperty() {
    static const GUID property = {5, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    return property;
}
#endif
inline bool IsDeadZoneProperty(REFGUID property) {
    return &property == &DeadZoneProperty();
}

// The standard joystick data format (c_dfDIJoystick): absolute axes, a DIJOYSTATE of 80 bytes,
// 44 objects. Windows programs that use it link dinput.
#if defined(_WIN32)
inline const DIDATAFORMAT* JoystickDataFormat() {
    return &c_dfDIJoystick;
}
#else
inline const DIDATAFORMAT* JoystickDataFormat() {
    static const DIDATAFORMAT format = {24, 16, 1, sizeof(DIJOYSTATE), 44, nullptr};
    return &format;
}
#endif

}  // namespace wheel
