// The class factory for the property-sheet object and the module's DllGetClassObject and
// DllCanUnloadNow logic, kept portable so the COM rules can be tested without Windows.
#pragma once

#include "common/class_factory.h"
#include "common/platform.h"
#include "propsheet/sheet.h"

namespace velquin {

class PropSheetFactory final : public wheel::ClassFactoryBase {
  public:
    // refCount 1, objectCount + 1; null when memory runs out.
    static PropSheetFactory* Create(const SheetServices& services) noexcept;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;

  private:
    explicit PropSheetFactory(const SheetServices& services);
    ~PropSheetFactory() override = default;

    SheetServices services_;
};

// DllGetClassObject: a new factory for Velquin's CLSID and IID_IClassFactory only.
HRESULT GetSheetClassObject(const SheetServices& services, REFCLSID rclsid, REFIID riid,
                            void** ppv);

// DllCanUnloadNow.
using wheel::CanUnloadNow;

}  // namespace velquin
