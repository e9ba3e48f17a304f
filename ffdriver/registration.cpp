#include "registration.h"

#include "common/wheel_ids.h"

namespace dravik {

void RegisterDriver(wheel::RegistryApi& registry, const char* modulePath) {
    const wheel::FixedName clsidKey = wheel::ClsidKeyText(wheel::kDravikClsid);
    const wheel::FixedName serverKey = wheel::ClsidKeyText(wheel::kDravikClsid, "\\InProcServer32");
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr,
                             wheel::kDravikDescription, true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, modulePath,
                             true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), "ThreadingModel",
                             wheel::kThreadingModel, true);
    wheel::SetRegistryString(registry, HKEY_LOCAL_MACHINE,
                             wheel::OemKeyText("\\OEMForceFeedback").c_str(), "CLSID",
                             wheel::GuidText(wheel::kDravikClsid).c_str(), true);
}

}  // namespace dravik
