// What the class factories of both modules share: IUnknown for IClassFactory, LockServer and
// the module count a living factory holds, and the DllGetClassObject and DllCanUnloadNow rules.
// Each module's factory adds only CreateInstance. Portable, so the COM rules are tested without
// Windows.
#pragma once

#include <atomic>
#include <new>

#include "common/platform.h"
#include "common/services.h"

namespace wheel {

class ClassFactoryBase : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
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
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(refCount_.fetch_add(1) + 1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = refCount_.fetch_sub(1) - 1;
        if (count == 0) {
            // The module may unload once the count drops: nothing of this object is touched
            // after that.
            ModuleCount* moduleCount = moduleCount_;
            delete this;
            if (moduleCount != nullptr) {
                moduleCount->Drop();
            }
        }
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (moduleCount_ != nullptr) {
            if (lock) {
                moduleCount_->Add();
            } else {
                moduleCount_->Drop();
            }
        }
        return S_OK;
    }

  protected:
    // refCount 1; a living factory counts in the module count (may be null).
    explicit ClassFactoryBase(ModuleCount* moduleCount) : moduleCount_(moduleCount) {
        if (moduleCount_ != nullptr) {
            moduleCount_->Add();
        }
    }
    virtual ~ClassFactoryBase() = default;
    ClassFactoryBase(const ClassFactoryBase&) = delete;
    ClassFactoryBase& operator=(const ClassFactoryBase&) = delete;

  private:
    ModuleCount* moduleCount_;
    std::atomic<LONG> refCount_{1};
};

// DllGetClassObject: a new factory from make() for the module's CLSID and IID_IClassFactory
// only. The class is tested first: a foreign class is refused whatever the interface.
template <class MakeFactory>
HRESULT GetClassObject(REFCLSID moduleClsid, REFCLSID rclsid, REFIID riid, void** ppv,
                       MakeFactory make) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!(rclsid == moduleClsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    if (!(riid == IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    ClassFactoryBase* factory = make();
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

// DllCanUnloadNow: no factory, object or server lock left.
inline HRESULT CanUnloadNow(const ModuleCount& count) {
    return count.Value() == 0 ? S_OK : S_FALSE;
}

}  // namespace wheel
