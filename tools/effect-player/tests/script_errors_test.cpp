// Scripts the player refuses: each gets one clear line naming where the fault is, exit code 2
// and no output, never a crash. Also the command itself, end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "tools/effect-player/tests/player_test_util.h"

namespace {

using nlohmann::json;
using player_test::ExampleScript;
using player_test::Play;

// The example script changed by `edit`.
std::string Edited(const std::function<void(json&)>& edit) {
    json script = ExampleScript();
    edit(script);
    return script.dump();
}

json& Step(json& script, size_t i) {
    return script["steps"][i];
}

json& Effect(json& script) {
    return script["steps"][1]["effect"];
}

TEST(PlayerScriptErrors, EachBadScriptIsRefusedWithTheStepNamed) {
    struct Case {
        const char* name;
        std::string script;
        const char* message;  // a part of the one error line
    };
    const Case cases[] = {
        // The document itself.
        {"empty text", "", "invalid JSON"},
        {"unterminated object", "{\"devices\": [0], ", "invalid JSON"},
        {"trailing garbage", ExampleScript().dump() + " x", "invalid JSON"},
        {"not an object", "[1, 2]", "script: must be a JSON object"},
        {"unknown top-level field", Edited([](json& s) { s["until"] = 5; }),
         "script: unknown field \"until\""},
        {"devices missing", Edited([](json& s) { s.erase("devices"); }),
         "script: \"devices\" is missing"},
        {"devices not an array", Edited([](json& s) { s["devices"] = 0; }),
         "script: \"devices\" must be an array"},
        {"device ID a string", Edited([](json& s) { s["devices"] = {"0"}; }),
         "script: \"devices[0]\" must be a whole number"},
        {"device ID negative", Edited([](json& s) {
             s["devices"] = {0, -1};
         }),
         "script: \"devices[1]\" is out of range"},
        {"until_ms missing", Edited([](json& s) { s.erase("until_ms"); }),
         "script: \"until_ms\" is missing"},
        {"until_ms fractional", Edited([](json& s) { s["until_ms"] = 1.5; }),
         "script: \"until_ms\" must be a whole number"},
        {"until_ms beyond 32 bits", Edited([](json& s) { s["until_ms"] = 4294967296ull; }),
         "script: \"until_ms\" is out of range"},
        {"until_ms a string", Edited([](json& s) { s["until_ms"] = "2000"; }),
         "script: \"until_ms\" must be a whole number"},
        {"amplify negative", Edited([](json& s) { s["amplify"] = -1; }),
         "script: \"amplify\" is out of range"},
        {"amplify_hive unknown", Edited([](json& s) { s["amplify_hive"] = "HKLM"; }),
         "script: \"amplify_hive\" must be \"user\" or \"machine\""},
        {"os unknown", Edited([](json& s) { s["os"] = "win10"; }),
         "script: \"os\" must be \"nt6\", \"xp\" or \"98\""},
        {"os a number", Edited([](json& s) { s["os"] = 8; }), "script: \"os\" must be"},
        {"steps missing", Edited([](json& s) { s.erase("steps"); }),
         "script: \"steps\" is missing"},
        {"steps an object", Edited([](json& s) { s["steps"] = json::object(); }),
         "script: \"steps\" must be an array"},

        // A step's frame.
        {"step not an object", Edited([](json& s) { Step(s, 2) = 7; }),
         "steps[2]: must be an object"},
        {"call missing", Edited([](json& s) { Step(s, 3).erase("call"); }),
         "steps[3]: \"call\" is missing"},
        {"call a number", Edited([](json& s) { Step(s, 0)["call"] = 6; }),
         "steps[0]: \"call\" must be a string"},
        {"unknown call", Edited([](json& s) { Step(s, 3)["call"] = "PauseEffect"; }),
         "steps[3]: unknown call \"PauseEffect\""},
        {"at_ms missing", Edited([](json& s) { Step(s, 2).erase("at_ms"); }),
         "steps[2] (StartEffect): \"at_ms\" is missing"},
        {"steps out of order", Edited([](json& s) { Step(s, 2)["at_ms"] = 600; }),
         "steps[3] (StopEffect): \"at_ms\" 500 comes before the previous step's 600"},
        {"step after until_ms", Edited([](json& s) { Step(s, 3)["at_ms"] = 2001; }),
         "steps[3] (StopEffect): \"at_ms\" 2001 is after \"until_ms\" 2000"},
        {"unknown step field", Edited([](json& s) { Step(s, 0)["gian"] = 1; }),
         "steps[0] (SetGain): unknown field \"gian\""},

        // Fields of the calls.
        {"gain missing", Edited([](json& s) { Step(s, 0).erase("gain"); }),
         "steps[0] (SetGain): \"gain\" is missing"},
        {"gain beyond 32 bits", Edited([](json& s) { Step(s, 0)["gain"] = 4294967296ull; }),
         "steps[0] (SetGain): \"gain\" is out of range"},
        {"device negative", Edited([](json& s) { Step(s, 0)["device"] = -1; }),
         "steps[0] (SetGain): \"device\" is out of range"},
        {"handle a word", Edited([](json& s) { Step(s, 2)["handle"] = "first"; }),
         "steps[2] (StartEffect): \"handle\" must be a whole number or \"last\""},
        {"handle negative", Edited([](json& s) { Step(s, 3)["handle"] = -1; }),
         "steps[3] (StopEffect): \"handle\" is out of range"},
        {"last before any download", Edited([](json& s) {
             s["steps"].erase(1);
             Step(s, 1)["handle"] = "last";
         }),
         "steps[1] (StartEffect): \"handle\" is \"last\" but no DownloadEffect comes before it"},
        {"count missing", Edited([](json& s) { Step(s, 2).erase("count"); }),
         "steps[2] (StartEffect): \"count\" is missing"},
        {"mode boolean", Edited([](json& s) { Step(s, 2)["mode"] = true; }),
         "steps[2] (StartEffect): \"mode\" must be a whole number"},
        {"command missing", Edited([](json& s) {
             s["steps"].push_back(
                 {{"at_ms", 600}, {"call", "SendForceFeedbackCommand"}, {"device", 0}});
         }),
         "steps[4] (SendForceFeedbackCommand): \"command\" is missing"},
        {"amplify value missing", Edited([](json& s) {
             s["steps"].push_back({{"at_ms", 600}, {"call", "SetAmplify"}});
         }),
         "steps[4] (SetAmplify): \"value\" is missing"},
        {"amplify hive unknown", Edited([](json& s) {
             s["steps"].push_back(
                 {{"at_ms", 600}, {"call", "SetAmplify"}, {"value", 5}, {"hive", "both"}});
         }),
         "steps[4] (SetAmplify): \"hive\" must be \"user\" or \"machine\""},

        // DownloadEffect and its effect.
        {"effect missing", Edited([](json& s) { Step(s, 1).erase("effect"); }),
         "steps[1] (DownloadEffect): \"effect\" is missing"},
        {"effect a list", Edited([](json& s) {
             Effect(s) = {1, 2};
         }),
         "steps[1] (DownloadEffect): \"effect\" must be an object"},
        {"type missing", Edited([](json& s) { Step(s, 1).erase("type"); }),
         "steps[1] (DownloadEffect): \"type\" is missing"},
        {"download flags negative", Edited([](json& s) { Step(s, 1)["flags"] = -5; }),
         "steps[1] (DownloadEffect): \"flags\" is out of range"},
        {"effect flags missing", Edited([](json& s) { Effect(s).erase("flags"); }),
         "steps[1] (DownloadEffect) effect: \"flags\" is missing"},
        {"effect duration fractional", Edited([](json& s) { Effect(s)["duration"] = 0.5; }),
         "steps[1] (DownloadEffect) effect: \"duration\" must be a whole number"},
        {"effect unknown field", Edited([](json& s) { Effect(s)["colour"] = 1; }),
         "steps[1] (DownloadEffect) effect: unknown field \"colour\""},
        {"axes missing", Edited([](json& s) { Effect(s).erase("axes"); }),
         "steps[1] (DownloadEffect) effect: \"axes\" is missing"},
        {"axes a number", Edited([](json& s) { Effect(s)["axes"] = 2; }),
         "steps[1] (DownloadEffect) effect: \"axes\" must be an array or null"},
        {"axis negative", Edited([](json& s) {
             Effect(s)["axes"] = {2, -258};
         }),
         "steps[1] (DownloadEffect) effect: \"axes[1]\" is out of range"},
        {"direction beyond LONG", Edited([](json& s) {
             Effect(s)["direction"] = {2147483648u, 0};
         }),
         "steps[1] (DownloadEffect) effect: \"direction[0]\" is out of range"},
        {"axes and direction of different lengths", Edited([](json& s) {
             Effect(s)["direction"] = {1, 0, 0};
         }),
         "steps[1] (DownloadEffect) effect: \"axes\" and \"direction\" must have the same length"},
        {"envelope a number", Edited([](json& s) { Effect(s)["envelope"] = 0; }),
         "steps[1] (DownloadEffect) effect: \"envelope\" must be an object"},
        {"envelope fade_time missing",
         Edited([](json& s) { Effect(s)["envelope"].erase("fade_time"); }),
         "steps[1] (DownloadEffect) effect envelope: \"fade_time\" is missing"},
        {"no type-specific parameters", Edited([](json& s) { Effect(s).erase("constant"); }),
         "steps[1] (DownloadEffect) effect: needs one of \"constant\", \"ramp\", \"periodic\" or "
         "\"raw\""},
        {"two kinds of parameters", Edited([](json& s) { Effect(s)["raw"] = "00"; }),
         "steps[1] (DownloadEffect) effect: has both \"constant\" and \"raw\""},
        {"constant magnitude beyond LONG",
         Edited([](json& s) { Effect(s)["constant"]["magnitude"] = 2147483648u; }),
         "steps[1] (DownloadEffect) effect constant: \"magnitude\" is out of range"},
        {"constant not an object", Edited([](json& s) { Effect(s)["constant"] = 10000; }),
         "steps[1] (DownloadEffect) effect: \"constant\" must be an object"},
        {"ramp end missing", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["ramp"] = {{"start", 0}};
         }),
         "steps[1] (DownloadEffect) effect ramp: \"end\" is missing"},
        {"periodic period missing", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["periodic"] = {{"magnitude", 1}, {"offset", 0}, {"phase", 0}};
         }),
         "steps[1] (DownloadEffect) effect periodic: \"period\" is missing"},
        {"periodic magnitude negative", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["periodic"] = {
                 {"magnitude", -1}, {"offset", 0}, {"phase", 0}, {"period", 1}};
         }),
         "steps[1] (DownloadEffect) effect periodic: \"magnitude\" is out of range"},
        {"raw of odd length", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["raw"] = "102";
         }),
         "steps[1] (DownloadEffect) effect: \"raw\" must have an even number"},
        {"raw not hexadecimal", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["raw"] = "10zz";
         }),
         "steps[1] (DownloadEffect) effect: \"raw\" must be a string of hexadecimal digits"},
        {"raw a list", Edited([](json& s) {
             Effect(s).erase("constant");
             Effect(s)["raw"] = {16, 39};
         }),
         "steps[1] (DownloadEffect) effect: \"raw\" must be a string"},
    };
    for (const Case& c : cases) {
        const auto out = Play(c.script);
        EXPECT_EQ(out.exitCode, effect_player::kExitBadScript) << c.name;
        EXPECT_TRUE(out.text.empty()) << c.name << ": played anyway:\n" << out.text;
        EXPECT_EQ(out.error.rfind("effect-player: ", 0), 0u) << c.name << ": " << out.error;
        EXPECT_NE(out.error.find(c.message), std::string::npos)
            << c.name << ": expected \"" << c.message << "\" in: " << out.error;
        // One line.
        EXPECT_EQ(out.error.find('\n'), out.error.size() - 1) << c.name << ": " << out.error;
    }
}

