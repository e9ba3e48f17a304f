// The three pages live: the real velquin.dll in the control-panel host with the
// virtual wheel moving by script, checked by the pixels of screenshots taken at set moments and
// by the host's event log (status texts, indicator paints, effect calls, Amplify writes and the
// motor reports of the driver's own code).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "propsheet/geometry.h"
#include "tests/gui/gui_util.h"
#include "tests/gui/host_run.h"

namespace {

using velquin::Box;
using namespace guitest::host;

class VelquinPages : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = guitest::InstallWheelAndSheet(); }

    void SetUp() override {
        ASSERT_TRUE(installed_) << "the wheel's data or the sheet's registration is missing";
        host_ = guitest::PathFromEnv("WHEEL_CPL_HOST");
        ASSERT_FALSE(host_.empty()) << "WHEEL_CPL_HOST is not set";
        ASSERT_FALSE(guitest::ArtefactPath("x").empty()) << "WHEEL_ARTEFACTS is not set";
    }

    std::string Artefact(const std::string& name) const {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return guitest::ArtefactPath(std::string("pages-") + test->name() + "-" + name);
    }

    // Runs the host with a wheel script; `shots` are moments at which to save the sheet.
    HostRun RunHost(const std::string& script, const std::string& arguments,
                    const std::vector<uint32_t>& shots, const std::string& host = "") {
        const std::string scriptPath = Artefact("wheel.json");
        const std::string logPath = Artefact("events.log");
        std::ofstream(scriptPath) << script;
        DeleteFileA(logPath.c_str());
        std::string command = "\"" + (host.empty() ? host_ : host) + "\" --wheel \"" + scriptPath +
                              "\" --log \"" + logPath + "\" " + arguments;
        for (uint32_t ms : shots) {
            const std::string shot = Artefact("at" + std::to_string(ms) + ".bmp");
            DeleteFileA(shot.c_str());
            command += " --at \"" + std::to_string(ms) + "=shot:" + shot + "\"";
        }
        HostRun run = LaunchHost(command, logPath);
        EXPECT_EQ(run.exitCode, 0) << command;
        return run;
    }

    std::string ShotName(uint32_t ms) const { return Artefact("at" + std::to_string(ms) + ".bmp"); }

    std::string host_;
    static bool installed_;
};
bool VelquinPages::installed_ = false;

// Test page

const char kTestScript[] = R"({"frames": [
  {"at_ms": 0, "x": 32768, "y": 32768, "z": 32768, "rz": 32768, "pov": -1, "buttons": []},
  {"at_ms": 1000, "buttons": [1], "pov": 9000},
  {"at_ms": 1600, "buttons": [], "x": 0, "y": 0},
  {"at_ms": 2200, "z": 60000},
  {"at_ms": 2800, "connected": false},
  {"at_ms": 3400, "connected": true}]})";

TEST_F(VelquinPages, TestPageFollowsTheWheel) {
    const HostRun run =
        RunHost(kTestScript, "--page 0 --exit-after 4000", {800, 1400, 2000, 2600, 3800});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.Find("page Test Page").empty());

    // Button 1: dark red, red while pressed, dark red again; its neighbour never changes.
    ExpectLamp(run, 800, ShotName(800), 1000, kDarkRed);
    ExpectLamp(run, 1400, ShotName(1400), 1000, kRed);
    ExpectLamp(run, 2000, ShotName(2000), 1000, kDarkRed);
    for (uint32_t ms : {800u, 1400u, 2000u}) {
        ExpectLamp(run, ms, ShotName(ms), 1001, kDarkRed);
    }
    // The lamp is redrawn by the tick that first reads the press.
    const uint32_t pressed = run.TimeOf("frame 1");
    ASSERT_NE(pressed, UINT32_MAX);
    EXPECT_FALSE(run.Find("paint 1000", pressed, 1400).empty());

    // The cross-hairs where the geometry puts them: centred, then X/Y at the top left, then Z
    // to the right with Rz still centred.
    ExpectCrossHair(run, ShotName(800), 1013, 32768, 32768);
    ExpectCrossHair(run, ShotName(800), 1014, 32768, 32768);
    ExpectCrossHair(run, ShotName(2000), 1013, 0, 0);
    ExpectCrossHair(run, ShotName(2600), 1014, 60000, 32768);
    {
        // The old centre of the X/Y box is white again.
        const Found box = Locate(run, ShotName(2000), 1013);
        const velquin::CrossHair old =
            velquin::AxesCrossHair(velquin::PackXY(32768, 32768), Width(box.box), Height(box.box));
        EXPECT_EQ(guitest::Hex(Pixel(box, old.x, old.y)), guitest::Hex(kWhite));
    }

    // The hat: circle and centre dot only while centred; then an arrow to the right.
    const Found before = Locate(run, ShotName(800), 1015);
    const Found after = Locate(run, ShotName(1400), 1015);
    const velquin::Point right = ArrowHead(after.box, 9000);
    const velquin::Point up = ArrowHead(after.box, 0);
    const int cx = Width(after.box) / 2;
    const int cy = Height(after.box) / 2;
    EXPECT_EQ(guitest::Hex(Pixel(before, cx, cy)), guitest::Hex(kRed)) << "centre dot";
    EXPECT_NE(guitest::Hex(Pixel(before, right.x, right.y)), guitest::Hex(kRed));
    EXPECT_NE(guitest::Hex(Pixel(before, up.x, up.y)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(after, right.x, right.y)), guitest::Hex(kRed)) << "arrow right";
    EXPECT_NE(guitest::Hex(Pixel(after, up.x, up.y)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(after, cx, cy)), guitest::Hex(kRed));

    // Only what changed is redrawn: moving Z paints box 1014 and nothing else; the press and
    // the hat paint lamp 1 and the hat and nothing else.
    EXPECT_EQ(run.Texts("paint", run.TimeOf("frame 3"), 2600),
              std::vector<std::string>{"paint 1014"});
    for (const std::string& paint : run.Texts("paint", pressed, 1400)) {
        EXPECT_TRUE(paint == "paint 1000" || paint == "paint 1015") << paint;
    }

    // Unplugged and back: each text once. The device answers S_FALSE (already acquired) from
    // the second tick on, which is connected too.
    EXPECT_EQ(run.Texts("status"),
              (std::vector<std::string>{"status 1024 The device is connected.",
                                        "status 1024 The device is not responding.",
                                        "status 1024 The device is connected."}));
    EXPECT_FALSE(run.Find("acquire 0x00000001", 0, 2800).empty());
    const std::vector<Event> statuses = run.Find("status");
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_GE(statuses[1].ms, 2800u);
    EXPECT_GE(statuses[2].ms, 3400u);
    const Found line = Locate(run, ShotName(3800), 1024);
    EXPECT_GT(Share(line, 0x000000), 0.0) << "the status text is drawn";
}

