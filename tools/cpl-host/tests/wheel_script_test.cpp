// The wheel script cpl-host reads: what each field becomes, what carries over from frame to
// frame, and the scripts it refuses, with the place it names.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "hosted/virtual_dinput.h"
#include "hosted/wheel_timeline.h"
#include "tools/cpl-host/wheel_script.h"

namespace cplhost {
namespace {

hosted::WheelTimeline Parse(const std::string& text) {
    std::vector<hosted::WheelFrame> frames;
    std::string error;
    EXPECT_TRUE(ParseWheelScript(text, &frames, &error)) << error;
    return hosted::WheelTimeline(frames);
}

TEST(WheelScript, FieldsBecomeTheWheelsState) {
    const hosted::WheelTimeline timeline = Parse(R"({"frames": [
        {"at_ms": 0, "x": 0, "y": 65535, "z": 1, "rz": 2, "pov": 9000, "buttons": [1, 12, 32]},
        {"at_ms": 100, "pov": -1, "buttons": [], "connected": false},
        {"at_ms": 200, "connected": true, "create_effect_fails": true, "get_config_fails": true,
         "acquire_already": true}]})");
    const hosted::WheelState first = timeline.At(0);
    EXPECT_EQ(first.x, 0);
    EXPECT_EQ(first.y, 65535);
    EXPECT_EQ(first.z, 1);
    EXPECT_EQ(first.rz, 2);
    EXPECT_EQ(first.pov, 9000u);
    EXPECT_EQ(first.buttons, 0x80000801u);
    EXPECT_TRUE(first.connected);
    EXPECT_FALSE(first.createEffectFails);

    const hosted::WheelState second = timeline.At(150);
    EXPECT_EQ(second.pov, 0xFFFFFFFFu) << "-1 is a centred hat";
    EXPECT_EQ(second.buttons, 0u);
    EXPECT_FALSE(second.connected);
    EXPECT_EQ(second.x, 0) << "fields not given keep their value";
    EXPECT_EQ(second.y, 65535);

    const hosted::WheelState third = timeline.At(200);
    EXPECT_TRUE(third.connected);
    EXPECT_TRUE(third.createEffectFails);
    EXPECT_TRUE(third.getConfigFails);
    EXPECT_TRUE(third.acquireAlready);
}

TEST(WheelScript, GetConfigFailsAlsoCountsReads) {
    std::vector<hosted::WheelFrame> frames;
    std::string error;
    ASSERT_TRUE(ParseWheelScript(R"({"frames": [{"at_ms": 0, "get_config_fails": 1},
        {"at_ms": 10, "get_config_fails": false}]})",
                                 &frames, &error))
        << error;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].getConfigFailures, 1u);
    EXPECT_EQ(frames[0].getConfigFails, std::nullopt) << "a count is not the switch";
    EXPECT_EQ(frames[1].getConfigFailures, std::nullopt);
    EXPECT_EQ(frames[1].getConfigFails, false);
}

TEST(WheelScript, CalibrationIsWhatDirectInputHoldsPerAxis) {
    std::vector<hosted::WheelFrame> frames;
    std::string error;
    JOYRANGE range = hosted::UniformRange(1, 2, 3);
    ASSERT_TRUE(ParseWheelScript(R"({"frames": [], "calibration": {"min": [10, 11, 12, 13],
        "center": [100, 101, 102, 103], "max": [200, 201, 202, 255]}})",
                                 &frames, &error, &range))
        << error;
    EXPECT_EQ(range.jpMin.dwX, 10u);
    EXPECT_EQ(range.jpMin.dwR, 13u);
    EXPECT_EQ(range.jpCenter.dwY, 101u);
    EXPECT_EQ(range.jpCenter.dwZ, 102u);
    EXPECT_EQ(range.jpMax.dwX, 200u);
    EXPECT_EQ(range.jpMax.dwR, 255u);
    EXPECT_EQ(range.jpMin.dwU, 0u);
    // Without one, the range handed in stays.
    range = hosted::UniformRange(1, 2, 3);
    ASSERT_TRUE(ParseWheelScript(R"({"frames": []})", &frames, &error, &range));
    EXPECT_EQ(range.jpMax.dwZ, 3u);
}

TEST(WheelScript, EmptyScriptIsACentredIdleWheel) {
    const hosted::WheelTimeline timeline = Parse(R"({"frames": []})");
    EXPECT_EQ(timeline.At(12345), hosted::WheelState{});
}

