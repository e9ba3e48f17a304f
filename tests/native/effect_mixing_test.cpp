// What a playing effect contributes: waveforms, envelopes, gains, Amplify and the split over the
// axes, checked on single slots and through the tick as the motors get it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "ffdriver/effect_math.h"

namespace {

using drivertest::AxisId;
using drivertest::Bytes;
using drivertest::DriverTest;
using drivertest::Effect;
using drivertest::kPlaying;

constexpr double kTunedPi = 3.14159;
constexpr double kTwoPi = 6.283185307179586;

// A slot built by hand, for the level computation alone. Not copyable: the slot points into it.
class TestSlot {
  public:
    explicit TestSlot(uint32_t type) {
        std::memset(&slot_, 0, sizeof slot_);
        slot_.inUse = 1;
        slot_.effectType = type;
        slot_.playState = dravik::StatePlaying;
        slot_.params.dwFlags = DIEFF_CARTESIAN;
        slot_.params.dwDuration = INFINITE;
        slot_.params.dwGain = 10000;
    }
    TestSlot(const TestSlot&) = delete;
    TestSlot& operator=(const TestSlot&) = delete;

    TestSlot& Periodic(DWORD magnitude, LONG offset, DWORD phase, DWORD period) {
        periodic_ = {magnitude, offset, phase, period};
        return Block(&periodic_, sizeof periodic_);
    }
    TestSlot& Constant(LONG magnitude) {
        constant_.lMagnitude = magnitude;
        return Block(&constant_, sizeof constant_);
    }
    TestSlot& Ramp(LONG start, LONG end) {
        ramp_ = {start, end};
        return Block(&ramp_, sizeof ramp_);
    }
    TestSlot& Duration(DWORD us) {
        slot_.params.dwDuration = us;
        return *this;
    }
    TestSlot& Gain(DWORD gain) {
        slot_.params.dwGain = gain;
        return *this;
    }
    TestSlot& Envelope(DWORD attackLevel, DWORD attackTime, DWORD fadeLevel, DWORD fadeTime) {
        envelope_ = {sizeof envelope_, attackLevel, attackTime, fadeLevel, fadeTime};
        slot_.params.lpEnvelope = &envelope_;
        return *this;
    }

    double LevelAt(uint32_t ms, dravik::LevelInputs in = {10000, 1000}) {
        slot_.elapsedMs = ms;
        return dravik::EffectMath().EffectLevel(slot_, in);
    }

  private:
    TestSlot& Block(void* block, DWORD size) {
        slot_.params.lpvTypeSpecificParams = block;
        slot_.params.cbTypeSpecificParams = size;
        return *this;
    }

