// The one translation from the kernel's force-feedback effects (struct ff_effect, as a client
// uploads it to the wheel's uinput device) to the effect driver's own terms: an internal effect
// type and a DIEFFECT, as DirectInput would hand the Windows driver the same effect.
#pragma once

#include <linux/input.h>

#include <cstdint>

#include "common/platform.h"

namespace rumble {

// One driver effect. Copyable: the DIEFFECT is built on demand and points into this object.
struct CoreEffect {
    DWORD type = 0;  // dravik::EffectType
    DWORD flags = 0;
    DWORD duration = 0;
    DWORD startDelay = 0;
    DWORD axisCount = 0;
    DWORD axes[2] = {};
    LONG direction[2] = {};
    bool hasEnvelope = false;
    DIENVELOPE envelope = {};
    // Which of the type-specific records is used; 0 bytes for the condition types, which the
    // driver accepts and keeps silent.
    DWORD specificSize = 0;
    DICONSTANTFORCE constant = {};
    DIRAMPFORCE ramp = {};
    DIPERIODIC periodic = {};

    // The DIEFFECT for DownloadEffect; valid while this object lives and stays where it is.
    DIEFFECT Params() const;
};

// An evdev effect becomes one driver effect, or two for FF_RUMBLE (one per motor).
struct MappedEffect {
    uint32_t count = 0;
    CoreEffect parts[2];
};

// Maps an uploaded effect; false for a type or waveform the wheel does not offer (the caller
// refuses the upload with EINVAL). Every value of every field is mapped to something in range.
bool MapEffect(const ff_effect& in, MappedEffect* out);

// EV_FF/FF_GAIN's 0..0xFFFF to SetGain's 0..10000; values outside are clamped first.
DWORD MapGain(int32_t value);

// The pieces, exposed for the table test.
LONG MapLevel(int32_t level);
DWORD MapEnvelopeLevel(uint16_t level);
DWORD MapDuration(uint16_t lengthMs);

}  // namespace rumble