// While another page is in front the Test page's timer does not run: an unplug then is seen by
// the page in front alone, and the Test page's status line keeps its text.
TEST_F(VelquinPages, TestPageStandsStillWhileAnotherPageIsInFront) {
    const HostRun run = RunHost(R"({"frames": [{"at_ms": 0, "x": 32768},
                                               {"at_ms": 900, "connected": false},
                                               {"at_ms": 1300, "connected": true}]})",
                                "--page 0 --exit-after 2400 --at 500=page:1 --at 1700=page:0", {});
    ASSERT_EQ(run.exitCode, 0);
    const uint32_t away = run.TimeOf("select 1");
    const uint32_t back = run.TimeOf("select 0");
    ASSERT_NE(back, UINT32_MAX);
    EXPECT_FALSE(run.Find("status 1025 The device is not responding.", away, back).empty())
        << "the unplug was there to be seen";
    EXPECT_TRUE(run.Find("status 1024", away + 50, back).empty()) << "the timer ran while away";
    EXPECT_EQ(run.Texts("status 1024"),
              std::vector<std::string>{"status 1024 The device is connected."});
}

// Effect page

const char kEffectScript[] = R"({"frames": [
  {"at_ms": 0, "x": 32768, "y": 32768},
  {"at_ms": 1000, "x": 0, "y": 65535},
  {"at_ms": 1600, "x": 16384, "y": 32768},
  {"at_ms": 2200, "x": 49152},
  {"at_ms": 2800, "x": 0}]})";

