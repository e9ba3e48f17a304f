// The player drives the driver's own code: what the wheel receives for a script, tick by tick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/effect-player/tests/player_test_util.h"

namespace {

using nlohmann::json;
using player_test::ConstantEffect;
using player_test::ExampleScript;
using player_test::Play;
using player_test::Row;
using player_test::RowsAt;

TEST(PlayerOutput, ExampleScriptPlaysMotorAUntilTheStopThenSilence) {
    const auto out = Play(ExampleScript());
    ASSERT_EQ(out.exitCode, effect_player::kExitPlayed) << out.error;
    EXPECT_EQ(out.header, "ms,device,report_id,byte1,byte2,byte3");
    EXPECT_TRUE(out.comments.empty()) << out.text;

    // Ticks at 25..475 carry motor A at full level; StopEffect at 500 sends an all-off report
    // before that time's tick, and every tick after it is silent.
    std::vector<Row> expected;
    for (uint32_t ms = 25; ms <= 475; ms += 25) {
        expected.push_back({ms, 0, 0, 0, 254, 0});
    }
    expected.push_back({500, 0, 0, 0, 0, 0});
    for (uint32_t ms = 500; ms <= 2000; ms += 25) {
        expected.push_back({ms, 0, 0, 0, 0, 0});
    }
    ASSERT_EQ(out.rows.size(), expected.size()) << out.text;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Row& got = out.rows[i];
        const Row& want = expected[i];
        EXPECT_EQ(got.ms, want.ms) << "row " << i;
        EXPECT_EQ(got.device, want.device) << "row " << i;
        EXPECT_EQ(got.reportId, want.reportId) << "row " << i;
        EXPECT_EQ(got.byte1, want.byte1) << "row " << i;
        EXPECT_EQ(got.byte2, want.byte2) << "row " << i;
        EXPECT_EQ(got.byte3, want.byte3) << "row " << i;
    }
}

TEST(PlayerOutput, StepsRunBeforeTheTickOfTheSameTimeAndBetweenTicks) {
    json script = ExampleScript();
    // Without the envelope: an attack time of 0 silences the tick at t = 0.
    script["steps"][1]["effect"].erase("envelope");
    script["steps"][2]["at_ms"] = 50;   // StartEffect
    script["steps"][3]["at_ms"] = 510;  // StopEffect, between two ticks
    script["until_ms"] = 560;
    const auto out = Play(script);
    ASSERT_EQ(out.exitCode, 0) << out.error;
    ASSERT_EQ(RowsAt(out, 25).size(), 1u);
    EXPECT_EQ(RowsAt(out, 25)[0].byte2, 0u);
    // Started at 50: that tick already plays it.
    ASSERT_EQ(RowsAt(out, 50).size(), 1u);
    EXPECT_EQ(RowsAt(out, 50)[0].byte2, 254u);
    ASSERT_EQ(RowsAt(out, 500).size(), 1u);
    EXPECT_EQ(RowsAt(out, 500)[0].byte2, 254u);
    ASSERT_EQ(RowsAt(out, 510).size(), 1u);
    EXPECT_EQ(RowsAt(out, 510)[0].byte2, 0u);
    // The stop row sits between the ticks at 500 and 525, and the last tick is at 550.
    ASSERT_GE(out.rows.size(), 3u);
    EXPECT_EQ(out.rows[out.rows.size() - 3].ms, 510u);
    EXPECT_EQ(out.rows.back().ms, 550u);
    EXPECT_EQ(out.rows.back().byte2, 0u);
}

TEST(PlayerOutput, NoTickWithoutABoundDeviceAndNoneBeforeTheFirstPeriod) {
    json none = ExampleScript();
    none["devices"] = json::array();
    const auto unbound = Play(none);
    ASSERT_EQ(unbound.exitCode, 0) << unbound.error;
    EXPECT_TRUE(unbound.rows.empty()) << unbound.text;
    // The effect calls still reach the driver; StopEffect on an unbound record sends nothing.
    EXPECT_TRUE(unbound.comments.empty()) << unbound.text;

    json shortRun = ExampleScript();
    shortRun["until_ms"] = 24;
    shortRun["steps"][3]["at_ms"] = 10;
    const auto early = Play(shortRun);
    ASSERT_EQ(early.exitCode, 0) << early.error;
    ASSERT_EQ(early.rows.size(), 1u) << early.text;
    EXPECT_EQ(early.rows[0].ms, 10u);
    EXPECT_EQ(early.rows[0].byte2, 0u);
}

