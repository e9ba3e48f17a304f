#include "pages.h"

#include <cmath>
#include <cstdlib>

#include "common/wheel_ids.h"

namespace velquin {

bool TestTickPlan::Any() const {
    for (bool changed : lamp) {
        if (changed) {
            return true;
        }
    }
    return axesXY || axesZRz || pov;
}

TestTickPlan PlanTestTick(const DIJOYSTATE& remembered, const DIJOYSTATE& reading) {
    TestTickPlan plan;
    for (int i = 0; i < kShownButtons; ++i) {
        plan.lamp[i] = reading.rgbButtons[i] != remembered.rgbButtons[i];
    }
    plan.axesXY = AxesXYChanged(remembered, reading);
    plan.axesZRz = AxesZRzChanged(remembered, reading);
    plan.pov = reading.rgdwPOV[0] != remembered.rgdwPOV[0];
    return plan;
}

namespace {

LONG ScaleAxis(LONG value) {
    return static_cast<LONG>((static_cast<double>(value) - 32768.0) * (1.0 / 32768.0) * 10000.0);
}

}  // namespace

RumbleVector RumbleFromAxes(LONG lX, LONG lY) {
    RumbleVector v{};
    v.x = ScaleAxis(lX);
    v.y = ScaleAxis(lY);
    v.direction[0] = std::labs(v.x);
    v.direction[1] = std::labs(v.y);
    const double x = v.x;
    const double y = v.y;
    v.magnitude = static_cast<LONG>(std::sqrt(x * x + y * y));
    return v;
}

void MakeRumbleEffect(RumbleParams* params) {
    params->axes[0] = 0;  // X, as an offset into DIJOYSTATE
    params->axes[1] = 4;  // Y
    params->direction[0] = 0;
    params->direction[1] = 0;
    params->force.lMagnitude = 0;
    DIEFFECT& e = params->effect;
    e = {};
    e.dwSize = sizeof(DIEFFECT);
    e.dwFlags = kRumbleEffectFlags;
    e.dwDuration = INFINITE;
    e.dwSamplePeriod = 0;
    e.dwGain = 10000;
    e.dwTriggerButton = DIEB_NOTRIGGER;
    e.dwTriggerRepeatInterval = 0;
    e.cAxes = 2;
    e.rgdwAxes = params->axes;
    e.rglDirection = params->direction;
    e.lpEnvelope = nullptr;
    e.cbTypeSpecificParams = sizeof(DICONSTANTFORCE);
    e.lpvTypeSpecificParams = &params->force;
    e.dwStartDelay = 0;
}

void MakeRumbleUpdate(const RumbleVector& vector, RumbleParams* params) {
    params->direction[0] = vector.direction[0];
    params->direction[1] = vector.direction[1];
    params->force.lMagnitude = vector.magnitude;
    // The members the flags do not name are left zero rather than undefined.
    DIEFFECT& e = params->effect;
    e = {};
    e.dwSize = sizeof(DIEFFECT);
    e.dwFlags = kRumbleEffectFlags;
    e.cAxes = 2;
    e.rglDirection = params->direction;
    e.lpEnvelope = nullptr;
    e.cbTypeSpecificParams = sizeof(DICONSTANTFORCE);
    e.lpvTypeSpecificParams = &params->force;
}

LONG ReadAmplify(wheel::RegistryApi& registry, wheel::OsClass os, uint32_t* value) {
    HKEY raw = nullptr;
    const LONG opened = registry.OpenKey(wheel::AmplifyRoot(os), wheel::OemKeyText().c_str(), &raw);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    wheel::RegKey key(registry, raw);
    return wheel::ReadRegistryValue(registry, key.get(), "Amplify", value);
}

LONG WriteAmplify(wheel::RegistryApi& registry, wheel::OsClass os, uint32_t value, LONG* written) {
    const HKEY root = wheel::AmplifyRoot(os);
    HKEY raw = nullptr;
    LONG opened = registry.OpenKey(root, wheel::OemKeyText().c_str(), &raw);
    // The installer writes the machine's key only; on Windows that keeps the setting per user
    // nothing else makes the user's key, and without it every Apply would be lost.
    if (opened == ERROR_FILE_NOT_FOUND && root == HKEY_CURRENT_USER) {
        opened = registry.CreateKey(root, wheel::OemKeyText().c_str(), &raw);
    }
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    wheel::RegKey key(registry, raw);
    // REG_DWORD is little-endian, as the value is held here on every target.
    const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                          static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    const LONG result = registry.SetValue(key.get(), "Amplify", REG_DWORD, data, sizeof data);
    if (written != nullptr) {
        *written = result;
    }
    return ERROR_SUCCESS;
}

int IntensityFor(LONG readResult, uint32_t value) {
    if (readResult != ERROR_SUCCESS) {
        return kIntensityDefault;
    }
    return value > static_cast<uint32_t>(kIntensityMax) ? kIntensityMax : static_cast<int>(value);
}

}  // namespace velquin
