#include "ff_mapping.h"

#include "common/dinput_shapes.h"
#include "ffdriver/effect_types.h"

namespace rumble {

namespace {

// Full scale: evdev levels are signed 16-bit (0x7FFF), DirectInput's are 10000.
constexpr int64_t kEvdevFull = 0x7FFF;
constexpr int64_t kDiFull = 10000;
// FF_RUMBLE's magnitudes and FF_GAIN are unsigned 16-bit.
constexpr int64_t kEvdevUnsignedFull = 0xFFFF;
// A periodic phase: DirectInput's whole period is 36000, evdev's 0x10000.
constexpr int64_t kDiTurn = 36000;
constexpr int64_t kEvdevTurn = 0x10000;

// Rounds num / den to the nearest whole number, halves away from zero.
int64_t RoundDiv(int64_t num, int64_t den) {
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

int64_t Clamp(int64_t v, int64_t lo, int64_t hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

// The wheel's axes as the driver's object IDs: absolute axis 0 (X, steering) and 1 (Y).
constexpr DWORD kAxisX = DIDFT_ABSAXIS | DIDFT_MAKEINSTANCE(0);
constexpr DWORD kAxisY = DIDFT_ABSAXIS | DIDFT_MAKEINSTANCE(1);

// Where an evdev effect goes on the motors. The wheel's one force axis is its steering axis, and
// a Windows game sends every force for it as a one-axis X effect, which the driver plays on both
// motors at the effect's level (motor A by level, motor B on). So every force effect, whatever its
// direction, becomes that one-axis X effect with Cartesian direction {1}: the evdev direction
// (SDL's Cartesian {1, 0} arrives as 0x3FFF, fftest's "along X" as 0x4000, Wine's as 0x402D)
// only says which way a force pushes, which a vibration cannot show, and on Windows a one-axis
// effect gives the same bytes for either sign. The kernel's own rumble emulation does the same:
// a periodic effect drives both motors at its magnitude whatever its direction. FF_RUMBLE alone
// stays per motor (see MapEffect).
void SetCommon(const ff_effect& in, CoreEffect& e) {
    e.axisCount = 1;
    e.axes[0] = kAxisX;
    e.flags = DIEFF_OBJECTIDS | DIEFF_CARTESIAN;
    e.direction[0] = 1;
    e.duration = MapDuration(in.replay.length);
    // Carried for the record; the driver ignores a start delay, so the service itself starts the
    // effect that much later.
    e.startDelay = DWORD{in.replay.delay} * 1000u;
}

// An envelope of no length changes nothing in evdev; passed on, the driver would silence the
// first tick (its attack of no time starts at 0), so it is no envelope at all.
void SetEnvelope(const ff_envelope& in, CoreEffect& e) {
    if (in.attack_length == 0 && in.fade_length == 0) {
        e.hasEnvelope = false;
        return;
    }
    e.hasEnvelope = true;
    e.envelope.dwSize = sizeof(DIENVELOPE);
    // Levels: absolute 0..0x7FFF in both, scaled to 0..10000. Times: ms to µs.
    e.envelope.dwAttackLevel = MapEnvelopeLevel(in.attack_level);
    e.envelope.dwAttackTime = DWORD{in.attack_length} * 1000u;
    e.envelope.dwFadeLevel = MapEnvelopeLevel(in.fade_level);
    e.envelope.dwFadeTime = DWORD{in.fade_length} * 1000u;
}

bool PeriodicType(uint16_t waveform, DWORD* type) {
    switch (waveform) {
        case FF_SQUARE:
            *type = dravik::EffectSquare;
            return true;
        case FF_SINE:
            *type = dravik::EffectSine;
            return true;
        case FF_TRIANGLE:
            *type = dravik::EffectTriangle;
            return true;
        case FF_SAW_UP:
            *type = dravik::EffectSawtoothUp;
            return true;
        case FF_SAW_DOWN:
            *type = dravik::EffectSawtoothDown;
            return true;
        default:
            return false;  // FF_CUSTOM and anything else: not offered
    }
}

bool ConditionType(uint16_t type, DWORD* out) {
    switch (type) {
        case FF_SPRING:
            *out = dravik::EffectSpring;
            return true;
        case FF_DAMPER:
            *out = dravik::EffectDamper;
            return true;
        case FF_INERTIA:
            *out = dravik::EffectInertia;
            return true;
        case FF_FRICTION:
            *out = dravik::EffectFriction;
            return true;
        default:
            return false;
    }
}

}  // namespace

DIEFFECT CoreEffect::Params() const {
    DIEFFECT p = {};
    p.dwSize = sizeof(DIEFFECT);
    p.dwFlags = flags;
    p.dwDuration = duration;
    p.dwSamplePeriod = 0;
    // evdev has no per-effect gain: full, as a game that never sets one.
    p.dwGain = static_cast<DWORD>(kDiFull);
    p.dwTriggerButton = DIEB_NOTRIGGER;
    p.dwTriggerRepeatInterval = 0;
    p.cAxes = axisCount;
    p.rgdwAxes = const_cast<DWORD*>(axes);
    p.rglDirection = const_cast<LONG*>(direction);
    p.lpEnvelope = hasEnvelope ? const_cast<DIENVELOPE*>(&envelope) : nullptr;
    p.cbTypeSpecificParams = specificSize;
    p.lpvTypeSpecificParams = nullptr;
    if (specificSize == sizeof(DICONSTANTFORCE) && type == dravik::EffectConstant) {
        p.lpvTypeSpecificParams = const_cast<DICONSTANTFORCE*>(&constant);
    } else if (specificSize == sizeof(DIRAMPFORCE) && type == dravik::EffectRamp) {
        p.lpvTypeSpecificParams = const_cast<DIRAMPFORCE*>(&ramp);
    } else if (specificSize == sizeof(DIPERIODIC)) {
        p.lpvTypeSpecificParams = const_cast<DIPERIODIC*>(&periodic);
    } else {
        p.cbTypeSpecificParams = 0;
    }
    p.dwStartDelay = startDelay;
    return p;
}

LONG MapLevel(int32_t level) {
    // Signed in both; -0x8000 has no positive twin and clamps to -10000.
    return static_cast<LONG>(
        Clamp(RoundDiv(int64_t{level} * kDiFull, kEvdevFull), -kDiFull, kDiFull));
}

DWORD MapEnvelopeLevel(uint16_t level) {
    // The kernel's range is 0..0x7FFF; more is full.
    return static_cast<DWORD>(RoundDiv(Clamp(level, 0, kEvdevFull) * kDiFull, kEvdevFull));
}

DWORD MapDuration(uint16_t lengthMs) {
    // replay.length 0 plays until stopped; DirectInput says INFINITE.
    return lengthMs == 0 ? INFINITE : DWORD{lengthMs} * 1000u;
}

DWORD MapGain(int32_t value) {
    return static_cast<DWORD>(
        RoundDiv(Clamp(value, 0, kEvdevUnsignedFull) * kDiFull, kEvdevUnsignedFull));
}

bool MapEffect(const ff_effect& in, MappedEffect* out) {
    *out = MappedEffect();
    CoreEffect& e = out->parts[0];
    switch (in.type) {
        case FF_CONSTANT:
            SetCommon(in, e);
            e.type = dravik::EffectConstant;
            e.constant.lMagnitude = MapLevel(in.u.constant.level);
            e.specificSize = sizeof(DICONSTANTFORCE);
            SetEnvelope(in.u.constant.envelope, e);
            out->count = 1;
            return true;
        case FF_RAMP:
            SetCommon(in, e);
            e.type = dravik::EffectRamp;
            e.ramp.lStart = MapLevel(in.u.ramp.start_level);
            e.ramp.lEnd = MapLevel(in.u.ramp.end_level);
            e.specificSize = sizeof(DIRAMPFORCE);
            SetEnvelope(in.u.ramp.envelope, e);
            out->count = 1;
            return true;
        case FF_PERIODIC: {
            const ff_periodic_effect& p = in.u.periodic;
            if (!PeriodicType(p.waveform, &e.type)) {
                return false;
            }
            SetCommon(in, e);
            // The phase is a fraction of the period; the kernel leaves its unit open and we read
            // it as the direction's: 0x10000 is a whole period, DirectInput's is 36000.
            int64_t phase = RoundDiv(int64_t{p.phase} * kDiTurn, kEvdevTurn);
            // DirectInput's magnitude is unsigned. A negative one is the wave upside down: half a
            // period later for the symmetric waves, the other sawtooth for the saws.
            if (p.magnitude < 0) {
                if (e.type == dravik::EffectSawtoothUp) {
                    e.type = dravik::EffectSawtoothDown;
                } else if (e.type == dravik::EffectSawtoothDown) {
                    e.type = dravik::EffectSawtoothUp;
                } else {
                    phase += kDiTurn / 2;
                }
            }
            e.periodic.dwMagnitude =
                static_cast<DWORD>(MapLevel(p.magnitude < 0 ? -int32_t{p.magnitude} : p.magnitude));
            e.periodic.lOffset = MapLevel(p.offset);
            e.periodic.dwPhase = static_cast<DWORD>(phase % kDiTurn);
            // ms to µs; a period of 0 is kept, and the driver plays it as silence.
            e.periodic.dwPeriod = DWORD{p.period} * 1000u;
            e.specificSize = sizeof(DIPERIODIC);
            SetEnvelope(p.envelope, e);
            out->count = 1;
            return true;
        }
        case FF_RUMBLE: {
            // Motor A feels exactly strong_magnitude and motor B exactly weak_magnitude: one
            // two-axis constant force per motor, each with a Cartesian direction along its own
            // axis, so that neither leaks into the other. Both play and stop together.
            const uint16_t magnitudes[2] = {in.u.rumble.strong_magnitude,
                                            in.u.rumble.weak_magnitude};
            for (int motor = 0; motor < 2; ++motor) {
                CoreEffect& part = out->parts[motor];
                SetCommon(in, part);
                part.type = dravik::EffectConstant;
                part.axisCount = 2;
                part.axes[1] = kAxisY;
                part.direction[0] = motor == 0 ? 1 : 0;
                part.direction[1] = motor == 1 ? 1 : 0;
                part.constant.lMagnitude = static_cast<LONG>(
                    RoundDiv(int64_t{magnitudes[motor]} * kDiFull, kEvdevUnsignedFull));
                part.specificSize = sizeof(DICONSTANTFORCE);
            }
            out->count = 2;
            return true;
        }
        default:
            break;
    }
    if (ConditionType(in.type, &e.type)) {
        // Accepted and silent, as the Windows driver keeps them.
        SetCommon(in, e);
        e.specificSize = 0;
        out->count = 1;
        return true;
    }
    return false;
}

}  // namespace rumble
