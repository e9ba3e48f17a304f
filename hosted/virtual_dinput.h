// The virtual wheel's DirectInput side: the wheel as the property sheet sees it. It offers the
// DirectInput, device, joystick-configuration and effect objects, reads the wheel's input from
// a scripted timeline, and hands effects to a force-feedback driver built from the driver's own
// code, as DirectInput would: axes turned into object identifiers, DownloadEffect and
// StartEffect called with the caller's flags. The driver talks to the virtual wheel's device
// link, so moving the wheel on the Effect page produces motor reports a test can read.
//
// Portable: the platform comes in through VirtualWheelSetup (a test's in-memory registry and
// hand-driven timer, or the Win32 ones, see virtual_dinput_win32.h). The COM objects are used
// from one thread, as the property sheet uses them; only the driver's tick runs elsewhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/dinput_shapes.h"
#include "common/os_class.h"
#include "common/registry.h"
#include "common/services.h"
#include "hosted/hosted_services.h"
#include "hosted/virtual_wheel.h"
#include "hosted/wheel_timeline.h"

namespace dravik {
class EffectDriver;
}

namespace hosted {

// The instance GUID the virtual wheel's joystick configuration reports.
inline constexpr GUID kVirtualWheelInstance = {
    0x7A3C51E0, 0x2D71, 0x5A08, {0xB1, 0x4E, 0x00, 0x56, 0x69, 0x72, 0x74, 0x31}};

// The calls a test can make fail, and count.
enum class VirtualCall : int {
    CreateDevice,
    QueryDevice2,
    QueryJoyConfig,
    GetConfig,
    SetDataFormat,
    SetCooperativeLevel,
    SetProperty,
    Acquire,
    Unacquire,
    GetDeviceState,
    CreateEffect,
    SetParameters,
    Start,
    Count,
};

// The same minimum, centre and maximum for X, Y, Z and R, in calibration units (raw / 256).
JOYRANGE UniformRange(DWORD min, DWORD centre, DWORD max);

struct VirtualWheelSetup {
    uint32_t joystickId = 0;
    // The calibration DirectInput holds for the wheel: what the joystick configuration's
    // hardware values report.
    JOYRANGE storedRange = UniformRange(0, 128, 255);
    WheelTimeline timeline;
    // The driver's platform. The store lock, the device link and the module count are the
    // virtual wheel's own.
    wheel::RegistryApi* registry = nullptr;
    // Script time runs on this clock from the moment the virtual wheel is made.
    wheel::Clock* clock = nullptr;
    wheel::PeriodicTimer* timer = nullptr;
    std::function<wheel::OsClass()> osClass;
    std::function<void(uint32_t)> sleep;
    // One line per event ("status ...", "report 00 00 fe 00", "new-device 2", ...), without the
    // time; called on the driver's timer thread too. Device and joy-config objects are numbered
    // from 1 in the order they are made.
    std::function<void(const std::string&)> log;
    // Whatever the services above belong to; released after the driver.
    std::shared_ptr<void> keepAlive;
};

// What was asked of the effect objects, in order, for tests.
struct EffectCall {
    enum Kind { Create, SetParameters, Start, Release };
    Kind kind;
    uint32_t ms;
    DWORD flags;  // SetParameters' DIEP_ flags, Start's flags
    DWORD iterations;
    // The effect's coordinate flags, direction and constant-force magnitude after the call.
    DWORD effectFlags;
    std::vector<LONG> direction;
    std::optional<LONG> magnitude;
    HRESULT result;
};

// A device object's preparation, as the sheet left it.
struct DeviceDescription {
    bool formatSet = false;
    DWORD cooperativeLevel = 0;
    HWND window = nullptr;
    bool acquired = false;
    // Dead zone by the axis' byte offset in DIJOYSTATE.
    std::vector<std::pair<DWORD, DWORD>> deadZones;
    int effects = 0;
};

// An effect's parameters as DirectInput keeps them between calls, with owned copies of every
// block, and the DIEFFECT the driver is handed: axes as object identifiers.
class EffectRecord {
  public:
    // Takes the parameters `flags` names from `effect`, checked as DirectInput checks them;
    // nothing changes when they are refused. `actuators` are the instance numbers of the axes
    // the installation names force-feedback actuators; an effect on any other object is refused.
    HRESULT Merge(const DIEFFECT& effect, DWORD flags, const std::vector<WORD>& actuators);
    // Points into this record; valid until the next Merge.
    DIEFFECT DriverView();

