// The Calibration page's work apart from its window: it reads the wheel's stored configuration
// when the page is made, follows each axis's range and centre on every tick, and on "Default"
// or "Set" stores the range and centre and has the device re-opened so that DirectInput uses
// them. Portable: the window calls (boxes, labels, status line), DirectInput and the store come
// in as services, so the whole page runs against the virtual wheel on any host.
#pragma once

#include <cstdint>
#include <functional>

#include "common/dinput_shapes.h"
#include "propsheet/device.h"
#include "propsheet/sheet_interface.h"

namespace velquin {

// Calibration values are raw axis values in units of 256: 0..65535 becomes 0..255.
inline constexpr int kCalibrationShift = 8;
inline constexpr DWORD kResetMin = 0;
inline constexpr DWORD kResetCentre = 128;
inline constexpr DWORD kResetMax = 255;

// The page's module-wide storage: one set per process, kept from one page to the next.
struct CalibrationPageState {
    IDIGameCntrlPropSheet* sheet = nullptr;
    // Read when the page is made; hwc.hwv.jrvHardware is the working calibration.
    DIJOYCONFIG pageConfig = {};
    // Whether that read succeeded. Without it pageConfig holds zeros or an earlier page's data,
    // and storing it would overwrite the wheel's settings with that.
    bool configRead = false;
    DIJOYSTATE lastState = {};
    DeviceStatus status = StatusNone;
};

// What the page does to its window.
struct CalibrationView {
    // SetXYValue: horizontal quantity as the high value, vertical as the low value.
    void (*setXY)(HWND page, int control, int high, int low) = nullptr;
    // SetDlgItemTextA of a value label.
    void (*setLabel)(HWND page, int control, const char* text) = nullptr;
};

// Stores a configuration's calibration (WriteCalibration of the running system): configuration,
// flags, the wheel's instance GUID, the joystick ID.
using CalibrationWriter = std::function<void(const DIJOYCONFIG& config, DWORD flags,
                                             const GUID& guidInstance, uint16_t joystickId)>;

// Widens the range to the reading's axes and moves the centres to them.
void TrackCalibration(JOYRANGE* range, const DIJOYSTATE& state);
// "Default": ranges 0..255, centres 128.
void ResetCalibration(JOYRANGE* range);
// The text of a value label: the raw value / 256, rounded toward zero.
struct AxisLabel {
    char text[16];
};
AxisLabel AxisLabelFor(LONG raw);

// WM_INITDIALOG after the sheet was taken from the page record: opens the device and reads the
// stored configuration into state->pageConfig, noting in state->configRead whether it could.
// Returns the dialog result: TRUE when no device could be opened (the page stays as its
// template), FALSE otherwise.
INT_PTR CalibrationInit(const DeviceServices& services, HWND frame, CalibrationPageState* state);

// One timer tick: poll, redraw the boxes whose axes changed, track the calibration under the
// device lock, set the labels, remember the reading.
HRESULT CalibrationTick(const DeviceServices& services, const CalibrationView& view, HWND page,
                        CalibrationPageState* state);

// Stores the configuration's calibration for the sheet's wheel. Non-zero when the caller is to
// re-open the device: always, unless the device could not be acquired.
int StoreCalibration(const DIJOYCONFIG& config, IDIGameCntrlPropSheet* sheet,
                     const CalibrationWriter& write);

// "Set" (and "Default" after its reset): store, then re-open the device when StoreCalibration
// says so. Returns what StoreCalibration returned; a page whose configuration was not read stores
// nothing and re-opens nothing, as for a wheel that cannot be acquired, and returns 0.
int SetCalibration(const DeviceServices& services, HWND frame, CalibrationPageState* state,
                   const CalibrationWriter& write);
int DefaultCalibration(const DeviceServices& services, HWND frame, CalibrationPageState* state,
                       const CalibrationWriter& write);

}  // namespace velquin