TEST_F(VelquinPages, EffectPageDrivesTheMotorsFromXAndY) {
    const HostRun run =
        RunHost(kEffectScript, "--page 2 --exit-after 4400 --at 3200=page:0 --at 3600=page:2",
                {800, 1400, 3100, 4200});
    ASSERT_EQ(run.exitCode, 0);
    // DirectInput makes the page's effect only on axes the installation names actuators.
    const std::vector<std::string> created = run.Texts("create-effect");
    ASSERT_FALSE(created.empty());
    ASSERT_EQ(created.front(), "create-effect 0x00000000");
    const uint32_t left = run.TimeOf("frame 1");
    const uint32_t minus = run.TimeOf("frame 2");
    const uint32_t plus = run.TimeOf("frame 3");
    const uint32_t full = run.TimeOf("frame 4");
    ASSERT_LT(full, 3200u);

    // Centred: no direction, no magnitude, no rumble, the dot in the middle.
    for (const std::string& set : run.Texts("set-parameters", 0, left)) {
        EXPECT_EQ(set, "set-parameters flags=0x20000140 direction=0,0 magnitude=0 hr=0x00000000");
    }
    EXPECT_FALSE(run.Find("set-parameters", 0, left).empty());
    for (int level : run.MotorA(0, left)) {
        EXPECT_EQ(level, 0);
    }
    // Left and down: the first quadrant, full magnitude.
    const std::vector<std::string> leftDown = run.Texts("set-parameters", left + 20, minus);
    ASSERT_FALSE(leftDown.empty());
    for (const std::string& set : leftDown) {
        EXPECT_EQ(set,
                  "set-parameters flags=0x20000140 direction=10000,9999 magnitude=14141 "
                  "hr=0x00000000");
    }
    // X = -5000 and X = 5000 are the same effect.
    const std::vector<std::string> negative = run.Texts("set-parameters", minus + 20, plus);
    const std::vector<std::string> positive = run.Texts("set-parameters", plus + 20, full);
    ASSERT_FALSE(negative.empty());
    ASSERT_FALSE(positive.empty());
    EXPECT_EQ(negative.back(),
              "set-parameters flags=0x20000140 direction=5000,0 magnitude=5000 hr=0x00000000");
    EXPECT_EQ(positive.back(), negative.back());

    // The page's own effect (Cartesian with object offsets) is heard: fully left drives motor A.
    const std::vector<int> fullLeft = run.MotorA(full + 60, 3200);
    ASSERT_FALSE(fullLeft.empty());
    for (int level : fullLeft) {
        EXPECT_GT(level, 0);
    }

    // The dot: in the middle, then at the left bottom.
    for (const auto& [ms, x, y] : {std::tuple{800u, 0, 0}, std::tuple{1400u, -10000, 9999}}) {
        const Found pad = Locate(run, ShotName(ms), 1023);
        const velquin::RumbleLayout g =
            velquin::RumbleGeometry(velquin::PackXY(x, y), {0, 0, Width(pad.box), Height(pad.box)});
        EXPECT_EQ(guitest::Hex(Pixel(pad, g.dot.x, g.dot.y)), guitest::Hex(kRed)) << ms << " ms";
    }
    {
        const Found pad = Locate(run, ShotName(1400), 1023);
        const velquin::RumbleLayout centre =
            velquin::RumbleGeometry(0, {0, 0, Width(pad.box), Height(pad.box)});
        EXPECT_NE(guitest::Hex(Pixel(pad, centre.dot.x + 3, centre.dot.y + 3)), guitest::Hex(kRed))
            << "the dot left the centre";
    }

    // Switching away releases the effect and stops the motors; coming back makes a new one.
    const uint32_t away = run.TimeOf("select 0");
    const uint32_t back = run.TimeOf("select 2");
    ASSERT_NE(back, UINT32_MAX);
    EXPECT_EQ(run.Find("create-effect 0x00000000", 0, away).size(), 1u);
    EXPECT_EQ(run.Texts("unacquire", away, back).size(), 1u);
    EXPECT_EQ(run.Texts("release-effect", away, back).size(), 1u);
    EXPECT_TRUE(run.Find("set-parameters", away + 50, back).empty());
    const std::vector<int> silent = run.MotorA(away + 50, back);
    ASSERT_FALSE(silent.empty());
    for (int level : silent) {
        EXPECT_EQ(level, 0);
    }
    EXPECT_EQ(run.Find("create-effect 0x00000000", back).size(), 1u);
    // The new effect starts silent and takes the pad's value at the page's first timer tick,
    // which a 32-bit Wine can deliver a good 100 ms after the page comes back.
    EXPECT_FALSE(run.MotorA(back + 250, 4300).empty());
    for (int level : run.MotorA(back + 250, 4300)) {
        EXPECT_GT(level, 0) << "heard again";
    }
    // The pad kept its window and its value.
    const Found pad = Locate(run, ShotName(4200), 1023);
    const velquin::RumbleLayout g = velquin::RumbleGeometry(
        velquin::PackXY(-10000, 0), {0, 0, Width(pad.box), Height(pad.box)});
    EXPECT_EQ(guitest::Hex(Pixel(pad, g.dot.x, g.dot.y)), guitest::Hex(kRed));
    // The status line was written once, however often the page was shown.
    EXPECT_EQ(run.Texts("status 1026"),
              (std::vector<std::string>{"status 1026 The device is connected."}));
}

// With CreateEffect failing the page stands still: its timer is gone, so not even an unplugged
// wheel changes its status line.
TEST_F(VelquinPages, EffectPageStopsWhenTheEffectCannotBeMade) {
    const HostRun run = RunHost(
        R"({"frames": [{"at_ms": 0, "x": 0},
                       {"at_ms": 1000, "create_effect_fails": true},
                       {"at_ms": 2600, "connected": false}]})",
        "--page 2 --exit-after 3400 --at 1500=page:0 --at 2000=page:2", {3200});
    ASSERT_EQ(run.exitCode, 0);
    const uint32_t back = run.TimeOf("select 2");
    ASSERT_NE(back, UINT32_MAX);
    EXPECT_EQ(run.Texts("create-effect", back),
              std::vector<std::string>{"create-effect 0x80004005"});
    EXPECT_TRUE(run.Find("set-parameters", back + 50).empty()) << "the timer still runs";
    EXPECT_TRUE(run.Find("status 1026 The device is not responding.").empty());
    EXPECT_EQ(run.Texts("status 1026"),
              std::vector<std::string>{"status 1026 The device is connected."});
    // The Test page, shown in between, had its own status line.
    EXPECT_FALSE(run.Find("status 1024 The device is connected.", 1500, 2000).empty());
}

