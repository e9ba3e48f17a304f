// The virtual wheel the sheet is tested and demonstrated with: its scripted input, the effect
// parameters it keeps and hands the driver as DirectInput does, and the Effect page's rumble
// going all the way to motor reports through the driver's own code.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "ffdriver/effect_driver.h"
#include "propsheet/device.h"
#include "propsheet/pages.h"
#include "tests/native/propsheet_wheel_fixture.h"

namespace velquin {
namespace {

using hosted::EffectRecord;
using hosted::VirtualCall;
using hosted::WheelFrame;
using hosted::WheelState;
using hosted::WheelTimeline;
using sheettest::At;
using sheettest::FakeWindow;
using sheettest::WheelRig;

TEST(PropsheetVirtualWheel, TimelineKeepsWhatAFrameDoesNotChange) {
    WheelFrame first = At(0);
    first.x = 100;
    first.buttons = 1;
    WheelFrame second = At(500);
    second.y = 200;
    second.pov = 9000;
    WheelFrame third = At(500);  // same moment: applied after the second
    third.y = 300;
    WheelFrame fourth = At(900);
    fourth.connected = false;
    fourth.buttons = 0;
    const WheelTimeline timeline({fourth, first, second, third});

    const WheelState start = timeline.At(0);
    EXPECT_EQ(start.x, 100);
    EXPECT_EQ(start.y, 32768);
    EXPECT_EQ(start.z, 32768);
    EXPECT_EQ(start.pov, 0xFFFFFFFFu);
    EXPECT_EQ(start.buttons, 1u);
    EXPECT_TRUE(start.connected);
    EXPECT_EQ(timeline.At(499), start);

    const WheelState middle = timeline.At(500);
    EXPECT_EQ(middle.x, 100);
    EXPECT_EQ(middle.y, 300);
    EXPECT_EQ(middle.pov, 9000u);
    EXPECT_EQ(middle.buttons, 1u);

    const WheelState end = timeline.At(100000);
    EXPECT_FALSE(end.connected);
    EXPECT_EQ(end.buttons, 0u);
    EXPECT_EQ(end.y, 300);
    EXPECT_EQ(timeline.FramesBy(0), 1u);
    EXPECT_EQ(timeline.FramesBy(500), 3u);
    EXPECT_EQ(timeline.FramesBy(899), 3u);
    EXPECT_EQ(timeline.FramesBy(900), 4u);
}

TEST(PropsheetVirtualWheel, ButtonNumbersBecomeBits) {
    uint32_t mask = 0xDEAD;
    ASSERT_TRUE(hosted::ButtonMask({1, 12, 32}, &mask));
    EXPECT_EQ(mask, 0x80000801u);
    ASSERT_TRUE(hosted::ButtonMask({}, &mask));
    EXPECT_EQ(mask, 0u);
    mask = 7;
    EXPECT_FALSE(hosted::ButtonMask({0}, &mask));
    EXPECT_FALSE(hosted::ButtonMask({33}, &mask));
    EXPECT_EQ(mask, 7u) << "a refused list changes nothing";
}

// The instance numbers of the installed actuators: X and Y.
const std::vector<WORD> kXY = {0, 1};

TEST(PropsheetVirtualWheel, AxisOffsetsBecomeAbsoluteAxisIds) {
    struct Row {
        DWORD offset;
        bool ok;
        DWORD id;
    };
    const Row rows[] = {
        {0, true, 0x002}, {4, true, 0x102}, {8, true, 0x202}, {20, true, 0x502},
        {2, false, 0},    {24, false, 0},   {48, false, 0},
    };
    for (const Row& row : rows) {
        DWORD id = 0;
        EXPECT_EQ(hosted::AxisObjectId(row.offset, &id), row.ok) << row.offset;
        if (row.ok) {
            EXPECT_EQ(id, row.id) << row.offset;
        }
    }
}

TEST(PropsheetVirtualWheel, DriverSeesObjectIdsWhateverThePageGave) {
    RumbleParams params;
    MakeRumbleEffect(&params);
    EffectRecord record;
    ASSERT_EQ(record.Merge(params.effect, DIEP_ALLPARAMS, kXY), DI_OK);
    const DIEFFECT view = record.DriverView();
    EXPECT_EQ(view.dwFlags, static_cast<DWORD>(DIEFF_CARTESIAN | DIEFF_OBJECTIDS));
    ASSERT_EQ(view.cAxes, 2u);
    EXPECT_EQ(view.rgdwAxes[0], 0x002u);
    EXPECT_EQ(view.rgdwAxes[1], 0x102u);
    EXPECT_EQ(view.dwDuration, 0xFFFFFFFFu);
    EXPECT_EQ(view.dwGain, 10000u);
    EXPECT_EQ(view.dwTriggerButton, 0xFFFFFFFFu);
    EXPECT_EQ(view.lpEnvelope, nullptr);
    EXPECT_EQ(record.ConstantMagnitude(), 0);

    // Object IDs given by a caller are passed on as they are.
    DWORD ids[2] = {0x102, 0x002};
    params.effect.dwFlags = DIEFF_POLAR | DIEFF_OBJECTIDS;
    params.effect.rgdwAxes = ids;
    ASSERT_EQ(record.Merge(params.effect, DIEP_AXES | DIEP_DIRECTION, kXY), DI_OK);
    EXPECT_EQ(record.axes(), (std::vector<DWORD>{0x102, 0x002}));
    EXPECT_EQ(record.coordinates(), static_cast<DWORD>(DIEFF_POLAR));
}

TEST(PropsheetVirtualWheel, UpdateChangesOnlyWhatItsFlagsName) {
    RumbleParams created;
    MakeRumbleEffect(&created);
    EffectRecord record;
    ASSERT_EQ(record.Merge(created.effect, DIEP_ALLPARAMS, kXY), DI_OK);
    RumbleParams update;
    MakeRumbleUpdate(RumbleFromAxes(0, 65535), &update);
    ASSERT_EQ(record.Merge(update.effect, kRumbleUpdateFlags, kXY), DI_OK);
    const DIEFFECT view = record.DriverView();
    EXPECT_EQ(record.direction(), (std::vector<LONG>{10000, 9999}));
    EXPECT_EQ(record.ConstantMagnitude(), 14141);
    // Not named by the update: as created, although the update's record holds zeros there.
    EXPECT_EQ(view.dwDuration, 0xFFFFFFFFu);
    EXPECT_EQ(view.dwGain, 10000u);
    EXPECT_EQ(record.axes(), (std::vector<DWORD>{0x002, 0x102}));
}

TEST(PropsheetVirtualWheel, RefusedParametersChangeNothing) {
    struct Row {
        const char* what;
        void (*spoil)(DIEFFECT&);
        DWORD flags;
    };
    const Row rows[] = {
        {"wrong size", [](DIEFFECT& e) { e.dwSize = 12; }, DIEP_DIRECTION},
        {"direction for three axes on a two-axis effect", [](DIEFFECT& e) { e.cAxes = 3; },
         DIEP_DIRECTION},
        {"no coordinate system", [](DIEFFECT& e) { e.dwFlags = DIEFF_OBJECTOFFSETS; },
         DIEP_DIRECTION},
        {"two coordinate systems",
         [](DIEFFECT& e) { e.dwFlags = DIEFF_CARTESIAN | DIEFF_POLAR | DIEFF_OBJECTOFFSETS; },
         DIEP_DIRECTION},
        {"no direction array", [](DIEFFECT& e) { e.rglDirection = nullptr; }, DIEP_DIRECTION},
        {"axes neither as offsets nor as IDs", [](DIEFFECT& e) { e.dwFlags = DIEFF_CARTESIAN; },
         DIEP_AXES},
        {"an offset that is no axis",
         [](DIEFFECT& e) {
             static DWORD bad[2] = {0, 6};
             e.rgdwAxes = bad;
         },
         DIEP_AXES},
        {"an axis that carries no force feedback",
         [](DIEFFECT& e) {
             static DWORD z[2] = {0, DIJOFS_Z};
             e.rgdwAxes = z;
         },
         DIEP_AXES},
        {"an object ID that names an actuator's instance but no axis",
         [](DIEFFECT& e) {
             static DWORD pov[2] = {0x002, DIDFT_POV | DIDFT_MAKEINSTANCE(1)};
             e.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTIDS;
             e.rgdwAxes = pov;
         },
         DIEP_AXES},
        {"type-specific size without a block",
         [](DIEFFECT& e) { e.lpvTypeSpecificParams = nullptr; }, DIEP_TYPESPECIFICPARAMS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RumbleParams created;
        MakeRumbleEffect(&created);
        EffectRecord record;
        ASSERT_EQ(record.Merge(created.effect, DIEP_ALLPARAMS, kXY), DI_OK);
        RumbleParams update;
        MakeRumbleEffect(&update);
        update.direction[0] = 77;
        update.force.lMagnitude = 99;
        row.spoil(update.effect);
        EXPECT_EQ(record.Merge(update.effect, row.flags | DIEP_TYPESPECIFICPARAMS, kXY),
                  DIERR_INVALIDPARAM);
        EXPECT_EQ(record.direction(), (std::vector<LONG>{0, 0}));
        EXPECT_EQ(record.ConstantMagnitude(), 0);
    }
}

// lX for X = -4000: motor A at 50.8, well clear of any rounding.
constexpr LONG kMinus4000 = 32768 - 13108;

// A device the sheet prepared, acquired, with the page's effect created on it.
class EffectRig {
  public:
    explicit EffectRig(WheelRig& rig) : rig_(rig) {
        EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), FakeWindow(0x10), rig.NewSheet()),
                  S_OK);
        device = rig.SheetDevice();
    }
    ~EffectRig() {
        if (effect != nullptr) {
            effect->Release();
        }
    }
    HRESULT Create() {
        RumbleParams params;
        MakeRumbleEffect(&params);
        return device->CreateEffect(GUID_ConstantForce, &params.effect, &effect, nullptr);
    }
    HRESULT Aim(LONG lX, LONG lY) {
        RumbleParams params;
        MakeRumbleUpdate(RumbleFromAxes(lX, lY), &params);
        return effect->SetParameters(&params.effect, kRumbleUpdateFlags);
    }
    // One driver tick, 25 ms on; the report it sent.
    std::string Tick() {
        rig_.clock.Advance(25);
        const size_t before = rig_.Reports().size();
        rig_.timer.Fire();
        const auto reports = rig_.Reports();
        return reports.size() > before ? reports.back() : "none";
    }

