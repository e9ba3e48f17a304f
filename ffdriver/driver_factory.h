// The class factory for the effect driver and the module's DllGetClassObject logic, kept
// portable so the COM rules can be tested without Windows.
#pragma once

#include <atomic>
#include <memory>

#include "common/platform.h"
#include "ffdriver/effect_driver.h"

namespace dravik {

class DriverFactory final : public IClassFactory {
  public:
    // refCount 1, module count + 1; null when memory runs out.
    static DriverFactory* Create(const DriverServices& services) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    DriverFactory(const DriverServices& services, std::shared_ptr<DriverLink> link);
    ~DriverFactory() = default;

    DriverServices services_;
    std::atomic<LONG> refCount_{1};
    // The driver this factory created, while it lives; holds no reference.
    std::shared_ptr<DriverLink> link_;
};

// DllGetClassObject: a new factory for the driver's CLSID and IID_IClassFactory only.
HRESULT GetDriverClassObject(const DriverServices& services, REFCLSID rclsid, REFIID riid,
                             void** ppv);

// DllCanUnloadNow.
HRESULT CanUnloadNow(const wheel::ModuleCount& count);

}  // namespace dravik
