#include "virtual_dinput.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "common/wheel_ids.h"
#include "ffdriver/effect_driver.h"
#include "ffdriver/effect_types.h"
#include "install/wheel_data.h"

namespace hosted {

namespace {

constexpr DWORD kDriverDirectInputVersion = 0x0700;
// DIERR_ACQUIRED: the format and cooperation cannot change while the device is acquired.
constexpr HRESULT kErrAcquired = static_cast<HRESULT>(0x800700AAu);
constexpr DWORD kCoordinateFlags = DIEFF_CARTESIAN | DIEFF_POLAR | DIEFF_SPHERICAL;
// The size of DIEFFECT before dwStartDelay was added.
constexpr DWORD kOldEffectSize = sizeof(DIEFFECT) - sizeof(DWORD);

#define VIRTUAL_NOTIMPL(signature)                 \
    HRESULT STDMETHODCALLTYPE signature override { \
        return E_NOTIMPL;                          \
    }

std::string Hex32(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

int Slot(VirtualCall call) {
    return static_cast<int>(call);
}

uint32_t Le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

JOYREGHWSETTINGS HardwareFrom(const uint8_t* bytes) {
    JOYREGHWSETTINGS hws = {};
    hws.dwFlags = Le32(bytes);
    hws.dwNumButtons = Le32(bytes + 4);
    return hws;
}

// What DirectInput reports of the wheel's hardware: its type's OEMData as installed, or, where
// nothing is installed, what the installation would write.
JOYREGHWSETTINGS InstalledHardware(wheel::RegistryApi* registry) {
    uint8_t data[sizeof(JOYREGHWSETTINGS)] = {};
    if (registry != nullptr) {
        HKEY raw = nullptr;
        if (registry->OpenKey(HKEY_LOCAL_MACHINE, wheel::OemKey().c_str(), &raw) == ERROR_SUCCESS) {
            wheel::RegKey key(*registry, raw);
            DWORD type = 0;
            DWORD size = sizeof data;
            if (registry->QueryValue(key.get(), "OEMData", &type, data, &size) == ERROR_SUCCESS &&
                type == REG_BINARY && size == sizeof data) {
                return HardwareFrom(data);
            }
        }
    }
    for (const install::RegEntry& entry : install::WheelRegistryData()) {
        if (entry.valueName == "OEMData" && entry.data.size() == sizeof data) {
            return HardwareFrom(entry.data.data());
        }
    }
    return {};
}

bool ReadBinary(wheel::RegistryApi& registry, const std::string& path, const char* name,
                std::vector<uint8_t>* out) {
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), &raw) != ERROR_SUCCESS) {
        return false;
    }
    wheel::RegKey key(registry, raw);
    uint8_t data[64];
    DWORD type = 0;
    DWORD size = sizeof data;
    if (registry.QueryValue(key.get(), name, &type, data, &size) != ERROR_SUCCESS ||
        size > sizeof data) {
        return false;
    }
    out->assign(data, data + size);
    return true;
}

bool ReadText(wheel::RegistryApi& registry, const std::string& path, const char* name,
              std::string* out) {
    std::vector<uint8_t> data;
    if (!ReadBinary(registry, path, name, &data)) {
        return false;
    }
    out->assign(data.begin(), std::find(data.begin(), data.end(), 0));
    return true;
}

std::vector<std::string> SubKeys(wheel::RegistryApi& registry, const std::string& path) {
    std::vector<std::string> names;
    HKEY raw = nullptr;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), &raw) != ERROR_SUCCESS) {
        return names;
    }
    wheel::RegKey key(registry, raw);
    char name[256];
    for (DWORD i = 0; registry.EnumKey(key.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        names.emplace_back(name);
    }
    return names;
}

void SetAll(JOYPOS* pos, DWORD value) {
    pos->dwX = value;
    pos->dwY = value;
    pos->dwZ = value;
    pos->dwR = value;
}

}  // namespace

JOYRANGE UniformRange(DWORD min, DWORD centre, DWORD max) {
    JOYRANGE range = {};
    SetAll(&range.jpMin, min);
    SetAll(&range.jpCenter, centre);
    SetAll(&range.jpMax, max);
    return range;
}

std::string HexResult(HRESULT hr) {
    return Hex32(static_cast<DWORD>(hr));
}

std::vector<WORD> InstalledForceFeedback::Actuators() const {
    std::vector<WORD> out;
    for (const Axis& axis : axes) {
        if (axis.actuator()) {
            out.push_back(axis.instance);
        }
    }
    return out;
}

// The layout is DirectInput's documented OEM registry format: OEMForceFeedback's CLSID names the
// driver and its Attributes are a DIFFDEVICEATTRIBUTES; Effects\{GUID} hold a name and a
// DIEFFECTATTRIBUTES; Axes\<instance> hold a DIOBJECTATTRIBUTES (Attributes) and a
// DIFFOBJECTATTRIBUTES (FFAttributes, "If the FFAttributes value is absent, then the object is
// assumed not to support force feedback").
InstalledForceFeedback ReadInstalledForceFeedback(wheel::RegistryApi& registry) {
    InstalledForceFeedback out;
    std::string clsid;
    out.driverNamed =
        ReadText(registry, wheel::OemForceFeedbackKey(), "CLSID", &clsid) && !clsid.empty();
    std::vector<uint8_t> data;
    if (ReadBinary(registry, wheel::OemForceFeedbackKey(), "Attributes", &data) &&
        data.size() >= 12) {
        out.samplePeriod = Le32(data.data() + 4);
        out.minTimeResolution = Le32(data.data() + 8);
    }
    for (const std::string& name : SubKeys(registry, wheel::OemAxesKey())) {
        char* end = nullptr;
        const unsigned long instance = std::strtoul(name.c_str(), &end, 10);
        if (name.empty() || *end != '\0' || instance > 0xFFFF) {
            continue;
        }
        InstalledForceFeedback::Axis axis;
        axis.instance = static_cast<WORD>(instance);
        const std::string path = wheel::OemAxesKey() + "\\" + name;
        if (ReadBinary(registry, path, "Attributes", &data) && data.size() == 8) {
            axis.flags = Le32(data.data());
            axis.usagePage = static_cast<WORD>(data[4] | data[5] << 8);
            axis.usage = static_cast<WORD>(data[6] | data[7] << 8);
        }
        if (ReadBinary(registry, path, "FFAttributes", &data) && data.size() == 8) {
            axis.maxForceAndResolution = std::make_pair(Le32(data.data()), Le32(data.data() + 4));
        }
        out.axes.push_back(axis);
    }
    for (const std::string& name : SubKeys(registry, wheel::OemEffectsKey())) {
        InstalledForceFeedback::EffectInfo info;
        const std::string path = wheel::OemEffectsKey() + "\\" + name;
        if (!wheel::ParseGuid(name, &info.guid) ||
            !ReadBinary(registry, path, "Attributes", &data) ||
            data.size() < sizeof(DIEFFECTATTRIBUTES)) {
            continue;
        }
        std::memcpy(&info.attributes, data.data(), sizeof info.attributes);
        ReadText(registry, path, nullptr, &info.name);
        out.effects.push_back(info);
    }
    return out;
}

