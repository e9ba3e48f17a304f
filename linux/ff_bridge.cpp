#include "ff_bridge.h"

#include <cerrno>

#include "common/wheel_ids.h"
#include "ffdriver/driver_factory.h"
#include "linux/ff_mapping.h"

namespace rumble {

namespace {

// The version DirectInput 7 games bind devices as.
constexpr DWORD kDirectInputVersion = 0x0700;

bool ValidId(int32_t id) {
    return id >= 0 && static_cast<uint32_t>(id) < kEffectsPerWheel;
}

// What the driver gets for its timer: the real one's id changes as it stops and starts again.
constexpr uint32_t kDriverTimerId = 1;

}  // namespace

uint32_t FfBridge::TickTimer::Start(uint32_t periodMs, uint32_t resolutionMs,
                                    wheel::TimerCallback callback, void* user) {
    callback_ = callback;
    user_ = user;
    periodMs_ = periodMs;
    resolutionMs_ = resolutionMs;
    return Arm() ? kDriverTimerId : 0;
}

void FfBridge::TickTimer::Kill(uint32_t) {
    if (realId_ != 0) {
        bridge_.services_.timer->Kill(realId_);
        realId_ = 0;
    }
    callback_ = nullptr;
}

bool FfBridge::TickTimer::Arm() {
    if (realId_ == 0 && callback_ != nullptr) {
        realId_ = bridge_.services_.timer->Start(periodMs_, resolutionMs_, &TickTimer::Fire, this);
    }
    return realId_ != 0;
}

void FfBridge::TickTimer::Tick() {
    bridge_.StartDue();
    for (auto& wheel : bridge_.effects_) {
        for (Effect& effect : wheel) {
            effect.unseen = false;
        }
    }
    if (callback_ != nullptr) {
        callback_(user_);
    }
}

void FfBridge::TickTimer::Fire(void* user) {
    auto* self = static_cast<TickTimer*>(user);
    self->Tick();
    // This tick found nothing playing, so its report was all-off: the wheel needs no more.
    if (self->realId_ != 0 && !self->bridge_.Busy()) {
        self->bridge_.services_.timer->Kill(self->realId_);
        self->realId_ = 0;
    }
}

FfBridge::FfBridge(const BridgeServices& services) : services_(services), tickTimer_(*this) {}

FfBridge::~FfBridge() {
    if (driver_ != nullptr) {
        driver_->Release();
    }
}

void FfBridge::Log(const std::string& text) {
    if (services_.log) {
        services_.log(text);
    }
}

bool FfBridge::Create() {
    dravik::DriverServices services;
    services.registry = services_.registry;
    services.clock = services_.clock;
    services.timer = &tickTimer_;
    services.storeLock = &storeEvent_;
    services.link = services_.link;
    services.moduleCount = &moduleCount_;
    // Vista and later: Amplify is read from HKEY_CURRENT_USER, which the config file answers.
    services.osClass = [] { return wheel::OsWinNT6; };
    services.sleep = [](uint32_t) {};
    IClassFactory* factory = nullptr;
    if (FAILED(dravik::GetDriverClassObject(services, wheel::kDravikClsid, IID_IClassFactory,
                                            reinterpret_cast<void**>(&factory)))) {
        Log("the effect driver's class factory cannot be created");
        return false;
    }
    const HRESULT hr = factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                               reinterpret_cast<void**>(&driver_));
    factory->Release();
    if (FAILED(hr)) {
        driver_ = nullptr;
        Log("the effect driver cannot start: its effect types are missing from the registry data");
        return false;
    }
    return true;
}

HRESULT FfBridge::Bind(uint32_t device) {
    if (driver_ == nullptr || device >= kMaxWheels) {
        return E_INVALIDARG;
    }
    return driver_->DeviceID(kDirectInputVersion, device, 1, 0, nullptr);
}

void FfBridge::StartParts(uint32_t device, Effect& effect, DWORD count) {
    effect.playCount = count;
    effect.unseen = true;
    for (uint32_t i = 0; i < effect.parts; ++i) {
        if (effect.handles[i] != 0) {
            driver_->StartEffect(device, effect.handles[i], 0, count);
        }
    }
}

