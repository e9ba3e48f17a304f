// The Calibration page's work against the virtual wheel: the configuration read when the page is
// made, the range and centre followed on every tick, the labels and boxes, and what "Default"
// and "Set" store (through the storage code, into the in-memory registry) and re-open.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "propsheet/calibration.h"
#include "propsheet/calibration_page.h"
#include "tests/native/propsheet_wheel_fixture.h"

namespace velquin {
namespace {

using hosted::UniformRange;
using hosted::VirtualCall;
using sheettest::At;
using sheettest::FakeWindow;
using sheettest::serviceRecord;
using sheettest::WheelRig;

const HWND kFrame = FakeWindow(0x1230);
const HWND kPage = FakeWindow(0x4560);

// What the page did to its window.
struct ViewRecord {
    std::vector<std::string> boxes;   // "1013 x y"
    std::vector<std::string> labels;  // "1016 255"
};
ViewRecord viewRecord;

CalibrationView RecordingView() {
    CalibrationView view;
    view.setXY = [](HWND, int control, int high, int low) {
        viewRecord.boxes.push_back(std::to_string(control) + " " + std::to_string(high) + " " +
                                   std::to_string(low));
    };
    view.setLabel = [](HWND, int control, const char* text) {
        viewRecord.labels.push_back(std::to_string(control) + " " + text);
    };
    return view;
}

struct Range {
    DWORD min;
    DWORD centre;
    DWORD max;
    bool operator==(const Range&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Range& r) {
    return out << r.min << "/" << r.centre << "/" << r.max;
}

Range AxisOf(const JOYRANGE& range, DWORD JOYPOS::*member) {
    return {range.jpMin.*member, range.jpCenter.*member, range.jpMax.*member};
}

JOYRANGE MakeRange(Range x, Range y, Range z, Range r) {
    JOYRANGE range = {};
    const std::pair<DWORD JOYPOS::*, Range> axes[] = {
        {&JOYPOS::dwX, x}, {&JOYPOS::dwY, y}, {&JOYPOS::dwZ, z}, {&JOYPOS::dwR, r}};
    for (const auto& [member, value] : axes) {
        range.jpMin.*member = value.min;
        range.jpCenter.*member = value.centre;
        range.jpMax.*member = value.max;
    }
    return range;
}

DIJOYSTATE Reading(LONG x, LONG y, LONG z, LONG rz) {
    DIJOYSTATE state = {};
    state.lX = x;
    state.lY = y;
    state.lZ = z;
    state.lRz = rz;
    return state;
}

hosted::WheelFrame Position(uint32_t ms, int32_t x, int32_t y, int32_t z, int32_t rz) {
    hosted::WheelFrame frame = At(ms);
    frame.x = x;
    frame.y = y;
    frame.z = z;
    frame.rz = rz;
    return frame;
}

TEST(CalibrationTracking, RangeWidensAndCentreFollowsInCalibrationUnits) {
    struct Row {
        const char* what;
        Range before;
        LONG raw;
        Range after;
    };
    const Row rows[] = {
        {"inside: only the centre moves", {100, 128, 150}, 32768, {100, 128, 150}},
        {"full scale widens the top", {100, 128, 150}, 65535, {100, 255, 255}},
        {"zero widens the bottom", {100, 128, 150}, 0, {0, 0, 150}},
        {"255 raw is still unit 0", {100, 128, 150}, 255, {0, 0, 150}},
        {"256 raw is unit 1", {100, 128, 150}, 256, {1, 1, 150}},
        {"at the edges nothing widens", {100, 128, 150}, 150 * 256 + 255, {100, 150, 150}},
        // The comparisons are unsigned: a negative reading is above any maximum.
        {"negative raw", {100, 128, 150}, -256, {100, 0xFFFFFFFF, 0xFFFFFFFF}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        JOYRANGE range = MakeRange(row.before, row.before, row.before, row.before);
        range.jpMin.dwU = 7;
        range.jpMax.dwV = 9;
        // Only X changes; the others stay on their centre.
        TrackCalibration(&range, Reading(row.raw, 128 * 256, 128 * 256, 128 * 256));
        EXPECT_EQ(AxisOf(range, &JOYPOS::dwX), row.after);
        for (auto member : {&JOYPOS::dwY, &JOYPOS::dwZ, &JOYPOS::dwR}) {
            EXPECT_EQ(AxisOf(range, member), row.before);
        }
        EXPECT_EQ(range.jpMin.dwU, 7u) << "axes the wheel does not have are left alone";
        EXPECT_EQ(range.jpMax.dwV, 9u);
    }
}

TEST(CalibrationTracking, EachAxisHasItsOwnMember) {
    JOYRANGE range = MakeRange({100, 128, 150}, {100, 128, 150}, {100, 128, 150}, {100, 128, 150});
    TrackCalibration(&range, Reading(10 * 256, 20 * 256, 200 * 256, 220 * 256));
    EXPECT_EQ(AxisOf(range, &JOYPOS::dwX), (Range{10, 10, 150}));
    EXPECT_EQ(AxisOf(range, &JOYPOS::dwY), (Range{20, 20, 150}));
    EXPECT_EQ(AxisOf(range, &JOYPOS::dwZ), (Range{100, 200, 200}));
    EXPECT_EQ(AxisOf(range, &JOYPOS::dwR), (Range{100, 220, 220}));
}

TEST(CalibrationTracking, ResetIsZeroToFullWithCentreInTheMiddle) {
    JOYRANGE range = MakeRange({3, 4, 5}, {6, 7, 8}, {9, 10, 11}, {12, 13, 14});
    range.jpCenter.dwU = 77;
    ResetCalibration(&range);
    for (auto member : {&JOYPOS::dwX, &JOYPOS::dwY, &JOYPOS::dwZ, &JOYPOS::dwR}) {
        EXPECT_EQ(AxisOf(range, member), (Range{0, 128, 255}));
    }
    EXPECT_EQ(range.jpCenter.dwU, 77u);
}

TEST(CalibrationTracking, LabelIsRawDividedBy256TowardZero) {
    const std::pair<LONG, const char*> rows[] = {
        {65535, "255"}, {32768, "128"}, {32767, "127"}, {255, "0"},
        {0, "0"},       {-255, "0"},    {-256, "-1"},   {0x7FFFFFFF, "8388607"},
    };
    for (const auto& [raw, text] : rows) {
        EXPECT_STREQ(AxisLabelFor(raw).text, text) << raw;
    }
}

class CalibrationPage : public ::testing::Test {
  protected:
    void SetUp() override { viewRecord = ViewRecord{}; }

    // A page made on a fresh sheet of the rig, as at WM_INITDIALOG.
    INT_PTR Init(WheelRig& rig) {
        state_ = CalibrationPageState{};
        state_.sheet = rig.NewSheet();
        return CalibrationInit(sheettest::TestDeviceServices(), kFrame, &state_);
    }
    void Tick(WheelRig& rig, uint32_t advanceMs = 10) {
        rig.clock.Advance(advanceMs);
        EXPECT_EQ(CalibrationTick(sheettest::TestDeviceServices(), RecordingView(), kPage, &state_),
                  S_OK);
    }
    const JOYRANGE& Working() const { return state_.pageConfig.hwc.hwv.jrvHardware; }

    // A writer that stores into the rig's registry as the running system would.
    CalibrationWriter Writer(WheelRig& rig, wheel::OsClass os = wheel::OsWinNT6) {
        return [&rig, os, this](const DIJOYCONFIG& config, DWORD flags, const GUID& guid,
                                uint16_t id) {
            ++writes_;
            lastFlags_ = flags;
            lastGuid_ = guid;
            lastId_ = id;
            WriteCalibration(rig.registry, os, config, flags, guid, id);
        };
    }

    CalibrationPageState state_;
    int writes_ = 0;
    DWORD lastFlags_ = 0;
    GUID lastGuid_ = {};
    uint16_t lastId_ = 0;
};

// The user's calibration key of a system of NT 6 or later, holding the virtual wheel's GUID as
// DirectInput leaves it.
const std::string kUserCalibration =
    "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\DirectInput"
    "\\VID_2D71&PID_5A08\\Calibration\\0";

void SeedCalibrationKey(WheelRig& rig) {
    HKEY key = nullptr;
    ASSERT_EQ(rig.registry.CreateKey(HKEY_CURRENT_USER, kUserCalibration.c_str(), &key),
              ERROR_SUCCESS);
    BYTE guid[16];
    std::memcpy(guid, &hosted::kVirtualWheelInstance, sizeof guid);
    ASSERT_EQ(rig.registry.SetValue(key, "GUID", REG_BINARY, guid, sizeof guid), ERROR_SUCCESS);
    rig.registry.CloseKey(key);
}

// Minimum, centre, maximum stored for an axis subkey ("0", "1", "2", "5"); nullopt when absent.
std::optional<Range> Stored(WheelRig& rig, const char* axis) {
    HKEY key = nullptr;
    const std::string path = kUserCalibration + "\\Type\\Axes\\" + axis;
    if (rig.registry.OpenKey(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    BYTE data[32] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    const LONG read = rig.registry.QueryValue(key, "Calibration", &type, data, &size);
    rig.registry.CloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_BINARY || size != 12) {
        return std::nullopt;
    }
    auto le = [&data](int at) {
        return static_cast<DWORD>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                  static_cast<DWORD>(data[at + 3]) << 24);
    };
    return Range{le(0), le(4), le(8)};
}

TEST_F(CalibrationPage, InitReadsTheStoredConfigurationAndGivesTheJoyConfigBack) {
    WheelRig rig({}, wheel::OsWinNT6,
                 MakeRange({90, 120, 160}, {80, 128, 170}, {70, 130, 180}, {60, 140, 190}));
    EXPECT_EQ(Init(rig), FALSE);
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{90, 120, 160}));
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwR), (Range{60, 140, 190}));
    EXPECT_EQ(state_.pageConfig.dwSize, sizeof(DIJOYCONFIG));
    EXPECT_EQ(rig.Logged("joy-config-acquire 1"), 1);
    EXPECT_EQ(rig.Logged("get-config 1 flags=0x00000002 hr=0x00000000"), 1);
    EXPECT_EQ(rig.Logged("joy-config-unacquire 1"), 1);
}

