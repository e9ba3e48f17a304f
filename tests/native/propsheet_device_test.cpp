// Opening, re-opening and polling the wheel, against the virtual wheel's DirectInput objects:
// what the sheet ends up holding, what is released and when, and what the status line shows.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "propsheet/device.h"
#include "tests/native/propsheet_wheel_fixture.h"

namespace velquin {
namespace {

using hosted::VirtualCall;
using sheettest::At;
using sheettest::FakeWindow;
using sheettest::serviceRecord;
using sheettest::WheelRig;

const HWND kFrame = FakeWindow(0x1230);
const HWND kPage = FakeWindow(0x4560);

std::vector<std::pair<DWORD, DWORD>> AllDeadZones() {
    return {{0, 500}, {4, 500}, {8, 500}, {20, 500}};
}

TEST(PropsheetOpenDevice, EmptySheetGetsJoyConfigAndPreparedDevice) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);

    ASSERT_NE(rig.SheetJoyConfig(), nullptr);
    ASSERT_NE(rig.SheetDevice(), nullptr);
    const auto device = rig.wheel->Describe(rig.SheetDevice());
    ASSERT_TRUE(device.has_value()) << "the sheet holds a device the wheel did not make";
    EXPECT_TRUE(device->formatSet);
    EXPECT_EQ(device->cooperativeLevel, 9u);
    EXPECT_EQ(device->window, kFrame);
    EXPECT_FALSE(device->acquired);
    EXPECT_EQ(device->deadZones, AllDeadZones());
    // The DirectInput object lived only for the call, and the lock was left as often as taken.
    EXPECT_EQ(serviceRecord.directInputsMade, 1);
    EXPECT_EQ(rig.wheel->LiveDirectInputs(), 0);
    EXPECT_EQ(serviceRecord.locks, 1);
    EXPECT_EQ(serviceRecord.unlocks, 1);
    EXPECT_EQ(rig.wheel->LiveDevices(), 1);
    EXPECT_EQ(rig.wheel->LiveJoyConfigs(), 1);
}

TEST(PropsheetOpenDevice, LaterPagesFindBothAndCreateNothing) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);
    IDirectInputDevice2A* device = rig.SheetDevice();
    IDirectInputJoyConfig* joyConfig = rig.SheetJoyConfig();

    for (int page = 0; page < 2; ++page) {
        EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_FALSE);
    }
    EXPECT_EQ(rig.SheetDevice(), device);
    EXPECT_EQ(rig.SheetJoyConfig(), joyConfig);
    EXPECT_EQ(serviceRecord.directInputsMade, 1);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::CreateDevice), 1);
    EXPECT_EQ(serviceRecord.locks, 3);
    EXPECT_EQ(serviceRecord.unlocks, 3);
}

TEST(PropsheetOpenDevice, MakesOnlyWhatTheSheetIsMissing) {
    struct Row {
        const char* what;
        bool haveJoyConfig;
        bool haveDevice;
        HRESULT result;
        int devicesMade;
    };
    const Row rows[] = {
        {"joy-config object only: a device is made", true, false, S_OK, 1},
        {"device only: a joy-config object is made", false, true, S_FALSE, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WheelRig rig;
        PropSheet* sheet = rig.NewSheet();
        IDirectInputJoyConfig* joyConfig = row.haveJoyConfig ? rig.wheel->NewJoyConfig() : nullptr;
        IDirectInputDevice2A* device = nullptr;
        if (row.haveDevice) {
            device = rig.wheel->NewDevice();
            sheet->SetDevice(device);
        }
        sheet->SetJoyConfig(joyConfig);

        EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), row.result);
        EXPECT_EQ(rig.wheel->Calls(VirtualCall::CreateDevice), row.devicesMade);
        ASSERT_NE(rig.SheetJoyConfig(), nullptr);
        ASSERT_NE(rig.SheetDevice(), nullptr);
        if (row.haveJoyConfig) {
            EXPECT_EQ(rig.SheetJoyConfig(), joyConfig) << "the sheet's joy-config object was kept";
        }
        if (row.haveDevice) {
            EXPECT_EQ(rig.SheetDevice(), device);
        }
        EXPECT_EQ(rig.wheel->LiveJoyConfigs(), 1);
        EXPECT_EQ(rig.wheel->LiveDevices(), 1);
    }
}