void FfBridge::StopParts(uint32_t device, Effect& effect) {
    effect.pending = false;
    for (uint32_t i = 0; i < effect.parts; ++i) {
        if (effect.handles[i] != 0) {
            driver_->StopEffect(device, effect.handles[i]);
        }
    }
}

void FfBridge::DestroyParts(uint32_t device, Effect& effect) {
    for (uint32_t i = 0; i < effect.parts; ++i) {
        if (effect.handles[i] != 0) {
            driver_->DestroyEffect(device, effect.handles[i]);
        }
    }
    effect = Effect();
}

int FfBridge::Upload(uint32_t device, const ff_effect& in) {
    if (driver_ == nullptr || device >= kMaxWheels || !ValidId(in.id)) {
        return -EINVAL;
    }
    MappedEffect mapped;
    if (!MapEffect(in, &mapped)) {
        Log("upload refused: effect type " + std::to_string(in.type) + " is not offered");
        return -EINVAL;
    }
    Effect& effect = effects_[device][in.id];
    if (effect.used && effect.parts != mapped.count) {
        // Another kind of effect under the same id (a rumble turned into a sine): start afresh.
        DestroyParts(device, effect);
    }
    if (effect.used) {
        // An update: the parameters change, a playing effect plays on with them. Parameters no
        // tick has met yet get one first (SDL ends a short rumble by updating it to nothing).
        if (effect.unseen && tickTimer_.Armed()) {
            tickTimer_.Tick();
        }
        bool playing = false;
        for (uint32_t i = 0; i < mapped.count; ++i) {
            DWORD status = 0;
            driver_->GetEffectStatus(device, effect.handles[i], &status);
            playing = playing || (status & DIEGES_PLAYING) != 0;
            const DIEFFECT params = mapped.parts[i].Params();
            DWORD handle = effect.handles[i];
            const HRESULT hr = driver_->DownloadEffect(device, mapped.parts[i].type, &handle,
                                                       &params, DIEP_ALLPARAMS);
            if (FAILED(hr)) {
                // The kernel keeps the old effect when an update fails, and will play and erase
                // it: so does the service.
                RestoreParts(device, effect, i, (status & DIEGES_PLAYING) != 0);
                return hr == E_OUTOFMEMORY ? -ENOMEM : -EINVAL;
            }
            // The same slot, or a new one for a part lost earlier.
            effect.handles[i] = handle;
        }
        effect.mapped = mapped;
        effect.delayMs = in.replay.delay;
        effect.unseen = playing;
        return 0;
    }
    Effect fresh;
    fresh.used = true;
    fresh.mapped = mapped;
    fresh.delayMs = in.replay.delay;
    for (uint32_t i = 0; i < mapped.count; ++i) {
        const DIEFFECT params = mapped.parts[i].Params();
        DWORD handle = 0;
        const HRESULT hr =
            driver_->DownloadEffect(device, mapped.parts[i].type, &handle, &params, 0);
        if (FAILED(hr)) {
            DestroyParts(device, fresh);
            return hr == E_OUTOFMEMORY ? -ENOMEM : -ENOSPC;
        }
        fresh.handles[fresh.parts++] = handle;
    }
    effect = fresh;
    return 0;
}

void FfBridge::RestoreParts(uint32_t device, Effect& effect, uint32_t failed, bool playing) {
    for (uint32_t i = 0; i <= failed && i < effect.parts; ++i) {
        const DIEFFECT params = effect.mapped.parts[i].Params();
        if (i < failed) {
            // Updated already: its slot takes the old parameters back and plays on.
            DWORD handle = effect.handles[i];
            if (FAILED(driver_->DownloadEffect(device, effect.mapped.parts[i].type, &handle,
                                               &params, DIEP_ALLPARAMS))) {
                effect.handles[i] = 0;
            }
            continue;
        }
        // The driver freed the refused part's slot, its play state left as it was. Filled
        // again, the lowest free slot is that one unless a lower one is free: then the old slot
        // is stopped, so no later effect inherits its play, and the part starts afresh.
        const DWORD old = effect.handles[i];
        DWORD handle = 0;
        const HRESULT hr =
            driver_->DownloadEffect(device, effect.mapped.parts[i].type, &handle, &params, 0);
        if (FAILED(hr) || handle != old) {
            driver_->StopEffect(device, old);
        }
        effect.handles[i] = SUCCEEDED(hr) ? handle : 0;
        if (SUCCEEDED(hr) && handle != old && playing) {
            driver_->StartEffect(device, handle, 0, effect.playCount);
        }
    }
    if (effect.handles[0] == 0 || (effect.parts > 1 && effect.handles[1] == 0)) {
        Log("an effect lost a part: the driver refused its old parameters too");
    }
}

