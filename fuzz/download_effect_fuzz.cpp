// libFuzzer target: DownloadEffect with arbitrary DIEFFECT contents, then the calls that use a
// downloaded effect (start, ticks, stop, status, destroy, commands), against the hosted
// registry, clock and timer and a wheel that checks every report. Every pointer handed to the
// driver points at exactly as much memory as its count says, unless the input asks for one of the
// inconsistent combinations the driver must refuse; the sanitizers then catch any read the counts
// do not allow. The one exception is a count too large for any allocation, which the driver must
// refuse as out of memory before it reads.
//
// One input is cheap: each combination of bound devices has one driver for the whole process,
// and after every input the driver is reset through its own methods (DISFFC_RESET, destroying
// what still plays, the default gain and Amplify), so the next input finds it as new.
//
// Input layout (every number little-endian; reads past the end give 0):
//   u8 bind     bit 0: bind device 0, bit 1: device 1, bit 2: device 15, bit 3: try device 16;
//               bits 4-7: the wheel's report ID
//   u8 os       0 NT6, 1 XP, 2 98, 3 unknown
//   u8 amplify  odd: an Amplify value follows (u32) and is stored in the hive the driver reads
//   u8 failAt   0: allocations succeed; n: the n-th allocation of the effect store fails
//   then operations until the input ends (at most kMaxOperations), each an u8 opcode and its
//   operands, as read by the functions below.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/os_class.h"
#include "common/wheel_ids.h"
#include "ffdriver/effect_driver.h"
#include "ffdriver/effect_store.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "install/wheel_data.h"

namespace {

// Enough for a download, a start, ticks and a destroy many times over, while one input still
// runs in well under a millisecond.
constexpr int kMaxOperations = 64;
constexpr uint32_t kMaxTicksPerOperation = 8;

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }

    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= uint32_t{U8()} << (8 * i);
        }
        return value;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Store allocations fail from the n-th on once armed, to reach the out-of-memory paths.
uint32_t g_failAt = 0;
uint32_t g_allocations = 0;

// No array this harness hands over is near this size: a request above it comes from a count
// the caller's memory does not back, and is refused as a real system would refuse 4 GiB.
constexpr size_t kLargestAllocation = size_t{1} << 20;

void* FailingAllocate(size_t size) {
    ++g_allocations;
    if ((g_failAt != 0 && g_allocations == g_failAt) || size > kLargestAllocation) {
        return nullptr;
    }
    return std::malloc(size);
}

hosted::MemoryRegistry& Registry() {
    static hosted::MemoryRegistry* registry = [] {
        auto* r = new hosted::MemoryRegistry();
        if (install::WriteWheelData(*r) != ERROR_SUCCESS) {
            std::abort();
        }
        return r;
    }();
    return *registry;
}

// Stores or deletes Amplify under one root of the hive the driver reads; the hive is only
// written when that changes what it holds.
void StoreAmplify(HKEY root, bool present, uint32_t value) {
    struct Held {
        bool known = false;
        bool present = false;
        uint32_t value = 0;
    };
    static Held held[2];
    Held& h = held[root == HKEY_CURRENT_USER ? 0 : 1];
    if (h.known && h.present == present && (!present || h.value == value)) {
        return;
    }
    if (present) {
        Registry().PutDword(root, wheel::OemKey(), "Amplify", value);
    } else {
        Registry().DeleteValue(root, wheel::OemKey(), "Amplify");
    }
    h = {true, present, value};
}

wheel::OsClass OsFor(uint8_t selector) {
    switch (selector % 4) {
        case 0:
            return wheel::OsWinNT6;
        case 1:
            return wheel::OsWinXP;
        case 2:
            return wheel::OsWin98;
        default:
            return wheel::OsUnknown;
    }
}

// Device IDs 16 and 17 are out of range on purpose.
DWORD DeviceFrom(Input& in) {
    return in.U8() % 18;
}