TEST_F(CalibrationPage, FailedGetConfigStillGivesTheJoyConfigBack) {
    hosted::WheelFrame failing = At(0);
    failing.getConfigFails = true;
    failing.x = 0;
    WheelRig rig({failing});
    // The control panel hands the sheet its objects before the pages exist, so opening the
    // device needs no GetConfig of its own.
    PropSheet* sheet = rig.NewSheet();
    IDirectInputDevice2A* device = rig.wheel->NewDevice();
    device->SetDataFormat(wheel::JoystickDataFormat());
    sheet->SetDevice(device);
    sheet->SetJoyConfig(rig.wheel->NewJoyConfig());
    state_.sheet = sheet;
    state_.pageConfig.hwc.hwv.jrvHardware = UniformRange(11, 22, 33);

    EXPECT_EQ(CalibrationInit(sheettest::TestDeviceServices(), kFrame, &state_), FALSE);
    EXPECT_FALSE(state_.configRead);
    EXPECT_EQ(rig.Logged("get-config 1 flags=0x00000002 hr=0x80004005"), 1);
    EXPECT_EQ(rig.Logged("joy-config-unacquire 1"), 1) << "left acquired";
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{11, 22, 33})) << "as GetConfig left it";
    // The page still follows the wheel.
    Tick(rig);
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{0, 0, 33}));
}