bool AxisObjectId(DWORD offset, DWORD* id) {
    // lX, lY, lZ, lRx, lRy, lRz: instance numbers 0 to 5.
    if (offset % 4 != 0 || offset > 20) {
        return false;
    }
    *id = DIDFT_ABSAXIS | DIDFT_MAKEINSTANCE(offset / 4);
    return true;
}

void FillJoyState(const WheelState& state, DIJOYSTATE* out) {
    std::memset(out, 0, sizeof *out);
    out->lX = state.x;
    out->lY = state.y;
    out->lZ = state.z;
    out->lRz = state.rz;
    out->rgdwPOV[0] = state.pov;
    out->rgdwPOV[1] = kPovCentred;
    out->rgdwPOV[2] = kPovCentred;
    out->rgdwPOV[3] = kPovCentred;
    for (int i = 0; i < kWheelButtons; ++i) {
        out->rgbButtons[i] = (state.buttons >> i) & 1u ? 0x80 : 0;
    }
}

// EffectRecord

HRESULT EffectRecord::Merge(const DIEFFECT& effect, DWORD flags,
                            const std::vector<WORD>& actuators) {
    if (effect.dwSize != sizeof(DIEFFECT) && effect.dwSize != kOldEffectSize) {
        return DIERR_INVALIDPARAM;
    }
    // Checked and built in full before anything is kept.
    std::vector<DWORD> axes = axes_;
    std::vector<LONG> direction = direction_;
    DWORD coordinates = coordinates_;
    if ((flags & DIEP_AXES) != 0) {
        if (effect.cAxes == 0 || effect.rgdwAxes == nullptr) {
            return DIERR_INVALIDPARAM;
        }
        const DWORD objects = effect.dwFlags & (DIEFF_OBJECTIDS | DIEFF_OBJECTOFFSETS);
        if (objects != DIEFF_OBJECTIDS && objects != DIEFF_OBJECTOFFSETS) {
            return DIERR_INVALIDPARAM;
        }
        axes.assign(effect.cAxes, 0);
        for (DWORD i = 0; i < effect.cAxes; ++i) {
            if (objects == DIEFF_OBJECTIDS) {
                axes[i] = effect.rgdwAxes[i];
            } else if (!AxisObjectId(effect.rgdwAxes[i], &axes[i])) {
                return DIERR_INVALIDPARAM;
            }
            // Of the failures CreateEffect and SetParameters document, DIERR_INVALIDPARAM is the
            // one for an axis the device cannot apply a force to.
            const bool actuator = (DIDFT_GETTYPE(axes[i]) & DIDFT_AXIS) != 0 &&
                                  std::find(actuators.begin(), actuators.end(),
                                            DIDFT_GETINSTANCE(axes[i])) != actuators.end();
            if (!actuator) {
                return DIERR_INVALIDPARAM;
            }
        }
        if (axes.size() != direction.size()) {
            direction.assign(axes.size(), 0);
        }
    }
    if ((flags & DIEP_DIRECTION) != 0) {
        coordinates = effect.dwFlags & kCoordinateFlags;
        if (coordinates != DIEFF_CARTESIAN && coordinates != DIEFF_POLAR &&
            coordinates != DIEFF_SPHERICAL) {
            return DIERR_INVALIDPARAM;
        }
        // The direction has one entry per axis the effect already has.
        if (axes.empty() || effect.cAxes != axes.size() || effect.rglDirection == nullptr) {
            return DIERR_INVALIDPARAM;
        }
        direction.assign(effect.rglDirection, effect.rglDirection + effect.cAxes);
    }
    std::vector<uint8_t> typeSpecific = typeSpecific_;
    if ((flags & DIEP_TYPESPECIFICPARAMS) != 0) {
        if (effect.cbTypeSpecificParams != 0 && effect.lpvTypeSpecificParams == nullptr) {
            return DIERR_INVALIDPARAM;
        }
        const auto* bytes = static_cast<const uint8_t*>(effect.lpvTypeSpecificParams);
        typeSpecific.assign(bytes, bytes + effect.cbTypeSpecificParams);
    }
    axes_ = std::move(axes);
    direction_ = std::move(direction);
    coordinates_ = coordinates;
    typeSpecific_ = std::move(typeSpecific);
    if ((flags & DIEP_DURATION) != 0) {
        duration_ = effect.dwDuration;
    }
    if ((flags & DIEP_SAMPLEPERIOD) != 0) {
        samplePeriod_ = effect.dwSamplePeriod;
    }
    if ((flags & DIEP_GAIN) != 0) {
        gain_ = effect.dwGain;
    }
    if ((flags & DIEP_TRIGGERBUTTON) != 0) {
        triggerButton_ = effect.dwTriggerButton;
    }
    if ((flags & DIEP_TRIGGERREPEATINTERVAL) != 0) {
        triggerRepeatInterval_ = effect.dwTriggerRepeatInterval;
    }
    if ((flags & DIEP_ENVELOPE) != 0) {
        envelope_.reset();
        if (effect.lpEnvelope != nullptr) {
            envelope_ = *effect.lpEnvelope;
        }
    }
    if ((flags & DIEP_STARTDELAY) != 0 && effect.dwSize == sizeof(DIEFFECT)) {
        startDelay_ = effect.dwStartDelay;
    }
    return DI_OK;
}