// Handles 0 and 33 to 35 are out of range on purpose.
DWORD HandleFrom(Input& in) {
    return in.U8() % 36;
}

// The caller's DIEFFECT and the memory it points at, sized as the input says.
struct CallerEffect {
    DIEFFECT effect = {};
    std::unique_ptr<DWORD[]> axes;
    std::unique_ptr<LONG[]> direction;
    std::unique_ptr<DIENVELOPE> envelope;
    std::unique_ptr<uint8_t[]> typeSpecific;
    bool consistent = true;
    // cAxes is far beyond the arrays, whose size in bytes does not fit any allocation.
    bool hugeCount = false;
};

DWORD CoordinatesFrom(Input& in) {
    switch (in.U8() % 4) {
        case 0:
            return DIEFF_CARTESIAN;
        case 1:
            return DIEFF_POLAR;
        case 2:
            return DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
        default:
            return in.U32();
    }
}

DWORD DurationFrom(Input& in) {
    switch (in.U8() % 4) {
        case 0:
            return INFINITE;
        case 1:
            return 1000u * in.U8();
        case 2:
            return 0;
        default:
            return in.U32();
    }
}

void FillEffect(Input& in, CallerEffect* c) {
    DIEFFECT& e = c->effect;
    e.dwSize = sizeof(DIEFFECT);
    e.dwFlags = CoordinatesFrom(in);
    e.dwDuration = DurationFrom(in);
    e.dwGain = in.U8() % 2 == 0 ? 10000 : in.U32();
    e.dwSamplePeriod = in.U32();
    e.dwTriggerButton = in.U32();
    e.dwTriggerRepeatInterval = in.U32();

    // Axes and direction: 0 both arrays of cAxes entries; 1 no axes array; 2 no direction
    // array; 3 arrays present but cAxes 0.
    const uint8_t shape = in.U8();
    DWORD count = in.U8();
    const int arrays = shape & 3;
    if ((shape & 0x80) != 0 && arrays != 0) {
        // Large counts only where the driver must refuse before reading.
        count = in.U32();
    } else if ((shape & 0x40) != 0 && arrays == 0) {
        // A count of 2^30 or more: 4 bytes an entry is more than any allocation, and in a
        // 32-bit build more than size_t holds. Only a few entries back it.
        count |= in.U32() | 0x40000000u;
        c->hugeCount = true;
    }
    // The one array an inconsistent shape passes holds at most 256 entries: the driver must
    // not read it at all, and if it did, reading past them is caught.
    size_t entries = count;
    if (arrays == 3) {
        count = 0;
        entries = 1;
    } else if (c->hugeCount) {
        entries = 4;
    } else if (arrays != 0 && entries > 256) {
        entries = 256;
    }
    e.cAxes = count;
    if (arrays != 1 && entries != 0) {
        c->axes.reset(new DWORD[entries]);
        for (size_t i = 0; i < entries; ++i) {
            // Mostly instance numbers 0 to 3 in bits 8 and up, as DirectInput passes them.
            const uint8_t pick = in.U8();
            c->axes[i] = pick < 0xC0 ? (uint32_t{pick % 4u} << 8) | 2u : in.U32();
        }
    }
    if (arrays != 2 && entries != 0) {
        c->direction.reset(new LONG[entries]);
        for (size_t i = 0; i < entries; ++i) {
            c->direction[i] = static_cast<LONG>(in.U32());
        }
    }
    e.rgdwAxes = c->axes.get();
    e.rglDirection = c->direction.get();
    const bool arraysPresent = e.rgdwAxes != nullptr && e.rglDirection != nullptr;
    const bool arraysAbsent = e.rgdwAxes == nullptr && e.rglDirection == nullptr;
    c->consistent = e.cAxes != 0 ? arraysPresent : arraysAbsent;

    if (in.U8() % 2 == 1) {
        c->envelope.reset(
            new DIENVELOPE{sizeof(DIENVELOPE), in.U32(), in.U32(), in.U32(), in.U32()});
    }
    e.lpEnvelope = c->envelope.get();

    // Type-specific bytes: 0 exactly cb bytes; 1 cb without a buffer; 2 a buffer with cb 0.
    const uint8_t tsShape = in.U8() % 3;
    const DWORD cb = in.U8() % 40;
    if (tsShape == 0 && cb != 0) {
        c->typeSpecific.reset(new uint8_t[cb]);
        for (DWORD i = 0; i < cb; ++i) {
            c->typeSpecific[i] = in.U8();
        }
    } else if (tsShape == 2) {
        c->typeSpecific.reset(new uint8_t[1]{in.U8()});
    }
    e.cbTypeSpecificParams = tsShape == 2 ? 0 : cb;
    e.lpvTypeSpecificParams = c->typeSpecific.get();
    c->consistent =
        c->consistent && (e.cbTypeSpecificParams != 0) == (e.lpvTypeSpecificParams != nullptr);
}