// A page whose configuration could not be read stores nothing on "Set" or "Default" and
// re-opens nothing, as for a wheel that cannot be acquired, even when an earlier page of the
// process read one and the instance GUID can be looked up; it still follows the axes.
TEST_F(CalibrationPage, UnreadConfigurationIsNeverStored) {
    struct Row {
        const char* what;
        bool earlierPage;
        bool isDefault;
    };
    const Row rows[] = {
        {"Set", false, false},
        {"Default", false, true},
        {"Set after an earlier page read one", true, false},
        {"Default after an earlier page read one", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        viewRecord = ViewRecord{};
        writes_ = 0;
        WheelRig rig({Position(0, 65535, 0, 32768, 32768)}, wheel::OsWinNT6,
                     UniformRange(90, 128, 160));
        SeedCalibrationKey(rig);
        state_ = CalibrationPageState{};
        if (row.earlierPage) {
            ASSERT_EQ(Init(rig), FALSE);
            ASSERT_TRUE(state_.configRead);
            Tick(rig);
            ASSERT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{90, 255, 255}));
            // That sheet is closed before the next one is opened.
            rig.sheet->Release();
            rig.sheet = nullptr;
        }
        // The next page gets its objects from the control panel, so the one read that fails is
        // its own configuration's; the instance GUID is there again at "Set".
        PropSheet* sheet = rig.NewSheet();
        IDirectInputDevice2A* device = rig.wheel->NewDevice();
        device->SetDataFormat(wheel::JoystickDataFormat());
        sheet->SetDevice(device);
        sheet->SetJoyConfig(rig.wheel->NewJoyConfig());
        state_.sheet = sheet;
        rig.wheel->Force(VirtualCall::GetConfig, E_FAIL);
        EXPECT_EQ(CalibrationInit(sheettest::TestDeviceServices(), kFrame, &state_), FALSE);
        rig.wheel->Unforce(VirtualCall::GetConfig);
        EXPECT_FALSE(state_.configRead);

        Tick(rig);
        EXPECT_EQ(viewRecord.labels.front(), "1016 255") << "the page follows the wheel";
        const int getConfigs = rig.wheel->Calls(VirtualCall::GetConfig);
        const int made = serviceRecord.directInputsMade;
        const int stored =
            row.isDefault
                ? DefaultCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig))
                : SetCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig));
        EXPECT_EQ(stored, 0);
        EXPECT_EQ(writes_, 0);
        EXPECT_EQ(Stored(rig, "0"), std::nullopt);
        EXPECT_EQ(rig.wheel->Calls(VirtualCall::GetConfig), getConfigs) << "looked up";
        EXPECT_EQ(serviceRecord.directInputsMade, made) << "re-opened";
        EXPECT_EQ(rig.SheetDevice(), device) << "re-opened";

        // The instance GUID could have been had: the refusal is the page's own.
        DIJOYCONFIG instance = {};
        instance.dwSize = sizeof instance;
        EXPECT_EQ(
            rig.SheetJoyConfig()->GetConfig(WheelRig::kJoystickId, &instance, DIJC_GUIDINSTANCE),
            DI_OK);
    }
}

