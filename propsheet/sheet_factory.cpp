#include "sheet_factory.h"

#include <new>

#include "common/wheel_ids.h"

namespace velquin {

PropSheetFactory* PropSheetFactory::Create(const SheetServices& services) noexcept {
    return new (std::nothrow) PropSheetFactory(services);
}

PropSheetFactory::PropSheetFactory(const SheetServices& services) : services_(services) {
    if (services_.objectCount != nullptr) {
        services_.objectCount->Add();
    }
}

HRESULT PropSheetFactory::QueryInterface(REFIID riid, void** ppv) {
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

ULONG PropSheetFactory::AddRef() {
    return static_cast<ULONG>(refCount.fetch_add(1) + 1);
}

ULONG PropSheetFactory::Release() {
    const LONG count = refCount.fetch_sub(1) - 1;
    if (count == 0) {
        wheel::ModuleCount* objectCount = services_.objectCount;
        delete this;
        if (objectCount != nullptr) {
            objectCount->Drop();
        }
    }
    return static_cast<ULONG>(count);
}

HRESULT PropSheetFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    PropSheet* sheet = PropSheet::Create(services_);
    if (sheet == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = sheet->Initialize();
    if (SUCCEEDED(hr)) {
        hr = sheet->QueryInterface(riid, ppv);
    }
    // Drops the construction reference: frees the sheet unless the caller now holds one.
    sheet->Release();
    return hr;
}

HRESULT PropSheetFactory::LockServer(BOOL lock) {
    if (services_.objectCount != nullptr) {
        if (lock) {
            services_.objectCount->Add();
        } else {
            services_.objectCount->Drop();
        }
    }
    return S_OK;
}

HRESULT GetSheetClassObject(const SheetServices& services, REFCLSID rclsid, REFIID riid,
                            void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    // The class test comes first: a foreign class is refused whatever the interface.
    if (!(rclsid == wheel::kVelquinClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    if (!(riid == IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    PropSheetFactory* factory = PropSheetFactory::Create(services);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CanUnloadNow(const wheel::ModuleCount& objectCount) {
    return objectCount.Value() == 0 ? S_OK : S_FALSE;
}

}  // namespace velquin