    DWORD coordinates() const { return coordinates_; }
    const std::vector<DWORD>& axes() const { return axes_; }
    const std::vector<LONG>& direction() const { return direction_; }
    const std::vector<uint8_t>& typeSpecific() const { return typeSpecific_; }
    std::optional<LONG> ConstantMagnitude() const;

  private:
    DWORD coordinates_ = 0;
    DWORD duration_ = 0;
    DWORD samplePeriod_ = 0;
    DWORD gain_ = 0;
    DWORD triggerButton_ = DIEB_NOTRIGGER;
    DWORD triggerRepeatInterval_ = 0;
    DWORD startDelay_ = 0;
    std::vector<DWORD> axes_;
    std::vector<LONG> direction_;
    std::optional<DIENVELOPE> envelope_;
    std::vector<uint8_t> typeSpecific_;
};

// The object identifier DirectInput hands a driver for an axis given as its offset in
// DIJOYSTATE: an absolute axis whose instance number is the offset / 4. False for an offset
// that names no axis.
bool AxisObjectId(DWORD offset, DWORD* id);

// What DirectInput takes from the wheel's type key when it makes a device (the OEM key and its
// OEMForceFeedback and Axes subkeys): whether a force-feedback driver is named, the driver's
// timing, which axes carry force feedback, and the effect types with their attributes.
struct InstalledForceFeedback {
    struct Axis {
        WORD instance = 0;
        // DIOBJECTATTRIBUTES; nullopt without an Attributes value.
        std::optional<DWORD> flags;
        WORD usagePage = 0;
        WORD usage = 0;
        // DIFFOBJECTATTRIBUTES; nullopt without an FFAttributes value.
        std::optional<std::pair<DWORD, DWORD>> maxForceAndResolution;
        // DirectInput's rule: an object is an actuator when its attributes say so and its
        // force-feedback attributes are there.
        bool actuator() const {
            return flags.has_value() && (*flags & DIDOI_FFACTUATOR) != 0 &&
                   maxForceAndResolution.has_value();
        }
    };
    struct EffectInfo {
        GUID guid = {};
        std::string name;
        DIEFFECTATTRIBUTES attributes = {};
    };
    bool driverNamed = false;
    DWORD samplePeriod = 0;
    DWORD minTimeResolution = 0;
    std::vector<Axis> axes;
    std::vector<EffectInfo> effects;

    std::vector<WORD> Actuators() const;
};
InstalledForceFeedback ReadInstalledForceFeedback(wheel::RegistryApi& registry);

enum class SerialKind { Device, JoyConfig };

class VirtualDirectInput : public std::enable_shared_from_this<VirtualDirectInput> {
  public:
    // Builds the driver from the driver's own code; a driver that cannot be made (no effect
    // types installed) leaves a wheel without force feedback, which the log says.
    static std::shared_ptr<VirtualDirectInput> Create(VirtualWheelSetup setup);
    ~VirtualDirectInput();
    VirtualDirectInput(const VirtualDirectInput&) = delete;
    VirtualDirectInput& operator=(const VirtualDirectInput&) = delete;

    // New objects with one reference each. A new device has no data format yet, as
    // CreateDevice gives it.
    IDirectInputA* NewDirectInput();
    IDirectInputDevice2A* NewDevice();
    IDirectInputJoyConfig* NewJoyConfig();