DIEFFECT EffectRecord::DriverView() {
    DIEFFECT view = {};
    view.dwSize = sizeof view;
    // Drivers always get object identifiers, whatever the caller gave.
    view.dwFlags = coordinates_ | DIEFF_OBJECTIDS;
    view.dwDuration = duration_;
    view.dwSamplePeriod = samplePeriod_;
    view.dwGain = gain_;
    view.dwTriggerButton = triggerButton_;
    view.dwTriggerRepeatInterval = triggerRepeatInterval_;
    view.cAxes = static_cast<DWORD>(axes_.size());
    view.rgdwAxes = axes_.empty() ? nullptr : axes_.data();
    view.rglDirection = direction_.empty() ? nullptr : direction_.data();
    view.lpEnvelope = envelope_.has_value() ? &*envelope_ : nullptr;
    view.cbTypeSpecificParams = static_cast<DWORD>(typeSpecific_.size());
    view.lpvTypeSpecificParams = typeSpecific_.empty() ? nullptr : typeSpecific_.data();
    view.dwStartDelay = startDelay_;
    return view;
}

std::optional<LONG> EffectRecord::ConstantMagnitude() const {
    if (typeSpecific_.size() != sizeof(DICONSTANTFORCE)) {
        return std::nullopt;
    }
    DICONSTANTFORCE force;
    std::memcpy(&force, typeSpecific_.data(), sizeof force);
    return force.lMagnitude;
}

// The objects

class VirtualDirectInput::Effect final : public IDirectInputEffect {
  public:
    Effect(Device* device, DWORD type);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override;

    VIRTUAL_NOTIMPL(Initialize(HINSTANCE, DWORD, REFGUID))
    HRESULT STDMETHODCALLTYPE GetEffectGuid(LPGUID guid) override;
    VIRTUAL_NOTIMPL(GetParameters(LPDIEFFECT, DWORD))
    HRESULT STDMETHODCALLTYPE SetParameters(LPCDIEFFECT effect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Start(DWORD iterations, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetEffectStatus(LPDWORD status) override;
    HRESULT STDMETHODCALLTYPE Download() override;
    HRESULT STDMETHODCALLTYPE Unload() override;
    VIRTUAL_NOTIMPL(Escape(LPDIEFFESCAPE))

    // CreateEffect's parameters, and the download when the device is acquired.
    HRESULT Prepare(LPCDIEFFECT effect);
    void Note(EffectCall::Kind kind, DWORD flags, DWORD iterations, HRESULT result);

  private:
    ~Effect() = default;
    HRESULT DownloadWith(DWORD flags);
    VirtualDirectInput& rig();

    std::atomic<LONG> refs_{1};
    Device* device_;
    DWORD type_;
    DWORD handle_ = 0;  // the driver's effect handle; 0 while not downloaded
    EffectRecord record_;
};

class VirtualDirectInput::Device final : public IDirectInputDevice2A {
  public:
    explicit Device(std::shared_ptr<VirtualDirectInput> rig);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetCapabilities(LPDIDEVCAPS caps) override;
    HRESULT STDMETHODCALLTYPE EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, LPVOID ref,
                                          DWORD flags) override;
    VIRTUAL_NOTIMPL(GetProperty(REFGUID, LPDIPROPHEADER))
    HRESULT STDMETHODCALLTYPE SetProperty(REFGUID property, LPCDIPROPHEADER header) override;
    HRESULT STDMETHODCALLTYPE Acquire() override;
    HRESULT STDMETHODCALLTYPE Unacquire() override;
    HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override;
    VIRTUAL_NOTIMPL(GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD))
    HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override;
    VIRTUAL_NOTIMPL(SetEventNotification(HANDLE))
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override;
    VIRTUAL_NOTIMPL(GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD))
    VIRTUAL_NOTIMPL(GetDeviceInfo(LPDIDEVICEINSTANCEA))
    VIRTUAL_NOTIMPL(RunControlPanel(HWND, DWORD))
    VIRTUAL_NOTIMPL(Initialize(HINSTANCE, DWORD, REFGUID))
    HRESULT STDMETHODCALLTYPE CreateEffect(REFGUID guid, LPCDIEFFECT effect,
                                           LPDIRECTINPUTEFFECT* out, LPUNKNOWN outer) override;
    HRESULT STDMETHODCALLTYPE EnumEffects(LPDIENUMEFFECTSCALLBACKA callback, LPVOID ref,
                                          DWORD type) override;
    HRESULT STDMETHODCALLTYPE GetEffectInfo(LPDIEFFECTINFOA info, REFGUID guid) override;
    VIRTUAL_NOTIMPL(GetForceFeedbackState(LPDWORD))
    HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD flags) override;
    VIRTUAL_NOTIMPL(EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD))
    VIRTUAL_NOTIMPL(Escape(LPDIEFFESCAPE))
    VIRTUAL_NOTIMPL(Poll())
    VIRTUAL_NOTIMPL(SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD))

    VirtualDirectInput& rig() { return *rig_; }
    bool acquired() const { return acquired_; }
    void AddEffect(Effect* effect) { effects_.insert(effect); }
    void RemoveEffect(Effect* effect) { effects_.erase(effect); }
    DeviceDescription Describe() const;
    std::vector<WORD> Actuators() const { return installed_.Actuators(); }

  private:
    ~Device() = default;
    const InstalledForceFeedback::EffectInfo* FindEffect(REFGUID guid) const;
    // Lost or given up: DirectInput unloads the device's effects from the driver.
    void Drop();

    std::atomic<LONG> refs_{1};
    std::shared_ptr<VirtualDirectInput> rig_;
    int serial_;
    bool formatSet_ = false;
    DWORD cooperativeLevel_ = 0;
    HWND window_ = nullptr;
    bool acquired_ = false;
    std::optional<HRESULT> lastAcquire_;
    std::vector<std::pair<DWORD, DWORD>> deadZones_;
    std::set<Effect*> effects_;
    // Read when the device is made, as DirectInput reads the type key.
    InstalledForceFeedback installed_;
};