// "Apply" stores the slider as Amplify under the hive of the Windows version and restarts the
// effect; the driver reads it then and the motors get stronger.
TEST_F(VelquinPages, ApplyStoresAmplifyAndStrengthensTheMotors) {
    struct Row {
        const char* version;
        HKEY hive;
        const char* hiveName;
        HKEY other;
    };
    const Row rows[] = {
        {"win7", HKEY_CURRENT_USER, "HKEY_CURRENT_USER", HKEY_LOCAL_MACHINE},
        {"winxp", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", HKEY_CURRENT_USER},
    };
    const std::string oem = wheel::OemKey();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        // A copy of the host under a name of its own, so the version applies to it alone.
        const std::string exe = std::string("cpl-host-") + row.version + ".exe";
        const std::string host = guitest::ArtefactPath(exe);
        ASSERT_TRUE(CopyFileA(host_.c_str(), host.c_str(), FALSE)) << host;
        ASSERT_TRUE(guitest::SetAppVersion(exe, row.version));
        // Both hives hold the key and neither holds a value yet.
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            ASSERT_TRUE(guitest::CreateKey(root, oem));
            guitest::DeleteValue(root, oem, "Amplify");
        }

        // X = -4000: motor A at 50 of 127 (reported doubled), 76 at 1.5 times.
        const HostRun run =
            RunHost(R"({"frames": [{"at_ms": 0, "x": 19660}]})",
                    "--page 2 --exit-after 2400 --at 1200=slider:1500 --at 1300=apply", {}, host);
        guitest::ClearAppVersion(exe);
        ASSERT_EQ(run.exitCode, 0);
        const uint32_t apply = run.TimeOf("apply");
        ASSERT_NE(apply, UINT32_MAX);
        EXPECT_EQ(run.Texts("amplify-write"),
                  std::vector<std::string>{std::string("amplify-write ") + row.hiveName +
                                           " REG_DWORD 1500"});
        // The restart right after the write.
        const std::vector<Event> starts = run.Find("start iterations=1 flags=0x00000000", apply);
        ASSERT_FALSE(starts.empty());
        EXPECT_EQ(starts.front().text, "start iterations=1 flags=0x00000000 hr=0x00000000");
        EXPECT_LT(starts.front().ms, apply + 50);

        const std::vector<int> beforeLevels = run.MotorA(600, apply);
        const std::vector<int> afterLevels = run.MotorA(starts.front().ms + 30, 2300);
        ASSERT_FALSE(beforeLevels.empty());
        ASSERT_FALSE(afterLevels.empty());
        for (int level : beforeLevels) {
            EXPECT_EQ(level, 2 * 50);
        }
        for (int level : afterLevels) {
            EXPECT_EQ(level, 2 * 76);
        }

        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(guitest::ReadValue(row.hive, oem, "Amplify", &type, &data));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(data, (std::vector<BYTE>{0xDC, 0x05, 0, 0}));
        EXPECT_FALSE(guitest::ReadValue(row.other, oem, "Amplify", &type, &data))
            << "written under the other hive too";
        guitest::DeleteValue(row.hive, oem, "Amplify");
        DeleteFileA(host.c_str());
    }
}

// The slider has its range 0..1500 and shows the stored intensity whenever the page comes to the
// front, wheel or no wheel; "Apply" at an unchanged slider stores the same value back (the host
// deletes the stored value just before, so that the write shows: storing the value the registry
// already holds changes nothing it would report). A move that was not applied is gone when the
// page comes back.
TEST_F(VelquinPages, EffectSliderShowsTheStoredIntensity) {
    struct Row {
        const char* what;
        const char* script;
        const char* arguments;
        std::vector<uint32_t> shots;
    };
    const Row rows[] = {
        {"wheel unplugged: no device is opened",
         R"({"frames": [{"at_ms": 0, "connected": false}]})",
         "--page 2 --exit-after 1600 --at 850=forget-amplify --at 1000=apply",
         {800}},
        {"wheel plugged in, shown twice",
         R"({"frames": [{"at_ms": 0, "x": 32768}]})",
         "--page 0 --exit-after 2600 --at 500=page:2 --at 1000=slider:300 --at 1200=page:0 "
         "--at 1500=page:2 --at 1950=forget-amplify --at 2100=apply",
         {900, 1900}},
    };
    const std::string oem = wheel::OemKey();
    constexpr DWORD kStored = 700;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Either hive may be the one this Windows version reads.
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExA(root, oem.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr),
                      ERROR_SUCCESS);
            RegSetValueExA(key, "Amplify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kStored),
                           sizeof kStored);
            RegCloseKey(key);
        }
        const HostRun run = RunHost(row.script, row.arguments, row.shots);
        ASSERT_EQ(run.exitCode, 0);
        for (uint32_t ms : row.shots) {
            const HostRun::Slider slider = run.SliderIn(ShotName(ms));
            EXPECT_EQ(slider.position, static_cast<long>(kStored)) << ms << " ms";
            EXPECT_EQ(slider.min, 0) << ms << " ms";
            EXPECT_EQ(slider.max, 1500) << ms << " ms";
            // The thumb where the user sees 700 of 1500, give or take the rounding of a pixel.
            ASSERT_GT(slider.trackLength, 30) << ms << " ms";
            EXPECT_NEAR(slider.thumbOffset, slider.trackLength * 700.0 / 1500.0, 1.5)
                << ms << " ms";
        }
        ASSERT_NE(run.TimeOf("forget-amplify"), UINT32_MAX);
        ASSERT_NE(run.TimeOf("apply"), UINT32_MAX);
        // The watch may see one write twice; it sees none when Apply stores nothing.
        const std::vector<std::string> writes = run.Texts("amplify-write");
        ASSERT_FALSE(writes.empty()) << "Apply stored nothing";
        for (const std::string& write : writes) {
            EXPECT_EQ(write.substr(write.rfind(' ') + 1), "700") << write;
        }
        // Into the hive this Windows reads, and nowhere else.
        int stored = 0;
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            DWORD type = 0;
            std::vector<BYTE> data;
            if (guitest::ReadValue(root, oem, "Amplify", &type, &data)) {
                ++stored;
                EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
                EXPECT_EQ(data, (std::vector<BYTE>{0xBC, 0x02, 0, 0})) << "700";
            }
            guitest::DeleteValue(root, oem, "Amplify");
        }
        EXPECT_EQ(stored, 1);
        if (row.shots.size() == 1) {
            EXPECT_TRUE(run.Find("new-device").empty());
            EXPECT_FALSE(run.Find("directinput-create").empty()) << "the page tried";
        }
    }
}

