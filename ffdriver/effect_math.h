// What a playing effect contributes to the motors: its scalar level at time t, shaped by the
// waveform and the envelope and scaled by the gains and Amplify, spread over its axes by the
// effect's direction.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "ffdriver/effect_types.h"

namespace dravik {

// The most axes an effect may have and still be computed; the report uses one or two.
inline constexpr uint32_t kMaxEffectAxes = 8;

// The result of ComputeEffectOutput: one level per axis, kept inline so a tick never allocates.
struct AxisLevels {
    uint32_t count = 0;
    int32_t levels[kMaxEffectAxes] = {};
};

// The timing step for one playing slot: measures elapsedMs from startTick, ends or repeats the
// iteration. False when the effect has just ended and adds nothing on this tick.
bool AdvanceEffectTime(EffectSlot& slot, uint32_t now);

// The inputs of the level computation that come from the device record.
struct LevelInputs {
    uint32_t gain;     // SetGain, 0 to 10000
    uint32_t amplify;  // Amplify, 1000 = unchanged
};

class EffectMath {
  public:
    virtual ~EffectMath() = default;

    // (amplify / 1000) x 127 x (gain / 10000) x (dwGain / 10000).
    static double LevelScale(const EffectSlot& slot, const LevelInputs& in);
    // The effect's scalar level at its current time.
    double EffectLevel(const EffectSlot& slot, const LevelInputs& in) const;
    // The envelope applied to x at time t (microseconds into the iteration).
    double ApplyEnvelope(const EffectSlot& slot, double x, uint64_t t) const;
    // Spreads x over n components by the direction; E_INVALIDARG for a missing direction or a
    // coordinate system other than Cartesian or polar. `d` holds `dLength` entries; entries past
    // it read as 0.
    HRESULT SplitByDirection(uint32_t n, const LONG* d, uint32_t dLength, double* components,
                             double x, DWORD dwFlags) const;
    void SplitCartesian(uint32_t n, const LONG* d, uint32_t dLength, double* c, double x) const;
    void SplitPolar(uint32_t n, const LONG* d, uint32_t dLength, double* c, double x) const;
    // One level per axis for a slot in use; a failure adds nothing.
    HRESULT ComputeEffectOutput(const EffectSlot& slot, const LevelInputs& in,
                                AxisLevels* result) const;
};

// Microseconds into the current iteration, kept in 64 bits so long effects never wrap. A finite
// effect is computed no later than its end: the tick that ends an iteration comes up to a tick
// late, and a fade or a ramp carried on past its duration would overshoot its end level.
inline uint64_t EffectTime(const EffectSlot& slot) {
    const uint64_t t = uint64_t{slot.elapsedMs} * 1000u;
    const DWORD duration = slot.params.dwDuration;
    return duration != INFINITE && t > duration ? duration : t;
}

// Truncates toward zero into the int32 range; NaN gives 0.
int32_t TruncateLevel(double value);

}  // namespace dravik
