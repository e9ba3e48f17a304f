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
    : services_(services), link_(std::move(link)) {
    if (services_.moduleCount != nullptr) {
        services_.moduleCount->Add();
    }
}

HRESULT DriverFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG DriverFactory::AddRef() {
    return static_cast<ULONG>(refCount_.fetch_add(1) + 1);
}

ULONG DriverFactory::Release() {
    const LONG count = refCount_.fetch_sub(1) - 1;
    if (count == 0) {
        wheel::ModuleCount* moduleCount = services_.moduleCount;
        delete this;
        if (moduleCount != nullptr) {
            moduleCount->Drop();
        }
    }
    return static_cast<ULONG>(count);
}

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

HRESULT DriverFactory::LockServer(BOOL lock) {
    if (services_.moduleCount != nullptr) {
        if (lock) {
            services_.moduleCount->Add();
        } else {
            services_.moduleCount->Drop();
        }
    }
    return S_OK;
}

HRESULT GetDriverClassObject(const DriverServices& services, REFCLSID rclsid, REFIID riid,
                             void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!(rclsid == wheel::kDravikClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    if (!(riid == IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    DriverFactory* factory = DriverFactory::Create(services);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CanUnloadNow(const wheel::ModuleCount& count) {
    return count.Value() == 0 ? S_OK : S_FALSE;
}

}  // namespace dravik
