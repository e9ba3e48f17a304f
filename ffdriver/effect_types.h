// Effect slots and the twelve internal effect types the wheel accepts.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/registry.h"

namespace dravik {

inline constexpr uint32_t kEffectTypeCount = 12;
inline constexpr uint32_t kSlotCount = 32;
inline constexpr uint32_t kDeviceCount = 16;

enum EffectType : uint32_t {
    EffectConstant = 0,
    EffectRamp = 1,
    EffectSquare = 2,
    EffectSine = 3,
    EffectTriangle = 4,
    EffectSawtoothUp = 5,
    EffectSawtoothDown = 6,
    EffectSpring = 7,
    EffectDamper = 8,
    EffectInertia = 9,
    EffectFriction = 10,
    EffectCustomForce = 11,
};

enum PlayState : uint32_t {
    StateIdle = 0,
    StatePlaying = 1,
    StateStopped = 3,
};

// One downloaded effect. `params` owns its four buffers; `axesLength` and `directionLength` are
// the allocated lengths of rgdwAxes and rglDirection, which an update of only one of them can
// leave different from cAxes. A cleared slot is all zero bytes.
struct EffectSlot {
    uint32_t inUse;
    DIEFFECT params;
    uint32_t effectType;
    uint32_t startTick;
    uint32_t elapsedMs;
    uint32_t iterationsLeft;
    uint32_t playState;
    uint32_t axesLength;
    uint32_t directionLength;
};

// GUID_ConstantForce .. GUID_CustomForce: {13541C2n-8E33-11D0-9AD0-00A0C9A06E35}, n the type.
GUID EffectTypeGuid(uint32_t type);
// The effect's name as registered with its GUID ("Constant Force", ...).
const char* EffectTypeName(uint32_t type);

// Reads the "Attributes" value of one effect type's key under the OEM force-feedback key.
// A value longer than the entry fills the entry and no more. InitDriver runs it inside
// CreateInstance: nothing on this path may throw, so the key name is built without allocating.
bool ReadEffectAttributes(wheel::RegistryApi& registry, uint32_t type, DIEFFECTATTRIBUTES* entry);

// Frees a slot's four buffers and clears its parameters and their lengths; whether it is in use,
// its type and its play state and timing stay.
void ReleaseEffectParams(EffectSlot& slot);

// Frees a slot's four buffers and clears it to zero bytes.
void ClearSlot(EffectSlot& slot);

}  // namespace dravik
