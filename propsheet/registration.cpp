#include "registration.h"

#include <string>

#include "common/wheel_ids.h"

namespace velquin {

void RegisterSheet(wheel::RegistryApi& registry, const char* modulePath) {
    const std::string clsidKey = wheel::ClsidKey(wheel::kVelquinClsid);
    const std::string serverKey = clsidKey + "\\InProcServer32";
    const std::string handlerKey = clsidKey + "\\InProcHandler32";
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr,
                             kServerDescription, true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, modulePath,
                             true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), "ThreadingModel",
                             kThreadingModel, true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, handlerKey.c_str(), nullptr,
                             kInProcHandler, true);
}

}  // namespace velquin
