// The scripted wheel cpl-host hands the property sheet: a JSON file of frames, each saying what
// changes at a moment.
//
//   {"frames": [{"at_ms": 0, "x": 32768, "y": 32768, "z": 32768, "rz": 32768, "pov": -1,
//                "buttons": [1], "connected": true}, ...]}
//
// at_ms is required and never decreases from one frame to the next. x, y, z and rz are 0..65535;
// pov is -1 (centred) or 0..35999 hundredths of a degree; buttons lists the pressed buttons,
// 1..32; connected false unplugs the wheel. Three more switches make the wheel misbehave for
// tests: create_effect_fails, get_config_fails and acquire_already (Acquire answers S_FALSE).
// get_config_fails true fails every GetConfig while it holds; a number N instead fails the next
// N GetConfig calls from that frame on (1: the first read the sheet makes, and no other).
// An optional top-level "calibration": {"min": [x, y, z, r], "center": [...], "max": [...]}
// (0..255 each) is what DirectInput holds for the wheel before the sheet stores anything.
// A field a frame does not give keeps its value from the frames before; before the first frame
// the wheel is centred, with no button pressed, plugged in and well-behaved.
#pragma once

#include <string>
#include <vector>

#include "common/dinput_shapes.h"
#include "hosted/wheel_timeline.h"

namespace cplhost {

// On failure `error` says where ("frames[2].x: ...") and `frames` is unspecified.
// *storedRange is set only when the script gives a calibration.
bool ParseWheelScript(const std::string& text, std::vector<hosted::WheelFrame>* frames,
                      std::string* error, JOYRANGE* storedRange = nullptr);

}  // namespace cplhost