TEST(WheelScript, RefusedScriptsNameThePlace) {
    struct Row {
        const char* script;
        const char* error;
    };
    const Row rows[] = {
        {"[", "not JSON"},
        {"[]", "the script: must be an object"},
        {"{}", "frames: must be an array"},
        {R"({"frames": [], "speed": 2})", "speed: unknown field"},
        {R"({"frames": [{"x": 1}]})", "frames[0].at_ms: is required"},
        {R"({"frames": [{"at_ms": -1}]})", "frames[0].at_ms: must be in 0..4294967295"},
        {R"({"frames": [{"at_ms": 5}, {"at_ms": 4}]})",
         "frames[1].at_ms: goes back in time (5 before it)"},
        {R"({"frames": [{"at_ms": 0, "x": 65536}]})", "frames[0].x: must be in 0..65535"},
        {R"({"frames": [{"at_ms": 0, "rz": 1.5}]})", "frames[0].rz: must be a whole number"},
        {R"({"frames": [{"at_ms": 0, "pov": 36000}]})", "frames[0].pov: must be in -1..35999"},
        {R"({"frames": [{"at_ms": 0, "buttons": 1}]})",
         "frames[0].buttons: must be an array of button numbers"},
        {R"({"frames": [{"at_ms": 0, "buttons": [0]}]})", "frames[0].buttons: must be in 1..32"},
        {R"({"frames": [{"at_ms": 0, "buttons": [33]}]})", "frames[0].buttons: must be in 1..32"},
        {R"({"frames": [{"at_ms": 0, "connected": 1}]})",
         "frames[0].connected: must be true or false"},
        {R"({"frames": [{"at_ms": 0, "Connected": true}]})", "frames[0].Connected: unknown field"},
        {R"({"frames": [{"at_ms": 0, "get_config_fails": -1}]})",
         "frames[0].get_config_fails: must be in 0..4294967295"},
        {R"({"frames": [{"at_ms": 0, "get_config_fails": "once"}]})",
         "frames[0].get_config_fails: must be true, false or a count of reads"},
        {R"({"frames": [7]})", "frames[0]: must be an object"},
        {R"({"frames": [], "calibration": 1})", "calibration: must be an object"},
        {R"({"frames": [], "calibration": {"min": [0, 0, 0, 0], "max": [9, 9, 9, 9]}})",
         "calibration.center: is required"},
        {R"({"frames": [], "calibration": {"min": [0, 0, 0], "center": [1, 1, 1, 1],
             "max": [9, 9, 9, 9]}})",
         "calibration.min: must be four numbers: X, Y, Z, R"},
        {R"({"frames": [], "calibration": {"min": [0, 0, 0, 0], "center": [1, 1, 1, 256],
             "max": [9, 9, 9, 9]}})",
         "calibration.center: must be in 0..255"},
        {R"({"frames": [], "calibration": {"min": [0, 0, 0, 0], "center": [1, 1, 1, 1],
             "max": [9, 9, 9, 9], "gain": 1}})",
         "calibration.gain: unknown field"},
    };
    for (const Row& row : rows) {
        std::vector<hosted::WheelFrame> frames;
        std::string error;
        EXPECT_FALSE(ParseWheelScript(row.script, &frames, &error)) << row.script;
        EXPECT_EQ(error, row.error) << row.script;
    }
}

// The demo the main job runs must stay a valid script that moves everything it shows.
TEST(WheelScript, DemoScriptMovesButtonsAxesAndHat) {
    std::ifstream file(CPL_HOST_DEMO_WHEEL);
    ASSERT_TRUE(file.good()) << CPL_HOST_DEMO_WHEEL;
    std::stringstream text;
    text << file.rdbuf();
    std::vector<hosted::WheelFrame> frames;
    std::string error;
    ASSERT_TRUE(ParseWheelScript(text.str(), &frames, &error)) << error;
    bool button = false, axes = false, hat = false;
    for (const hosted::WheelFrame& frame : frames) {
        button = button || (frame.buttons.has_value() && *frame.buttons != 0);
        axes = axes || frame.x.has_value() || frame.z.has_value();
        hat = hat || (frame.pov.has_value() && *frame.pov != hosted::kPovCentred);
    }
    EXPECT_TRUE(button);
    EXPECT_TRUE(axes);
    EXPECT_TRUE(hat);
}

}  // namespace
}  // namespace cplhost