    dravik::EffectSlot slot_;
    DIPERIODIC periodic_ = {};
    DICONSTANTFORCE constant_ = {};
    DIRAMPFORCE ramp_ = {};
    DIENVELOPE envelope_ = {};
};

struct LevelRow {
    uint32_t ms;
    double level;
};

void ExpectLevels(TestSlot& slot, const std::vector<LevelRow>& rows, double tolerance = 1e-9) {
    for (const LevelRow& row : rows) {
        const double level = slot.LevelAt(row.ms);
        EXPECT_TRUE(std::isfinite(level)) << row.ms << " ms";
        EXPECT_NEAR(level, row.level, tolerance) << row.ms << " ms";
    }
}

// Period of one second throughout.
constexpr DWORD kSecond = 1000000;

TEST(EffectLevel, SquareIsHighForTheFirstHalfOfEachPeriodIncludingTheMiddle) {
    TestSlot square(dravik::EffectSquare);
    square.Periodic(10000, 0, 0, kSecond);
    ExpectLevels(square, {{0, 127},
                          {250, 127},
                          {500, 127},
                          {501, 0},
                          {750, 0},
                          {999, 0},
                          {1000, 127},
                          {1500, 127},
                          {1501, 0},
                          {7250, 127}});
    // Half the magnitude, half the height.
    TestSlot half(dravik::EffectSquare);
    half.Periodic(5000, 0, 0, kSecond);
    ExpectLevels(half, {{250, 63.5}, {750, 0}});
    // A phase of 180 degrees starts in the middle of the period.
    TestSlot shifted(dravik::EffectSquare);
    shifted.Periodic(10000, 0, 18000, kSecond);
    ExpectLevels(shifted, {{0, 127}, {1, 0}, {499, 0}, {500, 127}, {999, 127}});
}

TEST(EffectLevel, SawtoothAndTriangleShapes) {
    TestSlot up(dravik::EffectSawtoothUp);
    up.Periodic(10000, 0, 0, kSecond);
    ExpectLevels(up, {{0, 0}, {250, 31.75}, {500, 63.5}, {999, 126.873}, {1000, 0}, {1250, 31.75}});
    TestSlot down(dravik::EffectSawtoothDown);
    down.Periodic(10000, 0, 0, kSecond);
    ExpectLevels(down, {{0, 127}, {250, 95.25}, {999, 0.127}, {1000, 127}});
    TestSlot triangle(dravik::EffectTriangle);
    triangle.Periodic(10000, 0, 0, kSecond);
    ExpectLevels(triangle, {{0, 0}, {250, 63.5}, {500, 127}, {750, 63.5}, {999, 0.254}, {1000, 0}});
    // A quarter period of phase moves the sawtooth a quarter up.
    TestSlot phased(dravik::EffectSawtoothUp);
    phased.Periodic(10000, 0, 9000, kSecond);
    ExpectLevels(phased, {{0, 31.75}, {750, 0}});
    // The magnitude scales these waves as well.
    TestSlot quarter(dravik::EffectTriangle);
    quarter.Periodic(2500, 0, 0, kSecond);
    ExpectLevels(quarter, {{500, 31.75}});
}

TEST(EffectLevel, SineIsRectifiedAndScaledByItsMagnitude) {
    TestSlot sine(dravik::EffectSine);
    sine.Periodic(10000, 0, 9000, kSecond);
    TestSlot half(dravik::EffectSine);
    half.Periodic(5000, 0, 9000, kSecond);
    for (uint32_t ms = 0; ms <= 2000; ms += 50) {
        // Phase 90 degrees: a rectified cosine, with the constants the wheel was tuned with.
        const double t = ms * 1000.0;
        const double exact =
            127 * std::fabs(std::sin(t * 6.28318 / kSecond + 9000 / 18000.0 * kTunedPi));
        const double level = sine.LevelAt(ms);
        EXPECT_NEAR(level, exact, 1e-9) << ms;
        EXPECT_NEAR(level, 127 * std::fabs(std::cos(kTwoPi * t / kSecond)), 0.01) << ms;
        EXPECT_NEAR(half.LevelAt(ms), level / 2, 1e-9) << ms;
    }
}

TEST(EffectLevel, OffsetIsScaledLikeTheWave) {
    struct Row {
        const char* what;
        LONG offset;
        uint32_t ms;
        uint32_t amplify;
        double level;
    };
    const Row rows[] = {
        {"offset alone in the low half", 10000, 750, 1000, 127},
        {"offset on top of the high half", 5000, 250, 1000, 190.5},
        {"negative offset cancels the high half", -10000, 250, 1000, 0},
        {"negative offset in the low half is made positive", -5000, 750, 1000, 63.5},
        {"Amplify 0 silences the offset too", 10000, 750, 0, 0},
        {"Amplify 500 halves it", 10000, 750, 500, 63.5},
    };
    for (const Row& row : rows) {
        TestSlot square(dravik::EffectSquare);
        square.Periodic(10000, row.offset, 0, kSecond);
        EXPECT_NEAR(square.LevelAt(row.ms, {10000, row.amplify}), row.level, 1e-9) << row.what;
    }
    TestSlot sine(dravik::EffectSine);
    sine.Periodic(0, 10000, 0, kSecond);
    EXPECT_NEAR(sine.LevelAt(300), 127, 1e-9) << "a sine of no magnitude is its offset";
}

TEST(EffectLevel, RampRunsFromStartToEndOverItsDuration) {
    TestSlot ramp(dravik::EffectRamp);
    ramp.Ramp(0, 10000).Duration(2 * kSecond);
    // Past its duration (the tick that ends an iteration) a ramp stays at its end.
    ExpectLevels(ramp, {{0, 0}, {1000, 63.5}, {2000, 127}, {2025, 127}});
    TestSlot down(dravik::EffectRamp);
    down.Ramp(10000, -10000).Duration(2 * kSecond);
    ExpectLevels(down, {{0, 127}, {1000, 0}, {1500, -63.5}, {2000, -127}, {2500, -127}});
    TestSlot endless(dravik::EffectRamp);
    endless.Ramp(3000, 10000);
    ExpectLevels(endless, {{0, 38.1}, {1000, 38.1}, {100000, 38.1}});
}

TEST(EffectLevel, ConstantKeepsItsSignAndFollowsEveryGain) {
    struct Row {
        LONG magnitude;
        DWORD effectGain;
        dravik::LevelInputs in;
        double level;
    };
    const Row rows[] = {
        {10000, 10000, {10000, 1000}, 127},   {5000, 10000, {10000, 1000}, 63.5},
        {-10000, 10000, {10000, 1000}, -127}, {10000, 5000, {10000, 1000}, 63.5},
        {10000, 10000, {5000, 1000}, 63.5},   {10000, 10000, {10000, 500}, 63.5},
        {10000, 10000, {10000, 1500}, 190.5}, {10000, 10000, {10000, 0}, 0},
        {10000, 5000, {5000, 2000}, 63.5},
    };
    for (const Row& row : rows) {
        TestSlot constant(dravik::EffectConstant);
        constant.Constant(row.magnitude).Gain(row.effectGain);
        EXPECT_NEAR(constant.LevelAt(40, row.in), row.level, 1e-9)
            << row.magnitude << " " << row.effectGain << " " << row.in.gain << " "
            << row.in.amplify;
    }
}

TEST(EffectLevel, EnvelopeAttackHoldAndFade) {
    // Attack from 0 over one second on an endless constant force, then the value is held.
    TestSlot attack(dravik::EffectConstant);
    attack.Constant(10000).Envelope(0, kSecond, 0, 0);
    ExpectLevels(attack,
                 {{0, 0}, {250, 31.75}, {500, 63.5}, {1000, 127}, {1001, 127}, {60000, 127}});
    // An endless constant of 2000 after its attack is 2000, not five times it.
    TestSlot held(dravik::EffectConstant);
    held.Constant(2000).Envelope(10000, 100000, 0, 0);
    ExpectLevels(held, {{0, 127}, {200, 25.4}, {5000, 25.4}});
    // Two seconds with half a second of fade to 0.
    TestSlot fade(dravik::EffectConstant);
    fade.Constant(10000).Duration(2 * kSecond).Envelope(0, 0, 0, kSecond / 2);
    ExpectLevels(fade, {{1000, 127}, {1500, 127}, {1750, 63.5}, {2000, 0}, {2025, 0}});
    // A fade longer than the effect starts before it does.
    TestSlot early(dravik::EffectConstant);
    early.Constant(10000).Duration(kSecond).Envelope(10000, 0, 0, 2 * kSecond);
    ExpectLevels(early, {{500, 31.75}, {750, 15.875}, {1000, 0}});
    // No attack time: the first instant is silent rather than 0/0.
    ExpectLevels(early, {{0, 0}});
}

TEST(EffectLevel, SineEnvelopeWorksOnTheMagnitudeScale) {
    // At 500 ms the rectified wave is at its top; halfway through an attack from 5000 the
    // envelope gives 7500 of 10000.
    TestSlot sine(dravik::EffectSine);
    sine.Periodic(10000, 0, 9000, kSecond).Envelope(5000, kSecond, 0, 0);
    EXPECT_NEAR(sine.LevelAt(500), 95.25, 1e-3);
    EXPECT_NEAR(sine.LevelAt(0), 63.5, 1e-3) << "starts at the attack level";
    EXPECT_NEAR(sine.LevelAt(2000), 127, 1e-3) << "then holds the wave";
}

TEST(EffectLevel, ZeroPeriodOrDurationIsSilentNotAFault) {
    const uint32_t periodic[] = {dravik::EffectSquare, dravik::EffectSine, dravik::EffectTriangle,
                                 dravik::EffectSawtoothUp, dravik::EffectSawtoothDown};
    for (uint32_t type : periodic) {
        TestSlot slot(type);
        slot.Periodic(10000, 0, 9000, 0).Envelope(0, 1000, 0, 0);
        ExpectLevels(slot, {{0, 0}, {25, 0}, {1000, 0}});
    }
    TestSlot ramp(dravik::EffectRamp);
    ramp.Ramp(-10000, 10000).Duration(0);
    ExpectLevels(ramp, {{0, 0}, {25, 0}});
    // The silent types stay silent whatever their block says.
    for (uint32_t type = dravik::EffectSpring; type <= dravik::EffectCustomForce; ++type) {
        TestSlot slot(type);
        slot.Periodic(10000, 10000, 0, kSecond);
        ExpectLevels(slot, {{0, 0}, {100, 0}});
    }
}

TEST(EffectLevel, TimeDoesNotWrapAfterSeventyOneMinutes) {
    // 4294968 ms is past the 32-bit microsecond range: the attack must not start over.
    TestSlot attack(dravik::EffectConstant);
    attack.Constant(10000).Envelope(0, kSecond, 0, 0);
    ExpectLevels(attack, {{4294967, 127}, {4294968, 127}, {4295467, 127}});
    TestSlot saw(dravik::EffectSawtoothUp);
    saw.Periodic(10000, 0, 0, kSecond);
    // 4295250000 us is 250 ms into its period; wrapped at 32 bits it would be 282.704 ms.
    ExpectLevels(saw, {{4295250, 31.75}});
    // The longest finite ramp reaches its end.
    TestSlot ramp(dravik::EffectRamp);
    ramp.Ramp(0, 10000).Duration(0xFFFFFFFEu);
    EXPECT_NEAR(ramp.LevelAt(4294967), 127 * 4294967000.0 / 4294967294.0, 1e-6);
}

TEST(SplitByDirection, CartesianComponentsAreMagnitudes) {
    struct Row {
        const char* what;
        std::vector<LONG> d;
        double x;
        std::vector<double> c;
    };
    const Row rows[] = {
        {"along the first axis", {1, 0}, 127, {127, 0}},
        {"no direction: everything everywhere", {0, 0}, 127, {127, 127}},
        {"no direction keeps the sign", {0, 0}, -60.5, {-60.5, -60.5}},
        {"3-4-5", {3, 4}, 63.5, {38, 50}},
        {"negative magnitude", {1, 0}, -127, {127, 0}},
        {"negative direction", {-3, 4}, 63.5, {38, 50}},
        {"huge direction keeps its ratio", {30000000, 40000000}, 63.5, {38, 50}},
        {"extreme direction", {INT32_MIN, INT32_MIN}, 100, {70, 70}},
        {"one axis", {1}, 127, {127}},
    };
    const dravik::EffectMath math;
    for (const Row& row : rows) {
        std::vector<double> c(row.d.size(), -1);
        const auto n = static_cast<uint32_t>(row.d.size());
        ASSERT_EQ(math.SplitByDirection(n, row.d.data(), n, c.data(), row.x, DIEFF_CARTESIAN), S_OK)
            << row.what;
        for (size_t i = 0; i < c.size(); ++i) {
            EXPECT_NEAR(c[i], row.c[i], 1e-9) << row.what << " component " << i;
        }
    }
}

TEST(SplitByDirection, PolarComponentsKeepTheirSigns) {
    const dravik::EffectMath math;
    const LONG east[] = {9000, 777};
    double c[3] = {};
    ASSERT_EQ(math.SplitByDirection(2, east, 2, c, 127, DIEFF_POLAR), S_OK);
    EXPECT_NEAR(c[0], std::cos(1.570795) * 127, 1e-12);
    EXPECT_NEAR(c[1], std::sin(1.570795) * 127, 1e-12);
    EXPECT_EQ(dravik::TruncateLevel(c[0]), 0);
    EXPECT_EQ(dravik::TruncateLevel(c[1]), 126) << "just under 127";

    const LONG south[] = {18000, 0, 0};
    ASSERT_EQ(math.SplitByDirection(3, south, 3, c, 100, DIEFF_POLAR), S_OK);
    EXPECT_NEAR(c[0], -100, 1e-3) << "even components follow cos";
    EXPECT_NEAR(c[1], 0, 1e-3) << "odd components follow sin";
    EXPECT_NEAR(c[2], -100, 1e-3);
    ASSERT_EQ(math.SplitByDirection(1, south, 1, c, 100, DIEFF_POLAR), S_OK);
    EXPECT_NEAR(c[0], -100, 1e-3) << "one axis takes cos";
}

TEST(SplitByDirection, OnlyCartesianOrPolarWithADirection) {
    const dravik::EffectMath math;
    const LONG d[] = {1, 0};
    double c[2] = {};
    struct Row {
        DWORD flags;
        HRESULT expected;
    };
    // Object IDs or offsets alongside the coordinate flag do not matter.
    const Row rows[] = {
        {DIEFF_CARTESIAN, S_OK},
        {DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS, S_OK},
        {DIEFF_CARTESIAN | DIEFF_OBJECTIDS, S_OK},
        {DIEFF_POLAR | DIEFF_OBJECTOFFSETS, S_OK},
        {0, E_INVALIDARG},
        {DIEFF_OBJECTOFFSETS, E_INVALIDARG},
        {DIEFF_SPHERICAL, E_INVALIDARG},
        {DIEFF_SPHERICAL | DIEFF_OBJECTIDS, E_INVALIDARG},
        {DIEFF_CARTESIAN | DIEFF_POLAR, E_INVALIDARG},
        {DIEFF_CARTESIAN | DIEFF_SPHERICAL, E_INVALIDARG},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(math.SplitByDirection(2, d, 2, c, 127, row.flags), row.expected) << row.flags;
    }
    EXPECT_EQ(math.SplitByDirection(2, nullptr, 0, c, 127, DIEFF_CARTESIAN), E_INVALIDARG);
    EXPECT_EQ(math.SplitByDirection(2, d, 2, nullptr, 127, DIEFF_CARTESIAN), E_INVALIDARG);
}

TEST(TruncateLevel, TowardZeroAndNeverUndefined) {
    EXPECT_EQ(dravik::TruncateLevel(126.99), 126);
    EXPECT_EQ(dravik::TruncateLevel(-60.9), -60);
    EXPECT_EQ(dravik::TruncateLevel(std::nan("")), 0);
    EXPECT_EQ(dravik::TruncateLevel(1e300), INT32_MAX);
    EXPECT_EQ(dravik::TruncateLevel(-1e300), INT32_MIN);
    EXPECT_EQ(dravik::TruncateLevel(HUGE_VAL), INT32_MAX);
}

// The same numbers as the motors get them.
class EffectMixing : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(Bind(0), S_OK);
        ASSERT_EQ(Bind(1), S_OK);
    }
};

