#include "sheet_factory.h"

#include <new>

#include "common/wheel_ids.h"

namespace velquin {

PropSheetFactory* PropSheetFactory::Create(const SheetServices& services) noexcept {
    return new (std::nothrow) PropSheetFactory(services);
}

PropSheetFactory::PropSheetFactory(const SheetServices& services)
    : ClassFactoryBase(services.objectCount), services_(services) {}

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

HRESULT GetSheetClassObject(const SheetServices& services, REFCLSID rclsid, REFIID riid,
                            void** ppv) {
    return wheel::GetClassObject(wheel::kVelquinClsid, rclsid, riid, ppv,
                                 [&services] { return PropSheetFactory::Create(services); });
}

}  // namespace velquin