int FfBridge::Erase(uint32_t device, int32_t id) {
    if (driver_ == nullptr || device >= kMaxWheels || !ValidId(id)) {
        return -EINVAL;
    }
    Effect& effect = effects_[device][id];
    if (!effect.used) {
        return -EINVAL;
    }
    DestroyParts(device, effect);
    return 0;
}

void FfBridge::Event(uint32_t device, uint16_t code, int32_t value) {
    if (driver_ == nullptr || device >= kMaxWheels) {
        return;
    }
    if (code == FF_GAIN) {
        driver_->SetGain(device, MapGain(value));
        return;
    }
    if (!ValidId(code) || !effects_[device][code].used) {
        Log("ignored EV_FF code " + std::to_string(code) + " value " + std::to_string(value) +
            ": no such effect");
        return;
    }
    Effect& effect = effects_[device][code];
    if (value == 0) {
        // Stopped before any tick met it (SDL stops a 10 ms rumble itself): the wheel gets it
        // now, for that one tick.
        if (effect.unseen && tickTimer_.Armed()) {
            tickTimer_.Tick();
        }
        StopParts(device, effect);
        return;
    }
    if (value < 0) {
        Log("ignored EV_FF play of effect " + std::to_string(code) + " with count " +
            std::to_string(value));
        return;
    }
    const DWORD count = static_cast<DWORD>(value);
    if (effect.delayMs != 0) {
        // The driver has no start delay: the effect starts at the first tick after it.
        effect.pending = true;
        effect.dueMs = services_.clock->TickCount() + effect.delayMs;
        effect.count = count;
        // The delay is counted by the tick.
        tickTimer_.Arm();
        return;
    }
    effect.pending = false;
    // From an idle wheel the tick starts again with a tick now, and an effect over before the
    // next tick gets one now too: every effect a client starts reaches the wheel.
    const bool idle = !tickTimer_.Armed();
    StartParts(device, effect, count);
    const DWORD duration = effect.mapped.parts[0].duration;
    const bool shorterThanTick =
        duration != INFINITE &&
        uint64_t{duration} * count < uint64_t{dravik::kTickPeriodMs} * 1000u;
    if (tickTimer_.Arm() && (idle || shorterThanTick)) {
        tickTimer_.Tick();
    }
}

bool FfBridge::Busy() {
    if (services_.settled && !services_.settled()) {
        return true;
    }
    for (uint32_t device = 0; device < kMaxWheels; ++device) {
        for (const Effect& effect : effects_[device]) {
            if (!effect.used) {
                continue;
            }
            if (effect.pending) {
                return true;
            }
            for (uint32_t i = 0; i < effect.parts; ++i) {
                DWORD status = 0;
                if (effect.handles[i] != 0 &&
                    SUCCEEDED(driver_->GetEffectStatus(device, effect.handles[i], &status)) &&
                    (status & DIEGES_PLAYING) != 0) {
                    return true;
                }
            }
        }
    }
    return false;
}

void FfBridge::StartDue() {
    const uint32_t now = services_.clock->TickCount();
    for (uint32_t device = 0; device < kMaxWheels; ++device) {
        for (Effect& effect : effects_[device]) {
            if (effect.used && effect.pending && static_cast<int32_t>(now - effect.dueMs) >= 0) {
                effect.pending = false;
                StartParts(device, effect, effect.count);
            }
        }
    }
}

void FfBridge::EraseAll(uint32_t device) {
    if (driver_ == nullptr || device >= kMaxWheels) {
        return;
    }
    for (Effect& effect : effects_[device]) {
        if (effect.used) {
            DestroyParts(device, effect);
        }
    }
    // The gain outlives the device's opens, not the device: one made later under this number
    // starts at full gain, as any new force-feedback device does.
    driver_->SetGain(device, MapGain(0xFFFF));
}

}  // namespace rumble