TEST_F(EffectMixing, ConstantForceDirections) {
    struct Row {
        const char* what;
        Effect effect;
        int32_t levelA;
        int32_t levelB;
        Bytes bytes;
    };
    const Row rows[] = {
        {"along A", Effect::Constant(10000), 127, 0, {0, 0, 254, 0}},
        {"no direction", Effect::Constant(10000).Cartesian({0, 0}), 127, 127, {0, 1, 254, 0}},
        {"3-4 at half", Effect::Constant(5000).Cartesian({3, 4}), 38, 50, {0, 1, 76, 0}},
        {"one axis", Effect::Constant(10000).Cartesian({1}), 127, 127, {0, 1, 254, 0}},
        {"negative magnitude", Effect::Constant(-10000), 127, 0, {0, 0, 254, 0}},
        {"polar 90 degrees", Effect::Constant(10000).Polar({9000, 0}), 0, 126, {0, 1, 0, 0}},
        {"huge direction",
         Effect::Constant(5000).Cartesian({30000000, 40000000}),
         38,
         50,
         {0, 1, 76, 0}},
        {"axes swapped",
         Effect::Constant(10000).Cartesian({1, 0}).Axes({AxisId(1), AxisId(0)}),
         0,
         127,
         {0, 1, 0, 0}},
        {"an axis beyond the count",
         Effect::Constant(10000).Cartesian({0, 0}).Axes({AxisId(0), AxisId(5)}),
         127,
         0,
         {0, 0, 254, 0}},
        {"effect gain", Effect::Constant(10000).Gain(5000), 63, 0, {0, 0, 126, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        ASSERT_NE(Play(0, dravik::EffectConstant, row.effect), 0u);
        EXPECT_EQ(TickReport(0), row.bytes);
        const dravik::DeviceRecord record = driver->CopyRecord(0);
        EXPECT_EQ(record.levelA, row.levelA);
        EXPECT_EQ(record.levelB, row.levelB);
    }
}

TEST_F(EffectMixing, CoordinateFlagsDecideWhetherAnEffectIsHeard) {
    struct Row {
        DWORD flags;
        bool heard;
    };
    // The Effect page asks for Cartesian with object offsets (0x12) and must be heard.
    const Row rows[] = {
        {0x10, true},  {0x12, true},  {0x11, true},  {0x13, true},  {0x20, true},
        {0x22, true},  {0x00, false}, {0x02, false}, {0x40, false}, {0x42, false},
        {0x30, false}, {0x50, false}, {0x60, false},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        // Direction {0, 0}: Cartesian gives both motors, polar 0 degrees gives motor A.
        ASSERT_NE(Play(0, dravik::EffectConstant,
                       Effect::Constant(10000).Direction({0, 0}).Flags(row.flags)),
                  0u);
        const Bytes bytes = TickReport(0);
        EXPECT_EQ(bytes[2], row.heard ? 254 : 0) << std::hex << row.flags;
    }
}

TEST_F(EffectMixing, AmplifyIsReadFromTheRootOfTheOsClassAtStart) {
    SetAmplify(HKEY_CURRENT_USER, 500);
    SetAmplify(HKEY_LOCAL_MACHINE, 250);
    struct Row {
        wheel::OsClass os;
        uint8_t byte2;
    };
    const Row rows[] = {
        {wheel::OsWinNT6, 126},  // 63.5
        {wheel::OsWinXP, 62},    // 31.75
        {wheel::OsWin98, 62},    //
        {wheel::OsUnknown, 62},  //
        {wheel::OsWinNT6, 126},  //
    };
    for (const Row& row : rows) {
        os = row.os;
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 0u);
        EXPECT_EQ(TickReport(0)[2], row.byte2) << static_cast<uint32_t>(row.os);
    }
}

TEST_F(EffectMixing, AmplifyChangesTakeHoldAtTheNextStartOnly) {
    const DWORD handle = Play(0, dravik::EffectConstant, Effect::Constant(10000));
    ASSERT_NE(Play(1, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    EXPECT_EQ(driver->CopyRecord(0).amplify, 1000u) << "no value: the default";
    EXPECT_EQ(TickReport(0)[2], 254);

    SetAmplify(HKEY_CURRENT_USER, 500);
    EXPECT_EQ(TickReport(0)[2], 254) << "never read on a tick";
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(TickReport(0)[2], 126);
    EXPECT_EQ(LastReport(1)[2], 254) << "the other device has not started since";

    // Two bytes of binary data read as a little-endian 300.
    const uint8_t binary[] = {0x2C, 0x01};
    registry.PutValue(HKEY_CURRENT_USER, wheel::OemKey(), "Amplify", REG_BINARY, binary,
                      sizeof binary);
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(driver->CopyRecord(0).amplify, 300u);

    // A missing value keeps the last one read.
    registry.DeleteValue(HKEY_CURRENT_USER, wheel::OemKey(), "Amplify");
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(driver->CopyRecord(0).amplify, 300u);
    registry.DeleteKey(HKEY_CURRENT_USER, "SYSTEM");
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(driver->CopyRecord(0).amplify, 300u);
    EXPECT_EQ(TickReport(0)[2], 76) << "38.1";
    EXPECT_EQ(registry.OpenHandles(), 0u) << "the Amplify key is closed again";
}

TEST_F(EffectMixing, AmplifyZeroSilencesEveryEffectIncludingOffsets) {
    SetAmplify(HKEY_CURRENT_USER, 0);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    ASSERT_NE(Play(0, dravik::EffectSquare, Effect::Periodic(10000, 10000, 0, kSecond)), 0u);
    ASSERT_NE(Play(0, dravik::EffectSine, Effect::Periodic(10000, -10000, 0, kSecond)), 0u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0})) << i;
    }
}

