// The calibration the probe stores and the test reads back: one range per axis, distinct so a
// value in the wrong axis key shows, and the wheel's instance GUID.
#pragma once

#include "common/dinput_shapes.h"

namespace calibration_probe {

inline constexpr GUID kWheelInstance = {
    0x5C0FFEE5, 0x2D71, 0x5A08, {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18}};

inline DIJOYCONFIG Config() {
    DIJOYCONFIG config = {};
    config.dwSize = sizeof config;
    config.guidInstance = kWheelInstance;
    config.hwc.hws.dwFlags = 0x00000010;
    config.hwc.hws.dwNumButtons = 12;
    config.hwc.dwUsageSettings = 0x00000003;
    JOYRANGE& range = config.hwc.hwv.jrvHardware;
    range.jpMin = {3, 5, 0, 10, 0, 0};
    range.jpCenter = {120, 128, 127, 130, 0, 0};
    range.jpMax = {250, 251, 255, 245, 0, 0};
    config.hwc.hwv.dwPOVValues[0] = 0;
    config.hwc.hwv.dwPOVValues[1] = 9000;
    config.hwc.hwv.dwPOVValues[2] = 18000;
    config.hwc.hwv.dwPOVValues[3] = 27000;
    config.hwc.hwv.dwCalFlags = 0x00000001;
    config.hwc.dwType = 0x00000008;
    return config;
}

}  // namespace calibration_probe
