// The wheel's force feedback on Linux: what clients ask of a wheel's uinput device (uploads,
// erasures, plays, stops, gain) carried out by the Windows driver's own EffectDriver, store and
// tick, one device record per wheel. No system calls here: the device link, the clock and the
// timer are given, so tests drive it with a virtual clock and a recording wheel.
#pragma once

#include <linux/input.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/platform.h"
#include "common/registry.h"
#include "common/services.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "linux/ff_mapping.h"

namespace rumble {

// Effects a client may hold per wheel: FF_RUMBLE takes two of the driver's 32 slots, so 16
// effects can never run out of slots.
inline constexpr uint32_t kEffectsPerWheel = 16;
inline constexpr uint32_t kMaxWheels = dravik::kDeviceCount;

struct BridgeServices {
    wheel::RegistryApi* registry = nullptr;
    wheel::Clock* clock = nullptr;
    // The 25 ms tick; the bridge starts its delayed effects just before each tick.
    wheel::PeriodicTimer* timer = nullptr;
    wheel::DeviceLink* link = nullptr;
    std::function<void(const std::string&)> log;
    // Every report handed to the link has reached its wheel; the tick rests only then, so a
    // report lost to a failed send is followed by a tick that reopens the wheel and sends the
    // current levels. Unset: reports are delivered as they are handed over.
    std::function<bool()> settled;
};

class FfBridge {
  public:
    explicit FfBridge(const BridgeServices& services);
    // Releases the driver: every effect stops and each open wheel gets an all-off report.
    ~FfBridge();
    FfBridge(const FfBridge&) = delete;
    FfBridge& operator=(const FfBridge&) = delete;

    // Creates the driver through its class factory, as DirectInput does; false when it cannot.
    bool Create();
    // Binds wheel `device` (0..15) with DeviceID: the link finds its node and its report ID.
    HRESULT Bind(uint32_t device);

    // UI_BEGIN_FF_UPLOAD: 0 or a negative errno for the client. `effect.id` is the kernel's slot
    // (0..kEffectsPerWheel-1); an upload to an id in use replaces that effect's parameters, and
    // a replacement the driver refuses leaves the effect as it was.
    int Upload(uint32_t device, const ff_effect& effect);
    // UI_BEGIN_FF_ERASE: 0 or a negative errno.
    int Erase(uint32_t device, int32_t id);
    // An EV_FF event written by a client: play (value > 0: that many times), stop (value 0) or
    // FF_GAIN. Anything else, and ids never uploaded, are ignored.
    void Event(uint32_t device, uint16_t code, int32_t value);
    // Erases every effect of the wheel and gives it full gain again (its device is gone). The
    // gain a client sets stays across opens until then.
    void EraseAll(uint32_t device);

  private:
    struct Effect {
        bool used = false;
        uint32_t parts = 0;
        DWORD handles[2] = {};
        // The parameters the driver holds, put back when it refuses an update.
        MappedEffect mapped;
        // The count of its last play, for a part that has to be started again.
        DWORD playCount = 1;
        // Started since the last tick: no report has shown it yet.
        bool unseen = false;
        // A play waiting for replay.delay: due at `dueMs`, that many times.
        bool pending = false;
        uint32_t dueMs = 0;
        DWORD count = 0;
        uint32_t delayMs = 0;
    };
    // Hands the driver's tick callback to the real timer, with the delayed starts first. The
    // driver's tick runs unchanged while anything plays; once a tick has sent the all-off report
    // with nothing playing or waiting, the real timer stops until the next play, so an idle
    // wheel gets no reports.
    class TickTimer final : public wheel::PeriodicTimer {
      public:
        explicit TickTimer(FfBridge& bridge) : bridge_(bridge) {}
        uint32_t Start(uint32_t periodMs, uint32_t resolutionMs, wheel::TimerCallback callback,
                       void* user) override;
        void Kill(uint32_t id) override;

        // Starts the real timer again if the driver has one and it is stopped; true when it
        // runs.
        bool Arm();
        bool Armed() const { return realId_ != 0; }
        // One tick now, outside the period.
        void Tick();

        static void Fire(void* user);

      private:
        FfBridge& bridge_;
        wheel::TimerCallback callback_ = nullptr;
        void* user_ = nullptr;
        uint32_t periodMs_ = 0;
        uint32_t resolutionMs_ = 0;
        uint32_t realId_ = 0;
    };

    void Log(const std::string& text);
    void StartParts(uint32_t device, Effect& effect, DWORD count);
    void StopParts(uint32_t device, Effect& effect);
    void DestroyParts(uint32_t device, Effect& effect);
    void RestoreParts(uint32_t device, Effect& effect, uint32_t failed, bool playing);
    void StartDue();
    // Something plays or waits for its delay on some wheel.
    bool Busy();

    BridgeServices services_;
    TickTimer tickTimer_;
    hosted::AutoResetEvent storeEvent_;
    wheel::ModuleCount moduleCount_;
    IDirectInputEffectDriver* driver_ = nullptr;
    Effect effects_[kMaxWheels][kEffectsPerWheel];
};

}  // namespace rumble
