// The motor report: how level totals are clamped and packed into the four bytes the wheel gets,
// both as pure functions and as the tick sends them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "driver_fixture.h"
#include "ffdriver/motor_report.h"

namespace {

using drivertest::Bytes;
using drivertest::DriverTest;
using drivertest::Effect;

TEST(ClampLevel, KeepsTheBandTheMotorsRunInAndTakesMagnitudes) {
    struct Row {
        int32_t level;
        int32_t clamped;
    };
    const Row rows[] = {
        {0, 0},           {1, 0},      {24, 0},     {25, 25},         {48, 48},
        {49, 49},         {126, 126},  {127, 127},  {128, 127},       {300, 127},
        {INT32_MAX, 127}, {-1, 0},     {-24, 0},    {-25, 25},        {-60, 60},
        {-127, 127},      {-128, 127}, {-300, 127}, {INT32_MIN, 127},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(dravik::ClampLevel(row.level), row.clamped) << "level " << row.level;
    }
}

TEST(BuildMotorReport, PutsTheReportIdMotorBSwitchAndDoubledMotorA) {
    struct Row {
        uint8_t reportId;
        int32_t levelA;
        int32_t levelB;
        Bytes bytes;
    };
    const Row rows[] = {
        {0, 0, 0, {0, 0, 0, 0}},
        {5, 25, 0, {5, 0, 50, 0}},
        {5, 127, 48, {5, 0, 254, 0}},
        {5, 127, 49, {5, 1, 254, 0}},
        {0x7F, 60, 127, {0x7F, 1, 120, 0}},
        {0xFF, 0, 25, {0xFF, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(dravik::BuildMotorReport(row.reportId, row.levelA, row.levelB), row.bytes)
            << "A " << row.levelA << " B " << row.levelB;
    }
}

// The smallest constant magnitude whose level at full scale (127) truncates to `level`.
LONG MagnitudeFor(int level) {
    return static_cast<LONG>(std::ceil(level * 10000.0 / 127.0));
}

class ReportThroughTick : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        virtualWheel.SetReportId(7);
        ASSERT_EQ(Bind(0), S_OK);
    }
};

TEST_F(ReportThroughTick, LevelTotalsBecomeTheReportBytes) {
    struct Row {
        const char* what;
        std::vector<LONG> direction;  // Cartesian, one effect per magnitude
        std::vector<int> levels;      // wanted level of each effect, negative for a pull
        Bytes bytes;
        int32_t storedA;
        int32_t storedB;
    };
    const Row rows[] = {
        {"A 24 is below the motor's threshold", {1, 0}, {24}, {7, 0, 0, 0}, 0, 0},
        {"A 25 is the lowest level sent", {1, 0}, {25}, {7, 0, 50, 0}, 25, 0},
        {"A 127 is full strength", {1, 0}, {127}, {7, 0, 254, 0}, 127, 0},
        {"A 300 from three effects is capped", {1, 0}, {100, 100, 100}, {7, 0, 254, 0}, 127, 0},
        {"B 48 leaves motor B off", {0, 1}, {48}, {7, 0, 0, 0}, 0, 48},
        {"B 49 switches motor B on", {0, 1}, {49}, {7, 1, 0, 0}, 0, 49},
        {"one axis drives both motors", {1}, {60}, {7, 1, 120, 0}, 60, 60},
        {"a pull of -60 is sent as 60", {0}, {-60}, {7, 1, 120, 0}, 60, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        for (int level : row.levels) {
            const LONG magnitude = level < 0 ? -MagnitudeFor(-level) : MagnitudeFor(level);
            ASSERT_NE(Play(0, dravik::EffectConstant,
                           Effect::Constant(magnitude).Cartesian(row.direction)),
                      0u);
        }
        EXPECT_EQ(TickReport(0), row.bytes);
        const dravik::DeviceRecord record = driver->CopyRecord(0);
        EXPECT_EQ(record.levelA, row.storedA) << "clamped level written back";
        EXPECT_EQ(record.levelB, row.storedB);
    }
}

TEST_F(ReportThroughTick, TwoAxesAtSixtyAndThirtyLeaveMotorBOff) {
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(MagnitudeFor(60))), 0u);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(MagnitudeFor(30)).Cartesian({0, 1})),
              0u);
    EXPECT_EQ(TickReport(0), (Bytes{7, 0, 120, 0}));
}

TEST_F(ReportThroughTick, NegativeTotalsNeverTurnIntoFullStrength) {
    // A polar direction of 180 degrees pulls: cos gives a negative level on both motors.
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(MagnitudeFor(60)).Polar({18000})),
              0u);
    EXPECT_EQ(TickReport(0), (Bytes{7, 1, 120, 0}));
    // Pulls that add up past the int32 range are still capped by magnitude.
    ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
    SetAmplify(HKEY_CURRENT_USER, 0xFFFFFFFFu);
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(-10000).Cartesian({0})), 0u);
    }
    EXPECT_EQ(TickReport(0), (Bytes{7, 1, 254, 0}));
}

}  // namespace
