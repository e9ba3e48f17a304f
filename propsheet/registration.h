// What DllRegisterServer writes: the sheet's CLSID keys under HKEY_CLASSES_ROOT. Failures of
// single writes are ignored. It runs inside DllRegisterServer, so it builds its key names without
// allocating.
#pragma once

#include "common/registry.h"

namespace velquin {

void RegisterSheet(wheel::RegistryApi& registry, const char* modulePath);

}  // namespace velquin