TEST_F(EffectMixing, WaveformsReachTheMotors) {
    // A one-second square wave on motor B: on for the first half, off for the second.
    ASSERT_NE(
        Play(0, dravik::EffectSquare, Effect::Periodic(10000, 0, 0, kSecond).Cartesian({0, 1})),
        0u);
    for (uint32_t ms = 25; ms <= 2000; ms += 25) {
        const bool high = ms % 1000 <= 500;
        EXPECT_EQ(TickReport(0), (Bytes{0, static_cast<uint8_t>(high ? 1 : 0), 0, 0})) << ms;
    }
    // A sawtooth on motor A climbs, and its report follows the threshold.
    ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
    ASSERT_NE(Play(0, dravik::EffectSawtoothUp, Effect::Periodic(10000, 0, 0, kSecond)), 0u);
    std::vector<uint8_t> seen;
    for (int i = 0; i < 40; ++i) {
        seen.push_back(TickReport(0)[2]);
    }
    // 25 ms is 3.175: off; the level passes 25 at 197 ms; 975 ms is 123.825.
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen[6], 0) << "175 ms";
    EXPECT_EQ(seen[7], 50) << "200 ms: 25.4";
    EXPECT_EQ(seen[38], 246) << "975 ms";
    EXPECT_EQ(seen[39], 0) << "1000 ms starts the next period";
}