// Every step of making the device can fail; the failing call's code comes back, and the device
// made before the failure is released rather than left to nobody.
TEST(PropsheetOpenDevice, FailuresReturnTheCodeAndLeaveNoDevice) {
    struct Row {
        const char* what;
        VirtualCall call;
        HRESULT code;
        bool joyConfigKept;
    };
    const HRESULT kCode = static_cast<HRESULT>(0x80041234u);
    const Row rows[] = {
        {"no joy-config interface (Wine's DirectInput)", VirtualCall::QueryJoyConfig, E_NOINTERFACE,
         false},
        {"GetConfig", VirtualCall::GetConfig, kCode, true},
        {"CreateDevice", VirtualCall::CreateDevice, kCode, true},
        {"QueryInterface for IDirectInputDevice2A", VirtualCall::QueryDevice2, E_NOINTERFACE, true},
        {"SetDataFormat", VirtualCall::SetDataFormat, kCode, true},
        {"SetCooperativeLevel", VirtualCall::SetCooperativeLevel, kCode, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WheelRig rig;
        PropSheet* sheet = rig.NewSheet();
        rig.wheel->Force(row.call, row.code);
        EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), row.code);
        EXPECT_EQ(rig.SheetDevice(), nullptr);
        EXPECT_EQ(rig.wheel->LiveDevices(), 0) << "a device outlived its failed preparation";
        EXPECT_EQ(rig.SheetJoyConfig() != nullptr, row.joyConfigKept);
        EXPECT_EQ(rig.wheel->LiveJoyConfigs(), row.joyConfigKept ? 1 : 0);
        EXPECT_EQ(rig.wheel->LiveDirectInputs(), 0);
        EXPECT_EQ(serviceRecord.locks, serviceRecord.unlocks);
    }
}

TEST(PropsheetOpenDevice, DirectInputThatCannotBeMadeChangesNothing) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    serviceRecord.createResult = static_cast<HRESULT>(0x80040154u);
    EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet),
              static_cast<HRESULT>(0x80040154u));
    EXPECT_EQ(rig.SheetDevice(), nullptr);
    EXPECT_EQ(rig.SheetJoyConfig(), nullptr);
    EXPECT_EQ(serviceRecord.locks, 1);
    EXPECT_EQ(serviceRecord.unlocks, 1);
}

TEST(PropsheetOpenDevice, RefusedDeadZonesAreIgnored) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    rig.wheel->Force(VirtualCall::SetProperty, static_cast<HRESULT>(0x80070057u));
    EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);
    ASSERT_NE(rig.SheetDevice(), nullptr);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::SetProperty), 4);
    EXPECT_TRUE(rig.wheel->Describe(rig.SheetDevice())->deadZones.empty());
}

TEST(PropsheetOpenDevice, NoSheetIsEPointer) {
    WheelRig rig;
    EXPECT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, nullptr), E_POINTER);
    EXPECT_EQ(ReopenDevice(sheettest::TestDeviceServices(), kFrame, nullptr), E_POINTER);
    EXPECT_EQ(serviceRecord.directInputsMade, 0);
    EXPECT_EQ(serviceRecord.locks, 2);
    EXPECT_EQ(serviceRecord.unlocks, 2);
}

TEST(PropsheetCreateWheelDevice, MissingObjectsAreEPointer) {
    WheelRig rig;
    IDirectInputA* directInput = rig.wheel->NewDirectInput();
    IDirectInputJoyConfig* joyConfig = rig.wheel->NewJoyConfig();
    IDirectInputDevice2A* device = rig.wheel->NewDevice();
    IDirectInputDevice2A* const before = device;
    EXPECT_EQ(CreateWheelDevice(2, kFrame, nullptr, joyConfig, &device), E_POINTER);
    EXPECT_EQ(device, nullptr) << "the out pointer is cleared first";
    EXPECT_EQ(CreateWheelDevice(2, kFrame, directInput, nullptr, &device), E_POINTER);
    EXPECT_EQ(CreateWheelDevice(2, kFrame, directInput, joyConfig, nullptr), E_POINTER);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::GetConfig), 0);
    before->Release();
    joyConfig->Release();
    directInput->Release();
}

TEST(PropsheetCreateWheelDevice, UnknownJoystickIsTheConfigError) {
    WheelRig rig;
    IDirectInputA* directInput = rig.wheel->NewDirectInput();
    IDirectInputJoyConfig* joyConfig = rig.wheel->NewJoyConfig();
    IDirectInputDevice2A* device = nullptr;
    EXPECT_EQ(CreateWheelDevice(WheelRig::kJoystickId + 1, kFrame, directInput, joyConfig, &device),
              DIERR_NOMOREITEMS);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(CreateWheelDevice(WheelRig::kJoystickId, kFrame, directInput, joyConfig, &device),
              S_OK);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(rig.wheel->LiveDevices(), 1);
    device->Release();
    joyConfig->Release();
    directInput->Release();
}