// The wheel as the fuzzer sees it: the device link for the joystick IDs it is attached as. It
// checks every report as it arrives and every handle the driver uses, and keeps nothing else:
// the virtual wheel's recording and event log would cost more than the driver's own work.
class CheckingWheel final : public wheel::DeviceLink {
  public:
    void Attach(uint32_t joystickId) { attached_ |= uint64_t{1} << (joystickId % 64); }
    void SetReportId(uint8_t reportId) { reportId_ = reportId; }
    size_t OpenHandles() const { return open_.size(); }

    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override {
        FUZZ_CHECK(path != nullptr && size >= 16);
        path[0] = '\0';
        if (joystickId < 64 && (attached_ & (uint64_t{1} << joystickId)) != 0) {
            std::snprintf(path, size, "wheel#%u", static_cast<unsigned>(joystickId));
        }
    }

    HANDLE Open(const char* path) override {
        unsigned id = 0;
        if (path == nullptr || std::sscanf(path, "wheel#%u", &id) != 1 || id >= 64 ||
            (attached_ & (uint64_t{1} << id)) == 0) {
            return INVALID_HANDLE_VALUE;
        }
        // Never the same value twice, so a handle used after its close is caught.
        nextHandle_ += 4;
        open_.push_back(nextHandle_);
        return reinterpret_cast<HANDLE>(nextHandle_);
    }

    uint8_t ReportId(HANDLE device) override {
        FUZZ_CHECK(IsOpen(device));
        return reportId_;
    }

    // Every report is four bytes the wheel can take: the report ID, motor B on or off, motor
    // A doubled (never 2 to 48), and a zero.
    bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) override {
        FUZZ_CHECK(IsOpen(device));
        FUZZ_CHECK(length == 4);
        FUZZ_CHECK(report[0] == reportId_);
        FUZZ_CHECK(report[1] <= 1);
        FUZZ_CHECK(report[2] == 0 || (report[2] >= 50 && report[2] <= 254 && report[2] % 2 == 0));
        FUZZ_CHECK(report[3] == 0);
        return true;
    }

    void Close(HANDLE device) override {
        const auto it = std::find(open_.begin(), open_.end(), reinterpret_cast<uintptr_t>(device));
        FUZZ_CHECK(it != open_.end());
        open_.erase(it);
    }

  private:
    bool IsOpen(HANDLE device) const {
        return std::find(open_.begin(), open_.end(), reinterpret_cast<uintptr_t>(device)) !=
               open_.end();
    }

    uint64_t attached_ = 0;
    uint8_t reportId_ = 0;
    uintptr_t nextHandle_ = 0x1000;
    std::vector<uintptr_t> open_;
};

