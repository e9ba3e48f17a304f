// Dialog procedure of the "Effect Page" (template 108): the wheel's X/Y position drives a
// constant-force effect and the pad's dot; the slider and "Apply" store the rumble intensity.
#include "common/platform.h"

// After windows.h.
#include <commctrl.h>
#include <prsht.h>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "propsheet/controls_win32.h"
#include "propsheet/pages.h"
#include "propsheet/pages_win32.h"
#include "propsheet/resource.h"

namespace velquin {

namespace {

constexpr UINT_PTR kEffectTimer = 3;
constexpr UINT kTickMs = 10;

// One Effect page exists at a time. The last X and Y outlive the page.
IDIGameCntrlPropSheet* effectSheet = nullptr;
IDirectInputDevice2A* effectDevice = nullptr;  // the sheet's; not owned
IDirectInputEffect* rumbleEffect = nullptr;    // owned
DeviceStatus effectStatus = StatusNone;
LONG lastX = 0;
LONG lastY = 0;

IDirectInputDevice2A* SheetDevice() {
    IDirectInputDevice2A* device = nullptr;
    if (effectSheet != nullptr) {
        effectSheet->GetDevice(&device);
    }
    return device;
}

void Deactivate(HWND page) {
    // The sheet's device of now: the Calibration page may have replaced the one fetched at
    // activation, and the old one may be gone.
    effectDevice = SheetDevice();
    if (effectDevice != nullptr) {
        effectDevice->Unacquire();
    }
    KillTimer(page, kEffectTimer);
    ReleaseRumbleEffect();
}

void ShowIntensity(HWND page) {
    wheel::Win32Registry registry;
    uint32_t value = 0;
    const LONG read = ReadAmplify(registry, wheel::GetOsClass(), &value);
    SendDlgItemMessageA(page, IDC_INTENSITY, TBM_SETPOS, TRUE, IntensityFor(read, value));
}

void ApplyIntensity(HWND page) {
    const auto position =
        static_cast<uint32_t>(SendDlgItemMessageA(page, IDC_INTENSITY, TBM_GETPOS, 0, 0));
    wheel::Win32Registry registry;
    if (WriteAmplify(registry, wheel::GetOsClass(), position) != ERROR_SUCCESS) {
        return;
    }
    // The driver reads Amplify when an effect starts: a restart makes the new value heard now.
    if (rumbleEffect != nullptr) {
        rumbleEffect->Start(1, 0);
    }
}

}  // namespace

void CreateRumbleEffect(HWND page, IDirectInputDevice2A* device) {
    if (device == nullptr) {
        return;
    }
    // An activation without a deactivation in between must not lose the old effect.
    ReleaseRumbleEffect();
    RumbleParams params;
    MakeRumbleEffect(&params);
    IDirectInputEffect* created = nullptr;
    if (FAILED(device->CreateEffect(GUID_ConstantForce, &params.effect, &created, nullptr)) ||
        created == nullptr) {
        // The page stands still until it is activated again.
        KillTimer(page, kEffectTimer);
        return;
    }
    rumbleEffect = created;
    rumbleEffect->Start(1, 0);
}

void ReleaseRumbleEffect() {
    if (rumbleEffect != nullptr) {
        IDirectInputEffect* effect = rumbleEffect;
        rumbleEffect = nullptr;
        effect->Release();
    }
}

HRESULT EffectPageTick(IDIGameCntrlPropSheet* sheet, HWND page) {
    DIJOYSTATE state = {};
    switch (
        PollDevice(PageDeviceServices(), page, IDC_EFFECT_STATUS, &effectStatus, sheet, &state)) {
        case PollOutcome::BadSheet:
            return E_POINTER;
        case PollOutcome::StateRead:
            break;
        default:
            return S_OK;
    }
    const RumbleVector vector = RumbleFromAxes(state.lX, state.lY);
    if (rumbleEffect != nullptr) {
        RumbleParams params;
        MakeRumbleUpdate(vector, &params);
        rumbleEffect->SetParameters(&params.effect, kRumbleUpdateFlags);
    }
    if (vector.x != lastX || vector.y != lastY) {
        SetXYValue(page, IDC_RUMBLE_PAD, vector.x, vector.y);
        lastX = vector.x;
        lastY = vector.y;
    }
    return S_OK;
}

INT_PTR CALLBACK EffectPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            effectSheet = TakeSheet(page, lParam);
            // The range comes first, wheel or not: a trackbar left at its own 0..100 would show
            // the stored intensity clamped, and "Apply" would store that.
            SendDlgItemMessageA(page, IDC_INTENSITY, TBM_SETRANGE, TRUE,
                                MAKELPARAM(kIntensityMin, kIntensityMax));
            if (FAILED(OpenDevice(PageDeviceServices(), GetParent(page), effectSheet))) {
                return TRUE;
            }
            effectDevice = SheetDevice();
            return FALSE;
        }
        case WM_NOTIFY:
            switch (NotifyCode(lParam)) {
                case PSN_SETACTIVE:
                    effectDevice = SheetDevice();
                    SetTimer(page, kEffectTimer, kTickMs, nullptr);
                    CreateRumbleEffect(page, effectDevice);
                    ShowIntensity(page);
                    break;
                case PSN_KILLACTIVE:
                    Deactivate(page);
                    break;
                default:
                    break;
            }
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) == 0 && LOWORD(wParam) == IDC_APPLY) {
                ApplyIntensity(page);
            }
            return FALSE;
        case WM_TIMER:
            EffectPageTick(effectSheet, page);
            return FALSE;
        case WM_DESTROY:
            Deactivate(page);
            effectStatus = StatusNone;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace velquin
