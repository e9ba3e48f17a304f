// The driver methods that are not about single effects: commands to the whole device, versions,
// device gain, state and escapes.
#include <gtest/gtest.h>

#include <cstring>

#include "driver_fixture.h"

namespace {

using drivertest::Bytes;
using drivertest::DriverTest;
using drivertest::Effect;
using drivertest::kPlaying;

class DriverCommands : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(Bind(0), S_OK);
        ASSERT_EQ(Bind(1), S_OK);
        // Handles 1 and 3 play on device 0, handle 2 is downloaded but idle; one effect plays on
        // device 1 so a command to device 0 can be seen to leave it alone.
        ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 1u);
        ASSERT_EQ(Download(0, dravik::EffectSine, Effect::Periodic(10000, 0, 0, 100000)), 2u);
        ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(5000).Cartesian({0, 1})), 3u);
        ASSERT_EQ(Play(1, dravik::EffectConstant, Effect::Constant(10000)), 1u);
        ASSERT_EQ(TickReport(0), (Bytes{0, 1, 254, 0}));
    }

    bool InUse(DWORD id, DWORD handle) { return Slot(id, handle).inUse != 0; }
};

TEST_F(DriverCommands, CommandsThatChangeNothing) {
    const DWORD commands[] = {DISFFC_PAUSE, DISFFC_CONTINUE, DISFFC_SETACTUATORSON,
                              DISFFC_SETACTUATORSOFF};
    for (DWORD command : commands) {
        EXPECT_EQ(driver->SendForceFeedbackCommand(0, command), S_OK) << command;
    }
    const DWORD unknown[] = {0u,
                             DISFFC_RESET | DISFFC_STOPALL,
                             DISFFC_PAUSE | DISFFC_CONTINUE,
                             DISFFC_STOPALL | DISFFC_SETACTUATORSOFF,
                             0x40u,
                             0x80000000u,
                             0xFFFFFFFFu};
    for (DWORD command : unknown) {
        EXPECT_EQ(driver->SendForceFeedbackCommand(0, command), E_NOTIMPL) << command;
    }
    EXPECT_EQ(driver->SendForceFeedbackCommand(16, DISFFC_RESET), E_INVALIDARG);
    EXPECT_EQ(driver->SendForceFeedbackCommand(16, DISFFC_PAUSE), E_INVALIDARG);

    // Nothing was stopped or destroyed, and no report was sent outside the ticks.
    EXPECT_EQ(ReportsFor(0).size(), 1u);
    EXPECT_EQ(Status(0, 1), kPlaying);
    EXPECT_EQ(Status(0, 3), kPlaying);
    EXPECT_EQ(Status(0, 2), 0u);
    EXPECT_TRUE(InUse(0, 1) && InUse(0, 2) && InUse(0, 3));
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 254, 0}));
}

TEST_F(DriverCommands, StopAllStopsEveryEffectOfTheDeviceOnly) {
    EXPECT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_STOPALL), S_OK);
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0})) << "stopping switches off at once";
    EXPECT_EQ(Status(0, 1), 0u);
    EXPECT_EQ(Status(0, 3), 0u);
    EXPECT_TRUE(InUse(0, 1) && InUse(0, 2) && InUse(0, 3)) << "stopped, not destroyed";
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Status(1, 1), kPlaying);
    EXPECT_EQ(TickReport(1), (Bytes{0, 0, 254, 0}));
    // A stopped effect starts again.
    EXPECT_EQ(driver->StartEffect(0, 1, 0, 1), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));
}

TEST_F(DriverCommands, ResetDestroysEveryEffectOfTheDeviceOnly) {
    EXPECT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0}));
    for (DWORD handle = 1; handle <= dravik::kSlotCount; ++handle) {
        const dravik::EffectSlot slot = Slot(0, handle);
        EXPECT_EQ(slot.inUse, 0u) << handle;
        EXPECT_EQ(slot.playState, 0u) << handle;
        EXPECT_EQ(slot.params.lpvTypeSpecificParams, nullptr) << handle;
    }
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(InUse(1, 1));
    EXPECT_EQ(TickReport(1), (Bytes{0, 0, 254, 0}));
    // The handles are free again, lowest first.
    EXPECT_EQ(Download(0, dravik::EffectRamp, Effect::Ramp(0, 10000)), 1u);
}