// The platform and the driver for one combination of bound devices: made by the first input
// that asks for it and kept for the whole process, so an input costs no construction, no
// registry reads and no teardown.
struct Rig {
    hosted::ManualClock clock;
    hosted::ManualTimer timer;
    hosted::AutoResetEvent storeEvent;
    CheckingWheel wheel;
    wheel::ModuleCount moduleCount;
    std::atomic<wheel::OsClass> os{wheel::OsWinNT6};
    dravik::EffectDriver* driver = nullptr;
    std::vector<DWORD> bound;
    int reportId = -1;  // of the last binding
};

constexpr DWORD kBindable[] = {0, 1, 15};

Rig& RigFor(uint8_t devices) {
    static Rig* rigs[1u << 3] = {};
    Rig*& rig = rigs[devices & 7u];
    if (rig == nullptr) {
        rig = new Rig();
        dravik::DriverServices services;
        services.registry = &Registry();
        services.clock = &rig->clock;
        services.timer = &rig->timer;
        services.storeLock = &rig->storeEvent;
        services.link = &rig->wheel;
        services.moduleCount = &rig->moduleCount;
        Rig* r = rig;
        services.osClass = [r] { return r->os.load(); };
        services.sleep = [](uint32_t) {};
        rig->driver = dravik::EffectDriver::Create(services);
        FUZZ_CHECK(rig->driver != nullptr);
        FUZZ_CHECK(rig->driver->InitDriver() == S_OK);
        for (int i = 0; i < 3; ++i) {
            if ((devices & (1u << i)) != 0) {
                rig->wheel.Attach(kBindable[i]);
                rig->bound.push_back(kBindable[i]);
            }
        }
    }
    return *rig;
}

class Session {
  public:
    explicit Session(Input& in) : in_(in) {}

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Run() {
        const uint8_t bind = in_.U8();
        rig_ = &RigFor(bind);
        driver_ = rig_->driver;
        reportId_ = static_cast<uint8_t>(bind >> 4);
        os_ = OsFor(in_.U8());
        rig_->os = os_;
        hosted::MemoryRegistry& registry = Registry();
        const bool amplify = in_.U8() % 2 == 1;
        StoreAmplify(wheel::AmplifyRoot(os_), amplify, amplify ? in_.U32() : 0);
        g_failAt = in_.U8();
        g_allocations = 0;
        rig_->clock.Set(0);

        // Binding again reads this input's report ID, as DirectInput's next DeviceID would; with
        // the same ID it would change nothing.
        if (rig_->reportId != reportId_) {
            rig_->wheel.SetReportId(reportId_);
            for (DWORD id : rig_->bound) {
                FUZZ_CHECK(driver_->DeviceID(0x0700, id, 1, 0, nullptr) == S_OK);
            }
            rig_->reportId = reportId_;
        }
        if ((bind & 8u) != 0) {
            rig_->wheel.Attach(16);
            FUZZ_CHECK(driver_->DeviceID(0x0700, 16, 1, 0, nullptr) == E_INVALIDARG);
        }

        for (int op = 0; op < kMaxOperations && !in_.Empty(); ++op) {
            Operation();
        }
        Reset();
        // Each bound record holds one handle; the driver holds the module while it lives.
        FUZZ_CHECK(rig_->wheel.OpenHandles() == rig_->bound.size());
        FUZZ_CHECK(rig_->moduleCount.Value() == 1);
        FUZZ_CHECK(registry.OpenHandles() == 0);
    }