TEST_F(CalibrationPage, NoDeviceMeansNoConfigurationAndTrue) {
    WheelRig rig;
    serviceRecord.createResult = E_FAIL;
    EXPECT_EQ(Init(rig), TRUE);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::GetConfig), 0);
    EXPECT_EQ(state_.pageConfig.dwSize, 0u);
}

TEST_F(CalibrationPage, TicksRedrawOnlyChangedBoxesAndLabelEveryAxis) {
    WheelRig rig({Position(0, 32768, 32768, 32768, 32768),
                  Position(100, 65535, 32768, 32768, 32768), Position(200, 65535, 32768, 0, 32768)},
                 wheel::OsWinNT6, UniformRange(100, 128, 150));
    ASSERT_EQ(Init(rig), FALSE);
    // lastState starts at zero, so the first reading redraws both boxes.
    Tick(rig);
    EXPECT_EQ(viewRecord.boxes, (std::vector<std::string>{"1013 32768 32768", "1014 32768 32768"}));
    EXPECT_EQ(viewRecord.labels,
              (std::vector<std::string>{"1016 128", "1017 128", "1018 128", "1019 128"}));
    viewRecord = ViewRecord{};
    Tick(rig);
    EXPECT_TRUE(viewRecord.boxes.empty()) << "nothing moved";
    EXPECT_EQ(viewRecord.labels.size(), 4u);
    viewRecord = ViewRecord{};
    Tick(rig, 100);
    EXPECT_EQ(viewRecord.boxes, (std::vector<std::string>{"1013 65535 32768"}));
    EXPECT_EQ(viewRecord.labels.front(), "1016 255");
    viewRecord = ViewRecord{};
    Tick(rig, 100);
    EXPECT_EQ(viewRecord.boxes, (std::vector<std::string>{"1014 0 32768"}));
    EXPECT_EQ(viewRecord.labels[2], "1018 0");

    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{100, 255, 255}));
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwY), (Range{100, 128, 150}));
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwZ), (Range{0, 0, 150}));
    // Every range update under the device lock, and the lock always left.
    EXPECT_GE(serviceRecord.locks, 4 + 1);
    EXPECT_EQ(serviceRecord.locks, serviceRecord.unlocks);
}