TEST(PlayerOutput, EveryBoundDeviceGetsAReportOnEveryTickInIdOrder) {
    json script = {{"devices", {3, 0}}, {"until_ms", 100}};
    script["steps"] = {{{"at_ms", 0},
                        {"call", "DownloadEffect"},
                        {"device", 3},
                        {"type", 0},
                        {"handle", 0},
                        {"flags", 0},
                        {"effect", ConstantEffect(10000, 0, 1)}},
                       {{"at_ms", 0},
                        {"call", "StartEffect"},
                        {"device", 3},
                        {"handle", "last"},
                        {"mode", 0},
                        {"count", 1}}};
    const auto out = Play(script);
    ASSERT_EQ(out.exitCode, 0) << out.error;
    ASSERT_EQ(out.rows.size(), 8u) << out.text;
    for (uint32_t ms = 25; ms <= 100; ms += 25) {
        const auto rows = RowsAt(out, ms);
        ASSERT_EQ(rows.size(), 2u) << ms;
        // The tick visits the records from ID 0 up, whatever order they were bound in.
        EXPECT_EQ(rows[0].device, 0u);
        EXPECT_EQ(rows[0].byte1, 0u);
        EXPECT_EQ(rows[0].byte2, 0u);
        // Direction {0, 1} drives motor B only: on/off in byte 1.
        EXPECT_EQ(rows[1].device, 3u);
        EXPECT_EQ(rows[1].byte1, 1u);
        EXPECT_EQ(rows[1].byte2, 0u);
    }
}