TEST(DriverVersions, OnlyAFullSizedRecordIsFilled) {
    drivertest::DriverRig rig;
    ASSERT_EQ(rig.CreateDriver(), S_OK);
    EXPECT_EQ(rig.driver->GetVersions(nullptr), E_INVALIDARG);
    for (DWORD size : {0u, 12u, 15u, 17u, 20u}) {
        DIDRIVERVERSIONS versions;
        std::memset(&versions, 0xA5, sizeof versions);
        versions.dwSize = size;
        EXPECT_EQ(rig.driver->GetVersions(&versions), E_INVALIDARG) << size;
        EXPECT_EQ(versions.dwFirmwareRevision, 0xA5A5A5A5u) << "untouched";
    }
    DIDRIVERVERSIONS versions;
    std::memset(&versions, 0xA5, sizeof versions);
    versions.dwSize = 16;
    EXPECT_EQ(rig.driver->GetVersions(&versions), S_OK);
    EXPECT_EQ(versions.dwSize, 16u);
    EXPECT_EQ(versions.dwFirmwareRevision, 1u);
    EXPECT_EQ(versions.dwHardwareRevision, 1u);
    EXPECT_EQ(versions.dwFFDriverVersion, 2u);
}

TEST_F(DriverCommands, SetGainScalesTheNextTickAndRefusesAboveFullScale) {
    EXPECT_EQ(driver->SetGain(0, 10001), E_INVALIDARG);
    EXPECT_EQ(driver->CopyRecord(0).gain, 10000u);
    EXPECT_EQ(driver->SetGain(16, 5000), E_INVALIDARG);
    EXPECT_EQ(driver->SetGain(0, 10000), S_OK);

    // Handle 1 pushes motor A with 127 x gain; handle 3 gives motor B 63.5 x gain.
    ASSERT_EQ(driver->SetGain(0, 5000), S_OK);
    EXPECT_EQ(ReportsFor(0).size(), 1u) << "no report until the tick";
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 126, 0})) << "63.5 and 31.75";
    EXPECT_EQ(driver->SetGain(0, 10001), E_INVALIDARG);
    EXPECT_EQ(driver->CopyRecord(0).gain, 5000u) << "old gain kept";
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 126, 0}));
    ASSERT_EQ(driver->SetGain(0, 0), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(TickReport(1), (Bytes{0, 0, 254, 0})) << "device 1 keeps its own gain";
}

TEST_F(DriverCommands, ForceFeedbackStateIsNeverWritten) {
    struct {
        DIDEVICESTATE state;
        uint8_t after[8];
    } box;
    for (int i = 0; i < static_cast<int>(sizeof box); ++i) {
        reinterpret_cast<uint8_t*>(&box)[i] = static_cast<uint8_t>(0x30 + i);
    }
    decltype(box) before;
    std::memcpy(&before, &box, sizeof box);
    EXPECT_EQ(driver->GetForceFeedbackState(0, &box.state), S_OK);
    EXPECT_EQ(std::memcmp(&box, &before, sizeof box), 0);
    box.state.dwSize = sizeof box.state;
    std::memcpy(&before, &box, sizeof box);
    EXPECT_EQ(driver->GetForceFeedbackState(15, &box.state), S_OK);
    EXPECT_EQ(std::memcmp(&box, &before, sizeof box), 0);
    EXPECT_EQ(driver->GetForceFeedbackState(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(driver->GetForceFeedbackState(16, &box.state), E_INVALIDARG);
}

TEST_F(DriverCommands, EscapeAcceptsAnyValidTargetAndDoesNothing) {
    DIEFFESCAPE escape;
    std::memset(&escape, 0x5C, sizeof escape);
    DIEFFESCAPE before;
    std::memcpy(&before, &escape, sizeof escape);
    struct Row {
        DWORD id;
        DWORD effect;
        DIEFFESCAPE* esc;
        HRESULT expected;
    };
    const Row rows[] = {
        {0, 0, &escape, S_OK},
        {15, 32, &escape, S_OK},
        {0, 1, &escape, S_OK},
        {16, 0, &escape, E_INVALIDARG},
        {0, 33, &escape, E_INVALIDARG},
        {0, 1, nullptr, E_INVALIDARG},
        {0xFFFFFFFFu, 1, &escape, E_INVALIDARG},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(driver->Escape(row.id, row.effect, row.esc), row.expected)
            << row.id << " " << row.effect;
    }
    EXPECT_EQ(std::memcmp(&escape, &before, sizeof escape), 0);
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 254, 0})) << "effects play on";
}

}  // namespace
