#include "propsheet/calibration_page.h"

#include <cstdio>

#include "propsheet/calibration.h"
#include "propsheet/pages.h"
#include "propsheet/resource.h"

namespace velquin {

namespace {

struct AxisView {
    LONG DIJOYSTATE::*field;
    DWORD JOYPOS::*member;
    int label;
};
// X, Y, Z, Rz in the order the ranges are updated.
constexpr AxisView kAxes[] = {
    {&DIJOYSTATE::lX, &JOYPOS::dwX, IDC_VALUE_X},
    {&DIJOYSTATE::lY, &JOYPOS::dwY, IDC_VALUE_Y},
    {&DIJOYSTATE::lZ, &JOYPOS::dwZ, IDC_VALUE_Z},
    {&DIJOYSTATE::lRz, &JOYPOS::dwR, IDC_VALUE_RZ},
};

// The calibration unit of a raw value: an arithmetic shift, kept as the 32-bit pattern the
// configuration stores.
DWORD CalibrationUnits(LONG raw) {
    return static_cast<DWORD>(raw >> kCalibrationShift);
}

}  // namespace

void TrackCalibration(JOYRANGE* range, const DIJOYSTATE& state) {
    for (const AxisView& axis : kAxes) {
        const DWORD v = CalibrationUnits(state.*axis.field);
        if (v < range->jpMin.*axis.member) {
            range->jpMin.*axis.member = v;
        }
        if (v > range->jpMax.*axis.member) {
            range->jpMax.*axis.member = v;
        }
        range->jpCenter.*axis.member = v;
    }
}

void ResetCalibration(JOYRANGE* range) {
    for (const AxisView& axis : kAxes) {
        range->jpMin.*axis.member = kResetMin;
        range->jpMax.*axis.member = kResetMax;
        range->jpCenter.*axis.member = kResetCentre;
    }
}

AxisLabel AxisLabelFor(LONG raw) {
    AxisLabel label{};
    std::snprintf(label.text, sizeof label.text, "%d", static_cast<int>(raw / 256));
    return label;
}

INT_PTR CalibrationInit(const DeviceServices& services, HWND frame, CalibrationPageState* state) {
    IDIGameCntrlPropSheet* sheet = state->sheet;
    // Each page reads the configuration afresh; what an earlier page read does not count.
    state->configRead = false;
    if (sheet == nullptr || FAILED(OpenDevice(services, frame, sheet))) {
        return TRUE;
    }
    IDirectInputJoyConfig* joyConfig = nullptr;
    sheet->GetJoyConfig(&joyConfig);
    if (joyConfig == nullptr) {
        return FALSE;
    }
    joyConfig->Acquire();
    state->pageConfig.dwSize = sizeof(DIJOYCONFIG);
    // A failure leaves pageConfig as GetConfig left it; the page still follows the wheel but will
    // not store. The joy-config object is given back either way, so nothing stays acquired for
    // the page's life.
    state->configRead =
        joyConfig->GetConfig(sheet->GetID(), &state->pageConfig, DIJC_REGHWCONFIGTYPE) == DI_OK;
    joyConfig->Unacquire();
    return FALSE;
}

HRESULT CalibrationTick(const DeviceServices& services, const CalibrationView& view, HWND page,
                        CalibrationPageState* state) {
    DIJOYSTATE reading = {};
    switch (PollDevice(services, page, IDC_CALIBRATION_STATUS, &state->status, state->sheet,
                       &reading)) {
        case PollOutcome::BadSheet:
            return E_POINTER;
        case PollOutcome::StateRead:
            break;
        default:
            return S_OK;
    }
    const DIJOYSTATE& last = state->lastState;
    if (view.setXY != nullptr) {
        if (AxesXYChanged(last, reading)) {
            view.setXY(page, IDC_AXES_XY, reading.lX, reading.lY);
        }
        if (AxesZRzChanged(last, reading)) {
            view.setXY(page, IDC_AXES_ZRZ, reading.lZ, reading.lRz);
        }
    }
    {
        DeviceLockHold lock(services);
        TrackCalibration(&state->pageConfig.hwc.hwv.jrvHardware, reading);
    }
    if (view.setLabel != nullptr) {
        for (const AxisView& axis : kAxes) {
            view.setLabel(page, axis.label, AxisLabelFor(reading.*axis.field).text);
        }
    }
    state->lastState = reading;
    return S_OK;
}

int StoreCalibration(const DIJOYCONFIG& config, IDIGameCntrlPropSheet* sheet,
                     const CalibrationWriter& write) {
    if (sheet == nullptr) {
        return 0;
    }
    IDirectInputDevice2A* device = nullptr;
    sheet->GetDevice(&device);
    // Without a device there is nothing to acquire: the same as a wheel that cannot be acquired.
    if (device == nullptr) {
        return 0;
    }
    const HRESULT acquired = device->Acquire();
    if (acquired != DI_OK && acquired != S_FALSE) {
        return 0;
    }
    IDirectInputJoyConfig* joyConfig = nullptr;
    sheet->GetJoyConfig(&joyConfig);
    if (joyConfig == nullptr) {
        return 1;
    }
    DIJOYCONFIG instance = {};
    instance.dwSize = sizeof instance;
    if (joyConfig->GetConfig(sheet->GetID(), &instance, DIJC_GUIDINSTANCE) != DI_OK) {
        return 1;
    }
    if (write) {
        write(config, kCalibrateAxes, instance.guidInstance, sheet->GetID());
    }
    return 1;
}

int SetCalibration(const DeviceServices& services, HWND frame, CalibrationPageState* state,
                   const CalibrationWriter& write) {
    if (!state->configRead) {
        return 0;
    }
    const int reopen = StoreCalibration(state->pageConfig, state->sheet, write);
    if (reopen != 0) {
        ReopenDevice(services, frame, state->sheet);
    }
    return reopen;
}

int DefaultCalibration(const DeviceServices& services, HWND frame, CalibrationPageState* state,
                       const CalibrationWriter& write) {
    ResetCalibration(&state->pageConfig.hwc.hwv.jrvHardware);
    return SetCalibration(services, frame, state, write);
}

}  // namespace velquin