TEST(PlayerScriptErrors, AcceptedVariantsOfTheFieldsPlay) {
    // The forms the parser allows besides the plain example, so the refusals above are not
    // the parser refusing everything.
    const std::string cases[] = {
        ExampleScript().dump(),
        Edited([](json& s) { s.erase("amplify"); }),
        Edited([](json& s) { s.erase("os"); }),
        Edited([](json& s) { Effect(s).erase("envelope"); }),
        Edited([](json& s) { Effect(s)["envelope"] = nullptr; }),
        Edited([](json& s) { Effect(s)["axes"] = nullptr; }),
        Edited([](json& s) { Effect(s)["axes"] = json::array(); }),
        Edited([](json& s) {
            Effect(s)["sample_period"] = 1000;
            Effect(s)["trigger_button"] = 0xFFFFFFFFu;
            Effect(s)["trigger_repeat_interval"] = 0;
        }),
        Edited([](json& s) {
            Effect(s).erase("constant");
            Effect(s)["raw"] = "";
        }),
        Edited([](json& s) { Effect(s)["constant"]["magnitude"] = -2147483648ll; }),
        Edited([](json& s) { Step(s, 3)["at_ms"] = 2000; }),
        Edited([](json& s) { s["steps"] = json::array(); }),
        Edited([](json& s) {
            s["until_ms"] = 0;
            s["steps"].erase(3);
        }),
    };
    for (const std::string& script : cases) {
        const auto out = Play(script);
        EXPECT_EQ(out.exitCode, effect_player::kExitPlayed) << script << "\n" << out.error;
        EXPECT_TRUE(out.error.empty()) << out.error;
        EXPECT_EQ(out.header, "ms,device,report_id,byte1,byte2,byte3") << script;
    }
    // The longest run a script may ask for; parsed only, since playing it takes hours.
    effect_player::Script script;
    std::string error;
    EXPECT_TRUE(effect_player::ParseScript(Edited([](json& s) { s["until_ms"] = 4294967295u; }),
                                           &script, &error))
        << error;
    EXPECT_EQ(script.untilMs, 4294967295u);
}

