// The dialog procedures of the three pages, handed to the control panel in the page records,
// and what the pages share on the Windows side.
#pragma once

#include "common/platform.h"
#include "propsheet/device.h"

namespace velquin {

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CalibrationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EffectPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// DirectInputCreateA, deviceLock and SetDlgItemTextA for the device code.
const DeviceServices& PageDeviceServices();

// The sheet a page's WM_INITDIALOG brings in its PROPSHEETPAGE, also kept in DWLP_USER.
IDIGameCntrlPropSheet* TakeSheet(HWND page, LPARAM initParam);

// The code of a WM_NOTIFY, 0 when there is no header.
UINT NotifyCode(LPARAM lParam);

// Test page.
HRESULT TestPageTick(HWND page, IDIGameCntrlPropSheet* sheet);

// Effect page.
void CreateRumbleEffect(HWND page, IDirectInputDevice2A* device);
HRESULT EffectPageTick(IDIGameCntrlPropSheet* sheet, HWND page);
void ReleaseRumbleEffect();

}  // namespace velquin
