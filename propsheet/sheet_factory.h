// The class factory for the property-sheet object and the module's DllGetClassObject and
// DllCanUnloadNow logic, kept portable so the COM rules can be tested without Windows.
#pragma once

#include <atomic>

#include "common/platform.h"
#include "propsheet/sheet.h"

namespace velquin {

class PropSheetFactory final : public IClassFactory {
  public:
    // refCount 1, objectCount + 1; null when memory runs out.
    static PropSheetFactory* Create(const SheetServices& services) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    explicit PropSheetFactory(const SheetServices& services);
    ~PropSheetFactory() = default;

    SheetServices services_;
    std::atomic<LONG> refCount{1};
};

// DllGetClassObject: a new factory for Velquin's CLSID and IID_IClassFactory only.
HRESULT GetSheetClassObject(const SheetServices& services, REFCLSID rclsid, REFIID riid,
                            void** ppv);

// DllCanUnloadNow.
HRESULT CanUnloadNow(const wheel::ModuleCount& objectCount);

}  // namespace velquin