    IDirectInputDevice2A* device = nullptr;
    IDirectInputEffect* effect = nullptr;

  private:
    WheelRig& rig_;
};

// Motor A's level and motor B's switch in a report "id b1 b2 0".
struct Motors {
    int levelA;
    bool motorB;
};
Motors ReadMotors(const std::string& report) {
    unsigned b[4] = {};
    EXPECT_EQ(std::sscanf(report.c_str(), "%x %x %x %x", &b[0], &b[1], &b[2], &b[3]), 4) << report;
    EXPECT_EQ(b[2] % 2, 0u) << "motor A is reported doubled";
    return {static_cast<int>(b[2] / 2), b[1] != 0};
}

TEST(PropsheetVirtualWheel, PageEffectIsHeardFromTheNextTick) {
    // Motor A's level is |X| * 127 / 10000; whether a level that comes out at 127 exactly is
    // truncated to 126 depends on the floating-point unit, so a range is expected.
    struct Row {
        const char* what;
        LONG lX, lY;
        int minA, maxA;
        bool motorB;
    };
    const Row rows[] = {
        {"centred: silent", 32768, 32768, 0, 0, false},
        {"fully left: motor A at full strength", 0, 32768, 126, 127, false},
        {"fully right: the same", 65535, 32768, 126, 126, false},
        {"left and down: both motors", 0, 65535, 126, 127, true},
        {"X = -4000", 32768 - 13108, 32768, 50, 50, false},
        {"a little left: below the motors' threshold", 32768 - 3277, 32768, 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WheelRig rig;
        EffectRig page(rig);
        ASSERT_EQ(page.device->Acquire(), DI_OK);
        ASSERT_EQ(page.Create(), DI_OK);
        ASSERT_EQ(page.effect->Start(1, 0), DI_OK);
        // Every tick of the page restarts it with the same values: heard every time.
        for (int tick = 0; tick < 2; ++tick) {
            ASSERT_EQ(page.Aim(row.lX, row.lY), DI_OK);
            const Motors motors = ReadMotors(page.Tick());
            EXPECT_GE(motors.levelA, row.minA);
            EXPECT_LE(motors.levelA, row.maxA);
            EXPECT_EQ(motors.motorB, row.motorB);
        }
    }
}

TEST(PropsheetVirtualWheel, DriverGetsTheDownloadAsDirectInputSendsIt) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    ASSERT_EQ(page.Create(), DI_OK);
    ASSERT_EQ(page.Aim(0, 65535), DI_OK);
    bool seen = false;
    rig.wheel->driver()->VisitSlot(WheelRig::kJoystickId, 1, [&](const dravik::EffectSlot& slot) {
        seen = true;
        EXPECT_EQ(slot.inUse, 1u);
        EXPECT_EQ(slot.effectType, 0u);
        EXPECT_EQ(slot.playState, 1u) << "DIEP_START reaches the driver";
        EXPECT_EQ(slot.params.dwFlags, static_cast<DWORD>(DIEFF_CARTESIAN | DIEFF_OBJECTIDS));
        ASSERT_EQ(slot.params.cAxes, 2u);
        EXPECT_EQ(slot.params.rgdwAxes[0], 0x002u);
        EXPECT_EQ(slot.params.rgdwAxes[1], 0x102u);
        EXPECT_EQ(slot.params.rglDirection[0], 10000);
        EXPECT_EQ(slot.params.rglDirection[1], 9999);
    });
    EXPECT_TRUE(seen);
}