  private:
    // Brings every device this input touched back to a new object's state, through the
    // driver's own methods: Amplify read as 1000 again, every effect destroyed, also the free
    // slots that were started, and the full device gain.
    void Reset() {
        g_failAt = 0;
        IDirectInputEffectDriver* effects = driver_;
        for (DWORD id = 0; id < dravik::kDeviceCount; ++id) {
            if ((touched_ & (1u << id)) == 0) {
                continue;
            }
            if ((started_ & (1u << id)) != 0 && driver_->CopyRecord(id).amplify != 1000) {
                StoreAmplify(wheel::AmplifyRoot(os_), true, 1000);
                FUZZ_CHECK(effects->StartEffect(id, 1, 0, 1) == S_OK);
            }
            FUZZ_CHECK(effects->SendForceFeedbackCommand(id, DISFFC_RESET) == S_OK);
            for (DWORD handle = 1; handle <= dravik::kSlotCount; ++handle) {
                DWORD status = 0;
                FUZZ_CHECK(effects->GetEffectStatus(id, handle, &status) == S_OK);
                if (status != 0) {
                    FUZZ_CHECK(effects->DestroyEffect(id, handle) == S_OK);
                }
            }
            FUZZ_CHECK(effects->SetGain(id, 10000) == S_OK);
        }
        touched_ = 0;
        started_ = 0;
    }

    // Records which devices an operation may change, for Reset.
    DWORD Touch(DWORD device) {
        if (device < dravik::kDeviceCount) {
            touched_ |= 1u << device;
        }
        return device;
    }
    DWORD TouchStarted(DWORD device) {
        if (device < dravik::kDeviceCount) {
            started_ |= 1u << device;
        }
        return Touch(device);
    }

  private:
    void Operation() {
        switch (in_.U8() % 10) {
            case 0:
            case 1:
                Download();
                break;
            case 2: {
                const DWORD device = TouchStarted(DeviceFrom(in_));
                const DWORD handle = HandleFrom(in_);
                const uint8_t modePick = in_.U8() % 4;
                const DWORD mode = modePick == 0   ? 0
                                   : modePick == 1 ? DIES_SOLO
                                   : modePick == 2 ? DIES_NODOWNLOAD
                                                   : in_.U32();
                const DWORD count = in_.U8() % 2 == 0 ? in_.U8() % 4 : in_.U32();
                const HRESULT hr = driver_->StartEffect(device, handle, mode, count);
                FUZZ_CHECK(hr == (ValidIds(device, handle) ? S_OK : E_INVALIDARG));
                break;
            }
            case 3: {
                const uint32_t ticks = 1 + in_.U8() % kMaxTicksPerOperation;
                const uint8_t stepPick = in_.U8() % 4;
                const uint32_t step = stepPick == 0   ? dravik::kTickPeriodMs
                                      : stepPick == 1 ? in_.U8()
                                      : stepPick == 2 ? 1000
                                                      : in_.U32();
                for (uint32_t i = 0; i < ticks; ++i) {
                    rig_->clock.Advance(step);
                    rig_->timer.Fire();
                }
                break;
            }
            case 4: {
                const DWORD device = Touch(DeviceFrom(in_));
                const DWORD handle = HandleFrom(in_);
                FUZZ_CHECK(driver_->StopEffect(device, handle) ==
                           (ValidIds(device, handle) ? S_OK : E_INVALIDARG));
                break;
            }
            case 5: {
                const DWORD device = Touch(DeviceFrom(in_));
                const DWORD handle = HandleFrom(in_);
                FUZZ_CHECK(driver_->DestroyEffect(device, handle) ==
                           (ValidIds(device, handle) ? S_OK : E_INVALIDARG));
                break;
            }
            case 6: {
                const DWORD device = DeviceFrom(in_);
                const DWORD handle = HandleFrom(in_);
                DWORD status = 0xA5A5A5A5u;
                const HRESULT hr = driver_->GetEffectStatus(device, handle, &status);
                if (ValidIds(device, handle)) {
                    FUZZ_CHECK(hr == S_OK);
                    FUZZ_CHECK(status == 0 || status == DIEGES_PLAYING);
                } else {
                    FUZZ_CHECK(hr == E_INVALIDARG);
                }
                break;
            }
            case 7: {
                const DWORD device = Touch(DeviceFrom(in_));
                const DWORD gain = in_.U8() % 2 == 0 ? in_.U8() * 100u : in_.U32();
                FUZZ_CHECK(driver_->SetGain(device, gain) ==
                           (device < 16 && gain <= 10000 ? S_OK : E_INVALIDARG));
                break;
            }
            case 8: {
                const DWORD device = Touch(DeviceFrom(in_));
                const uint8_t pick = in_.U8();
                const DWORD command = pick < 0xF0 ? 1u << (pick % 6) : in_.U32();
                const HRESULT hr = driver_->SendForceFeedbackCommand(device, command);
                if (device >= 16) {
                    FUZZ_CHECK(hr == E_INVALIDARG);
                } else if (command == DISFFC_RESET || command == DISFFC_STOPALL ||
                           command == DISFFC_PAUSE || command == DISFFC_CONTINUE ||
                           command == DISFFC_SETACTUATORSON || command == DISFFC_SETACTUATORSOFF) {
                    FUZZ_CHECK(hr == S_OK);
                } else {
                    FUZZ_CHECK(hr == E_NOTIMPL);
                }
                break;
            }
            default:
                // Amplify changes between starts, in the hive the driver reads.
                StoreAmplify(wheel::AmplifyRoot(os_), true, in_.U32());
                break;
        }
    }

