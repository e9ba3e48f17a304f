// The four indicator window classes of the pages: LampControl, AxesControl, PovControl and
// RumbleControl. Each keeps one 32-bit value in its GWLP_USERDATA slot and paints itself from
// it; pages change the value only through the setters below.
#pragma once

#include "common/platform.h"

namespace velquin {

inline constexpr char kLampControlClass[] = "LampControl";
inline constexpr char kAxesControlClass[] = "AxesControl";
inline constexpr char kPovControlClass[] = "PovControl";
inline constexpr char kRumbleControlClass[] = "RumbleControl";

// Colours of the controls, 0x00BBGGRR.
inline constexpr COLORREF kFrameGrey = 0x9D9DA1;
inline constexpr COLORREF kWhite = 0xFFFFFF;
inline constexpr COLORREF kBlack = 0x000000;
inline constexpr COLORREF kFrameLight = 0xE2EFF1;
inline constexpr COLORREF kRed = 0x0000FF;
inline constexpr COLORREF kLampText = 0xC8C8C8;

// Initial values set at WM_CREATE.
inline constexpr DWORD kAxesCentre = 0x80008000;
inline constexpr DWORD kPovInitial = 0x0064FFFF;

// Each returns TRUE when RegisterClassA succeeded.
BOOL RegisterLampControl(HINSTANCE instance);
BOOL RegisterAxesControl(HINSTANCE instance);
BOOL RegisterPovControl(HINSTANCE instance);
BOOL RegisterRumbleControl(HINSTANCE instance);
// All four, in that order; failures (a class registered already) are ignored.
void RegisterControls(HINSTANCE instance);

// Setters, by the control's identifier in a dialog.
void SetLampColor(HWND dialog, int controlId, COLORREF colour);
// The horizontal quantity as the high value, the vertical one as the low value.
void SetXYValue(HWND dialog, int controlId, int high, int low);
// Angle in hundredths of a degree (low 16 bits used; 36000 or more: centred); the lengths are
// percentages of the radius.
void SetPovValue(HWND dialog, int controlId, DWORD angle, int eastWest, int northSouth);

}  // namespace velquin
