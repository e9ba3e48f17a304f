#include "sheet.h"

#include <new>

#include "propsheet/resource.h"

namespace velquin {

PropSheet* PropSheet::Create(const SheetServices& services) noexcept {
    return new (std::nothrow) PropSheet(services);
}

PropSheet::PropSheet(const SheetServices& services) : services_(services) {
    if (services_.objectCount != nullptr) {
        services_.objectCount->Add();
    }
}

PropSheet::~PropSheet() {
    // The caption belongs to the object: freed with it rather than left to the process.
    if (sheetInfo.lpwszSheetCaption != nullptr && services_.freeCaption != nullptr) {
        services_.freeCaption(sheetInfo.lpwszSheetCaption);
    }
}

HRESULT PropSheet::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDIGameCntrlPropSheet) {
        *ppv = static_cast<IDIGameCntrlPropSheet*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG PropSheet::AddRef() {
    const int16_t count = static_cast<int16_t>(refCount.fetch_add(1) + 1);
    return static_cast<ULONG>(static_cast<LONG>(count));
}

ULONG PropSheet::Release() {
    const int16_t count = static_cast<int16_t>(refCount.fetch_sub(1) - 1);
    if (count != 0) {
        return static_cast<ULONG>(static_cast<LONG>(count));
    }
    if (device != nullptr) {
        device->Unacquire();
        device->Release();
        device = nullptr;
    }
    if (joyConfig != nullptr) {
        joyConfig->Unacquire();
        joyConfig->Release();
        joyConfig = nullptr;
    }
    wheel::ModuleCount* objectCount = services_.objectCount;
    delete this;
    if (objectCount != nullptr) {
        objectCount->Drop();
    }
    return 0;
}

HRESULT PropSheet::GetSheetInfo(LPDIGCSHEETINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = &sheetInfo;
    return S_OK;
}

HRESULT PropSheet::GetPageInfo(LPDIGCPAGEINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = &pageInfo[0];
    return S_OK;
}

HRESULT PropSheet::SetID(USHORT id) {
    joystickId = id;
    return S_OK;
}

HRESULT PropSheet::Initialize() {
    // The control panel shows the pages in this order: Test, Calibration, Effect.
    const struct {
        uint16_t templateId;
        DLGPROC proc;
    } pages[kPageCount] = {
        {IDD_TEST_PAGE, services_.testPageProc},
        {IDD_CALIBRATION, services_.calibrationPageProc},
        {IDD_EFFECT_PAGE, services_.effectPageProc},
    };
    for (int i = 0; i < kPageCount; ++i) {
        DIGCPAGEINFO& page = pageInfo[i];
        page.dwSize = sizeof(DIGCPAGEINFO);
        // The title comes from the dialog template's caption.
        page.lpwszPageTitle = nullptr;
        page.fpPageProc = pages[i].proc;
        page.fProcFlag = FALSE;
        page.fpPrePostProc = nullptr;
        page.fIconFlag = TRUE;
        page.lpwszPageIcon = ResourceName(IDI_WHEEL);
        page.lpwszTemplate = ResourceName(pages[i].templateId);
        page.lParam = reinterpret_cast<LPARAM>(this);
        page.hInstance = services_.moduleInstance;
    }
    sheetInfo.dwSize = sizeof(DIGCSHEETINFO);
    sheetInfo.nNumPages = kPageCount;
    sheetInfo.fSheetIconFlag = TRUE;
    sheetInfo.lpwszSheetIcon = ResourceName(kSheetIcon);

    LPWSTR caption =
        services_.newCaption != nullptr ? services_.newCaption(kSheetCaption) : nullptr;
    if (caption == nullptr) {
        return E_OUTOFMEMORY;
    }
    // A second Initialize replaces the caption; the old buffer is not referenced any more.
    if (sheetInfo.lpwszSheetCaption != nullptr && services_.freeCaption != nullptr) {
        services_.freeCaption(sheetInfo.lpwszSheetCaption);
    }
    sheetInfo.lpwszSheetCaption = caption;

    // An earlier sheet in this process may have registered the classes already; that is fine.
    if (services_.registerControls != nullptr) {
        services_.registerControls(services_.moduleInstance);
    }
    return S_OK;
}

USHORT PropSheet::GetID() {
    return joystickId;
}

HRESULT PropSheet::GetDevice(IDirectInputDevice2A** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = device;
    return S_OK;
}

// Takes over the caller's reference; the previous device is the caller's business.
HRESULT PropSheet::SetDevice(IDirectInputDevice2A* newDevice) {
    device = newDevice;
    return S_OK;
}

HRESULT PropSheet::GetJoyConfig(IDirectInputJoyConfig** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = joyConfig;
    return S_OK;
}

HRESULT PropSheet::SetJoyConfig(IDirectInputJoyConfig* newJoyConfig) {
    joyConfig = newJoyConfig;
    return S_OK;
}

}  // namespace velquin
