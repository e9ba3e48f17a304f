// The pages with Wine's own DirectInput and the virtual HID wheel: the sheet opens the wheel
// itself, as under the real control panel, and what the wheel reports reaches the pixels of the
// Test page and the labels of the Calibration page; unplugging and replugging the wheel shows in
// the status line. Each case restores the wheel to rest, plugged in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/gui/gui_util.h"
#include "tests/gui/host_run.h"
#include "tools/hid-wheel/hid_wheel.h"

namespace {

using namespace guitest::host;

// One input of the wheel, as the test writes it and as cpl-host's hid:set takes it.
struct Input {
    uint16_t x, y, z, rz;
    int hat;  // 0..7 clockwise from up, -1 centred
    uint16_t buttons;

    HidWheelControl Control() const {
        HidWheelControl control = hidwheel::RestingControl();
        control.axes[0] = x;
        control.axes[1] = y;
        control.axes[2] = z;
        control.axes[3] = rz;
        control.hat = hat < 0 ? HID_WHEEL_HAT_CENTRED : static_cast<uint8_t>(hat);
        control.buttons = buttons;
        return control;
    }
    std::string Action() const {
        return "hid:set:" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) +
               "," + std::to_string(rz) + "," + std::to_string(hat) + "," + std::to_string(buttons);
    }
};

// The wheel's axes are 8-bit, which DirectInput reads as v x 257 in 0..65535. The page reads
// them through its 5 % dead zone, so the inputs stay at the ends, where the dead zone changes
// nothing, or at the centre (128), which it reads as the middle of 0..65535.
constexpr int kCentre = 32767;

class VelquinHid : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = guitest::InstallWheelAndSheet(); }

    void SetUp() override {
        ASSERT_TRUE(installed_) << "the wheel's data or the sheet's registration is missing";
        host_ = guitest::PathFromEnv("WHEEL_CPL_HOST");
        inf_ = guitest::PathFromEnv("WHEEL_HID_WHEEL_INF");
        ASSERT_FALSE(host_.empty()) << "WHEEL_CPL_HOST is not set";
        ASSERT_FALSE(inf_.empty()) << "WHEEL_HID_WHEEL_INF is not set";
        ASSERT_FALSE(guitest::ArtefactPath("x").empty()) << "WHEEL_ARTEFACTS is not set";
        ASSERT_FALSE(hidwheel::FindInterfacePath().empty()) << "the HID wheel is not installed";
    }

    void TearDown() override {
        EXPECT_TRUE(hidwheel::WriteControl(hidwheel::RestingControl()));
        std::string message;
        EXPECT_TRUE(hidwheel::Install(inf_, &message)) << message;
    }

    std::string Artefact(const std::string& name) const {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return guitest::ArtefactPath(std::string("hid-") + test->name() + "-" + name);
    }
    std::string ShotName(uint32_t ms) const { return Artefact("at" + std::to_string(ms) + ".bmp"); }

    // The host with the HID wheel, starting from `input`; `shots` are moments to save the sheet.
    HostRun RunHost(const Input& input, const std::string& arguments,
                    const std::vector<uint32_t>& shots) {
        EXPECT_TRUE(hidwheel::WriteControl(input.Control()));
        const std::string logPath = Artefact("events.log");
        DeleteFileA(logPath.c_str());
        std::string command =
            "\"" + host_ + "\" --hid-wheel \"" + inf_ + "\" --log \"" + logPath + "\" " + arguments;
        for (uint32_t ms : shots) {
            DeleteFileA(ShotName(ms).c_str());
            command += " --at \"" + std::to_string(ms) + "=shot:" + ShotName(ms) + "\"";
        }
        HostRun run = LaunchHost(command, logPath);
        EXPECT_EQ(run.exitCode, 0) << command;
        return run;
    }

    std::string host_;
    std::string inf_;
    static bool installed_;
};
bool VelquinHid::installed_ = false;

void ExpectTestPage(const HostRun& run, uint32_t ms, const std::string& shot, const Input& in,
                    int x, int y, int z, int rz, uint32_t angle) {
    SCOPED_TRACE("shot at " + std::to_string(ms) + " ms");
    for (int button = 0; button < 12; ++button) {
        ExpectLamp(run, ms, shot, 1000 + button, (in.buttons >> button & 1) != 0 ? kRed : kDarkRed);
    }
    ExpectCrossHair(run, shot, 1013, x, y);
    ExpectCrossHair(run, shot, 1014, z, rz);
    const Found pov = Locate(run, shot, 1015);
    for (uint32_t other = 0; other < 36000; other += 4500) {
        const velquin::Point head = ArrowHead(pov.box, other);
        if (other == angle) {
            EXPECT_EQ(guitest::Hex(Pixel(pov, head.x, head.y)), guitest::Hex(kRed)) << other;
        } else {
            EXPECT_NE(guitest::Hex(Pixel(pov, head.x, head.y)), guitest::Hex(kRed)) << other;
        }
    }
}