TEST_F(EffectMixing, RampAndAttackThroughTheTick) {
    const DWORD ramp = Play(0, dravik::EffectRamp, Effect::Ramp(0, 10000).Duration(2 * kSecond));
    ASSERT_NE(ramp, 0u);
    for (int i = 0; i < 39; ++i) {
        Tick();
    }
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 126, 0})) << "63.5 at one second";

    ASSERT_NE(Play(1, dravik::EffectConstant,
                   Effect::Constant(10000).Cartesian({1}).Envelope(0, kSecond, 0, 0)),
              0u);
    // 500 ms into device 1's attack (it started at one second on the clock).
    for (int i = 0; i < 19; ++i) {
        Tick();
    }
    EXPECT_EQ(TickReport(1), (Bytes{0, 1, 126, 0}));
    for (int i = 0; i < 60; ++i) {
        Tick();
    }
    EXPECT_EQ(TickReport(1), (Bytes{0, 1, 254, 0})) << "held after the attack";
}

TEST_F(EffectMixing, TheTickThatEndsAnIterationIsComputedAtItsEnd) {
    // 100 ms iterations, ticks every 25 ms: the tick at 125 ms into an iteration ends it, and
    // is computed at 100 ms, where a fade has reached its level and a ramp its end.
    struct Row {
        const char* what;
        DWORD type;
        Effect effect;
        std::vector<uint8_t> byte2;  // per iteration: 25, 50, 75, 100 ms, then its end
    };
    const Row rows[] = {
        {"constant with a 10 ms fade to 0",
         dravik::EffectConstant,
         Effect::Constant(10000).Duration(100000).Envelope(0, 0, 0, 10000),
         {254, 254, 254, 0, 0}},
        // 95.25, 63.5, 31.75, 0; past the end it would be -31.75, a blip of 62.
        {"falling ramp to 0",
         dravik::EffectRamp,
         Effect::Ramp(10000, 0).Duration(100000),
         {190, 126, 62, 0, 0}},
        // 101.6, 76.2, 50.8, 25.4; past the end it would be 0.
        {"falling ramp to 2000",
         dravik::EffectRamp,
         Effect::Ramp(10000, 2000).Duration(100000),
         {202, 152, 100, 50, 50}},
    };
    constexpr DWORD kIterations = 3;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        const DWORD handle = Download(0, row.type, row.effect);
        ASSERT_EQ(driver->StartEffect(0, handle, 0, kIterations), S_OK);
        for (DWORD iteration = 1; iteration <= kIterations; ++iteration) {
            for (size_t i = 0; i < row.byte2.size(); ++i) {
                const bool last = iteration == kIterations && i + 1 == row.byte2.size();
                // The end of the last iteration stops the effect: that tick adds nothing.
                EXPECT_EQ(TickReport(0)[2], last ? 0 : row.byte2[i])
                    << "iteration " << iteration << ", tick " << i + 1;
            }
        }
        EXPECT_EQ(Status(0, handle), 0u);
    }
}