    // Every later call answers `result` and does nothing else.
    void Force(VirtualCall call, HRESULT result);
    void Unforce(VirtualCall call);
    int Calls(VirtualCall call) const;

    // Milliseconds of script time, and the wheel's state now.
    uint32_t Now() const;
    WheelState State() const;

    int LiveDirectInputs() const { return live_[DirectInputObject]; }
    int LiveDevices() const { return static_cast<int>(devices_.size()); }
    int LiveJoyConfigs() const { return live_[JoyConfigObject]; }
    int LiveEffects() const { return live_[EffectObject]; }
    // A device object of this wheel, as it was prepared; nullopt for any other pointer.
    std::optional<DeviceDescription> Describe(IUnknown* device) const;
    std::vector<EffectCall> EffectCalls() const { return effectCalls_; }

    VirtualWheel& link() { return link_; }
    // Null when the driver could not be made.
    dravik::EffectDriver* driver() { return driver_; }
    uint32_t joystickId() const { return joystickId_; }
    const JOYRANGE& storedRange() const { return storedRange_; }
    // The hardware settings the joystick configuration reports: the installed OEMData.
    const JOYREGHWSETTINGS& hardware() const { return hardware_; }
    // True, once each, for as many GetConfig calls as the last frame that asked for failures
    // named.
    bool TakeGetConfigFailure();
    // The next number for a device or joy-config object.
    int NextSerial(SerialKind kind) { return ++serials_[static_cast<int>(kind)]; }

    // For the objects.
    class Device;
    class Effect;
    void Log(const std::string& line);
    bool Forced(VirtualCall call, HRESULT* result);
    void Count(VirtualCall call);
    // Applies the timeline's connection to the device link and notes new frames in the log.
    WheelState Observe();
    // Binds the driver to the joystick ID once the wheel is acquired (DeviceID).
    void BindDriver();
    // What the installation holds now, as a new device reads it.
    InstalledForceFeedback ReadInstalled();
    bool OtherDeviceAcquired(const Device* device) const;
    void NoteEffectCall(EffectCall call) { effectCalls_.push_back(std::move(call)); }
    void AddDevice(Device* device) { devices_.insert(device); }
    void RemoveDevice(Device* device) { devices_.erase(device); }
    enum ObjectKind { DirectInputObject, JoyConfigObject, EffectObject, ObjectKinds };
    void Made(ObjectKind kind) { ++live_[kind]; }
    void Gone(ObjectKind kind) { --live_[kind]; }

  private:
    explicit VirtualDirectInput(VirtualWheelSetup setup);

    std::shared_ptr<void> keepAlive_;
    wheel::RegistryApi* registry_;
    uint32_t joystickId_;
    JOYRANGE storedRange_;
    JOYREGHWSETTINGS hardware_;
    uint32_t getConfigFailuresLeft_ = 0;
    int serials_[2] = {};
    WheelTimeline timeline_;
    wheel::Clock* clock_;
    uint32_t start_;
    std::function<void(const std::string&)> log_;
    AutoResetEvent storeLock_;
    wheel::ModuleCount moduleCount_;
    VirtualWheel link_;
    dravik::EffectDriver* driver_ = nullptr;
    bool bound_ = false;
    bool plugged_ = true;
    size_t framesSeen_ = 0;
    std::optional<HRESULT> forced_[static_cast<int>(VirtualCall::Count)];
    int calls_[static_cast<int>(VirtualCall::Count)] = {};
    std::set<Device*> devices_;
    int live_[ObjectKinds] = {};
    std::vector<EffectCall> effectCalls_;
};

// The reading a DIJOYSTATE gives for a state: axes as they are, the hat in rgdwPOV[0] (the other
// three centred), 0x80 for each pressed button.
void FillJoyState(const WheelState& state, DIJOYSTATE* out);

std::string HexResult(HRESULT hr);

}  // namespace hosted