// The sheet made its own DirectInput through the shim and found the wheel as joystick 0.
void ExpectOpenedThroughTheShim(const HostRun& run) {
    EXPECT_FALSE(run.Find("directinput-create version=0x0700 hr=0x00000000").empty());
    EXPECT_FALSE(run.Find("get-config id=0 flags=0x00000001 hr=0x00000000").empty());
}

TEST_F(VelquinHid, TestPageShowsWhatTheWheelReports) {
    // Buttons 1, 3 and 12, the hat to the right; then buttons 2 and 11, the hat down-left.
    const Input first{0, 255, 255, 0, 2, 0x805};
    const Input second{255, 0, 128, 255, 5, 0x402};
    const HostRun run =
        RunHost(first, "--page 0 --exit-after 4000 --at 2700=" + second.Action(), {2500, 3800});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.Find("page Test Page").empty());
    ExpectOpenedThroughTheShim(run);
    ASSERT_FALSE(run.Find("hid-set 255,0,128,255,5,1026 ok").empty());

    // A first start of the prefix's session can take a second before the page reads the wheel.
    ASSERT_LT(run.TimeOf("status 1024 The device is connected."), 2500u);
    ExpectTestPage(run, 2500, ShotName(2500), first, 0, 65535, 65535, 0, 9000);
    ExpectTestPage(run, 3800, ShotName(3800), second, 65535, 0, kCentre, 65535, 22500);
    EXPECT_EQ(run.Texts("status"),
              std::vector<std::string>{"status 1024 The device is connected."});
}

TEST_F(VelquinHid, CalibrationPageFollowsTheAxes) {
    const Input first{0, 255, 0, 255, -1, 0};
    const Input second{255, 0, 128, 0, -1, 0};
    const HostRun run =
        RunHost(first, "--page 1 --exit-after 3200 --at 2000=" + second.Action(), {});
    ASSERT_EQ(run.exitCode, 0);
    ExpectOpenedThroughTheShim(run);
    const uint32_t set = run.TimeOf("hid-set 255,0,128,0,-1,0 ok");
    ASSERT_NE(set, UINT32_MAX);
    // X, Y, Z and Rz as raw / 256. The first state DirectInput gives can be a report the
    // device buffered before this run (the wheel at rest), so the labels settle on the input.
    const std::vector<std::string> before = run.Texts("text", 0, set);
    ASSERT_GE(before.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(before.end() - 4, before.end()),
        (std::vector<std::string>{"text 1016 0", "text 1017 255", "text 1018 0", "text 1019 255"}));
    EXPECT_EQ(run.Texts("text", set), (std::vector<std::string>{"text 1016 255", "text 1017 0",
                                                                "text 1018 127", "text 1019 0"}));
    EXPECT_EQ(run.Texts("status"),
              std::vector<std::string>{"status 1025 The device is connected."});
}

// Unplugged while the Test page is shown, and plugged in again: each status text once, and
// after the replug the page shows what the wheel reports now.
TEST_F(VelquinHid, UnplugAndReplugShowInTheStatusLine) {
    const Input before{128, 128, 128, 128, -1, 0x1};
    const Input after{0, 0, 128, 128, 0, 0x2};
    const HostRun run =
        RunHost(before,
                "--page 0 --exit-after 4600 --at 1600=hid:unplug --at 2000=" + after.Action() +
                    " --at 2400=hid:plug",
                {1400, 4400});
    ASSERT_EQ(run.exitCode, 0);
    const uint32_t unplugged = run.TimeOf("hid-unplug ok");
    const uint32_t plugged = run.TimeOf("hid-plug ok");
    ASSERT_NE(unplugged, UINT32_MAX);
    ASSERT_NE(plugged, UINT32_MAX);
    EXPECT_EQ(run.Texts("status"),
              (std::vector<std::string>{"status 1024 The device is connected.",
                                        "status 1024 The device is not responding.",
                                        "status 1024 The device is connected."}));
    const std::vector<Event> statuses = run.Find("status");
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_LT(statuses[0].ms, unplugged);
    EXPECT_GE(statuses[1].ms, unplugged);
    EXPECT_LT(statuses[1].ms, plugged);
    EXPECT_GE(statuses[2].ms, plugged);
    ASSERT_LT(statuses[0].ms, 1400u);
    ExpectTestPage(run, 1400, ShotName(1400), before, kCentre, kCentre, kCentre, kCentre, 36000);
    // Wine's DirectInput takes the same device back: the page's next Acquire opens the wheel
    // again and its reports are the new input.
    ExpectTestPage(run, 4400, ShotName(4400), after, 0, 0, kCentre, kCentre, 0);
}

// Without the HID wheel the host refuses at once, before any page or log exists.
TEST_F(VelquinHid, HostFailsWithoutTheHidWheel) {
    std::string message;
    ASSERT_TRUE(hidwheel::Unplug(&message)) << message;
    const std::string logPath = Artefact("events.log");
    DeleteFileA(logPath.c_str());
    const HostRun run = LaunchHost("\"" + host_ + "\" --hid-wheel \"" + inf_ + "\" --log \"" +
                                       logPath + "\" --page 0 --exit-after 1000",
                                   logPath);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(GetFileAttributesA(logPath.c_str()), INVALID_FILE_ATTRIBUTES) << "the host went on";
}

}  // namespace