TEST(PropsheetVirtualWheel, AmplifyScalesTheNextReports) {
    WheelRig rig;
    // Amplify lives under the user's hive on NT 6, the class this rig reports.
    rig.registry.PutDword(HKEY_CURRENT_USER, wheel::OemKey(), "Amplify", 1000);
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    ASSERT_EQ(page.Create(), DI_OK);
    // X = -4000: level 127 * 0.4 = 50.8, doubled in the report.
    ASSERT_EQ(page.Aim(kMinus4000, 32768), DI_OK);
    EXPECT_EQ(page.Tick(), "00 00 64 00");
    ASSERT_EQ(WriteAmplify(rig.registry, wheel::OsWinNT6, 1500), ERROR_SUCCESS);
    // The page restarts its effect after "Apply": the driver reads Amplify when it starts.
    ASSERT_EQ(page.effect->Start(1, 0), DI_OK);
    EXPECT_EQ(page.Tick(), "00 00 98 00");  // 76.2: 1.5 times, truncated
    ASSERT_EQ(page.Aim(0, 32768), DI_OK);
    EXPECT_EQ(page.Tick(), "00 00 fe 00") << "capped at 127";
}

TEST(PropsheetVirtualWheel, NothingIsDownloadedUntilTheDeviceIsAcquired) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_EQ(page.Create(), DI_OK);
    EXPECT_EQ(page.effect->Start(1, 0), DIERR_NOTEXCLUSIVEACQUIRED);
    EXPECT_EQ(page.Aim(0, 32768), DI_DOWNLOADSKIPPED);
    EXPECT_EQ(rig.wheel->driver()->CopyRecord(WheelRig::kJoystickId).bound, 0u);
    // The first tick of a page acquires, then sends the parameters: now it is heard.
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    ASSERT_EQ(page.Aim(kMinus4000, 32768), DI_OK);
    EXPECT_EQ(page.Tick(), "00 00 64 00");
}

