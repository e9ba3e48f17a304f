// The one header for platform types. On Windows it is the SDK headers; elsewhere it declares
// the few records, constants and COM interface shapes the portable code uses, in the layout the
// Windows headers give them, so the same sources build and test on a non-Windows host.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0700
#endif
#include <dinput.h>
#include <dinputd.h>
#include <mmsystem.h>
#include <objbase.h>
#include <unknwn.h>
#include <windows.h>

#else  // hosted

#include <cstddef>
#include <cstdint>
#include <cstring>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using CHAR = char;
using WCHAR = char16_t;
using HANDLE = void*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using MMRESULT = UINT;

#define TRUE 1
#define FALSE 0
#define STDMETHODCALLTYPE
#define WINAPI
#define CALLBACK

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
inline BOOL IsEqualGUID(const GUID& a, const GUID& b) {
    return a == b;
}

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INFINITE 0xFFFFFFFFu

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_CODE(hr) (static_cast<HRESULT>(hr) & 0xFFFF)

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001u)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE static_cast<HRESULT>(0x80040111u)
#define DIERR_OLDDIRECTINPUTVERSION static_cast<HRESULT>(0x8007047Eu)

inline HRESULT HRESULT_FROM_WIN32(unsigned long x) {
    return static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)
                                        : static_cast<HRESULT>((x & 0x0000FFFFu) | 0x80070000u);
}

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DEVICE_NOT_CONNECTED 1167L

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

// COM interface shapes: slot order as in the Windows headers.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

  protected:
    ~IClassFactory() = default;
};

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDirectInputEffectDriver = {
    0x02538130, 0x898F, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};

// DirectInput records used by the effect driver.
struct DIENVELOPE {
    DWORD dwSize;
    DWORD dwAttackLevel;
    DWORD dwAttackTime;
    DWORD dwFadeLevel;
    DWORD dwFadeTime;
};
using LPDIENVELOPE = DIENVELOPE*;

struct DIEFFECT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDuration;
    DWORD dwSamplePeriod;
    DWORD dwGain;
    DWORD dwTriggerButton;
    DWORD dwTriggerRepeatInterval;
    DWORD cAxes;
    LPDWORD rgdwAxes;
    LONG* rglDirection;
    LPDIENVELOPE lpEnvelope;
    DWORD cbTypeSpecificParams;
    LPVOID lpvTypeSpecificParams;
    DWORD dwStartDelay;
};
using LPDIEFFECT = DIEFFECT*;
using LPCDIEFFECT = const DIEFFECT*;

struct DICONSTANTFORCE {
    LONG lMagnitude;
};
struct DIRAMPFORCE {
    LONG lStart;
    LONG lEnd;
};
struct DIPERIODIC {
    DWORD dwMagnitude;
    LONG lOffset;
    DWORD dwPhase;
    DWORD dwPeriod;
};

struct DIEFFECTATTRIBUTES {
    DWORD dwEffectId;
    DWORD dwEffType;
    DWORD dwStaticParams;
    DWORD dwDynamicParams;
    DWORD dwCoords;
};

struct DIDRIVERVERSIONS {
    DWORD dwSize;
    DWORD dwFirmwareRevision;
    DWORD dwHardwareRevision;
    DWORD dwFFDriverVersion;
};
using LPDIDRIVERVERSIONS = DIDRIVERVERSIONS*;

struct DIDEVICESTATE {
    DWORD dwSize;
    DWORD dwState;
    DWORD dwLoad;
};
using LPDIDEVICESTATE = DIDEVICESTATE*;

struct DIEFFESCAPE {
    DWORD dwSize;
    DWORD dwCommand;
    LPVOID lpvInBuffer;
    DWORD cbInBuffer;
    LPVOID lpvOutBuffer;
    DWORD cbOutBuffer;
};
using LPDIEFFESCAPE = DIEFFESCAPE*;

#define DIEFF_OBJECTIDS 0x00000001u
#define DIEFF_OBJECTOFFSETS 0x00000002u
#define DIEFF_CARTESIAN 0x00000010u
#define DIEFF_POLAR 0x00000020u
#define DIEFF_SPHERICAL 0x00000040u

#define DIEP_DURATION 0x00000001u
#define DIEP_SAMPLEPERIOD 0x00000002u
#define DIEP_GAIN 0x00000004u
#define DIEP_TRIGGERBUTTON 0x00000008u
#define DIEP_TRIGGERREPEATINTERVAL 0x00000010u
#define DIEP_AXES 0x00000020u
#define DIEP_DIRECTION 0x00000040u
#define DIEP_ENVELOPE 0x00000080u
#define DIEP_TYPESPECIFICPARAMS 0x00000100u
#define DIEP_STARTDELAY 0x00000200u
#define DIEP_ALLPARAMS 0x000003FFu
#define DIEP_START 0x20000000u
#define DIEP_NORESTART 0x40000000u
#define DIEP_NODOWNLOAD 0x80000000u

#define DIES_SOLO 0x00000001u
#define DIES_NODOWNLOAD 0x80000000u
#define DIEGES_PLAYING 0x00000001u
#define DIEGES_EMULATED 0x00000002u

#define DISFFC_RESET 0x00000001u
#define DISFFC_STOPALL 0x00000002u
#define DISFFC_PAUSE 0x00000004u
#define DISFFC_CONTINUE 0x00000008u
#define DISFFC_SETACTUATORSON 0x00000010u
#define DISFFC_SETACTUATORSOFF 0x00000020u

struct IDirectInputEffectDriver : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeviceID(DWORD a, DWORD b, DWORD c, DWORD d, LPVOID e) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersions(LPDIDRIVERVERSIONS a) = 0;
    virtual HRESULT STDMETHODCALLTYPE Escape(DWORD a, DWORD b, LPDIEFFESCAPE c) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGain(DWORD a, DWORD b) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD a, DWORD b) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetForceFeedbackState(DWORD a, LPDIDEVICESTATE b) = 0;
    virtual HRESULT STDMETHODCALLTYPE DownloadEffect(DWORD a, DWORD b, LPDWORD c, LPCDIEFFECT d,
                                                     DWORD e) = 0;
    virtual HRESULT STDMETHODCALLTYPE DestroyEffect(DWORD a, DWORD b) = 0;
    virtual HRESULT STDMETHODCALLTYPE StartEffect(DWORD a, DWORD b, DWORD c, DWORD d) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopEffect(DWORD a, DWORD b) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEffectStatus(DWORD a, DWORD b, LPDWORD c) = 0;

  protected:
    ~IDirectInputEffectDriver() = default;
};

#endif  // hosted

#if defined(_WIN32)
// The records whose sizes other modules and the registry depend on.
static_assert(sizeof(DIJOYCONFIG) == 1176, "DIJOYCONFIG");
static_assert(sizeof(DIJOYSTATE) == 80, "DIJOYSTATE");
static_assert(sizeof(JOYREGHWCONFIG) == 112, "JOYREGHWCONFIG");
static_assert(sizeof(DIDRIVERVERSIONS) == 16, "DIDRIVERVERSIONS");
static_assert(sizeof(DIEFFECT) == (sizeof(void*) == 8 ? 80 : 56), "DIEFFECT");
#endif