TEST(PropsheetReopenDevice, ReplacesBothAndReleasesTheOldOnesOnce) {
    WheelRig rig;
    PropSheet* sheet = rig.NewSheet();
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);
    // Held exclusively, as after a page's ticks.
    ASSERT_EQ(rig.SheetDevice()->Acquire(), DI_OK);

    EXPECT_EQ(ReopenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);
    ASSERT_NE(rig.SheetDevice(), nullptr);
    ASSERT_NE(rig.SheetJoyConfig(), nullptr);
    // Fresh objects (the allocator may well hand out the old addresses again).
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::CreateDevice), 2);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::QueryJoyConfig), 2);
    EXPECT_EQ(rig.wheel->LiveDevices(), 1) << "the old device was not released";
    EXPECT_EQ(rig.wheel->LiveJoyConfigs(), 1) << "the old joy-config object was not released";
    EXPECT_EQ(rig.wheel->Describe(rig.SheetDevice())->deadZones, AllDeadZones());
    // The old device gave up the wheel: the new one can have it.
    EXPECT_EQ(rig.SheetDevice()->Acquire(), DI_OK);
    EXPECT_EQ(serviceRecord.locks, serviceRecord.unlocks);
}

// A failure after the old objects are gone leaves null pointers, never dangling ones.
TEST(PropsheetReopenDevice, FailureLeavesNoPointerToAReleasedObject) {
    struct Row {
        const char* what;
        VirtualCall call;
        HRESULT code;
        bool deviceKept;
        bool joyConfigSet;
    };
    const HRESULT kCode = static_cast<HRESULT>(0x80045678u);
    const Row rows[] = {
        {"no new joy-config object: the device stays as it was", VirtualCall::QueryJoyConfig,
         E_NOINTERFACE, true, false},
        {"GetConfig", VirtualCall::GetConfig, kCode, false, true},
        {"CreateDevice", VirtualCall::CreateDevice, kCode, false, true},
        {"SetCooperativeLevel", VirtualCall::SetCooperativeLevel, kCode, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WheelRig rig;
        PropSheet* sheet = rig.NewSheet();
        ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, sheet), S_OK);
        IDirectInputDevice2A* oldDevice = rig.SheetDevice();
        rig.wheel->Force(row.call, row.code);

        EXPECT_EQ(ReopenDevice(sheettest::TestDeviceServices(), kFrame, sheet), row.code);
        EXPECT_EQ(rig.SheetJoyConfig() != nullptr, row.joyConfigSet);
        EXPECT_EQ(rig.wheel->LiveJoyConfigs(), row.joyConfigSet ? 1 : 0);
        if (row.deviceKept) {
            EXPECT_EQ(rig.SheetDevice(), oldDevice);
            EXPECT_EQ(rig.wheel->LiveDevices(), 1);
        } else {
            EXPECT_EQ(rig.SheetDevice(), nullptr);
            EXPECT_EQ(rig.wheel->LiveDevices(), 0);
        }
        // The sheet's last Release must find nothing to release twice.
        sheet->Release();
        rig.sheet = nullptr;
        EXPECT_EQ(rig.wheel->LiveDevices(), 0);
        EXPECT_EQ(rig.wheel->LiveJoyConfigs(), 0);
    }
}

// PollDevice

struct Poller {
    explicit Poller(WheelRig& rig) : rig(rig) {}
    PollOutcome Tick(DIJOYSTATE* state = nullptr) {
        DIJOYSTATE local = {};
        return PollDevice(sheettest::TestDeviceServices(), kPage, 1024, &status, rig.sheet,
                          state != nullptr ? state : &local);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& write : serviceRecord.statusWrites) {
            EXPECT_EQ(write.page, kPage);
            EXPECT_EQ(write.control, 1024);
            texts.push_back(write.text);
        }
        return texts;
    }
    WheelRig& rig;
    DeviceStatus status = StatusNone;
};