// The command itself: the exit code and the streams it writes, through a shell.
struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

CommandResult RunCommand(const std::string& arguments, const std::string& tag) {
    const std::string base = ::testing::TempDir() + "effect_player_" + tag;
    const std::string command =
        std::string(EFFECT_PLAYER_EXE) + " " + arguments + " >" + base + ".out 2>" + base + ".err";
    const int status = std::system(command.c_str());
    CommandResult result;
    if (status != -1 && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.out = ReadFile(base + ".out");
    result.err = ReadFile(base + ".err");
    return result;
}

std::string WriteScript(const std::string& text, const std::string& tag) {
    const std::string path = ::testing::TempDir() + "effect_player_" + tag + ".json";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(PlayerCommand, PlaysAFileAndRefusesBadOnes) {
    const auto good = RunCommand(WriteScript(ExampleScript().dump(), "good"), "good");
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_TRUE(good.err.empty()) << good.err;
    EXPECT_EQ(good.out, Play(ExampleScript()).text);

    const auto bad = RunCommand(
        WriteScript(Edited([](json& s) { Step(s, 2)["handle"] = "first"; }), "bad"), "bad");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.out.empty()) << bad.out;
    EXPECT_NE(bad.err.find("steps[2] (StartEffect)"), std::string::npos) << bad.err;

    const auto missing = RunCommand(::testing::TempDir() + "no_such_script.json", "missing");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;

    const auto usage = RunCommand("", "usage");
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("usage: effect-player SCRIPT.json"), std::string::npos) << usage.err;
}

TEST(PlayerCommand, TheDemoPlaysEveryKindOfEffect) {
    const auto demo = RunCommand(EFFECT_PLAYER_DEMO, "demo");
    ASSERT_EQ(demo.exitCode, 0) << demo.err;
    const auto out = player_test::Play(ReadFile(EFFECT_PLAYER_DEMO));
    ASSERT_EQ(out.exitCode, 0) << out.error;
    EXPECT_EQ(demo.out, out.text);
    // No call of the demo fails, and it keeps both motors busy with many different levels.
    for (const std::string& comment : out.comments) {
        EXPECT_EQ(comment.rfind("# status,", 0), 0u) << comment;
    }
    std::set<uint32_t> levelsA;
    bool motorB = false;
    for (const auto& row : out.rows) {
        levelsA.insert(row.byte2);
        motorB = motorB || row.byte1 == 1;
    }
    EXPECT_GE(levelsA.size(), 20u);
    EXPECT_TRUE(motorB);
    ASSERT_FALSE(out.rows.empty());
    EXPECT_GE(out.rows.back().ms, 3000u);
}

}  // namespace
