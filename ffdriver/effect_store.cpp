#include "effect_store.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ffdriver/effect_driver.h"

namespace dravik {

namespace {

void* DefaultAllocate(size_t size) {
    return std::malloc(size);
}

std::atomic<EffectAllocator> g_allocator{&DefaultAllocate};

void* Allocate(size_t size) {
    return g_allocator.load()(size);
}

// Replaces `*dst` with a copy of `count` items of `src` (null for none). A count whose size in
// bytes does not fit a size_t (a 32-bit build) cannot be allocated.
template <typename T>
bool CopyArray(T** dst, const T* src, size_t count) {
    std::free(*dst);
    *dst = nullptr;
    if (src == nullptr || count == 0) {
        return true;
    }
    if (count > SIZE_MAX / sizeof(T)) {
        return false;
    }
    void* copy = Allocate(count * sizeof(T));
    if (copy == nullptr) {
        return false;
    }
    std::memcpy(copy, src, count * sizeof(T));
    *dst = static_cast<T*>(copy);
    return true;
}

}  // namespace

EffectAllocator SetEffectAllocator(EffectAllocator allocator) {
    return g_allocator.exchange(allocator != nullptr ? allocator : &DefaultAllocate);
}

int FindFreeSlot(const DeviceRecord& record) {
    for (uint32_t k = 0; k < kSlotCount; ++k) {
        if (record.effects[k].inUse == 0) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

bool ConsistentEffect(const DIEFFECT& e) {
    const bool arrays = e.rgdwAxes != nullptr && e.rglDirection != nullptr;
    const bool noArrays = e.rgdwAxes == nullptr && e.rglDirection == nullptr;
    if (e.cAxes != 0 ? !arrays : !noArrays) {
        return false;
    }
    return (e.cbTypeSpecificParams != 0) == (e.lpvTypeSpecificParams != nullptr);
}

HRESULT CopyEffectParams(EffectSlot& slot, const DIEFFECT& src, DWORD mask) {
    DIEFFECT& dst = slot.params;
    dst.dwFlags = src.dwFlags;
    if ((mask & DIEP_DURATION) != 0) {
        dst.dwDuration = src.dwDuration;
    }
    if ((mask & DIEP_SAMPLEPERIOD) != 0) {
        dst.dwSamplePeriod = src.dwSamplePeriod;
    }
    if ((mask & DIEP_GAIN) != 0) {
        dst.dwGain = src.dwGain;
    }
    if ((mask & DIEP_TRIGGERBUTTON) != 0) {
        dst.dwTriggerButton = src.dwTriggerButton;
    }
    if ((mask & DIEP_TRIGGERREPEATINTERVAL) != 0) {
        dst.dwTriggerRepeatInterval = src.dwTriggerRepeatInterval;
    }
    if ((mask & DIEP_AXES) != 0) {
        dst.cAxes = src.cAxes;
        slot.axesLength = 0;
        if (!CopyArray(&dst.rgdwAxes, src.rgdwAxes, src.cAxes)) {
            return E_OUTOFMEMORY;
        }
        slot.axesLength = dst.rgdwAxes != nullptr ? src.cAxes : 0;
    }
    if ((mask & DIEP_DIRECTION) != 0) {
        dst.cAxes = src.cAxes;
        slot.directionLength = 0;
        if (!CopyArray(&dst.rglDirection, src.rglDirection, src.cAxes)) {
            return E_OUTOFMEMORY;
        }
        slot.directionLength = dst.rglDirection != nullptr ? src.cAxes : 0;
    }
    if ((mask & DIEP_ENVELOPE) != 0) {
        if (!CopyArray(&dst.lpEnvelope, src.lpEnvelope, src.lpEnvelope != nullptr ? 1 : 0)) {
            return E_OUTOFMEMORY;
        }
    }
    if ((mask & DIEP_TYPESPECIFICPARAMS) != 0) {
        dst.cbTypeSpecificParams = src.cbTypeSpecificParams;
        BYTE* bytes = static_cast<BYTE*>(dst.lpvTypeSpecificParams);
        const bool ok = CopyArray(&bytes, static_cast<const BYTE*>(src.lpvTypeSpecificParams),
                                  src.cbTypeSpecificParams);
        dst.lpvTypeSpecificParams = bytes;
        if (!ok) {
            dst.cbTypeSpecificParams = 0;
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

HRESULT InitEffectParams(EffectSlot& slot, const DIEFFECT& src) {
    // Only the parameters start afresh: a slot started before it was filled plays on.
    ReleaseEffectParams(slot);
    return CopyEffectParams(slot, src, 0xFFFFFFFFu);
}

}  // namespace dravik
