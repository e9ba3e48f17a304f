#include "driver_factory.h"

#include <new>

#include "common/wheel_ids.h"

namespace dravik {

DriverFactory* DriverFactory::Create(const DriverServices& services) noexcept {
    try {
        auto link = std::make_shared<DriverLink>();
        return new (std::nothrow) DriverFactory(services, std::move(link));
    } catch (...) {
        return nullptr;
    }
}

DriverFactory::DriverFactory(const DriverServices& services, std::shared_ptr<DriverLink> link)
    : ClassFactoryBase(services.moduleCount), services_(services), link_(std::move(link)) {}

HRESULT DriverFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    EffectDriver* driver = nullptr;
    {
        std::lock_guard<std::mutex> guard(link_->mutex);
        // A remembered driver that is already on its way out counts as gone.
        if (link_->driver != nullptr && link_->driver->TryAddRef()) {
            driver = link_->driver;
        }
    }
    if (driver == nullptr) {
        driver = EffectDriver::Create(services_);
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT init = driver->InitDriver();
        if (FAILED(init)) {
            driver->Release();
            return init;
        }
        driver->AttachLink(link_);
        std::lock_guard<std::mutex> guard(link_->mutex);
        link_->driver = driver;
    }
    const HRESULT hr = driver->QueryInterface(riid, ppv);
    driver->Release();
    return hr;
}

HRESULT GetDriverClassObject(const DriverServices& services, REFCLSID rclsid, REFIID riid,
                             void** ppv) {
    return wheel::GetClassObject(wheel::kDravikClsid, rclsid, riid, ppv,
                                 [&services] { return DriverFactory::Create(services); });
}

}  // namespace dravik
