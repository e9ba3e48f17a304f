// The dialog procedures of the three pages, handed to the control panel in the page records.
#pragma once

#include "common/platform.h"

namespace velquin {

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CalibrationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EffectPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// What every page does before its device work exists: it keeps the sheet from its page record
// in DWLP_USER, reports no device opened at WM_INITDIALOG (TRUE), answers every notification
// (TRUE, so the sheet reads the zero result: page change allowed) and handles nothing else.
INT_PTR InertPageProc(HWND page, UINT message, LPARAM lParam);

}  // namespace velquin
