// Opening and polling the wheel through DirectInput, shared by the three pages: the sheet gets
// a joystick-configuration object and a prepared device for its joystick ID, and each timer
// tick acquires the device, keeps the page's status line current and reads the state.
// Portable: DirectInputCreateA, the module's lock and the status line come in through
// DeviceServices, so the same code runs in the DLL and against test objects.
#pragma once

#include <cstdint>

#include "common/dinput_shapes.h"
#include "propsheet/sheet_interface.h"

namespace velquin {

// Which status text a page last wrote into its status line.
enum DeviceStatus : uint32_t {
    StatusNone = 0,
    StatusConnected = 1,
    StatusNotResponding = 2,
};

inline constexpr char kConnectedText[] = "The device is connected.";
inline constexpr char kNotRespondingText[] = "The device is not responding.";

inline constexpr DWORD kDirectInputVersion = 0x0700;
// Exclusive and in the background: the force-feedback effects need the device to themselves,
// and the pages keep reading while another window has the focus.
inline constexpr DWORD kCooperativeLevel = DISCL_EXCLUSIVE | DISCL_BACKGROUND;
// 5 % of each axis' range (DirectInput counts dead zones in 1/10000 of the range).
inline constexpr DWORD kDeadZone = 500;
// X, Y, Z and Rz as byte offsets into DIJOYSTATE, in the order the dead zones are set.
inline constexpr DWORD kDeadZoneAxes[4] = {0, 4, 8, 20};

struct DeviceServices {
    HINSTANCE moduleInstance = nullptr;
    // DirectInputCreateA without an outer object.
    HRESULT (*createDirectInput)(HINSTANCE instance, DWORD version, IDirectInputA** out) = nullptr;
    // deviceLock.
    void (*lock)() = nullptr;
    void (*unlock)() = nullptr;
    // SetDlgItemTextA.
    void (*setStatusText)(HWND page, int controlId, const char* text) = nullptr;
};

// Holds the module's device lock for a scope.
class DeviceLockHold {
  public:
    explicit DeviceLockHold(const DeviceServices& services) : services_(services) {
        if (services_.lock != nullptr) {
            services_.lock();
        }
    }
    ~DeviceLockHold() {
        if (services_.unlock != nullptr) {
            services_.unlock();
        }
    }
    DeviceLockHold(const DeviceLockHold&) = delete;
    DeviceLockHold& operator=(const DeviceLockHold&) = delete;

  private:
    const DeviceServices& services_;
};

// Creates the device for the joystick ID and prepares it: the standard joystick format,
// exclusive background access. On failure *device is null and no device is left behind.
HRESULT CreateWheelDevice(USHORT joystickId, HWND window, IDirectInputA* directInput,
                          IDirectInputJoyConfig* joyConfig, IDirectInputDevice2A** device);

// Gives the sheet what it is missing of a joy-config object and a device. S_FALSE when nothing
// or only the joy-config object was made; CreateWheelDevice's result when a device was made.
HRESULT OpenDevice(const DeviceServices& services, HWND frame, IDIGameCntrlPropSheet* sheet);

// Replaces the sheet's joy-config object and device with fresh ones. The sheet never keeps a
// pointer to an object this released: a failure leaves the replaced pointer null.
HRESULT ReopenDevice(const DeviceServices& services, HWND frame, IDIGameCntrlPropSheet* sheet);

enum class PollOutcome {
    BadSheet,       // E_POINTER: no sheet; nothing shown
    NotResponding,  // no device, or it cannot be acquired
    NoState,        // connected, but the state could not be read
    StateRead,      // connected, *state holds the reading
};

// One timer tick of a page: acquire, update the status line when the status changed, read.
// A sheet without a device counts as not responding and no device is touched.
PollOutcome PollDevice(const DeviceServices& services, HWND page, int statusControl,
                       DeviceStatus* status, IDIGameCntrlPropSheet* sheet, DIJOYSTATE* state);

}  // namespace velquin
