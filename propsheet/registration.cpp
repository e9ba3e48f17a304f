#include "registration.h"

#include "common/wheel_ids.h"

namespace velquin {

void RegisterSheet(wheel::RegistryApi& registry, const char* modulePath) {
    const wheel::FixedName clsidKey = wheel::ClsidKeyText(wheel::kVelquinClsid);
    const wheel::FixedName serverKey =
        wheel::ClsidKeyText(wheel::kVelquinClsid, "\\InProcServer32");
    const wheel::FixedName handlerKey =
        wheel::ClsidKeyText(wheel::kVelquinClsid, "\\InProcHandler32");
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr,
                             wheel::kVelquinDescription, true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, modulePath,
                             true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), "ThreadingModel",
                             wheel::kThreadingModel, true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, handlerKey.c_str(), nullptr,
                             wheel::kVelquinInProcHandler, true);
}

}  // namespace velquin