TEST_F(EffectMixing, EndlessEffectOutlastsTheMicrosecondRange) {
    const DWORD handle = Play(0, dravik::EffectConstant,
                              Effect::Constant(10000).Cartesian({1}).Envelope(0, kSecond, 0, 0));
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0})) << "3.175 at 25 ms";
    // 71.6 minutes later: still playing, past its attack, at full strength.
    EXPECT_EQ(TickReport(0, 4294968), (Bytes{0, 1, 254, 0}));
    EXPECT_EQ(Status(0, handle), kPlaying);
    EXPECT_EQ(TickReport(0, 3600000), (Bytes{0, 1, 254, 0}));
    EXPECT_EQ(Status(0, handle), kPlaying);
}

TEST_F(EffectMixing, ZeroPeriodAndZeroDurationAreSilent) {
    ASSERT_NE(Play(0, dravik::EffectSine, Effect::Periodic(10000, 0, 0, 0)), 0u);
    ASSERT_NE(Play(0, dravik::EffectTriangle, Effect::Periodic(10000, 0, 0, 0)), 0u);
    const DWORD ramp = Download(0, dravik::EffectRamp, Effect::Ramp(10000, 10000).Duration(0));
    ASSERT_EQ(driver->StartEffect(0, ramp, 0, 3), S_OK);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(TickReport(0, 1), (Bytes{0, 0, 0, 0}));
    }
    EXPECT_EQ(Status(0, ramp), 0u) << "three iterations of no length are over";
}

}  // namespace
