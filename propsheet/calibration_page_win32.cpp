// Dialog procedure of the "Calibration" page (template 109): the wheel's axes live, with the
// range and centre of each followed and stored by "Default" and "Set".
#include "common/platform.h"

// After windows.h.
#include <prsht.h>

#include "propsheet/calibration.h"
#include "propsheet/calibration_page.h"
#include "propsheet/controls_win32.h"
#include "propsheet/pages_win32.h"
#include "propsheet/resource.h"

namespace velquin {

namespace {

constexpr UINT_PTR kCalibrationTimer = 2;
constexpr UINT kTickMs = 10;

// One Calibration page exists at a time; its configuration and last reading outlive it.
CalibrationPageState calibration;

void SetLabel(HWND page, int control, const char* text) {
    SetDlgItemTextA(page, control, text);
}

const CalibrationView& PageView() {
    static const CalibrationView view{SetXYValue, SetLabel};
    return view;
}

void WriteRunningSystem(const DIJOYCONFIG& config, DWORD flags, const GUID& guidInstance,
                        uint16_t joystickId) {
    WriteCalibration(config, flags, guidInstance, joystickId);
}

}  // namespace

INT_PTR CALLBACK CalibrationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            calibration.sheet = TakeSheet(page, lParam);
            return CalibrationInit(PageDeviceServices(), GetParent(page), &calibration);
        case WM_NOTIFY:
            switch (NotifyCode(lParam)) {
                case PSN_SETACTIVE:
                    SetTimer(page, kCalibrationTimer, kTickMs, nullptr);
                    break;
                case PSN_KILLACTIVE:
                    KillTimer(page, kCalibrationTimer);
                    break;
                default:
                    break;
            }
            return TRUE;
        case WM_TIMER:
            CalibrationTick(PageDeviceServices(), PageView(), page, &calibration);
            return FALSE;
        case WM_COMMAND:
            if (HIWORD(wParam) != 0) {
                return FALSE;
            }
            if (LOWORD(wParam) == IDC_DEFAULT) {
                DefaultCalibration(PageDeviceServices(), GetParent(page), &calibration,
                                   WriteRunningSystem);
            } else if (LOWORD(wParam) == IDC_SET) {
                SetCalibration(PageDeviceServices(), GetParent(page), &calibration,
                               WriteRunningSystem);
            }
            return FALSE;
        case WM_DESTROY:
            KillTimer(page, kCalibrationTimer);
            calibration.status = StatusNone;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace velquin
