// The game-controller property-sheet interface the control panel asks for, and the two records
// it reads through it. The Windows SDK headers do not carry them, so they are declared here in
// the platform layout. The DirectInput device shapes the sheet carries come from
// common/dinput_shapes.h.
#pragma once

#include <cstdint>

#include "common/dinput_shapes.h"
#include "common/platform.h"

// Sheet description, handed out by GetSheetInfo.
struct DIGCSHEETINFO {
    DWORD dwSize;
    USHORT nNumPages;
    LPWSTR lpwszSheetCaption;
    BOOL fSheetIconFlag;
    LPWSTR lpwszSheetIcon;
};
using LPDIGCSHEETINFO = DIGCSHEETINFO*;

// Page description, one per page, handed out in a row by GetPageInfo.
struct DIGCPAGEINFO {
    DWORD dwSize;
    LPWSTR lpwszPageTitle;
    DLGPROC fpPageProc;
    BOOL fProcFlag;
    DLGPROC fpPrePostProc;
    BOOL fIconFlag;
    LPWSTR lpwszPageIcon;
    LPWSTR lpwszTemplate;
    LPARAM lParam;
    HINSTANCE hInstance;
};
using LPDIGCPAGEINFO = DIGCPAGEINFO*;

#if defined(_WIN32)
// The control panel reads these records with its own idea of their size.
#if defined(_WIN64)
static_assert(sizeof(DIGCSHEETINFO) == 32, "DIGCSHEETINFO is 32 bytes in 64-bit code");
static_assert(sizeof(DIGCPAGEINFO) == 80, "DIGCPAGEINFO is 80 bytes in 64-bit code");
#else
static_assert(sizeof(DIGCSHEETINFO) == 20, "DIGCSHEETINFO is 20 bytes in 32-bit code");
static_assert(sizeof(DIGCPAGEINFO) == 40, "DIGCPAGEINFO is 40 bytes in 32-bit code");
#endif
#endif

// {7854FB22-8EE3-11D0-A1AC-0000F8026977}
inline constexpr IID IID_IDIGameCntrlPropSheet = {
    0x7854FB22, 0x8EE3, 0x11D0, {0xA1, 0xAC, 0x00, 0x00, 0xF8, 0x02, 0x69, 0x77}};

// The slot order is what the control panel calls by; it must not change.
struct IDIGameCntrlPropSheet : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSheetInfo(LPDIGCSHEETINFO* sheetInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageInfo(LPDIGCPAGEINFO* pageInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetID(USHORT id) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize() = 0;
    virtual USHORT STDMETHODCALLTYPE GetID() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirectInputDevice2A** device) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDevice(IDirectInputDevice2A* device) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetJoyConfig(IDirectInputJoyConfig** joyConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetJoyConfig(IDirectInputJoyConfig* joyConfig) = 0;

  protected:
    ~IDIGameCntrlPropSheet() = default;
};

namespace velquin {

// MAKEINTRESOURCEW, usable on both sides.
inline LPWSTR ResourceName(uint16_t id) {
    return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(id));
}

}  // namespace velquin
