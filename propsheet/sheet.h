// The property-sheet object the control panel creates: it describes the sheet and its three
// pages, and carries the DirectInput device and joystick-configuration objects the pages share.
// Portable: what differs between the DLL and the tests comes in through SheetServices.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/services.h"
#include "propsheet/sheet_interface.h"

namespace velquin {

inline constexpr int kPageCount = 3;
inline constexpr uint16_t kNoJoystick = 0xFFFF;
// IDI_WINLOGO among the system icons.
inline constexpr uint16_t kSheetIcon = 32517;
// Wide characters in the caption buffer, terminator included.
inline constexpr int kCaptionChars = 64;
inline constexpr char kSheetCaption[] = "Talvex DX";

struct SheetServices {
    wheel::ModuleCount* objectCount = nullptr;
    HINSTANCE moduleInstance = nullptr;
    // The dialog procedures of the Test, Calibration and Effect pages.
    DLGPROC testPageProc = nullptr;
    DLGPROC calibrationPageProc = nullptr;
    DLGPROC effectPageProc = nullptr;
    // A zero-filled buffer of kCaptionChars wide characters holding the ANSI text converted;
    // null when memory runs out. Freed with freeCaption.
    LPWSTR (*newCaption)(const char* ansi) = nullptr;
    void (*freeCaption)(LPWSTR caption) = nullptr;
    // Registers the four indicator window classes; failures are the caller's to ignore.
    void (*registerControls)(HINSTANCE instance) = nullptr;
};

class PropSheet final : public IDIGameCntrlPropSheet {
  public:
    // refCount 1, no device, no joy-config object, joystick ID 0xFFFF, objectCount + 1; null
    // when memory runs out.
    static PropSheet* Create(const SheetServices& services) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetSheetInfo(LPDIGCSHEETINFO* info) override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(LPDIGCPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetID(USHORT id) override;
    HRESULT STDMETHODCALLTYPE Initialize() override;
    USHORT STDMETHODCALLTYPE GetID() override;
    HRESULT STDMETHODCALLTYPE GetDevice(IDirectInputDevice2A** out) override;
    HRESULT STDMETHODCALLTYPE SetDevice(IDirectInputDevice2A* newDevice) override;
    HRESULT STDMETHODCALLTYPE GetJoyConfig(IDirectInputJoyConfig** out) override;
    HRESULT STDMETHODCALLTYPE SetJoyConfig(IDirectInputJoyConfig* newJoyConfig) override;

  private:
    explicit PropSheet(const SheetServices& services);
    ~PropSheet();

    DIGCSHEETINFO sheetInfo{};
    DIGCPAGEINFO pageInfo[kPageCount]{};
    IDirectInputDevice2A* device = nullptr;
    IDirectInputJoyConfig* joyConfig = nullptr;
    std::atomic<int16_t> refCount{1};
    uint16_t joystickId = kNoJoystick;
    SheetServices services_;
};

}  // namespace velquin
