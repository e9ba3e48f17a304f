// What DllRegisterServer writes: the CLSID keys under HKEY_CLASSES_ROOT and the driver's CLSID
// under the wheel's OEM force-feedback key. Failures of single writes are ignored. It runs inside
// DllRegisterServer, so it builds its key names without allocating.
#pragma once

#include "common/registry.h"

namespace dravik {

void RegisterDriver(wheel::RegistryApi& registry, const char* modulePath);

}  // namespace dravik
