#include "registration.h"

#include <string>

#include "common/wheel_ids.h"

namespace dravik {

void RegisterDriver(wheel::RegistryApi& registry, const char* modulePath) {
    const std::string clsidKey = wheel::ClsidKey(wheel::kDravikClsid);
    const std::string serverKey = clsidKey + "\\InProcServer32";
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr,
                             "USB Joystick Force FeedBack Support DLL", true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, modulePath,
                             true);
    wheel::SetRegistryString(registry, HKEY_CLASSES_ROOT, serverKey.c_str(), "ThreadingModel",
                             "Both", true);
    wheel::SetRegistryString(registry, HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey().c_str(),
                             "CLSID", wheel::GuidString(wheel::kDravikClsid).c_str(), true);
}

}  // namespace dravik
