// A plain search of the present HID interfaces by vendor and product ID, without DirectInput:
// tells "a wheel is plugged in" apart from "DirectInput lists it", which the driver's own search
// cannot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform.h"

namespace dravik {

// Called with each present HID interface's path (NUL-terminated) and its length; true stops the
// walk.
using HidInterfaceVisitor = bool (*)(const char* path, size_t length, void* context);

// Walks the present HID interfaces, allocating nothing that can throw; true when a visit
// stopped it.
bool VisitHidInterfaces(HidInterfaceVisitor visit, void* context);

// The interface path of the first present HID device with these IDs, or "".
std::string FindHidInterfaceByIds(uint16_t vendorId, uint16_t productId);

// The vendor and product IDs of the HID device at `path`; false when it cannot be asked.
bool HidDeviceIds(const char* path, uint16_t* vendorId, uint16_t* productId);

}  // namespace dravik
