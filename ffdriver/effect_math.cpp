#include "effect_math.h"

#include <cmath>
#include <cstring>

namespace dravik {

namespace {

// The constants the wheel's levels were tuned with; not full-precision pi.
constexpr double kTwoPi = 6.28318;
constexpr double kPi = 3.14159;
constexpr double kTopLevel = 127.0;

template <typename T>
T ReadParams(const EffectSlot& slot) {
    T value = {};
    if (slot.params.lpvTypeSpecificParams != nullptr) {
        const size_t size = slot.params.cbTypeSpecificParams < sizeof value
                                ? slot.params.cbTypeSpecificParams
                                : sizeof value;
        std::memcpy(&value, slot.params.lpvTypeSpecificParams, size);
    }
    return value;
}

bool IsPeriodic(uint32_t type) {
    return type == EffectSquare || type == EffectSine || type == EffectTriangle ||
           type == EffectSawtoothUp || type == EffectSawtoothDown;
}

}  // namespace

int32_t TruncateLevel(double value) {
    if (!(value == value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return INT32_MAX;
    }
    if (value <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

bool AdvanceEffectTime(EffectSlot& slot, uint32_t now) {
    slot.elapsedMs = now - slot.startTick;
    // An endless effect never ends: measured in 64 bits its time passes INFINITE after about
    // 71.6 minutes, which must not count as the end of an iteration.
    if (slot.params.dwDuration != INFINITE &&
        uint64_t{slot.elapsedMs} * 1000u > slot.params.dwDuration) {
        --slot.iterationsLeft;
        if (slot.iterationsLeft == 0) {
            slot.playState = StateStopped;
            return false;
        }
        slot.startTick = now;
    }
    return true;
}

double EffectMath::LevelScale(const EffectSlot& slot, const LevelInputs& in) {
    return (in.amplify / 1000.0) * kTopLevel * (in.gain / 10000.0) * (slot.params.dwGain / 10000.0);
}

double EffectMath::ApplyEnvelope(const EffectSlot& slot, double x, uint64_t t) const {
    const DIENVELOPE* env = slot.params.lpEnvelope;
    if (env == nullptr) {
        return x;
    }
    const double a = env->dwAttackLevel;
    const double ta = env->dwAttackTime;
    const double f = env->dwFadeLevel;
    const double tf = env->dwFadeTime;
    const double time = static_cast<double>(t);
    if (time <= ta) {
        // With no attack time the ratio is 0/0 at t = 0: that tick is silent.
        return ta == 0.0 ? 0.0 : a - (time / ta) * (a - x);
    }
    if (slot.params.dwDuration == INFINITE) {
        // An endless effect holds its value once the attack is over.
        return x;
    }
    const double d = slot.params.dwDuration;
    if (time < d - tf) {
        return x;
    }
    if (tf == 0.0) {
        // A fade of no length has already reached its level.
        return f;
    }
    return x - (x - f) * (time - (d - tf)) / tf;
}

double EffectMath::EffectLevel(const EffectSlot& slot, const LevelInputs& in) const {
    if (slot.inUse == 0) {
        return 0.0;
    }
    const uint64_t t = EffectTime(slot);
    const DIENVELOPE* env = slot.params.lpEnvelope;
    if (env != nullptr && env->dwAttackTime == 0 && t == 0) {
        return 0.0;
    }
    const double scale = LevelScale(slot, in);
    switch (slot.effectType) {
        case EffectConstant: {
            const auto p = ReadParams<DICONSTANTFORCE>(slot);
            return ApplyEnvelope(slot, p.lMagnitude, t) * scale / 10000.0;
        }
        case EffectRamp: {
            const auto p = ReadParams<DIRAMPFORCE>(slot);
            const DWORD duration = slot.params.dwDuration;
            if (duration == INFINITE) {
                return ApplyEnvelope(slot, p.lStart, t) * scale / 10000.0;
            }
            if (duration == 0) {
                return 0.0;
            }
            const double r = p.lStart + (static_cast<double>(p.lEnd) - p.lStart) *
                                            static_cast<double>(t) / duration;
            return ApplyEnvelope(slot, r, t) * scale / 10000.0;
        }
        default:
            break;
    }
    if (!IsPeriodic(slot.effectType)) {
        return 0.0;
    }
    const auto p = ReadParams<DIPERIODIC>(slot);
    const uint64_t period = p.dwPeriod;
    if (period == 0) {
        return 0.0;
    }
    // The offset is scaled like the wave, so Amplify 0 silences it too.
    const double offset = p.lOffset / 10000.0 * scale;
    const double magnitude = p.dwMagnitude / 10000.0;
    double w = 0.0;
    if (slot.effectType == EffectSine) {
        w = std::fabs(std::sin(static_cast<double>(t) * kTwoPi / static_cast<double>(period) +
                               p.dwPhase / 18000.0 * kPi)) *
            p.dwMagnitude;
        return std::fabs(ApplyEnvelope(slot, w, t) * scale / 10000.0 + offset);
    }
    const uint64_t phase = static_cast<uint64_t>(p.dwPhase / 36000.0 * static_cast<double>(period));
    const uint64_t pos = (t + phase) % period;
    switch (slot.effectType) {
        case EffectSquare:
            w = pos <= period / 2 ? 10000.0 : 0.0;
            break;
        case EffectTriangle: {
            const double h = static_cast<double>(period) * 0.5;
            w = pos <= period / 2 ? static_cast<double>(pos) / h * 10000.0
                                  : 10000.0 - (static_cast<double>(pos) - h) / h * 10000.0;
            break;
        }
        case EffectSawtoothUp:
            w = static_cast<double>(pos * 10000u / period);
            break;
        default:  // EffectSawtoothDown
            w = 10000.0 - static_cast<double>(pos * 10000u / period);
            break;
    }
    w *= magnitude;
    return std::fabs(ApplyEnvelope(slot, w, t) * scale / 10000.0 + offset);
}

void EffectMath::SplitCartesian(uint32_t n, const LONG* d, uint32_t dLength, double* c,
                                double x) const {
    // Squares summed in double precision: large directions keep their ratio.
    double s = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        const double di = i < dLength ? d[i] : 0.0;
        s += di * di;
    }
    if (s == 0.0) {
        for (uint32_t i = 0; i < n; ++i) {
            c[i] = x;
        }
        return;
    }
    const double k = std::sqrt(x * x / s);
    for (uint32_t i = 0; i < n; ++i) {
        const double di = i < dLength ? d[i] : 0.0;
        c[i] = std::trunc(std::fabs(di * k));
    }
}

void EffectMath::SplitPolar(uint32_t n, const LONG* d, uint32_t dLength, double* c,
                            double x) const {
    const double theta = (dLength > 0 ? d[0] : 0) * kPi / 18000.0;
    if (n == 1) {
        c[0] = std::cos(theta) * x;
        return;
    }
    const double along = std::cos(theta) * x;
    const double across = std::sin(theta) * x;
    for (uint32_t i = 0; i < n; ++i) {
        c[i] = i % 2 == 0 ? along : across;
    }
}

HRESULT EffectMath::SplitByDirection(uint32_t n, const LONG* d, uint32_t dLength,
                                     double* components, double x, DWORD dwFlags) const {
    if (d == nullptr || components == nullptr) {
        return E_INVALIDARG;
    }
    // DirectInput hands drivers object identifiers or offsets alongside the coordinate flag;
    // only the coordinate system decides.
    const DWORD coords = dwFlags & ~static_cast<DWORD>(DIEFF_OBJECTIDS | DIEFF_OBJECTOFFSETS);
    if (coords == DIEFF_CARTESIAN) {
        SplitCartesian(n, d, dLength, components, x);
        return S_OK;
    }
    if (coords == DIEFF_POLAR) {
        SplitPolar(n, d, dLength, components, x);
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT EffectMath::ComputeEffectOutput(const EffectSlot& slot, const LevelInputs& in,
                                        AxisLevels* result) const {
    if (result == nullptr || slot.inUse == 0) {
        return E_INVALIDARG;
    }
    const uint32_t n = slot.params.cAxes;
    if (n > kMaxEffectAxes) {
        return E_INVALIDARG;
    }
    const double x = EffectLevel(slot, in);
    double components[kMaxEffectAxes];
    const HRESULT hr = SplitByDirection(n, slot.params.rglDirection, slot.directionLength,
                                        components, x, slot.params.dwFlags);
    if (FAILED(hr)) {
        return hr;
    }
    result->count = n;
    for (uint32_t i = 0; i < n; ++i) {
        result->levels[i] = 0;
        if (i < slot.axesLength && slot.params.rgdwAxes != nullptr) {
            const uint32_t j = (slot.params.rgdwAxes[i] >> 8) & 0xFFFFu;
            if (j < n) {
                result->levels[i] = TruncateLevel(components[j]);
            }
        }
    }
    return S_OK;
}

}  // namespace dravik