TEST(PropsheetVirtualWheel, UnacquireUnloadsTheEffectAndSilencesTheMotors) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    ASSERT_EQ(page.Create(), DI_OK);
    ASSERT_EQ(page.Aim(kMinus4000, 32768), DI_OK);
    EXPECT_EQ(page.Tick(), "00 00 64 00");
    ASSERT_EQ(page.device->Unacquire(), DI_OK);
    EXPECT_EQ(rig.Reports().back(), "00 00 00 00") << "the unload stops the effect at once";
    EXPECT_EQ(page.Tick(), "00 00 00 00");
    EXPECT_EQ(rig.wheel->driver()->CopyRecord(WheelRig::kJoystickId).effects[0].inUse, 0u);
    // Released afterwards, the effect has nothing left in the driver to destroy.
    page.effect->Release();
    page.effect = nullptr;
    EXPECT_EQ(rig.wheel->LiveEffects(), 0);
}

// Enumeration callbacks: DirectInput calls them with its own calling convention, which a
// lambda does not have on x86.
struct SeenObjects {
    std::vector<std::string> names;
    std::vector<DWORD> types;
};
BOOL CALLBACK CollectObject(const DIDEVICEOBJECTINSTANCEA* object, LPVOID ref) {
    auto* out = static_cast<SeenObjects*>(ref);
    out->names.emplace_back(object->tszName);
    out->types.push_back(object->dwType);
    EXPECT_NE(object->dwFFMaxForce, 0u);
    return DIENUM_CONTINUE;
}
BOOL CALLBACK CollectEffectName(const DIEFFECTINFOA* info, LPVOID ref) {
    static_cast<std::vector<std::string>*>(ref)->emplace_back(info->tszName);
    return DIENUM_CONTINUE;
}