    static bool ValidIds(DWORD device, DWORD handle) {
        return device < 16 && handle >= 1 && handle <= 32;
    }

    void Download() {
        const DWORD device = Touch(DeviceFrom(in_));
        const DWORD type = in_.U8() % 14;
        const uint8_t handlePick = in_.U8();
        DWORD handle = handlePick < 0x80 ? 0 : handlePick % 36;
        const DWORD flags = in_.U8() % 2 == 0 ? 0 : in_.U32();
        if ((flags & DIEP_START) != 0) {
            TouchStarted(device);
        }
        CallerEffect caller;
        const bool nullEffect = in_.U8() % 16 == 0;
        if (!nullEffect) {
            FillEffect(in_, &caller);
        }
        const DWORD before = handle;
        const HRESULT hr = driver_->DownloadEffect(device, type, &handle,
                                                   nullEffect ? nullptr : &caller.effect, flags);
        const bool valid =
            device < 16 && type < 12 && before <= 32 && !nullEffect && caller.consistent;
        if (!valid) {
            FUZZ_CHECK(hr == E_INVALIDARG);
            FUZZ_CHECK(handle == before);
            return;
        }
        if ((flags & DIEP_NODOWNLOAD) != 0) {
            FUZZ_CHECK(hr == S_OK);
            FUZZ_CHECK(handle == before);
            return;
        }
        if (caller.hugeCount && (before == 0 || (flags & (DIEP_AXES | DIEP_DIRECTION)) != 0)) {
            // The arrays' size cannot be allocated: never a wrapped, smaller buffer.
            FUZZ_CHECK(hr == E_OUTOFMEMORY || (hr == E_FAIL && before == 0));
        }
        if (hr == E_OUTOFMEMORY) {
            FUZZ_CHECK(handle == 0);
            return;
        }
        if (hr == E_FAIL) {
            // Every slot of the record is taken.
            FUZZ_CHECK(before == 0);
            FUZZ_CHECK(handle == 0);
            return;
        }
        FUZZ_CHECK(hr == S_OK);
        FUZZ_CHECK(handle >= 1 && handle <= 32);
        FUZZ_CHECK(before == 0 || handle == before);
    }

    Input& in_;
    Rig* rig_ = nullptr;
    dravik::EffectDriver* driver_ = nullptr;
    uint32_t touched_ = 0;
    uint32_t started_ = 0;
    wheel::OsClass os_ = wheel::OsWinNT6;
    uint8_t reportId_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const dravik::EffectAllocator previous = dravik::SetEffectAllocator(&FailingAllocate);
    {
        Session session(in);
        session.Run();
    }
    dravik::SetEffectAllocator(previous);
    return 0;
}