namespace {

class JoyConfig final : public IDirectInputJoyConfig {
  public:
    explicit JoyConfig(std::shared_ptr<VirtualDirectInput> rig)
        : rig_(std::move(rig)), serial_(rig_->NextSerial(SerialKind::JoyConfig)) {
        rig_->Made(VirtualDirectInput::JoyConfigObject);
        Note("new-joy-config");
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectInputJoyConfig) {
            *ppv = static_cast<IDirectInputJoyConfig*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) {
            Note("release-joy-config");
            rig_->Gone(VirtualDirectInput::JoyConfigObject);
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Acquire() override {
        Note("joy-config-acquire");
        return DI_OK;
    }
    HRESULT STDMETHODCALLTYPE Unacquire() override {
        Note("joy-config-unacquire");
        return DI_OK;
    }
    VIRTUAL_NOTIMPL(SetCooperativeLevel(HWND, DWORD))
    VIRTUAL_NOTIMPL(SendNotify())
    VIRTUAL_NOTIMPL(EnumTypes(LPVOID, LPVOID))
    VIRTUAL_NOTIMPL(GetTypeInfo(LPCWSTR, LPDIJOYTYPEINFO, DWORD))
    VIRTUAL_NOTIMPL(SetTypeInfo(LPCWSTR, LPCDIJOYTYPEINFO, DWORD))
    VIRTUAL_NOTIMPL(DeleteType(LPCWSTR))
    HRESULT STDMETHODCALLTYPE GetConfig(UINT id, LPDIJOYCONFIG config, DWORD flags) override {
        const HRESULT result = ReadConfig(id, config, flags);
        rig_->Log("get-config " + std::to_string(serial_) + " flags=" + Hex32(flags) +
                  " hr=" + HexResult(result));
        return result;
    }
    VIRTUAL_NOTIMPL(SetConfig(UINT, LPCDIJOYCONFIG, DWORD))
    VIRTUAL_NOTIMPL(DeleteConfig(UINT))
    VIRTUAL_NOTIMPL(GetUserValues(LPDIJOYUSERVALUES, DWORD))
    VIRTUAL_NOTIMPL(SetUserValues(LPCDIJOYUSERVALUES, DWORD))
    VIRTUAL_NOTIMPL(AddNewHardware(HWND, REFGUID))
    VIRTUAL_NOTIMPL(OpenTypeKey(LPCWSTR, DWORD, HKEY*))
    VIRTUAL_NOTIMPL(OpenConfigKey(UINT, DWORD, HKEY*))

  private:
    ~JoyConfig() = default;

    void Note(const char* what) { rig_->Log(std::string(what) + " " + std::to_string(serial_)); }

    HRESULT ReadConfig(UINT id, LPDIJOYCONFIG config, DWORD flags) {
        rig_->Count(VirtualCall::GetConfig);
        HRESULT forced = S_OK;
        if (rig_->Forced(VirtualCall::GetConfig, &forced)) {
            return forced;
        }
        if (rig_->Observe().getConfigFails || rig_->TakeGetConfigFailure()) {
            return E_FAIL;
        }
        if (config == nullptr) {
            return E_POINTER;
        }
        if (config->dwSize != sizeof(DIJOYCONFIG)) {
            return DIERR_INVALIDPARAM;
        }
        if (id != rig_->joystickId()) {
            return DIERR_NOMOREITEMS;
        }
        const DWORD size = config->dwSize;
        std::memset(config, 0, sizeof *config);
        config->dwSize = size;
        if ((flags & DIJC_GUIDINSTANCE) != 0) {
            config->guidInstance = kVirtualWheelInstance;
        }
        if ((flags & DIJC_REGHWCONFIGTYPE) != 0) {
            // A custom wheel as its installed type describes it, its calibration as DirectInput
            // holds it.
            JOYREGHWCONFIG& hwc = config->hwc;
            hwc.hws = rig_->hardware();
            hwc.dwUsageSettings = JOY_US_PRESENT;
            hwc.hwv.jrvHardware = rig_->storedRange();
            hwc.dwType = JOY_HW_CUSTOM;
        }
        return DI_OK;
    }

    std::atomic<LONG> refs_{1};
    std::shared_ptr<VirtualDirectInput> rig_;
    int serial_;
};

class DirectInput final : public IDirectInputA {
  public:
    explicit DirectInput(std::shared_ptr<VirtualDirectInput> rig) : rig_(std::move(rig)) {
        rig_->Made(VirtualDirectInput::DirectInputObject);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IDirectInputA*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IDirectInputJoyConfig) {
            rig_->Count(VirtualCall::QueryJoyConfig);
            HRESULT forced = S_OK;
            if (rig_->Forced(VirtualCall::QueryJoyConfig, &forced)) {
                return forced;
            }
            *ppv = rig_->NewJoyConfig();
            return *ppv != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) {
            rig_->Gone(VirtualDirectInput::DirectInputObject);
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICEA* device,
                                           LPUNKNOWN outer) override {
        rig_->Count(VirtualCall::CreateDevice);
        if (device == nullptr) {
            return E_POINTER;
        }
        *device = nullptr;
        HRESULT forced = S_OK;
        if (rig_->Forced(VirtualCall::CreateDevice, &forced)) {
            return forced;
        }
        if (outer != nullptr) {
            return DIERR_NOAGGREGATION;
        }
        // An unplugged wheel is no device DirectInput can make.
        if (guid != kVirtualWheelInstance || !rig_->Observe().connected) {
            return DIERR_DEVICENOTREG;
        }
        *device = rig_->NewDevice();
        return *device != nullptr ? DI_OK : E_OUTOFMEMORY;
    }
    VIRTUAL_NOTIMPL(EnumDevices(DWORD, LPDIENUMDEVICESCALLBACKA, LPVOID, DWORD))
    VIRTUAL_NOTIMPL(GetDeviceStatus(REFGUID))
    VIRTUAL_NOTIMPL(RunControlPanel(HWND, DWORD))
    VIRTUAL_NOTIMPL(Initialize(HINSTANCE, DWORD))