// A sheet closed and opened again in the same process: every page writes its status line afresh,
// while the Test page's remembered reading and the Effect page's last X and Y live on, so what did
// not change since the last pages is not drawn again: a button still held shows released, the
// cross-hair and the rumble dot stay in the middle until the wheel moves.
TEST_F(VelquinPages, PagesMadeAgainInOneProcess) {
    // X = Y = 8192: -7500 on the pad. Closing a sheet takes Wine two seconds under Xvfb, so the
    // second sheet's moments leave room for that.
    const HostRun run =
        RunHost(R"({"frames": [{"at_ms": 0, "x": 8192, "y": 8192, "buttons": [1]},
                               {"at_ms": 9000, "x": 65535}]})",
                "--page 0 --reopen-at 2800 --exit-after 9900 --at 1000=page:1 --at 1800=page:2 "
                "--at 7300=page:1 --at 8100=page:2",
                {800, 2500, 7000, 8800, 9600});
    ASSERT_EQ(run.exitCode, 0);
    const uint32_t reopen = run.TimeOf("reopen");
    ASSERT_NE(reopen, UINT32_MAX);
    const std::vector<Event> made = run.Find("page Test Page");
    ASSERT_EQ(made.size(), 2u);
    ASSERT_LT(made[1].ms, 6900u) << "the second sheet came too late for the moments below";
    for (const char* status : {"status 1024", "status 1025", "status 1026"}) {
        const std::vector<Event> written = run.Find(status);
        ASSERT_EQ(written.size(), 2u) << status;
        EXPECT_LT(written[0].ms, reopen) << status;
        EXPECT_GT(written[1].ms, reopen) << status;
        EXPECT_EQ(written[1].text, std::string(status) + " The device is connected.");
    }

    // The first sheet shows the wheel; the second one what changed since.
    ExpectLamp(run, 800, ShotName(800), 1000, kRed);
    ExpectCrossHair(run, ShotName(800), 1013, 8192, 8192);
    ExpectLamp(run, 7000, ShotName(7000), 1000, kDarkRed);
    ExpectCrossHair(run, ShotName(7000), 1013, 32768, 32768);
    for (const auto& [ms, x, y] : {std::tuple{2500u, -7500, -7500}, std::tuple{8800u, 0, 0},
                                   std::tuple{9600u, 9999, -7500}}) {
        const Found pad = Locate(run, ShotName(ms), 1023);
        const velquin::RumbleLayout g =
            velquin::RumbleGeometry(velquin::PackXY(x, y), {0, 0, Width(pad.box), Height(pad.box)});
        EXPECT_EQ(guitest::Hex(Pixel(pad, g.dot.x, g.dot.y)), guitest::Hex(kRed)) << ms << " ms";
    }
    // The second Effect page still drives the motors.
    const std::vector<Event> shown = run.Find("select 2");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_FALSE(
        run.Find("set-parameters flags=0x20000140 direction=7500,7500", shown[1].ms).empty());
}

// Hundreds of indicator repaints on each page leave the host with as many GDI objects as before.
// The wheel swings between two positions every 10 ms, moving every indicator of the page in
// front; the counts are taken on the same page, with the hat pointing both times.
TEST_F(VelquinPages, RepaintsLeakNoGdiObjects) {
    std::string script = R"({"frames": [)";
    for (uint32_t ms = 0; ms <= 11400; ms += 10) {
        const bool a = (ms / 10) % 2 == 0;
        script += (ms == 0 ? "" : ",") + std::string("{\"at_ms\": ") + std::to_string(ms) +
                  (a ? R"(, "x": 10000, "y": 50000, "z": 20000, "rz": 40000, "pov": 9000,
                        "buttons": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]})"
                     : R"(, "x": 50000, "y": 10000, "z": 40000, "rz": 20000, "pov": 27000,
                        "buttons": []})");
    }
    script += "]}";
    // Each page: counted 600 ms after it came to the front and again 3 s later.
    const uint32_t pageAt[] = {0, 3900, 7800};
    std::string arguments = "--page 0 --exit-after 11600 --at 3900=page:1 --at 7800=page:2";
    for (uint32_t at : pageAt) {
        arguments +=
            " --at " + std::to_string(at + 600) + "=gdi --at " + std::to_string(at + 3600) + "=gdi";
    }
    const HostRun run = RunHost(script, arguments, {});
    ASSERT_EQ(run.exitCode, 0);
    const std::vector<Event> counts = run.Find("gdi-objects ");
    ASSERT_EQ(counts.size(), 6u);
    const char* pages[] = {"Test", "Calibration", "Effect"};
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(pages[page]);
        const Event& before = counts[2 * page];
        const Event& after = counts[2 * page + 1];
        EXPECT_NE(before.text, "gdi-objects 0") << "nothing counted";
        EXPECT_EQ(after.text, before.text);
        // Enough repaints that a leak of one object per paint could not hide; how many there
        // are depends on how fast the pages' timers run on a loaded machine (the Effect page
        // has been seen at 26 a second).
        EXPECT_GE(run.Find("paint ", before.ms, after.ms).size(), 50u) << "too few repaints";
    }
}