TEST_F(CalibrationPage, NotRespondingKeepsBoxesLabelsAndRanges) {
    hosted::WheelFrame unplugged = Position(100, 0, 0, 0, 0);
    unplugged.connected = false;
    WheelRig rig({Position(0, 40000, 32768, 32768, 32768), unplugged}, wheel::OsWinNT6,
                 UniformRange(100, 128, 150));
    ASSERT_EQ(Init(rig), FALSE);
    Tick(rig);
    const JOYRANGE before = Working();
    viewRecord = ViewRecord{};
    Tick(rig, 100);
    Tick(rig);
    EXPECT_TRUE(viewRecord.boxes.empty());
    EXPECT_TRUE(viewRecord.labels.empty());
    EXPECT_EQ(std::memcmp(&before, &Working(), sizeof before), 0);
    ASSERT_FALSE(serviceRecord.statusWrites.empty());
    EXPECT_EQ(serviceRecord.statusWrites.back().text, "The device is not responding.");
    EXPECT_EQ(serviceRecord.statusWrites.back().control, 1025);
}

TEST_F(CalibrationPage, SetStoresTheUnionOfStoredAndSeenAndReopens) {
    WheelRig rig({Position(0, 32768, 32768, 32768, 32768), Position(100, 65535, 2560, 40000, 30000),
                  Position(200, 20000, 40000, 33000, 31000)},
                 wheel::OsWinNT6,
                 MakeRange({90, 120, 160}, {80, 128, 170}, {70, 130, 180}, {60, 140, 190}));
    SeedCalibrationKey(rig);
    ASSERT_EQ(Init(rig), FALSE);
    for (int i = 0; i < 25; ++i) {
        Tick(rig);
    }
    const int live = rig.wheel->LiveDevices();
    EXPECT_EQ(SetCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 1);
    ASSERT_EQ(writes_, 1);
    EXPECT_EQ(lastFlags_, 2u);
    EXPECT_EQ(std::memcmp(&lastGuid_, &hosted::kVirtualWheelInstance, sizeof lastGuid_), 0);
    EXPECT_EQ(lastId_, WheelRig::kJoystickId);
    // X 65535 -> 255 and 20000 -> 78; Y 2560 -> 10; Z 40000 -> 156 stays inside; R 30000 -> 117.
    EXPECT_EQ(Stored(rig, "0"), (Range{78, 78, 255}));
    EXPECT_EQ(Stored(rig, "1"), (Range{10, 156, 170}));
    EXPECT_EQ(Stored(rig, "2"), (Range{70, 128, 180}));
    EXPECT_EQ(Stored(rig, "5"), (Range{60, 121, 190}));

    // Re-opened: the old objects released once each, new ones in the sheet.
    EXPECT_EQ(rig.Logged("release-device 1"), 1);
    EXPECT_EQ(rig.Logged("release-joy-config 1"), 1);
    EXPECT_EQ(rig.Logged("new-device 2"), 1);
    EXPECT_EQ(rig.wheel->LiveDevices(), live);
    EXPECT_EQ(rig.wheel->LiveJoyConfigs(), 1);
    EXPECT_EQ(serviceRecord.locks, serviceRecord.unlocks);
    // The new device works for the next tick.
    Tick(rig);
    EXPECT_EQ(rig.SheetDevice()->Acquire(), S_FALSE);
}

