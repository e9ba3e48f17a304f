#include "device.h"

#include <cstddef>

namespace velquin {

static_assert(kDeadZoneAxes[0] == offsetof(DIJOYSTATE, lX), "X");
static_assert(kDeadZoneAxes[1] == offsetof(DIJOYSTATE, lY), "Y");
static_assert(kDeadZoneAxes[2] == offsetof(DIJOYSTATE, lZ), "Z");
static_assert(kDeadZoneAxes[3] == offsetof(DIJOYSTATE, lRz), "Rz");

namespace {

// The DirectInput object lives only while a device is being made.
class DirectInputHold {
  public:
    ~DirectInputHold() {
        if (object != nullptr) {
            object->Release();
        }
    }
    IDirectInputA* object = nullptr;
};

HRESULT CreateDirectInput(const DeviceServices& services, DirectInputHold* hold) {
    if (services.createDirectInput == nullptr) {
        return E_FAIL;
    }
    const HRESULT hr =
        services.createDirectInput(services.moduleInstance, kDirectInputVersion, &hold->object);
    if (FAILED(hr)) {
        hold->object = nullptr;
        return hr;
    }
    return hold->object != nullptr ? hr : E_FAIL;
}

// The results are not examined: a device that refuses a dead zone is still usable.
void SetDeadZones(IDirectInputDevice2A* device) {
    for (DWORD axis : kDeadZoneAxes) {
        DIPROPDWORD property = {};
        property.diph.dwSize = sizeof property;
        property.diph.dwHeaderSize = sizeof property.diph;
        property.diph.dwObj = axis;
        property.diph.dwHow = DIPH_BYOFFSET;
        property.dwData = kDeadZone;
        device->SetProperty(wheel::DeadZoneProperty(), &property.diph);
    }
}

HRESULT NewJoyConfig(IDirectInputA* directInput, IDirectInputJoyConfig** joyConfig) {
    *joyConfig = nullptr;
    const HRESULT hr =
        directInput->QueryInterface(IID_IDirectInputJoyConfig, reinterpret_cast<void**>(joyConfig));
    if (FAILED(hr)) {
        *joyConfig = nullptr;
    }
    return hr;
}

// CreateWheelDevice, then the dead zones, then the sheet takes the device.
HRESULT MakeDevice(IDIGameCntrlPropSheet* sheet, HWND frame, IDirectInputA* directInput,
                   IDirectInputJoyConfig* joyConfig) {
    IDirectInputDevice2A* device = nullptr;
    const HRESULT hr = CreateWheelDevice(sheet->GetID(), frame, directInput, joyConfig, &device);
    if (FAILED(hr)) {
        return hr;
    }
    SetDeadZones(device);
    sheet->SetDevice(device);
    return hr;
}

void SetStatus(const DeviceServices& services, HWND page, int control, DeviceStatus* status,
               DeviceStatus wanted) {
    if (*status == wanted) {
        return;
    }
    if (services.setStatusText != nullptr) {
        services.setStatusText(page, control,
                               wanted == StatusConnected ? kConnectedText : kNotRespondingText);
    }
    *status = wanted;
}

}  // namespace

HRESULT CreateWheelDevice(USHORT joystickId, HWND window, IDirectInputA* directInput,
                          IDirectInputJoyConfig* joyConfig, IDirectInputDevice2A** device) {
    if (device == nullptr) {
        return E_POINTER;
    }
    *device = nullptr;
    if (directInput == nullptr || joyConfig == nullptr) {
        return E_POINTER;
    }
    DIJOYCONFIG config = {};
    config.dwSize = sizeof config;
    HRESULT hr = joyConfig->GetConfig(joystickId, &config, DIJC_GUIDINSTANCE);
    if (FAILED(hr)) {
        return hr;
    }
    IDirectInputDeviceA* first = nullptr;
    hr = directInput->CreateDevice(config.guidInstance, &first, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    if (first == nullptr) {
        return E_FAIL;
    }
    IDirectInputDevice2A* created = nullptr;
    hr = first->QueryInterface(IID_IDirectInputDevice2A, reinterpret_cast<void**>(&created));
    first->Release();
    if (FAILED(hr) || created == nullptr) {
        return FAILED(hr) ? hr : E_FAIL;
    }
    // A device that cannot be prepared is nobody's: release it here rather than hand it out.
    hr = created->SetDataFormat(wheel::JoystickDataFormat());
    if (SUCCEEDED(hr)) {
        hr = created->SetCooperativeLevel(window, kCooperativeLevel);
    }
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *device = created;
    return hr;
}

HRESULT OpenDevice(const DeviceServices& services, HWND frame, IDIGameCntrlPropSheet* sheet) {
    DeviceLockHold lock(services);
    if (sheet == nullptr) {
        return E_POINTER;
    }
    IDirectInputDevice2A* device = nullptr;
    IDirectInputJoyConfig* joyConfig = nullptr;
    sheet->GetDevice(&device);
    sheet->GetJoyConfig(&joyConfig);
    if (device != nullptr && joyConfig != nullptr) {
        return S_FALSE;
    }
    DirectInputHold directInput;
    HRESULT hr = CreateDirectInput(services, &directInput);
    if (FAILED(hr)) {
        return hr;
    }
    if (joyConfig == nullptr) {
        hr = NewJoyConfig(directInput.object, &joyConfig);
        if (FAILED(hr)) {
            return hr;
        }
        sheet->SetJoyConfig(joyConfig);
    }
    if (device != nullptr) {
        return S_FALSE;
    }
    if (joyConfig == nullptr) {
        return E_FAIL;
    }
    return MakeDevice(sheet, frame, directInput.object, joyConfig);
}

HRESULT ReopenDevice(const DeviceServices& services, HWND frame, IDIGameCntrlPropSheet* sheet) {
    DeviceLockHold lock(services);
    if (sheet == nullptr) {
        return E_POINTER;
    }
    IDirectInputDevice2A* device = nullptr;
    IDirectInputJoyConfig* joyConfig = nullptr;
    sheet->GetDevice(&device);
    sheet->GetJoyConfig(&joyConfig);
    DirectInputHold directInput;
    HRESULT hr = CreateDirectInput(services, &directInput);
    if (FAILED(hr)) {
        return hr;
    }
    // Each old object is forgotten by the sheet as it is released, so a failure further on
    // leaves null pointers and never a dangling one.
    if (joyConfig != nullptr) {
        sheet->SetJoyConfig(nullptr);
        joyConfig->Release();
    }
    hr = NewJoyConfig(directInput.object, &joyConfig);
    if (FAILED(hr)) {
        return hr;
    }
    sheet->SetJoyConfig(joyConfig);
    if (device != nullptr) {
        sheet->SetDevice(nullptr);
        device->Unacquire();
        device->Release();
    }
    if (joyConfig == nullptr) {
        return E_FAIL;
    }
    return MakeDevice(sheet, frame, directInput.object, joyConfig);
}

PollOutcome PollDevice(const DeviceServices& services, HWND page, int statusControl,
                       DeviceStatus* status, IDIGameCntrlPropSheet* sheet, DIJOYSTATE* state) {
    if (sheet == nullptr || status == nullptr || state == nullptr) {
        return PollOutcome::BadSheet;
    }
    IDirectInputDevice2A* device = nullptr;
    sheet->GetDevice(&device);
    if (device == nullptr) {
        SetStatus(services, page, statusControl, status, StatusNotResponding);
        return PollOutcome::NotResponding;
    }
    // The device is acquired on every tick; S_FALSE says it already was.
    const HRESULT acquired = device->Acquire();
    if (acquired != DI_OK && acquired != S_FALSE) {
        SetStatus(services, page, statusControl, status, StatusNotResponding);
        return PollOutcome::NotResponding;
    }
    SetStatus(services, page, statusControl, status, StatusConnected);
    return device->GetDeviceState(sizeof(DIJOYSTATE), state) == DI_OK ? PollOutcome::StateRead
                                                                      : PollOutcome::NoState;
}

}  // namespace velquin
