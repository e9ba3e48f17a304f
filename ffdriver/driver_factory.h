// The class factory for the effect driver and the module's DllGetClassObject logic, kept
// portable so the COM rules can be tested without Windows.
#pragma once

#include <memory>

#include "common/class_factory.h"
#include "common/platform.h"
#include "ffdriver/effect_driver.h"

namespace dravik {

class DriverFactory final : public wheel::ClassFactoryBase {
  public:
    // refCount 1, module count + 1; null when memory runs out.
    static DriverFactory* Create(const DriverServices& services) noexcept;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;

  private:
    DriverFactory(const DriverServices& services, std::shared_ptr<DriverLink> link);
    ~DriverFactory() override = default;

    DriverServices services_;
    // The driver this factory created, while it lives; holds no reference.
    std::shared_ptr<DriverLink> link_;
};

// DllGetClassObject: a new factory for the driver's CLSID and IID_IClassFactory only.
HRESULT GetDriverClassObject(const DriverServices& services, REFCLSID rclsid, REFIID riid,
                             void** ppv);

// DllCanUnloadNow.
using wheel::CanUnloadNow;

}  // namespace dravik