TEST_F(CalibrationPage, DefaultStoresTheFullRangeWhereverTheWheelIs) {
    WheelRig rig({Position(0, 1000, 64000, 5000, 60000), Position(300, 65535, 32768, 0, 40000)},
                 wheel::OsWinNT6, UniformRange(100, 128, 150));
    SeedCalibrationKey(rig);
    ASSERT_EQ(Init(rig), FALSE);
    Tick(rig);
    EXPECT_EQ(DefaultCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 1);
    for (const char* axis : {"0", "1", "2", "5"}) {
        EXPECT_EQ(Stored(rig, axis), (Range{0, 128, 255})) << axis;
    }
    // Moving on and "Set": the range stays full, the centre is the last tick's position.
    Tick(rig, 300);
    EXPECT_EQ(SetCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 1);
    EXPECT_EQ(Stored(rig, "0"), (Range{0, 255, 255}));
    EXPECT_EQ(Stored(rig, "1"), (Range{0, 128, 255}));
    EXPECT_EQ(Stored(rig, "2"), (Range{0, 0, 255}));
    EXPECT_EQ(Stored(rig, "5"), (Range{0, 156, 255}));
    EXPECT_EQ(writes_, 2);
    EXPECT_EQ(rig.Logged("new-device 3"), 1) << "re-opened after each store";
}

TEST_F(CalibrationPage, UnacquirableWheelStoresNothingAndIsNotReopened) {
    hosted::WheelFrame unplugged = At(100);
    unplugged.connected = false;
    WheelRig rig({Position(0, 65535, 0, 0, 0), unplugged});
    SeedCalibrationKey(rig);
    ASSERT_EQ(Init(rig), FALSE);
    Tick(rig);
    rig.clock.Advance(200);
    EXPECT_EQ(DefaultCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 0);
    EXPECT_EQ(writes_, 0);
    EXPECT_EQ(Stored(rig, "0"), std::nullopt);
    EXPECT_EQ(rig.Logged("new-device 2"), 0);
    EXPECT_EQ(rig.Logged("release-device 1"), 0);
    // The reset stays in the page's configuration.
    EXPECT_EQ(AxisOf(Working(), &JOYPOS::dwX), (Range{0, 128, 255}));
}

TEST_F(CalibrationPage, FailedInstanceLookupStoresNothingButReopens) {
    hosted::WheelFrame failing = At(100);
    failing.getConfigFails = true;
    WheelRig rig({Position(0, 65535, 0, 0, 0), failing});
    SeedCalibrationKey(rig);
    ASSERT_EQ(Init(rig), FALSE);
    Tick(rig);
    rig.clock.Advance(200);
    EXPECT_EQ(SetCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 1);
    EXPECT_EQ(writes_, 0);
    EXPECT_EQ(Stored(rig, "0"), std::nullopt);
    EXPECT_EQ(rig.Logged("release-device 1"), 1);
    EXPECT_EQ(rig.Logged("release-joy-config 1"), 1);
    EXPECT_EQ(rig.Logged("new-joy-config 2"), 1);
}

TEST_F(CalibrationPage, StoreWithoutDeviceOrSheetIsRefused) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    int writes = 0;
    const CalibrationWriter count = [&writes](const DIJOYCONFIG&, DWORD, const GUID&, uint16_t) {
        ++writes;
    };
    DIJOYCONFIG config = {};
    EXPECT_EQ(StoreCalibration(config, sheet, count), 0) << "no device to acquire";
    EXPECT_EQ(StoreCalibration(config, nullptr, count), 0);
    // A device without a joy-config object: re-open, which makes one, but store nothing.
    IDirectInputDevice2A* device = rig.wheel->NewDevice();
    device->SetDataFormat(wheel::JoystickDataFormat());
    sheet->SetDevice(device);
    EXPECT_EQ(StoreCalibration(config, sheet, count), 1);
    EXPECT_EQ(writes, 0);
}

TEST_F(CalibrationPage, AlreadyAcquiredDeviceStores) {
    hosted::WheelFrame already = Position(0, 0, 0, 0, 0);
    already.acquireAlready = true;
    WheelRig rig({already});
    SeedCalibrationKey(rig);
    ASSERT_EQ(Init(rig), FALSE);
    EXPECT_EQ(DefaultCalibration(sheettest::TestDeviceServices(), kFrame, &state_, Writer(rig)), 1);
    EXPECT_EQ(writes_, 1);
    EXPECT_EQ(Stored(rig, "5"), (Range{0, 128, 255}));
}

}  // namespace
}  // namespace velquin
