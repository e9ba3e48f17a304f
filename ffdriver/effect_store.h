// The slot-level helpers behind DownloadEffect: choosing a slot and copying a caller's
// DIEFFECT into the slot's own buffers.
#pragma once

#include <cstddef>

#include "common/platform.h"
#include "ffdriver/effect_types.h"

namespace dravik {

struct DeviceRecord;

// The lowest slot whose inUse is 0, or -1 when all are in use.
int FindFreeSlot(const DeviceRecord& record);

// The counts and pointers of a caller's effect agree: arrays present exactly when cAxes is not
// 0, type-specific bytes present exactly when their size is not 0.
bool ConsistentEffect(const DIEFFECT& effect);

// Copies the parameters selected by the DIEP_ bits of `mask` (dwFlags always) into the slot.
// E_OUTOFMEMORY at the first allocation that fails.
HRESULT CopyEffectParams(EffectSlot& slot, const DIEFFECT& src, DWORD mask);

// Releases the slot's buffers, clears its parameters and copies every one from `src`; the slot's
// play state and timing are kept.
HRESULT InitEffectParams(EffectSlot& slot, const DIEFFECT& src);

// The allocator the store uses for the slots' buffers; tests swap it to make allocations fail.
using EffectAllocator = void* (*)(size_t size);
EffectAllocator SetEffectAllocator(EffectAllocator allocator);

}  // namespace dravik