// Calibration page

constexpr GUID kWheelInstance = {
    0x7A3C51E0, 0x2D71, 0x5A08, {0xB1, 0x4E, 0x00, 0x56, 0x69, 0x72, 0x74, 0x31}};

// Written out here rather than taken from the code under test.
const std::string kDiCalibrationDevice =
    "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\DirectInput"
    "\\VID_2D71&PID_5A08\\Calibration\\0";
const std::string kJoystickSettings =
    "System\\CurrentControlSet\\Control\\MediaResources\\Joystick\\<FixedKey>"
    "\\CurrentJoystickSettings";

struct AxisRange {
    DWORD min;
    DWORD centre;
    DWORD max;
    bool operator==(const AxisRange&) const = default;
};

std::ostream& operator<<(std::ostream& out, const AxisRange& r) {
    return out << r.min << "/" << r.centre << "/" << r.max;
}

DWORD Le32(const std::vector<BYTE>& data, size_t at) {
    return static_cast<DWORD>(data[at]) | static_cast<DWORD>(data[at + 1]) << 8 |
           static_cast<DWORD>(data[at + 2]) << 16 | static_cast<DWORD>(data[at + 3]) << 24;
}

// Where a Windows version keeps the wheel's calibration, as DirectInput there reads it.
struct CalibrationHome {
    const char* version;  // for AppDefaults; "" keeps the prefix's own (Windows 10)
    enum Kind { PerAxis, JoystickSettings } kind;
    HKEY root;
};

// DirectInput's key for the wheel, holding its instance GUID, with no calibration yet; or, for
// 98/Me, the joystick settings key without the wheel's record.
bool PrepareCalibrationHome(const CalibrationHome& home) {
    if (home.kind == CalibrationHome::JoystickSettings) {
        if (!guitest::CreateKey(home.root, kJoystickSettings)) {
            return false;
        }
        guitest::DeleteValue(home.root, kJoystickSettings, "Joystick1Configuration");
        return true;
    }
    guitest::DeleteTree(home.root, kDiCalibrationDevice + "\\Type");
    HKEY key = nullptr;
    if (RegCreateKeyExA(home.root, kDiCalibrationDevice.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG set =
        RegSetValueExA(key, "GUID", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&kWheelInstance),
                       sizeof kWheelInstance);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

// X, Y, Z and R as stored; an axis with nothing (or something malformed) stored is missing.
std::map<char, AxisRange> StoredCalibration(const CalibrationHome& home) {
    std::map<char, AxisRange> stored;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (home.kind == CalibrationHome::JoystickSettings) {
        // The whole JOYREGHWCONFIG: jrvHardware's jpMin, jpMax and jpCenter from byte 12.
        if (!guitest::ReadValue(home.root, kJoystickSettings, "Joystick1Configuration", &type,
                                &data) ||
            type != REG_BINARY || data.size() != 112) {
            return stored;
        }
        const std::pair<char, size_t> axes[] = {{'X', 0}, {'Y', 4}, {'Z', 8}, {'R', 12}};
        for (const auto& [axis, offset] : axes) {
            stored[axis] = {Le32(data, 12 + offset), Le32(data, 60 + offset),
                            Le32(data, 36 + offset)};
        }
        return stored;
    }
    const std::pair<char, const char*> axes[] = {{'X', "0"}, {'Y', "1"}, {'Z', "2"}, {'R', "5"}};
    for (const auto& [axis, subKey] : axes) {
        const std::string key = kDiCalibrationDevice + "\\Type\\Axes\\" + subKey;
        if (guitest::ReadValue(home.root, key, "Calibration", &type, &data) && type == REG_BINARY &&
            data.size() == 12) {
            stored[axis] = {Le32(data, 0), Le32(data, 4), Le32(data, 8)};
        }
    }
    return stored;
}

std::map<char, AxisRange> AllAxes(AxisRange range) {
    return {{'X', range}, {'Y', range}, {'Z', range}, {'R', range}};
}

// The prefix's own Windows version reads the calibration from the user's hive.
const CalibrationHome kDefaultHome = {"", CalibrationHome::PerAxis, HKEY_CURRENT_USER};

class VelquinCalibrationPage : public VelquinPages {
  protected:
    // The host, under a name of its own when the home asks for a Windows version.
    HostRun RunIn(const CalibrationHome& home, const std::string& script,
                  const std::string& arguments, const std::vector<uint32_t>& shots = {}) {
        EXPECT_TRUE(PrepareCalibrationHome(home)) << home.version;
        if (home.version[0] == '\0') {
            return RunHost(script, arguments, shots);
        }
        const std::string exe = std::string("cpl-host-cal-") + home.version + ".exe";
        const std::string host = guitest::ArtefactPath(exe);
        EXPECT_TRUE(CopyFileA(host_.c_str(), host.c_str(), FALSE)) << host;
        EXPECT_TRUE(guitest::SetAppVersion(exe, home.version));
        HostRun run = RunHost(script, arguments, shots, host);
        guitest::ClearAppVersion(exe);
        DeleteFileA(host.c_str());
        return run;
    }
};

// The stored calibration is narrower than the sweep on some axes and wider on others. The
// positions shown while the Test page is in front must not count.
const char kSweepScript[] = R"({
  "calibration": {"min": [100, 90, 80, 70], "center": [128, 128, 128, 128],
                  "max": [150, 160, 170, 180]},
  "frames": [
    {"at_ms": 0, "x": 32768, "y": 32768, "z": 32768, "rz": 32768},
    {"at_ms": 600, "x": 65535, "y": 2560},
    {"at_ms": 1000, "x": 20000, "y": 40000, "z": 0},
    {"at_ms": 1600, "x": 0, "y": 65535, "z": 65535, "rz": 0},
    {"at_ms": 1900, "x": 40000, "y": 30000, "z": 33000, "rz": 32768}]})";