TEST(PlayerHandles, LastIsTheHandleTheLatestDownloadLeftBehind) {
    json script = {{"devices", {0}}, {"until_ms", 200}};
    script["steps"] = {
        // Handles 1 (motor A) and 2 (motor B); "last" starts only the second.
        {{"at_ms", 0},
         {"call", "DownloadEffect"},
         {"device", 0},
         {"type", 0},
         {"handle", 0},
         {"flags", 0},
         {"effect", ConstantEffect(10000, 1, 0)}},
        {{"at_ms", 0},
         {"call", "DownloadEffect"},
         {"device", 0},
         {"type", 0},
         {"handle", 0},
         {"flags", 0},
         {"effect", ConstantEffect(10000, 0, 1)}},
        {{"at_ms", 0},
         {"call", "StartEffect"},
         {"device", 0},
         {"handle", "last"},
         {"mode", 0},
         {"count", 1}},
        {{"at_ms", 10}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", "last"}},
        {{"at_ms", 10}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", 1}},
        // An update through "last" keeps the handle: motor B drops to level 20, below the
        // on/off threshold.
        {{"at_ms", 60},
         {"call", "DownloadEffect"},
         {"device", 0},
         {"type", 0},
         {"handle", "last"},
         {"flags", 0x100},
         {"effect", ConstantEffect(1600, 0, 1)}},
        {{"at_ms", 60}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", "last"}},
        // A rejected download (type 12) leaves its handle variable at 0, so "last" is 0 now
        // and the driver rejects the start.
        {{"at_ms", 100},
         {"call", "DownloadEffect"},
         {"device", 0},
         {"type", 12},
         {"handle", 0},
         {"flags", 0},
         {"effect", ConstantEffect(10000, 1, 0)}},
        {{"at_ms", 100},
         {"call", "StartEffect"},
         {"device", 0},
         {"handle", "last"},
         {"mode", 0},
         {"count", 1}},
        // Destroying handle 1 frees it for the next new effect, which "last" then names.
        {{"at_ms", 150}, {"call", "DestroyEffect"}, {"device", 0}, {"handle", 1}},
        {{"at_ms", 150},
         {"call", "DownloadEffect"},
         {"device", 0},
         {"type", 0},
         {"handle", 0},
         {"flags", 0},
         {"effect", ConstantEffect(10000, 1, 0)}},
        {{"at_ms", 150},
         {"call", "StartEffect"},
         {"device", 0},
         {"handle", "last"},
         {"mode", 0},
         {"count", 1}},
        {{"at_ms", 150}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", "last"}}};
    const auto out = Play(script);
    ASSERT_EQ(out.exitCode, 0) << out.error;
    const std::vector<std::string> comments = {"# status,2,1",
                                               "# status,1,0",
                                               "# status,2,1",
                                               "# DownloadEffect,7,0x80070057",
                                               "# StartEffect,8,0x80070057",
                                               "# status,1,1"};
    EXPECT_EQ(out.comments, comments) << out.text;
    // Before the update: motor B on, motor A off.
    ASSERT_EQ(RowsAt(out, 50).size(), 1u);
    EXPECT_EQ(RowsAt(out, 50)[0].byte1, 1u);
    EXPECT_EQ(RowsAt(out, 50)[0].byte2, 0u);
    // Magnitude 1600 gives level 20: below the on/off threshold.
    ASSERT_EQ(RowsAt(out, 75).size(), 1u);
    EXPECT_EQ(RowsAt(out, 75)[0].byte1, 0u);
    // DestroyEffect stops through StopEffect: an all-off report at 150 before the tick; then
    // the new handle 1 drives motor A and handle 2 (updated to level 20) stays below threshold.
    const auto at150 = RowsAt(out, 150);
    ASSERT_EQ(at150.size(), 2u) << out.text;
    EXPECT_EQ(at150[0].byte2, 0u);
    EXPECT_EQ(at150[1].byte2, 254u);
    EXPECT_EQ(at150[1].byte1, 0u);
}

// Amplify scales every level; the driver reads it from the hive its Windows version class
// chooses, so a value in the other hive changes nothing.
TEST(PlayerAmplify, ScalesTheLevelFromTheHiveTheOsClassChooses) {
    struct Case {
        const char* name;
        json amplify;  // null: no value written
        const char* os;
        const char* hive;  // null: the hive the driver reads
        uint32_t byte2;
    };
    const Case cases[] = {
        {"no value keeps 1000", nullptr, "nt6", nullptr, 254},
        {"1000 leaves the level", 1000, "nt6", nullptr, 254},
        {"500 halves 127 to 63", 500, "nt6", nullptr, 126},
        {"300 gives 38", 300, "nt6", nullptr, 76},
        {"150 gives 19, below the clamp", 150, "nt6", nullptr, 0},
        {"0 silences", 0, "nt6", nullptr, 0},
        {"1500 is capped at 127", 1500, "nt6", nullptr, 254},
        {"xp reads the machine hive", 500, "xp", nullptr, 126},
        {"98 reads the machine hive", 500, "98", nullptr, 126},
        {"xp, machine hive named", 500, "xp", "machine", 126},
        {"nt6, user hive named", 500, "nt6", "user", 126},
        {"nt6 ignores the machine hive", 500, "nt6", "machine", 254},
        {"xp ignores the user hive", 500, "xp", "user", 254},
        {"98 ignores the user hive", 500, "98", "user", 254},
    };
    for (const Case& c : cases) {
        json script = ExampleScript();
        script.erase("amplify");
        if (!c.amplify.is_null()) {
            script["amplify"] = c.amplify;
        }
        script["os"] = c.os;
        if (c.hive != nullptr) {
            script["amplify_hive"] = c.hive;
        }
        const auto out = Play(script);
        ASSERT_EQ(out.exitCode, 0) << c.name << ": " << out.error;
        for (uint32_t ms = 25; ms <= 475; ms += 25) {
            const auto rows = RowsAt(out, ms);
            ASSERT_EQ(rows.size(), 1u) << c.name << " at " << ms;
            EXPECT_EQ(rows[0].byte2, c.byte2) << c.name << " at " << ms;
            EXPECT_EQ(rows[0].byte1, 0u) << c.name << " at " << ms;
        }
    }
}

TEST(PlayerAmplify, AChangeTakesHoldAtTheNextStart) {
    struct Case {
        const char* os;
        const char* hive;  // null: the one the driver reads
        uint32_t afterRestart;
    };
    const Case cases[] = {
        {"nt6", nullptr, 126}, {"xp", nullptr, 126}, {"nt6", "machine", 254}, {"xp", "user", 254}};
    for (const Case& c : cases) {
        json script = ExampleScript();
        script["os"] = c.os;
        script["until_ms"] = 300;
        script["steps"].erase(3);  // no stop
        json set = {{"at_ms", 100}, {"call", "SetAmplify"}, {"value", 500}};
        if (c.hive != nullptr) {
            set["hive"] = c.hive;
        }
        script["steps"].push_back(set);
        script["steps"].push_back({{"at_ms", 200},
                                   {"call", "StartEffect"},
                                   {"device", 0},
                                   {"handle", 1},
                                   {"mode", 0},
                                   {"count", 1}});
        const auto out = Play(script);
        ASSERT_EQ(out.exitCode, 0) << out.error;
        // Written at 100 but read only by StartEffect: the level holds until the restart.
        ASSERT_EQ(RowsAt(out, 175).size(), 1u) << c.os;
        EXPECT_EQ(RowsAt(out, 175)[0].byte2, 254u) << c.os;
        ASSERT_EQ(RowsAt(out, 225).size(), 1u) << c.os;
        EXPECT_EQ(RowsAt(out, 225)[0].byte2, c.afterRestart) << c.os;
    }
}

TEST(PlayerEffects, TypeSpecificParametersReachTheMix) {
    struct Case {
        const char* name;
        json effect;
        uint32_t type;
        uint32_t ms;
        uint32_t byte1;
        uint32_t byte2;
    };
    json ramp = ConstantEffect(0, 0, 0);
    ramp.erase("constant");
    ramp["duration"] = 1000000;
    ramp["ramp"] = {{"start", 0}, {"end", 10000}};
    json square = ConstantEffect(0, 1, 0);
    square.erase("constant");
    square["periodic"] = {{"magnitude", 10000}, {"offset", 0}, {"phase", 0}, {"period", 100000}};
    json raw = ConstantEffect(0, 1, 0);
    raw.erase("constant");
    raw["raw"] = "10270000";  // DICONSTANTFORCE 10000, little-endian
    json polar = ConstantEffect(10000, 9000, 0);
    polar["flags"] = 32;
    json oneAxis = ConstantEffect(10000, 1, 0);
    oneAxis["axes"] = {2};
    oneAxis["direction"] = {1};
    json withEnvelope = ConstantEffect(10000, 1, 0);
    withEnvelope["envelope"] = {
        {"attack_level", 0}, {"attack_time", 1000000}, {"fade_level", 0}, {"fade_time", 0}};
    const Case cases[] = {
        // Ramp 0 to 10000 over 1 s, direction {0, 0}: both motors at the same level.
        {"ramp at 500 ms", ramp, 1, 500, 1, 126},
        {"ramp at 250 ms", ramp, 1, 250, 0, 62},
        // Square wave, period 100 ms: high up to and including half the period, then low.
        {"square high", square, 2, 50, 0, 254},
        {"square low", square, 2, 75, 0, 0},
        {"raw constant bytes", raw, 0, 25, 0, 254},
        // Polar 90 degrees: all on the second component (126), none on the first.
        {"polar 90 degrees", polar, 0, 25, 1, 0},
        // One axis: its level drives both motors.
        {"one axis", oneAxis, 0, 25, 1, 254},
        // Attack from 0 over 1 s: a quarter of the way at 250 ms (31, doubled).
        {"attack", withEnvelope, 0, 250, 0, 62},
        // A spring contributes nothing.
        {"condition", ConstantEffect(10000, 1, 0), 7, 25, 0, 0},
    };
    for (const Case& c : cases) {
        json script = {{"devices", {0}}, {"until_ms", 500}};
        script["steps"] = {{{"at_ms", 0},
                            {"call", "DownloadEffect"},
                            {"device", 0},
                            {"type", c.type},
                            {"handle", 0},
                            {"flags", 0},
                            {"effect", c.effect}},
                           {{"at_ms", 0},
                            {"call", "StartEffect"},
                            {"device", 0},
                            {"handle", 1},
                            {"mode", 0},
                            {"count", 1}}};
        const auto out = Play(script);
        ASSERT_EQ(out.exitCode, 0) << c.name << ": " << out.error;
        EXPECT_TRUE(out.comments.empty()) << c.name << ": " << out.text;
        const auto rows = RowsAt(out, c.ms);
        ASSERT_EQ(rows.size(), 1u) << c.name;
        EXPECT_EQ(rows[0].byte1, c.byte1) << c.name;
        EXPECT_EQ(rows[0].byte2, c.byte2) << c.name;
    }
}

// A driver call that fails is part of the run, not a fault of the script: it shows as a
// comment row and the script goes on.
TEST(PlayerDriverResults, FailingCallsBecomeCommentRows) {
    struct Case {
        const char* name;
        json script;
        std::vector<std::string> comments;
    };
    json badGain = ExampleScript();
    badGain["steps"][0]["gain"] = 10001;
    json badStart = ExampleScript();
    badStart["steps"][2]["handle"] = 33;
    json badDevice = ExampleScript();
    badDevice["devices"] = {16};
    json nullDirection = ExampleScript();
    nullDirection["steps"][1]["effect"]["direction"] = nullptr;
    json nullEffect = ExampleScript();
    nullEffect["steps"][1]["effect"] = nullptr;
    json badCommand = ExampleScript();
    badCommand["steps"].push_back(
        {{"at_ms", 600}, {"call", "SendForceFeedbackCommand"}, {"device", 0}, {"command", 3}});
    json badStatus = ExampleScript();
    badStatus["steps"].push_back(
        {{"at_ms", 600}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", 0}});
    const Case cases[] = {
        {"gain above 10000", badGain, {"# SetGain,0,0x80070057"}},
        {"handle 33", badStart, {"# StartEffect,2,0x80070057"}},
        {"device 16", badDevice, {"# DeviceID,devices[0],0x80070057"}},
        // cAxes 2 with no direction array: the driver refuses, handle stays 0, start of 1
        // still succeeds on the empty slot.
        {"axes without direction", nullDirection, {"# DownloadEffect,1,0x80070057"}},
        {"null effect", nullEffect, {"# DownloadEffect,1,0x80070057"}},
        {"two commands at once", badCommand, {"# SendForceFeedbackCommand,4,0x80004001"}},
        {"status of handle 0", badStatus, {"# GetEffectStatus,4,0x80070057"}},
    };
    for (const Case& c : cases) {
        const auto out = Play(c.script);
        EXPECT_EQ(out.exitCode, effect_player::kExitPlayed) << c.name << ": " << out.error;
        EXPECT_TRUE(out.error.empty()) << c.name;
        EXPECT_EQ(out.comments, c.comments) << c.name << ": " << out.text;
    }
}

TEST(PlayerDriverResults, StatusFollowsTheIterationsOfAnEffect) {
    json effect = ConstantEffect(10000, 1, 0);
    effect["duration"] = 100000;
    json script = {{"devices", {0}}, {"until_ms", 300}};
    script["steps"] = {{{"at_ms", 0},
                        {"call", "DownloadEffect"},
                        {"device", 0},
                        {"type", 0},
                        {"handle", 0},
                        {"flags", 0},
                        {"effect", effect}},
                       {{"at_ms", 0},
                        {"call", "StartEffect"},
                        {"device", 0},
                        {"handle", 1},
                        {"mode", 0},
                        {"count", 2}},
                       {{"at_ms", 180}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", 1}},
                       {{"at_ms", 260}, {"call", "GetEffectStatus"}, {"device", 0}, {"handle", 1}}};
    const auto out = Play(script);
    ASSERT_EQ(out.exitCode, 0) << out.error;
    // Two iterations of 100 ms. The tick that sees the first one over (125 ms) starts the
    // second from there, and the tick at 250 ms ends it.
    const std::vector<std::string> comments = {"# status,1,1", "# status,1,0"};
    EXPECT_EQ(out.comments, comments) << out.text;
    ASSERT_EQ(RowsAt(out, 225).size(), 1u);
    EXPECT_EQ(RowsAt(out, 225)[0].byte2, 254u);
    ASSERT_EQ(RowsAt(out, 250).size(), 1u);
    EXPECT_EQ(RowsAt(out, 250)[0].byte2, 0u);
}

}  // namespace