  private:
    ~DirectInput() = default;
    std::atomic<LONG> refs_{1};
    std::shared_ptr<VirtualDirectInput> rig_;
};

}  // namespace

// Device

VirtualDirectInput::Device::Device(std::shared_ptr<VirtualDirectInput> rig)
    : rig_(std::move(rig)),
      serial_(rig_->NextSerial(SerialKind::Device)),
      installed_(rig_->ReadInstalled()) {
    rig_->AddDevice(this);
    rig_->Log("new-device " + std::to_string(serial_));
}

HRESULT VirtualDirectInput::Device::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IDirectInputDevice2A) {
        rig_->Count(VirtualCall::QueryDevice2);
        HRESULT forced = S_OK;
        if (rig_->Forced(VirtualCall::QueryDevice2, &forced)) {
            return forced;
        }
    }
    if (riid == IID_IUnknown || riid == IID_IDirectInputDeviceA ||
        riid == IID_IDirectInputDevice2A) {
        *ppv = static_cast<IDirectInputDevice2A*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG VirtualDirectInput::Device::Release() {
    const LONG count = --refs_;
    if (count == 0) {
        if (acquired_) {
            Drop();
        }
        rig_->RemoveDevice(this);
        rig_->Log("release-device " + std::to_string(serial_));
        delete this;
    }
    return static_cast<ULONG>(count);
}

void VirtualDirectInput::Device::Drop() {
    acquired_ = false;
    for (Effect* effect : effects_) {
        effect->Unload();
    }
}

HRESULT VirtualDirectInput::Device::SetProperty(REFGUID property, LPCDIPROPHEADER header) {
    rig_->Count(VirtualCall::SetProperty);
    HRESULT forced = S_OK;
    if (rig_->Forced(VirtualCall::SetProperty, &forced)) {
        return forced;
    }
    if (header == nullptr) {
        return DIERR_INVALIDPARAM;
    }
    if (!wheel::IsDeadZoneProperty(property)) {
        return DIERR_UNSUPPORTED;
    }
    if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHeaderSize != sizeof(DIPROPHEADER) ||
        header->dwHow != DIPH_BYOFFSET || !formatSet_) {
        return DIERR_INVALIDPARAM;
    }
    DWORD id = 0;
    if (!AxisObjectId(header->dwObj, &id)) {
        return DIERR_INVALIDPARAM;
    }
    const DWORD value = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
    if (value > 10000) {
        return DIERR_INVALIDPARAM;
    }
    for (auto& zone : deadZones_) {
        if (zone.first == header->dwObj) {
            zone.second = value;
            return DI_OK;
        }
    }
    deadZones_.emplace_back(header->dwObj, value);
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::Acquire() {
    rig_->Count(VirtualCall::Acquire);
    const WheelState state = rig_->Observe();
    HRESULT result = DI_OK;
    if (rig_->Forced(VirtualCall::Acquire, &result)) {
        acquired_ = SUCCEEDED(result);
    } else if (!formatSet_) {
        result = DIERR_INVALIDPARAM;
    } else if (!state.connected) {
        if (acquired_) {
            Drop();
        }
        result = DIERR_UNPLUGGED;
    } else if (acquired_ || state.acquireAlready) {
        acquired_ = true;
        result = S_FALSE;
    } else if ((cooperativeLevel_ & DISCL_EXCLUSIVE) != 0 && rig_->OtherDeviceAcquired(this)) {
        result = DIERR_OTHERAPPHASPRIO;
    } else {
        acquired_ = true;
        result = DI_OK;
    }
    if (acquired_) {
        rig_->BindDriver();
    }
    // The pages acquire on every tick: only a change of answer is worth a line.
    if (!lastAcquire_.has_value() || *lastAcquire_ != result) {
        rig_->Log("acquire " + HexResult(result));
        lastAcquire_ = result;
    }
    return result;
}

HRESULT VirtualDirectInput::Device::Unacquire() {
    rig_->Count(VirtualCall::Unacquire);
    if (!acquired_) {
        return S_FALSE;
    }
    Drop();
    lastAcquire_.reset();
    rig_->Log("unacquire");
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::GetDeviceState(DWORD size, LPVOID data) {
    rig_->Count(VirtualCall::GetDeviceState);
    const WheelState state = rig_->Observe();
    HRESULT forced = S_OK;
    if (rig_->Forced(VirtualCall::GetDeviceState, &forced)) {
        return forced;
    }
    if (data == nullptr || !formatSet_ || size != sizeof(DIJOYSTATE)) {
        return DIERR_INVALIDPARAM;
    }
    if (!acquired_) {
        return DIERR_NOTACQUIRED;
    }
    if (!state.connected) {
        Drop();
        return DIERR_INPUTLOST;
    }
    FillJoyState(state, static_cast<DIJOYSTATE*>(data));
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::SetDataFormat(LPCDIDATAFORMAT format) {
    rig_->Count(VirtualCall::SetDataFormat);
    HRESULT forced = S_OK;
    if (rig_->Forced(VirtualCall::SetDataFormat, &forced)) {
        return forced;
    }
    if (format == nullptr) {
        return DIERR_INVALIDPARAM;
    }
    if (acquired_) {
        return kErrAcquired;
    }
    // The wheel is read in the standard joystick format only.
    if (format->dwDataSize != sizeof(DIJOYSTATE)) {
        return DIERR_INVALIDPARAM;
    }
    formatSet_ = true;
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::SetCooperativeLevel(HWND window, DWORD flags) {
    rig_->Count(VirtualCall::SetCooperativeLevel);
    HRESULT forced = S_OK;
    if (rig_->Forced(VirtualCall::SetCooperativeLevel, &forced)) {
        return forced;
    }
    if (acquired_) {
        return kErrAcquired;
    }
    const DWORD access = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
    const DWORD focus = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
    if ((access != DISCL_EXCLUSIVE && access != DISCL_NONEXCLUSIVE) ||
        (focus != DISCL_FOREGROUND && focus != DISCL_BACKGROUND) || window == nullptr) {
        return DIERR_INVALIDPARAM;
    }
    window_ = window;
    cooperativeLevel_ = flags;
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::CreateEffect(REFGUID guid, LPCDIEFFECT effect,
                                                 LPDIRECTINPUTEFFECT* out, LPUNKNOWN outer) {
    rig_->Count(VirtualCall::CreateEffect);
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    const WheelState state = rig_->Observe();
    HRESULT result = S_OK;
    DWORD type = 0;
    if (rig_->Forced(VirtualCall::CreateEffect, &result)) {
    } else if (state.createEffectFails) {
        result = E_FAIL;
    } else if (outer != nullptr) {
        result = DIERR_NOAGGREGATION;
    } else if (rig_->driver() == nullptr || !installed_.driverNamed) {
        result = DIERR_UNSUPPORTED;
    } else if (const auto* info = FindEffect(guid); info == nullptr) {
        result = DIERR_DEVICENOTREG;
    } else {
        // DirectInput hands the driver the type number installed with the GUID.
        type = info->attributes.dwEffectId;
    }
    if (FAILED(result)) {
        rig_->Log("create-effect " + HexResult(result));
        rig_->NoteEffectCall({EffectCall::Create, rig_->Now(), 0, 0, 0, {}, std::nullopt, result});
        return result;
    }
    auto* created = new (std::nothrow) Effect(this, type);
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    result = created->Prepare(effect);
    created->Note(EffectCall::Create, 0, 0, result);
    rig_->Log("create-effect " + HexResult(result));
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *out = created;
    return result;
}

HRESULT VirtualDirectInput::Device::SendForceFeedbackCommand(DWORD flags) {
    if (!acquired_) {
        return DIERR_NOTEXCLUSIVEACQUIRED;
    }
    dravik::EffectDriver* driver = rig_->driver();
    return driver != nullptr && installed_.driverNamed
               ? driver->SendForceFeedbackCommand(rig_->joystickId(), flags)
               : DIERR_UNSUPPORTED;
}

const InstalledForceFeedback::EffectInfo* VirtualDirectInput::Device::FindEffect(
    REFGUID guid) const {
    for (const InstalledForceFeedback::EffectInfo& info : installed_.effects) {
        if (info.guid == guid) {
            return &info;
        }
    }
    return nullptr;
}

HRESULT VirtualDirectInput::Device::GetCapabilities(LPDIDEVCAPS caps) {
    if (caps == nullptr) {
        return E_POINTER;
    }
    // DirectInput 3's shorter record ends before the force-feedback members.
    constexpr DWORD kDx3Size = 6 * sizeof(DWORD);
    const DWORD size = caps->dwSize;
    if (size != sizeof(DIDEVCAPS) && size != kDx3Size) {
        return DIERR_INVALIDPARAM;
    }
    DIDEVCAPS full = {};
    full.dwSize = size;
    const bool forceFeedback = installed_.driverNamed && rig_->driver() != nullptr;
    full.dwFlags = (rig_->Observe().connected ? DIDC_ATTACHED : 0u) |
                   (forceFeedback ? DIDC_FORCEFEEDBACK : 0u);
    full.dwDevType = DIDEVTYPE_JOYSTICK | DIDEVTYPEJOYSTICK_WHEEL << 8 | DIDEVTYPE_HID;
    full.dwAxes = 4;
    full.dwButtons = kWheelButtons;
    full.dwPOVs = 1;
    if (forceFeedback) {
        full.dwFFSamplePeriod = installed_.samplePeriod;
        full.dwFFMinTimeResolution = installed_.minTimeResolution;
    }
    std::memcpy(caps, &full, size);
    return DI_OK;
}

namespace {

// The standard object GUIDs (GUID_XAxis ... GUID_Button) of DirectInput's headers.
constexpr GUID ObjectGuid(DWORD first) {
    return {first, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
}

struct WheelObject {
    GUID type;
    DWORD offset;  // in DIJOYSTATE
    DWORD kind;    // DIDFT_ type bits
    WORD instance;
    WORD usagePage;
    WORD usage;
    std::string name;
};

// The wheel's objects in DIJOYSTATE's order: four axes, the hat, twelve buttons. Axes are
// numbered as the effects' object identifiers number them (offset / 4).
std::vector<WheelObject> WheelObjects() {
    std::vector<WheelObject> objects = {
        {ObjectGuid(0xA36D02E0), DIJOFS_X, DIDFT_ABSAXIS, 0, 1, 0x30, "X Axis"},
        {ObjectGuid(0xA36D02E1), DIJOFS_Y, DIDFT_ABSAXIS, 1, 1, 0x31, "Y Axis"},
        {ObjectGuid(0xA36D02E2), DIJOFS_Z, DIDFT_ABSAXIS, 2, 1, 0x32, "Z Axis"},
        {ObjectGuid(0xA36D02E3), DIJOFS_RZ, DIDFT_ABSAXIS, 5, 1, 0x35, "Z Rotation"},
        {ObjectGuid(0xA36D02F2), offsetof(DIJOYSTATE, rgdwPOV), DIDFT_POV, 0, 1, 0x39,
         "Hat Switch"},
    };
    for (int i = 0; i < kWheelButtons; ++i) {
        objects.push_back({ObjectGuid(0xA36D02F0),
                           static_cast<DWORD>(offsetof(DIJOYSTATE, rgbButtons) + i),
                           DIDFT_PSHBUTTON, static_cast<WORD>(i), 9, static_cast<WORD>(i + 1),
                           "Button " + std::to_string(i)});
    }
    return objects;
}

}  // namespace

HRESULT VirtualDirectInput::Device::EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, LPVOID ref,
                                                DWORD flags) {
    if (callback == nullptr) {
        return DIERR_INVALIDPARAM;
    }
    // The low byte chooses the kinds (none: every kind); the attribute bits above must all be
    // there.
    const DWORD kinds = flags & 0xFFu;
    const DWORD attributes = flags & 0xFF000000u;
    for (const WheelObject& object : WheelObjects()) {
        DIDEVICEOBJECTINSTANCEA info = {};
        info.dwSize = sizeof info;
        info.guidType = object.type;
        info.dwOfs = object.offset;
        info.dwType = object.kind | DIDFT_MAKEINSTANCE(object.instance);
        info.wUsagePage = object.usagePage;
        info.wUsage = object.usage;
        std::snprintf(info.tszName, sizeof info.tszName, "%s", object.name.c_str());
        if (object.kind == DIDFT_ABSAXIS) {
            info.dwFlags = DIDOI_ASPECTPOSITION;
            for (const InstalledForceFeedback::Axis& axis : installed_.axes) {
                if (axis.instance != object.instance) {
                    continue;
                }
                if (axis.flags.has_value()) {
                    info.dwFlags = *axis.flags;
                }
                if (axis.actuator()) {
                    info.dwType |= DIDFT_FFACTUATOR;
                    info.dwFFMaxForce = axis.maxForceAndResolution->first;
                    info.dwFFForceResolution = axis.maxForceAndResolution->second;
                }
            }
        }
        const bool kindMatches = kinds == 0 || (object.kind & kinds) != 0;
        if (!kindMatches || (info.dwType & attributes) != attributes) {
            continue;
        }
        if (callback(&info, ref) == DIENUM_STOP) {
            break;
        }
    }
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::EnumEffects(LPDIENUMEFFECTSCALLBACKA callback, LPVOID ref,
                                                DWORD type) {
    if (callback == nullptr) {
        return DIERR_INVALIDPARAM;
    }
    if (!installed_.driverNamed || rig_->driver() == nullptr) {
        return DI_OK;
    }
    for (const InstalledForceFeedback::EffectInfo& effect : installed_.effects) {
        DIEFFECTINFOA info = {};
        info.dwSize = sizeof info;
        if (FAILED(GetEffectInfo(&info, effect.guid))) {
            continue;
        }
        // DIEFT_ALL, or one class (the low byte) with the capability bits asked for.
        const DWORD kind = type & 0xFFu;
        const DWORD needs = type & ~0xFFu;
        if ((kind != DIEFT_ALL && (info.dwEffType & 0xFFu) != kind) ||
            (info.dwEffType & needs) != needs) {
            continue;
        }
        if (callback(&info, ref) == DIENUM_STOP) {
            break;
        }
    }
    return DI_OK;
}

HRESULT VirtualDirectInput::Device::GetEffectInfo(LPDIEFFECTINFOA info, REFGUID guid) {
    if (info == nullptr) {
        return E_POINTER;
    }
    if (info->dwSize != sizeof(DIEFFECTINFOA)) {
        return DIERR_INVALIDPARAM;
    }
    const InstalledForceFeedback::EffectInfo* effect =
        installed_.driverNamed ? FindEffect(guid) : nullptr;
    if (effect == nullptr) {
        return DIERR_DEVICENOTREG;
    }
    info->guid = effect->guid;
    info->dwEffType = effect->attributes.dwEffType;
    info->dwStaticParams = effect->attributes.dwStaticParams;
    info->dwDynamicParams = effect->attributes.dwDynamicParams;
    std::snprintf(info->tszName, sizeof info->tszName, "%s", effect->name.c_str());
    return DI_OK;
}

DeviceDescription VirtualDirectInput::Device::Describe() const {
    DeviceDescription d;
    d.formatSet = formatSet_;
    d.cooperativeLevel = cooperativeLevel_;
    d.window = window_;
    d.acquired = acquired_;
    d.deadZones = deadZones_;
    d.effects = static_cast<int>(effects_.size());
    return d;
}

// Effect

VirtualDirectInput::Effect::Effect(Device* device, DWORD type) : device_(device), type_(type) {
    // An effect keeps its device alive, as DirectInput's do.
    device_->AddRef();
    device_->AddEffect(this);
    rig().Made(EffectObject);
}

VirtualDirectInput& VirtualDirectInput::Effect::rig() {
    return device_->rig();
}

HRESULT VirtualDirectInput::Effect::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDirectInputEffect) {
        *ppv = static_cast<IDirectInputEffect*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG VirtualDirectInput::Effect::Release() {
    const LONG count = --refs_;
    if (count == 0) {
        Unload();
        Note(EffectCall::Release, 0, 0, S_OK);
        rig().Log("release-effect");
        rig().Gone(EffectObject);
        device_->RemoveEffect(this);
        Device* device = device_;
        delete this;
        device->Release();
    }
    return static_cast<ULONG>(count);
}

void VirtualDirectInput::Effect::Note(EffectCall::Kind kind, DWORD flags, DWORD iterations,
                                      HRESULT result) {
    rig().NoteEffectCall({kind, rig().Now(), flags, iterations, record_.coordinates(),
                          record_.direction(), record_.ConstantMagnitude(), result});
}

HRESULT VirtualDirectInput::Effect::GetEffectGuid(LPGUID guid) {
    if (guid == nullptr) {
        return E_POINTER;
    }
    *guid = dravik::EffectTypeGuid(type_);
    return DI_OK;
}

HRESULT VirtualDirectInput::Effect::Prepare(LPCDIEFFECT effect) {
    if (effect == nullptr) {
        return DI_OK;
    }
    const HRESULT merged = record_.Merge(*effect, DIEP_ALLPARAMS, device_->Actuators());
    if (FAILED(merged) || !device_->acquired()) {
        return merged;
    }
    return DownloadWith(0);
}

HRESULT VirtualDirectInput::Effect::DownloadWith(DWORD flags) {
    dravik::EffectDriver* driver = rig().driver();
    if (driver == nullptr) {
        return DIERR_UNSUPPORTED;
    }
    DIEFFECT view = record_.DriverView();
    return driver->DownloadEffect(rig().joystickId(), type_, &handle_, &view, flags);
}

HRESULT VirtualDirectInput::Effect::SetParameters(LPCDIEFFECT effect, DWORD flags) {
    VirtualDirectInput& r = rig();
    r.Count(VirtualCall::SetParameters);
    HRESULT result = S_OK;
    if (!r.Forced(VirtualCall::SetParameters, &result)) {
        if (effect == nullptr) {
            result = DIERR_INVALIDPARAM;
        } else {
            result = record_.Merge(*effect, flags, device_->Actuators());
        }
        if (SUCCEEDED(result)) {
            // Without the device there is nowhere to send it: kept for the next download.
            if ((flags & DIEP_NODOWNLOAD) != 0 || !device_->acquired()) {
                result = DI_DOWNLOADSKIPPED;
            } else {
                result = DownloadWith(flags);
            }
        }
    }
    Note(EffectCall::SetParameters, flags, 0, result);
    std::string line = "set-parameters flags=" + Hex32(flags) + " direction=";
    for (size_t i = 0; i < record_.direction().size(); ++i) {
        line += (i == 0 ? "" : ",") + std::to_string(record_.direction()[i]);
    }
    const std::optional<LONG> magnitude = record_.ConstantMagnitude();
    if (magnitude.has_value()) {
        line += " magnitude=" + std::to_string(*magnitude);
    }
    r.Log(line + " hr=" + HexResult(result));
    return result;
}

HRESULT VirtualDirectInput::Effect::Start(DWORD iterations, DWORD flags) {
    VirtualDirectInput& r = rig();
    r.Count(VirtualCall::Start);
    HRESULT result = S_OK;
    if (!r.Forced(VirtualCall::Start, &result)) {
        if (!device_->acquired()) {
            result = DIERR_NOTEXCLUSIVEACQUIRED;
        } else if (handle_ == 0 && FAILED(result = DownloadWith(0))) {
        } else {
            result = r.driver()->StartEffect(r.joystickId(), handle_, flags, iterations);
        }
    }
    Note(EffectCall::Start, flags, iterations, result);
    r.Log("start iterations=" + std::to_string(iterations) + " flags=" + Hex32(flags) +
          " hr=" + HexResult(result));
    return result;
}

HRESULT VirtualDirectInput::Effect::Stop() {
    if (!device_->acquired()) {
        return DIERR_NOTEXCLUSIVEACQUIRED;
    }
    return handle_ == 0 ? DI_OK : rig().driver()->StopEffect(rig().joystickId(), handle_);
}

HRESULT VirtualDirectInput::Effect::GetEffectStatus(LPDWORD status) {
    if (status == nullptr) {
        return E_POINTER;
    }
    *status = 0;
    if (handle_ == 0) {
        return DI_OK;
    }
    return rig().driver()->GetEffectStatus(rig().joystickId(), handle_, status);
}

HRESULT VirtualDirectInput::Effect::Download() {
    if (!device_->acquired()) {
        return DIERR_NOTEXCLUSIVEACQUIRED;
    }
    return DownloadWith(0);
}

HRESULT VirtualDirectInput::Effect::Unload() {
    if (handle_ != 0) {
        rig().driver()->DestroyEffect(rig().joystickId(), handle_);
        handle_ = 0;
    }
    return DI_OK;
}

// VirtualDirectInput

std::shared_ptr<VirtualDirectInput> VirtualDirectInput::Create(VirtualWheelSetup setup) {
    std::shared_ptr<VirtualDirectInput> rig(new (std::nothrow)
                                                VirtualDirectInput(std::move(setup)));
    return rig;
}

VirtualDirectInput::VirtualDirectInput(VirtualWheelSetup setup)
    : keepAlive_(std::move(setup.keepAlive)),
      registry_(setup.registry),
      joystickId_(setup.joystickId),
      storedRange_(setup.storedRange),
      hardware_(InstalledHardware(setup.registry)),
      timeline_(std::move(setup.timeline)),
      clock_(setup.clock),
      start_(setup.clock->TickCount()),
      log_(std::move(setup.log)),
      link_(*setup.clock) {
    link_.Attach(joystickId_);
    link_.OnEvent([this](const std::string& line) {
        // The driver retries a lost wheel on every tick; one line for the loss is enough.
        if (line == "open-failed" || line == "send-failed") {
            return;
        }
        if (line.rfind("send ", 0) == 0) {
            // "send <id> b0 b1 b2 b3": the report's four bytes.
            const size_t bytes = line.find(' ', 5);
            Log("report " + (bytes == std::string::npos ? line : line.substr(bytes + 1)));
        } else {
            Log("link " + line);
        }
    });
    dravik::DriverServices services;
    services.registry = setup.registry;
    services.clock = setup.clock;
    services.timer = setup.timer;
    services.storeLock = &storeLock_;
    services.link = &link_;
    services.moduleCount = &moduleCount_;
    services.osClass = std::move(setup.osClass);
    services.sleep = std::move(setup.sleep);
    driver_ = dravik::EffectDriver::Create(services);
    if (driver_ == nullptr) {
        Log("driver-unavailable " + HexResult(E_OUTOFMEMORY));
        return;
    }
    const HRESULT init = driver_->InitDriver();
    if (FAILED(init)) {
        // No effect types installed: DirectInput would not load the driver either.
        Log("driver-unavailable " + HexResult(init));
        driver_->Release();
        driver_ = nullptr;
    }
}

VirtualDirectInput::~VirtualDirectInput() {
    if (driver_ != nullptr) {
        driver_->Release();
        driver_ = nullptr;
    }
    link_.OnEvent(nullptr);
}

IDirectInputA* VirtualDirectInput::NewDirectInput() {
    return new (std::nothrow) DirectInput(shared_from_this());
}

IDirectInputDevice2A* VirtualDirectInput::NewDevice() {
    return new (std::nothrow) Device(shared_from_this());
}

IDirectInputJoyConfig* VirtualDirectInput::NewJoyConfig() {
    return new (std::nothrow) JoyConfig(shared_from_this());
}

void VirtualDirectInput::Force(VirtualCall call, HRESULT result) {
    forced_[Slot(call)] = result;
}

void VirtualDirectInput::Unforce(VirtualCall call) {
    forced_[Slot(call)].reset();
}

bool VirtualDirectInput::Forced(VirtualCall call, HRESULT* result) {
    if (!forced_[Slot(call)].has_value()) {
        return false;
    }
    *result = *forced_[Slot(call)];
    return true;
}

void VirtualDirectInput::Count(VirtualCall call) {
    ++calls_[Slot(call)];
}

int VirtualDirectInput::Calls(VirtualCall call) const {
    return calls_[Slot(call)];
}

uint32_t VirtualDirectInput::Now() const {
    return clock_->TickCount() - start_;
}

WheelState VirtualDirectInput::State() const {
    return timeline_.At(Now());
}

void VirtualDirectInput::Log(const std::string& line) {
    if (log_) {
        log_(line);
    }
}

WheelState VirtualDirectInput::Observe() {
    const uint32_t now = Now();
    const size_t frames = timeline_.FramesBy(now);
    if (frames != framesSeen_) {
        for (size_t i = framesSeen_; i < frames; ++i) {
            const WheelFrame& frame = timeline_.frames()[i];
            if (frame.getConfigFailures.has_value()) {
                getConfigFailuresLeft_ = *frame.getConfigFailures;
            }
        }
        framesSeen_ = frames;
        Log("frame " + std::to_string(frames - 1));
    }
    const WheelState state = timeline_.At(now);
    if (state.connected != plugged_) {
        plugged_ = state.connected;
        if (plugged_) {
            link_.Plug();
        } else {
            link_.Unplug();
        }
    }
    return state;
}

bool VirtualDirectInput::TakeGetConfigFailure() {
    if (getConfigFailuresLeft_ == 0) {
        return false;
    }
    --getConfigFailuresLeft_;
    return true;
}

void VirtualDirectInput::BindDriver() {
    if (driver_ == nullptr || bound_) {
        return;
    }
    const HRESULT hr = driver_->DeviceID(kDriverDirectInputVersion, joystickId_, TRUE, 0, nullptr);
    bound_ = SUCCEEDED(hr);
    Log("driver-bound " + HexResult(hr));
}

InstalledForceFeedback VirtualDirectInput::ReadInstalled() {
    return registry_ != nullptr ? ReadInstalledForceFeedback(*registry_) : InstalledForceFeedback{};
}

bool VirtualDirectInput::OtherDeviceAcquired(const Device* device) const {
    for (const Device* other : devices_) {
        if (other != device && other->acquired()) {
            return true;
        }
    }
    return false;
}

std::optional<DeviceDescription> VirtualDirectInput::Describe(IUnknown* device) const {
    for (const Device* known : devices_) {
        if (static_cast<const IUnknown*>(static_cast<const IDirectInputDevice2A*>(known)) ==
            device) {
            return known->Describe();
        }
    }
    return std::nullopt;
}

#undef VIRTUAL_NOTIMPL

}  // namespace hosted
