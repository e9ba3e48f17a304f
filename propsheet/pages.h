// What the Test and Effect pages decide, apart from the window calls that carry it out: which
// indicators a reading changes, the rumble effect for an X/Y position, and where Amplify lives
// and what the intensity slider shows for it.
#pragma once

#include <cstdint>

#include "common/dinput_shapes.h"
#include "common/os_class.h"
#include "common/registry.h"

namespace velquin {

// Test page.

inline constexpr int kShownButtons = 12;
// Lamp colours, 0x00BBGGRR.
inline constexpr DWORD kLampPressed = 0x0000FF;
inline constexpr DWORD kLampReleased = 0x000080;
// Both arrow lengths of the hat, in percent of its radius.
inline constexpr int kPovLength = 100;

inline DWORD LampColour(BYTE button) {
    return button != 0 ? kLampPressed : kLampReleased;
}

// Whether an axes box's pair of axes moved between two readings (Test and Calibration pages).
inline bool AxesXYChanged(const DIJOYSTATE& before, const DIJOYSTATE& now) {
    return now.lX != before.lX || now.lY != before.lY;
}
inline bool AxesZRzChanged(const DIJOYSTATE& before, const DIJOYSTATE& now) {
    return now.lZ != before.lZ || now.lRz != before.lRz;
}

// The indicators whose source differs between the remembered reading and a new one. Buttons 13
// to 32 are never shown.
struct TestTickPlan {
    bool lamp[kShownButtons] = {};
    bool axesXY = false;
    bool axesZRz = false;
    bool pov = false;

    bool Any() const;
};
TestTickPlan PlanTestTick(const DIJOYSTATE& remembered, const DIJOYSTATE& reading);

// Effect page.

inline constexpr int kIntensityMin = 0;
inline constexpr int kIntensityMax = 1500;
// Unchanged strength: what the slider shows when Amplify cannot be read.
inline constexpr int kIntensityDefault = 1000;
// Direction, magnitude, and a restart on every tick.
inline constexpr DWORD kRumbleUpdateFlags = DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS | DIEP_START;
inline constexpr DWORD kRumbleEffectFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;

// The wheel's X/Y position as the pad and the effect see it.
struct RumbleVector {
    LONG x;  // -10000..9999, left to right
    LONG y;  // -10000..9999, top to bottom
    LONG direction[2];
    LONG magnitude;  // 0..14142
};
// lX and lY in 0..65535, centred at 32768. The direction is always in the first quadrant: the
// motors have no sense of left and right.
RumbleVector RumbleFromAxes(LONG lX, LONG lY);

// A DIEFFECT and the blocks it points at, filled in place (it points into itself, so it is
// neither copied nor moved).
struct RumbleParams {
    DWORD axes[2] = {};
    LONG direction[2] = {};
    DICONSTANTFORCE force = {};
    DIEFFECT effect = {};

    RumbleParams() = default;
    RumbleParams(const RumbleParams&) = delete;
    RumbleParams& operator=(const RumbleParams&) = delete;
};
// The effect as the page creates it: one endless constant force on X and Y, centred, silent.
void MakeRumbleEffect(RumbleParams* params);
// What every tick sends with kRumbleUpdateFlags: the direction and the magnitude.
void MakeRumbleUpdate(const RumbleVector& vector, RumbleParams* params);

// Amplify, under the hive GetOsClass chooses, in the OEM key. Reads as the driver does (up to
// four bytes, little-endian); returns the Win32 error.
LONG ReadAmplify(wheel::RegistryApi& registry, wheel::OsClass os, uint32_t* value);
// Stores the value as REG_DWORD. The machine's key is never created (the installer makes it);
// the user's key is created when missing. Returns the result of opening the key: ERROR_SUCCESS
// means the value was written (its own result in *written when asked for).
LONG WriteAmplify(wheel::RegistryApi& registry, wheel::OsClass os, uint32_t value,
                  LONG* written = nullptr);
// The slider position for what ReadAmplify gave: the value within the slider's range, or unchanged
// strength when nothing could be read.
int IntensityFor(LONG readResult, uint32_t value);

}  // namespace velquin
