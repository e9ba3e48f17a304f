// The mapping from the kernel's effects to the driver's DIEFFECT, field by field, with the
// numbers worked out by hand from the two conventions (evdev: 0x7FFF levels, ms; DirectInput:
// 10000 levels, µs).
#include <gtest/gtest.h>

#include <cstring>

#include "common/dinput_shapes.h"
#include "ffdriver/effect_types.h"
#include "linux/ff_mapping.h"

namespace {

using rumble::MapEffect;
using rumble::MappedEffect;

TEST(FfMapping, ScalarConversions) {
    const struct {
        int32_t evdev;
        LONG di;
    } levels[] = {{0, 0},         {0x7FFF, 10000}, {-0x7FFF, -10000}, {-0x8000, -10000},
                  {0x4000, 5000}, {0x6000, 7500},  {-0x2000, -2500},  {1, 0},
                  {2, 1},         {0x7FFE, 10000}};
    for (const auto& l : levels) {
        EXPECT_EQ(rumble::MapLevel(l.evdev), l.di) << l.evdev;
    }
    EXPECT_EQ(rumble::MapEnvelopeLevel(0), 0u);
    EXPECT_EQ(rumble::MapEnvelopeLevel(0x2000), 2500u);
    EXPECT_EQ(rumble::MapEnvelopeLevel(0x7FFF), 10000u);
    EXPECT_EQ(rumble::MapEnvelopeLevel(0xFFFF), 10000u);  // beyond the kernel's range
    EXPECT_EQ(rumble::MapDuration(0), INFINITE);
    EXPECT_EQ(rumble::MapDuration(1), 1000u);
    EXPECT_EQ(rumble::MapDuration(0xFFFF), 65535000u);
    const struct {
        int32_t evdev;
        DWORD di;
    } gains[] = {{0, 0},  {0xFFFF, 10000},  {0x8000, 5000}, {0x4000, 2500},
                 {-5, 0}, {0x10000, 10000}, {70000, 10000}};
    for (const auto& g : gains) {
        EXPECT_EQ(rumble::MapGain(g.evdev), g.di) << g.evdev;
    }
}

ff_effect Base(uint16_t type) {
    ff_effect e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.id = 3;
    e.direction = 0x4000;
    e.replay.length = 1500;
    e.replay.delay = 40;
    return e;
}

TEST(FfMapping, EveryFieldOfEachType) {
    ff_effect constant = Base(FF_CONSTANT);
    constant.u.constant.level = -0x4000;
    constant.u.constant.envelope = {100, 0x2000, 200, 0x7FFF};

    ff_effect ramp = Base(FF_RAMP);
    ramp.replay.length = 0;
    ramp.u.ramp.start_level = 0x7FFF;
    ramp.u.ramp.end_level = -0x6000;

    ff_effect sine = Base(FF_PERIODIC);
    sine.u.periodic.waveform = FF_SINE;
    sine.u.periodic.period = 250;
    sine.u.periodic.magnitude = 0x6000;
    sine.u.periodic.offset = -0x2000;
    sine.u.periodic.phase = 0x4000;
    sine.u.periodic.envelope = {0, 0, 300, 0};

    // Upside down: half a period later.
    ff_effect square = sine;
    square.u.periodic.waveform = FF_SQUARE;
    square.u.periodic.magnitude = -0x4000;
    square.u.periodic.phase = 0xC000;

    // Upside down: the other sawtooth, phase kept.
    ff_effect saw = sine;
    saw.u.periodic.waveform = FF_SAW_DOWN;
    saw.u.periodic.magnitude = -0x8000;

    ff_effect spring = Base(FF_SPRING);
    spring.u.condition[0].right_coeff = 0x4000;

    const struct {
        const char* what;
        ff_effect in;
        DWORD type;
        DWORD duration;
        bool envelope;
        DIENVELOPE env;
        DWORD specificSize;
        DICONSTANTFORCE constant;
        DIRAMPFORCE ramp;
        DIPERIODIC periodic;
    } cases[] = {
        {"constant",
         constant,
         dravik::EffectConstant,
         1500000,
         true,
         {sizeof(DIENVELOPE), 2500, 100000, 10000, 200000},
         sizeof(DICONSTANTFORCE),
         {-5000},
         {},
         {}},
        {"ramp, endless",
         ramp,
         dravik::EffectRamp,
         INFINITE,
         false,
         {},
         sizeof(DIRAMPFORCE),
         {},
         {10000, -7500},
         {}},
        {"sine",
         sine,
         dravik::EffectSine,
         1500000,
         true,
         {sizeof(DIENVELOPE), 0, 0, 0, 300000},
         sizeof(DIPERIODIC),
         {},
         {},
         {7500, -2500, 9000, 250000}},
        {"square, negative",
         square,
         dravik::EffectSquare,
         1500000,
         true,
         {sizeof(DIENVELOPE), 0, 0, 0, 300000},
         sizeof(DIPERIODIC),
         {},
         {},
         {5000, -2500, 9000, 250000}},
        {"saw down, negative",
         saw,
         dravik::EffectSawtoothUp,
         1500000,
         true,
         {sizeof(DIENVELOPE), 0, 0, 0, 300000},
         sizeof(DIPERIODIC),
         {},
         {},
         {10000, -2500, 9000, 250000}},
        {"spring: no parameters", spring, dravik::EffectSpring, 1500000, false, {}, 0, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MappedEffect mapped;
        ASSERT_TRUE(MapEffect(c.in, &mapped));
        ASSERT_EQ(mapped.count, 1u);
        const rumble::CoreEffect& core = mapped.parts[0];
        const DIEFFECT p = core.Params();
        EXPECT_EQ(core.type, c.type);
        EXPECT_EQ(p.dwSize, sizeof(DIEFFECT));
        EXPECT_EQ(p.dwDuration, c.duration);
        EXPECT_EQ(p.dwStartDelay, 40000u);
        EXPECT_EQ(p.dwGain, 10000u);
        EXPECT_EQ(p.dwTriggerButton, DIEB_NOTRIGGER);
        ASSERT_EQ(p.lpEnvelope != nullptr, c.envelope);
        if (c.envelope) {
            EXPECT_EQ(std::memcmp(p.lpEnvelope, &c.env, sizeof c.env), 0)
                << p.lpEnvelope->dwAttackLevel << " " << p.lpEnvelope->dwAttackTime << " "
                << p.lpEnvelope->dwFadeLevel << " " << p.lpEnvelope->dwFadeTime;
        }
        ASSERT_EQ(p.cbTypeSpecificParams, c.specificSize);
        ASSERT_EQ(p.lpvTypeSpecificParams != nullptr, c.specificSize != 0);
        if (c.specificSize == sizeof(DICONSTANTFORCE)) {
            EXPECT_EQ(static_cast<const DICONSTANTFORCE*>(p.lpvTypeSpecificParams)->lMagnitude,
                      c.constant.lMagnitude);
        } else if (c.specificSize == sizeof(DIRAMPFORCE)) {
            const auto* r = static_cast<const DIRAMPFORCE*>(p.lpvTypeSpecificParams);
            EXPECT_EQ(r->lStart, c.ramp.lStart);
            EXPECT_EQ(r->lEnd, c.ramp.lEnd);
        } else if (c.specificSize == sizeof(DIPERIODIC)) {
            const auto* w = static_cast<const DIPERIODIC*>(p.lpvTypeSpecificParams);
            EXPECT_EQ(w->dwMagnitude, c.periodic.dwMagnitude);
            EXPECT_EQ(w->lOffset, c.periodic.lOffset);
            EXPECT_EQ(w->dwPhase, c.periodic.dwPhase);
            EXPECT_EQ(w->dwPeriod, c.periodic.dwPeriod);
        }
    }
}

// Whatever way a force points, it is the one-axis X effect a Windows wheel game sends: the X axis
// alone, Cartesian {1}.
TEST(FfMapping, EveryDirectionIsAOneAxisXEffect) {
    const uint16_t directions[] = {0x0000, 0x3FFF, 0x4000, 0x402D, 0x6000, 0x8000, 0xC000, 0xFFFF};
    const uint16_t types[] = {FF_CONSTANT, FF_RAMP, FF_PERIODIC, FF_SPRING, FF_DAMPER};
    for (uint16_t type : types) {
        for (uint16_t direction : directions) {
            SCOPED_TRACE(testing::Message() << "type " << type << " direction " << direction);
            ff_effect e = Base(type);
            e.direction = direction;
            e.u.periodic.waveform = FF_SINE;
            MappedEffect mapped;
            ASSERT_TRUE(MapEffect(e, &mapped));
            ASSERT_EQ(mapped.count, 1u);
            const DIEFFECT p = mapped.parts[0].Params();
            EXPECT_EQ(p.dwFlags, DIEFF_OBJECTIDS | DIEFF_CARTESIAN);
            ASSERT_EQ(p.cAxes, 1u);
            EXPECT_EQ(p.rgdwAxes[0], 0x002u);
            EXPECT_EQ(p.rglDirection[0], 1);
        }
    }
}

TEST(FfMapping, RumbleIsOneConstantForcePerMotor) {
    ff_effect rumble = Base(FF_RUMBLE);
    rumble.u.rumble.strong_magnitude = 0xC000;
    rumble.u.rumble.weak_magnitude = 0xFFFF;
    MappedEffect mapped;
    ASSERT_TRUE(MapEffect(rumble, &mapped));
    ASSERT_EQ(mapped.count, 2u);
    const LONG magnitudes[2] = {7500, 10000};
    for (int motor = 0; motor < 2; ++motor) {
        SCOPED_TRACE(motor);
        const DIEFFECT p = mapped.parts[motor].Params();
        EXPECT_EQ(mapped.parts[motor].type, dravik::EffectConstant);
        EXPECT_EQ(p.dwFlags, DIEFF_OBJECTIDS | DIEFF_CARTESIAN);
        EXPECT_EQ(p.dwDuration, 1500000u);
        ASSERT_EQ(p.cAxes, 2u);
        EXPECT_EQ(p.rgdwAxes[0], 0x002u);
        EXPECT_EQ(p.rgdwAxes[1], 0x102u);
        // Along its own axis only.
        EXPECT_EQ(p.rglDirection[0], motor == 0 ? 1 : 0);
        EXPECT_EQ(p.rglDirection[1], motor == 1 ? 1 : 0);
        EXPECT_EQ(p.lpEnvelope, nullptr);
        EXPECT_EQ(static_cast<const DICONSTANTFORCE*>(p.lpvTypeSpecificParams)->lMagnitude,
                  magnitudes[motor]);
    }
}

TEST(FfMapping, RefusesWhatTheWheelDoesNotOffer) {
    ff_effect custom = Base(FF_PERIODIC);
    custom.u.periodic.waveform = FF_CUSTOM;
    ff_effect unknownWave = Base(FF_PERIODIC);
    unknownWave.u.periodic.waveform = 0x1234;
    const ff_effect refused[] = {custom, unknownWave, Base(0x7777), Base(FF_GAIN)};
    for (const ff_effect& e : refused) {
        MappedEffect mapped;
        EXPECT_FALSE(MapEffect(e, &mapped)) << e.type << " " << e.u.periodic.waveform;
    }
}

}  // namespace
