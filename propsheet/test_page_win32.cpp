// Dialog procedure of the "Test Page" (template 107): the wheel's buttons, axes and hat, live.
#include "common/platform.h"

// After windows.h.
#include <prsht.h>

#include "propsheet/controls_win32.h"
#include "propsheet/pages.h"
#include "propsheet/pages_win32.h"
#include "propsheet/resource.h"

namespace velquin {

namespace {

constexpr UINT_PTR kTestTimer = 1;
constexpr UINT kTickMs = 10;

// One Test page exists at a time. The remembered reading outlives the page, so a page made
// again redraws only what changed since the last one.
IDIGameCntrlPropSheet* testSheet = nullptr;
DeviceStatus testStatus = StatusNone;
DIJOYSTATE testRemembered = {};

}  // namespace

HRESULT TestPageTick(HWND page, IDIGameCntrlPropSheet* sheet) {
    DIJOYSTATE reading = {};
    switch (PollDevice(PageDeviceServices(), page, IDC_TEST_STATUS, &testStatus, sheet, &reading)) {
        case PollOutcome::BadSheet:
            return E_POINTER;
        case PollOutcome::StateRead:
            break;
        default:
            return S_OK;
    }
    const TestTickPlan plan = PlanTestTick(testRemembered, reading);
    for (int i = 0; i < kShownButtons; ++i) {
        if (plan.lamp[i]) {
            SetLampColor(page, IDC_LAMP_FIRST + i, LampColour(reading.rgbButtons[i]));
        }
    }
    if (plan.axesXY) {
        SetXYValue(page, IDC_AXES_XY, reading.lX, reading.lY);
    }
    if (plan.axesZRz) {
        SetXYValue(page, IDC_AXES_ZRZ, reading.lZ, reading.lRz);
    }
    if (plan.pov) {
        SetPovValue(page, IDC_POV, reading.rgdwPOV[0], kPovLength, kPovLength);
    }
    testRemembered = reading;
    return S_OK;
}

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            testSheet = TakeSheet(page, lParam);
            if (FAILED(OpenDevice(PageDeviceServices(), GetParent(page), testSheet))) {
                return TRUE;
            }
            for (int i = 0; i < kShownButtons; ++i) {
                SetLampColor(page, IDC_LAMP_FIRST + i, kLampReleased);
            }
            return FALSE;
        }
        case WM_NOTIFY:
            switch (NotifyCode(lParam)) {
                case PSN_SETACTIVE:
                    SetTimer(page, kTestTimer, kTickMs, nullptr);
                    break;
                case PSN_KILLACTIVE:
                    KillTimer(page, kTestTimer);
                    break;
                default:
                    break;
            }
            return TRUE;
        case WM_TIMER:
            TestPageTick(page, testSheet);
            return FALSE;
        case WM_DESTROY:
            KillTimer(page, kTestTimer);
            testStatus = StatusNone;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace velquin