TEST_F(VelquinCalibrationPage, SetStoresTheUnionOfTheStoredRangeAndWhatThePageSaw) {
    std::vector<CalibrationHome> homes = {
        {"win7", CalibrationHome::PerAxis, HKEY_CURRENT_USER},
        // DirectX 9 (Wine's "4.09.00.0904"): DirectInput's key, machine-wide.
        {"winxp", CalibrationHome::PerAxis, HKEY_LOCAL_MACHINE},
    };
    if (sizeof(void*) == 4) {
        homes.push_back({"win98", CalibrationHome::JoystickSettings, HKEY_LOCAL_MACHINE});
    }
    for (const CalibrationHome& home : homes) {
        SCOPED_TRACE(home.version);
        const HostRun run = RunIn(home, kSweepScript,
                                  "--page 1 --exit-after 3200 --at 1300=page:0 --at 2200=page:1 "
                                  "--at 2600=click:1022",
                                  {500, 2900});
        ASSERT_EQ(run.exitCode, 0);
        ASSERT_FALSE(run.Find("page Calibration").empty());
        // Read when the page was made, and the joy-config object given back.
        EXPECT_EQ(run.Texts("get-config 1 flags=0x00000002"),
                  std::vector<std::string>{"get-config 1 flags=0x00000002 hr=0x00000000"});
        EXPECT_EQ(run.Texts("joy-config-unacquire 1", 0, run.TimeOf("page Calibration") + 1).size(),
                  1u);

        // X: 100..150 widened to 78..255; Y: 90..160 down to 10; Z: 80 down to 0; R unchanged.
        // The centre is the last position seen: 40000 -> 156, 30000 -> 117, 33000 -> 128.
        const std::map<char, AxisRange> expected = {{'X', {78, 156, 255}},
                                                    {'Y', {10, 117, 160}},
                                                    {'Z', {0, 128, 170}},
                                                    {'R', {70, 128, 180}}};
        EXPECT_EQ(StoredCalibration(home), expected);

        // The labels: raw / 256, only while the page is in front.
        const std::vector<std::string> labels = run.Texts("text");
        for (const char* text : {"text 1016 128", "text 1016 255", "text 1017 10", "text 1016 78",
                                 "text 1018 0", "text 1016 156", "text 1017 117"}) {
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
        }
        const uint32_t away = run.TimeOf("select 0");
        const uint32_t back = run.TimeOf("select 1");
        ASSERT_NE(back, UINT32_MAX);
        EXPECT_TRUE(run.Find("text", away + 50, back).empty()) << "the timer ran while away";
        // Only the box whose axes moved is redrawn: frame 1 moves X and Y alone.
        const uint32_t xyOnly = run.TimeOf("frame 1");
        EXPECT_EQ(run.Texts("paint", xyOnly, run.TimeOf("frame 2")),
                  std::vector<std::string>{"paint 1013"});

        // Re-opened after the store: the old objects released once each, a DirectInput object
        // made, and the new device in use from the next tick.
        const uint32_t click = run.TimeOf("click 1022");
        ASSERT_NE(click, UINT32_MAX);
        EXPECT_EQ(run.Texts("directinput-create", click),
                  std::vector<std::string>{"directinput-create version=0x0700"});
        EXPECT_EQ(run.Texts("release-device 1").size(), 1u);
        EXPECT_EQ(run.Texts("release-joy-config 1").size(), 1u);
        EXPECT_GE(run.TimeOf("release-device 1"), click);
        EXPECT_FALSE(run.Find("new-device 2", click).empty());
        EXPECT_FALSE(run.Find("acquire 0x00000000", run.TimeOf("new-device 2")).empty());
        EXPECT_TRUE(run.Find("status 1025 The device is not responding.").empty());

        // What the user sees: the cross-hair where the wheel is, the values drawn.
        ExpectCrossHair(run, ShotName(2900), 1013, 40000, 30000);
        ExpectCrossHair(run, ShotName(500), 1014, 32768, 32768);
        const Found label = Locate(run, ShotName(2900), 1016);
        EXPECT_GT(Share(label, 0x000000), 0.0) << "the X value is drawn";
    }
}

TEST_F(VelquinCalibrationPage, DefaultStoresTheFullRangeWhereverTheWheelIs) {
    const HostRun run =
        RunIn(kDefaultHome,
              R"({"frames": [{"at_ms": 0, "x": 1000, "y": 64000, "z": 5000, "rz": 60000}]})",
              "--page 1 --exit-after 1400 --at 800=click:1021");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(StoredCalibration(kDefaultHome), AllAxes({0, 128, 255}));
    EXPECT_FALSE(run.Find("new-device 2", run.TimeOf("click 1021")).empty()) << "re-opened";
}