// DirectInput decides from the installation what games see of the wheel: the driver, its
// timing, the actuators, the effect types. Where the installation lacks a piece, the effect
// the Effect page makes is refused and the driver gets nothing.
TEST(PropsheetVirtualWheel, InstallationDecidesWhatDirectInputOffers) {
    const std::string axes = wheel::OemAxesKey();
    struct Row {
        const char* what;
        std::function<void(hosted::MemoryRegistry&)> change;
        bool forceFeedback;
        std::vector<std::string> actuators;
        HRESULT create;
    };
    const Row rows[] = {
        {"as installed", [](hosted::MemoryRegistry&) {}, true, {"X Axis", "Y Axis"}, DI_OK},
        {"Y without FFAttributes",
         [&](hosted::MemoryRegistry& r) {
             r.DeleteValue(HKEY_LOCAL_MACHINE, axes + "\\1", "FFAttributes");
         },
         true,
         {"X Axis"},
         DIERR_INVALIDPARAM},
        {"X not flagged as an actuator",
         [&](hosted::MemoryRegistry& r) {
             const uint8_t positionOnly[8] = {0x00, 0x01, 0, 0, 0x01, 0, 0x30, 0};
             r.PutValue(HKEY_LOCAL_MACHINE, axes + "\\0", "Attributes", REG_BINARY, positionOnly,
                        sizeof positionOnly);
         },
         true,
         {"Y Axis"},
         DIERR_INVALIDPARAM},
        {"no Axes keys",
         [&](hosted::MemoryRegistry& r) { r.DeleteKey(HKEY_LOCAL_MACHINE, axes); },
         true,
         {},
         DIERR_INVALIDPARAM},
        {"no driver named",
         [](hosted::MemoryRegistry& r) {
             r.DeleteValue(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID");
         },
         false,
         {"X Axis", "Y Axis"},
         DIERR_UNSUPPORTED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WheelRig rig;
        row.change(rig.registry);
        EffectRig page(rig);
        ASSERT_NE(page.device, nullptr);

        DIDEVCAPS caps = {};
        caps.dwSize = sizeof caps;
        ASSERT_EQ(page.device->GetCapabilities(&caps), DI_OK);
        EXPECT_EQ((caps.dwFlags & DIDC_FORCEFEEDBACK) != 0, row.forceFeedback);
        EXPECT_EQ(caps.dwFFSamplePeriod, row.forceFeedback ? 25000u : 0u);
        EXPECT_EQ(caps.dwAxes, 4u);

        SeenObjects seen;
        ASSERT_EQ(page.device->EnumObjects(CollectObject, &seen, DIDFT_AXIS | DIDFT_FFACTUATOR),
                  DI_OK);
        EXPECT_EQ(seen.names, row.actuators);
        for (DWORD type : seen.types) {
            EXPECT_NE(type & DIDFT_FFACTUATOR, 0u);
        }

        std::vector<std::string> effects;
        ASSERT_EQ(page.device->EnumEffects(CollectEffectName, &effects, DIEFT_ALL), DI_OK);
        EXPECT_EQ(effects.size(), row.forceFeedback ? 12u : 0u);

        ASSERT_EQ(page.device->Acquire(), DI_OK);
        EXPECT_EQ(page.Create(), row.create);
        bool downloaded = false;
        rig.wheel->driver()->VisitSlot(WheelRig::kJoystickId, 1, [&](const dravik::EffectSlot& s) {
            downloaded = s.inUse != 0;
        });
        EXPECT_EQ(downloaded, row.create == DI_OK) << "what the driver was handed";
    }
}

// The effect types as installed, by class and by name.
TEST(PropsheetVirtualWheel, EffectTypesAreListedAsInstalled) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_NE(page.device, nullptr);
    std::vector<std::string> periodic;
    ASSERT_EQ(page.device->EnumEffects(CollectEffectName, &periodic, 0x03 /* DIEFT_PERIODIC */),
              DI_OK);
    EXPECT_EQ(periodic, (std::vector<std::string>{"Square", "Sine", "Triangle", "Sawtooth Up",
                                                  "Sawtooth Down"}));
    DIEFFECTINFOA info = {};
    info.dwSize = sizeof info;
    ASSERT_EQ(page.device->GetEffectInfo(&info, GUID_ConstantForce), DI_OK);
    EXPECT_STREQ(info.tszName, "Constant Force");
    EXPECT_EQ(info.dwEffType, 0x601u) << "constant force with attack and fade";
    const GUID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(page.device->GetEffectInfo(&info, unknown), DIERR_DEVICENOTREG);
    info.dwSize = 12;
    EXPECT_EQ(page.device->GetEffectInfo(&info, GUID_ConstantForce), DIERR_INVALIDPARAM);
}

TEST(PropsheetVirtualWheel, CreateEffectCanBeMadeToFail) {
    WheelFrame fail = At(100);
    fail.createEffectFails = true;
    WheelRig rig({fail});
    EffectRig page(rig);
    ASSERT_EQ(page.Create(), DI_OK);
    page.effect->Release();
    page.effect = nullptr;
    rig.clock.Advance(100);
    EXPECT_TRUE(FAILED(page.Create()));
    EXPECT_EQ(page.effect, nullptr);
    EXPECT_EQ(rig.wheel->LiveEffects(), 0);
}

TEST(PropsheetVirtualWheel, UnpluggedWheelCannotBeAcquiredOrRead) {
    WheelFrame unplug = At(50);
    unplug.connected = false;
    WheelRig rig({unplug});
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    EXPECT_EQ(page.device->Acquire(), S_FALSE) << "already acquired";
    DIJOYSTATE state = {};
    EXPECT_EQ(page.device->GetDeviceState(sizeof state, &state), DI_OK);
    rig.clock.Advance(50);
    EXPECT_EQ(page.device->GetDeviceState(sizeof state, &state), DIERR_INPUTLOST);
    EXPECT_EQ(page.device->Acquire(), DIERR_UNPLUGGED);
    EXPECT_EQ(page.device->GetDeviceState(sizeof state, &state), DIERR_NOTACQUIRED);
}

TEST(PropsheetVirtualWheel, UnpluggedWheelIsNoDeviceToMake) {
    WheelFrame unplug = At(50);
    unplug.connected = false;
    WheelFrame plug = At(100);
    plug.connected = true;
    WheelRig rig({unplug, plug});
    IDirectInputA* input = rig.wheel->NewDirectInput();
    IDirectInputDeviceA* device = nullptr;
    ASSERT_EQ(input->CreateDevice(hosted::kVirtualWheelInstance, &device, nullptr), DI_OK);
    device->Release();
    rig.clock.Advance(50);
    EXPECT_EQ(input->CreateDevice(hosted::kVirtualWheelInstance, &device, nullptr),
              DIERR_DEVICENOTREG);
    EXPECT_EQ(device, nullptr);
    rig.clock.Advance(50);
    ASSERT_EQ(input->CreateDevice(hosted::kVirtualWheelInstance, &device, nullptr), DI_OK);
    device->Release();
    input->Release();
}

// The joystick configuration reports the hardware of the wheel's installed type, and a frame
// can make a number of reads fail, then the reads work again.
TEST(PropsheetVirtualWheel, ConfigurationIsTheInstalledTypeAndCanFailACountOfReads) {
    WheelFrame twice = At(0);
    twice.getConfigFailures = 2;
    WheelFrame once = At(100);
    once.getConfigFailures = 1;
    WheelRig rig({twice, once});
    IDirectInputJoyConfig* joyConfig = rig.wheel->NewJoyConfig();
    auto read = [&] {
        DIJOYCONFIG config = {};
        config.dwSize = sizeof config;
        const HRESULT hr =
            joyConfig->GetConfig(WheelRig::kJoystickId, &config, DIJC_REGHWCONFIGTYPE);
        return std::pair{hr, config.hwc.hws};
    };
    EXPECT_EQ(read().first, E_FAIL);
    EXPECT_EQ(read().first, E_FAIL);
    const auto [hr, hws] = read();
    ASSERT_EQ(hr, DI_OK);
    // OEMData as the installation writes it: Z, a hat, R, and twelve buttons.
    EXPECT_EQ(hws.dwNumButtons, 12u);
    EXPECT_EQ(hws.dwFlags, static_cast<DWORD>(JOY_HWS_HASZ | JOY_HWS_HASPOV | JOY_HWS_HASR));
    EXPECT_EQ(read().first, DI_OK);
    rig.clock.Advance(100);
    EXPECT_EQ(read().first, E_FAIL);
    EXPECT_EQ(read().first, DI_OK);
    joyConfig->Release();

    // Another OEMData installed is what is reported; with none installed, the installation's.
    struct Row {
        const char* what;
        bool installed;
        DWORD buttons;
    };
    for (const Row& row : {Row{"six buttons installed", true, 6}, Row{"nothing", false, 12}}) {
        hosted::MemoryRegistry registry;
        if (row.installed) {
            const BYTE sixButtons[8] = {0x01, 0, 0, 0, 6, 0, 0, 0};
            registry.PutValue(HKEY_LOCAL_MACHINE, wheel::OemKey(), "OEMData", REG_BINARY,
                              sixButtons, sizeof sixButtons);
        }
        hosted::ManualClock clock{0};
        hosted::ManualTimer timer;
        hosted::VirtualWheelSetup setup;
        setup.registry = &registry;
        setup.clock = &clock;
        setup.timer = &timer;
        setup.osClass = [] { return wheel::OsWinNT6; };
        setup.sleep = [](uint32_t) {};
        const auto wheel = hosted::VirtualDirectInput::Create(std::move(setup));
        EXPECT_EQ(wheel->hardware().dwNumButtons, row.buttons) << row.what;
    }
}

TEST(PropsheetVirtualWheel, OneDeviceHasTheWheelExclusively) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    IDirectInputDevice2A* second = rig.wheel->NewDevice();
    ASSERT_EQ(second->SetDataFormat(wheel::JoystickDataFormat()), DI_OK);
    ASSERT_EQ(second->SetCooperativeLevel(FakeWindow(0x20), kCooperativeLevel), DI_OK);
    EXPECT_EQ(second->Acquire(), DIERR_OTHERAPPHASPRIO);
    ASSERT_EQ(page.device->Unacquire(), DI_OK);
    EXPECT_EQ(second->Acquire(), DI_OK);
    second->Release();
}

TEST(PropsheetVirtualWheel, LogTellsTheEffectsAndReports) {
    WheelRig rig;
    EffectRig page(rig);
    ASSERT_EQ(page.device->Acquire(), DI_OK);
    ASSERT_EQ(page.Create(), DI_OK);
    ASSERT_EQ(page.Aim(kMinus4000, 32768 + 13108), DI_OK);
    page.Tick();
    auto has = [&](const std::string& line) {
        for (const std::string& entry : rig.log) {
            if (entry == line) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has("acquire 0x00000000"));
    EXPECT_TRUE(has("create-effect 0x00000000"));
    EXPECT_TRUE(
        has("set-parameters flags=0x20000140 direction=4000,4000 magnitude=5656 "
            "hr=0x00000000"));
    EXPECT_TRUE(has("report 00 01 64 00"));
}

}  // namespace
}  // namespace velquin
