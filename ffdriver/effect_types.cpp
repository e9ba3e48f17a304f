#include "effect_types.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/wheel_ids.h"

namespace dravik {

GUID EffectTypeGuid(uint32_t type) {
    return GUID{
        0x13541C20u + type, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
}

const char* EffectTypeName(uint32_t type) {
    static const char* const kNames[kEffectTypeCount] = {
        "Constant Force", "Ramp Force", "Square", "Sine",    "Triangle", "Sawtooth Up",
        "Sawtooth Down",  "Spring",     "Damper", "Inertia", "Friction", "Custom Force"};
    return type < kEffectTypeCount ? kNames[type] : "";
}

bool ReadEffectAttributes(wheel::RegistryApi& registry, uint32_t type, DIEFFECTATTRIBUTES* entry) {
    if (type >= kEffectTypeCount || entry == nullptr) {
        return false;
    }
    const wheel::FixedName name = wheel::EffectTypeKeyText(EffectTypeGuid(type));
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, name.c_str(), &raw) != ERROR_SUCCESS) {
        return false;
    }
    wheel::RegKey key(registry, raw);
    DWORD size = 0;
    DWORD valueType = 0;
    if (registry.QueryValue(key.get(), "Attributes", &valueType, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size == 0 ? 1 : size]);
    if (!buffer) {
        return false;
    }
    DWORD got = size;
    if (registry.QueryValue(key.get(), "Attributes", &valueType, buffer.get(), &got) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::memset(entry, 0, sizeof *entry);
    std::memcpy(entry, buffer.get(), got < sizeof *entry ? got : sizeof *entry);
    return true;
}

void ReleaseEffectParams(EffectSlot& slot) {
    std::free(slot.params.rgdwAxes);
    std::free(slot.params.rglDirection);
    std::free(slot.params.lpEnvelope);
    std::free(slot.params.lpvTypeSpecificParams);
    std::memset(&slot.params, 0, sizeof slot.params);
    slot.axesLength = 0;
    slot.directionLength = 0;
}

void ClearSlot(EffectSlot& slot) {
    ReleaseEffectParams(slot);
    std::memset(&slot, 0, sizeof slot);
}

}  // namespace dravik