TEST_F(VelquinCalibrationPage, SetAfterDefaultKeepsTheFullRangeAndTakesTheLastCentre) {
    const HostRun run =
        RunIn(kDefaultHome, R"({"frames": [
        {"at_ms": 0, "x": 1000, "y": 64000, "z": 5000, "rz": 60000},
        {"at_ms": 900, "x": 65535, "y": 32768, "z": 0, "rz": 40000}]})",
              "--page 1 --exit-after 1900 --at 500=click:1021 --at 1500=click:1022");
    ASSERT_EQ(run.exitCode, 0);
    const std::map<char, AxisRange> expected = {
        {'X', {0, 255, 255}}, {'Y', {0, 128, 255}}, {'Z', {0, 0, 255}}, {'R', {0, 156, 255}}};
    EXPECT_EQ(StoredCalibration(kDefaultHome), expected);
    // Two stores, two re-opens.
    EXPECT_EQ(run.Texts("directinput-create").size(), 2u);
    EXPECT_EQ(run.Texts("release-device 2").size(), 1u);
    EXPECT_FALSE(run.Find("new-device 3").empty());
}

TEST_F(VelquinCalibrationPage, UnacquirableWheelStoresNothingAndIsNotReopened) {
    const HostRun run = RunIn(kDefaultHome, R"({"frames": [
        {"at_ms": 0, "x": 65535},
        {"at_ms": 500, "connected": false}]})",
                              "--page 1 --exit-after 1400 --at 900=click:1021");
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_NE(run.TimeOf("click 1021"), UINT32_MAX);
    EXPECT_TRUE(StoredCalibration(kDefaultHome).empty());
    EXPECT_TRUE(run.Find("directinput-create").empty());
    EXPECT_TRUE(run.Find("new-device 2").empty());
    // Released once, by the sheet at the end.
    EXPECT_EQ(run.Texts("release-device 1").size(), 1u);
    EXPECT_FALSE(run.Find("status 1025 The device is not responding.").empty());
}

// A page that could not read the wheel's configuration stores nothing on "Set" or "Default" and
// re-opens nothing, though the instance GUID is there to be had; it follows the wheel all the
// same. When only the instance lookup fails, nothing is stored but the device is re-opened.
TEST_F(VelquinCalibrationPage, FailedConfigurationReadsStoreNothing) {
    struct Row {
        const char* what;
        const char* frames;
        int button;
        bool pageRead;
    };
    // Only the first read fails, the page's own: the instance lookup at "Set" would work.
    const char kFirstReadFails[] = R"({"frames": [{"at_ms": 0, "x": 0, "get_config_fails": 1},
                                                  {"at_ms": 400, "x": 65535}]})";
    const Row rows[] = {
        {"Set on a page that could not read", kFirstReadFails, 1022, false},
        {"Default on a page that could not read", kFirstReadFails, 1021, false},
        {"Set when only the instance lookup fails", R"({"frames": [{"at_ms": 0, "x": 0},
                                     {"at_ms": 400, "x": 65535},
                                     {"at_ms": 700, "get_config_fails": true}]})",
         1022, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string button = std::to_string(row.button);
        const HostRun run =
            RunIn(kDefaultHome, row.frames, "--page 1 --exit-after 1400 --at 900=click:" + button);
        ASSERT_EQ(run.exitCode, 0);
        // At WM_INITDIALOG the joy-config object is given back whether the read worked or not.
        const std::vector<std::string> init = run.Texts("get-config 1 flags=0x00000002");
        EXPECT_EQ(init, std::vector<std::string>{std::string("get-config 1 flags=0x00000002 hr=") +
                                                 (row.pageRead ? "0x00000000" : "0x80004005")});
        EXPECT_EQ(run.Texts("joy-config-acquire 1").size(), 1u);
        EXPECT_GE(run.TimeOf("joy-config-unacquire 1"), run.TimeOf("joy-config-acquire 1"));
        const uint32_t click = run.TimeOf("click " + button);
        ASSERT_NE(click, UINT32_MAX);
        EXPECT_LT(run.TimeOf("joy-config-unacquire 1"), click);
        // The page follows the wheel anyway.
        EXPECT_FALSE(run.Find("text 1016 255").empty());
        EXPECT_TRUE(StoredCalibration(kDefaultHome).empty());
        EXPECT_EQ(run.Texts("release-device 1").size(), 1u);
        EXPECT_EQ(run.Texts("release-joy-config 1").size(), 1u);
        if (row.pageRead) {
            // No instance GUID: nothing stored, but the device is re-opened.
            EXPECT_FALSE(run.Find("get-config 1 flags=0x00000001 hr=0x80004005", click).empty());
            EXPECT_EQ(run.Texts("directinput-create", click).size(), 1u);
            EXPECT_GE(run.TimeOf("release-device 1"), click);
        } else {
            // Neither looked up nor re-opened: the device in use is the one handed over.
            EXPECT_TRUE(run.Find("get-config 1 flags=0x00000001", click).empty());
            EXPECT_TRUE(run.Find("directinput-create").empty());
            EXPECT_TRUE(run.Find("new-device 2").empty());
        }
    }
}

}  // namespace