TEST(PropsheetPollDevice, StatusTextIsWrittenOncePerChange) {
    hosted::WheelFrame unplug = At(100);
    unplug.connected = false;
    hosted::WheelFrame plug = At(200);
    plug.connected = true;
    WheelRig rig({unplug, plug});
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, rig.NewSheet()), S_OK);
    Poller poller(rig);

    std::vector<PollOutcome> outcomes;
    for (uint32_t ms = 0; ms < 300; ms += 10) {
        rig.clock.Set(5000 + ms);
        outcomes.push_back(poller.Tick());
    }
    EXPECT_EQ(poller.Texts(),
              (std::vector<std::string>{kConnectedText, kNotRespondingText, kConnectedText}));
    EXPECT_EQ(poller.status, StatusConnected);
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const bool unplugged = i >= 10 && i < 20;
        EXPECT_EQ(outcomes[i], unplugged ? PollOutcome::NotResponding : PollOutcome::StateRead)
            << "tick at " << i * 10 << " ms";
    }
    // The device is acquired on every tick, and never given up between them.
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::Acquire), 30);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::Unacquire), 0);
}

TEST(PropsheetPollDevice, AlreadyAcquiredCountsAsConnected) {
    hosted::WheelFrame already = At(0);
    already.acquireAlready = true;
    WheelRig rig({already});
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, rig.NewSheet()), S_OK);
    Poller poller(rig);
    for (int tick = 0; tick < 5; ++tick) {
        EXPECT_EQ(poller.Tick(), PollOutcome::StateRead);
    }
    EXPECT_EQ(poller.Texts(), std::vector<std::string>{kConnectedText});
}

TEST(PropsheetPollDevice, ReadsTheWheelIntoTheState) {
    hosted::WheelFrame frame = At(0);
    frame.x = 100;
    frame.y = 65535;
    frame.z = 7;
    frame.rz = 40000;
    frame.pov = 9000;
    frame.buttons = 0x801;  // buttons 1 and 12
    WheelRig rig({frame});
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, rig.NewSheet()), S_OK);
    Poller poller(rig);
    DIJOYSTATE state = {};
    ASSERT_EQ(poller.Tick(&state), PollOutcome::StateRead);
    EXPECT_EQ(state.lX, 100);
    EXPECT_EQ(state.lY, 65535);
    EXPECT_EQ(state.lZ, 7);
    EXPECT_EQ(state.lRz, 40000);
    EXPECT_EQ(state.rgdwPOV[0], 9000u);
    EXPECT_EQ(state.rgbButtons[0], 0x80);
    EXPECT_EQ(state.rgbButtons[1], 0);
    EXPECT_EQ(state.rgbButtons[11], 0x80);
}

TEST(PropsheetPollDevice, UnreadableStateKeepsTheStatusConnected) {
    WheelRig rig;
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, rig.NewSheet()), S_OK);
    Poller poller(rig);
    ASSERT_EQ(poller.Tick(), PollOutcome::StateRead);
    rig.wheel->Force(VirtualCall::GetDeviceState, DIERR_INPUTLOST);
    EXPECT_EQ(poller.Tick(), PollOutcome::NoState);
    EXPECT_EQ(poller.Tick(), PollOutcome::NoState);
    EXPECT_EQ(poller.status, StatusConnected);
    EXPECT_EQ(poller.Texts(), std::vector<std::string>{kConnectedText});
}

TEST(PropsheetPollDevice, SheetWithoutDeviceIsNotRespondingOnce) {
    WheelRig rig;
    rig.NewSheet();
    Poller poller(rig);
    for (int tick = 0; tick < 4; ++tick) {
        EXPECT_EQ(poller.Tick(), PollOutcome::NotResponding);
    }
    EXPECT_EQ(poller.Texts(), std::vector<std::string>{kNotRespondingText});
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::Acquire), 0);
    EXPECT_EQ(rig.wheel->Calls(VirtualCall::GetDeviceState), 0);
}

TEST(PropsheetPollDevice, NoSheetShowsNothing) {
    WheelRig rig;
    DeviceStatus status = StatusNone;
    DIJOYSTATE state = {};
    EXPECT_EQ(PollDevice(sheettest::TestDeviceServices(), kPage, 1024, &status, nullptr, &state),
              PollOutcome::BadSheet);
    EXPECT_EQ(status, StatusNone);
    EXPECT_TRUE(serviceRecord.statusWrites.empty());
}

// WM_DESTROY puts the page's status back to none: a new page writes its text at once.
TEST(PropsheetPollDevice, NewPageWritesItsStatusAgain) {
    WheelRig rig;
    ASSERT_EQ(OpenDevice(sheettest::TestDeviceServices(), kFrame, rig.NewSheet()), S_OK);
    Poller poller(rig);
    poller.Tick();
    poller.Tick();
    poller.status = StatusNone;
    poller.Tick();
    EXPECT_EQ(poller.Texts(), (std::vector<std::string>{kConnectedText, kConnectedText}));
}

}  // namespace
}  // namespace velquin
