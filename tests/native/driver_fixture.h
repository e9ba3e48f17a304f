// A driver object wired to the hosted platform: an in-memory registry holding the wheel's
// installation data, a clock and a timer the test moves, the store event, the virtual wheel and
// a module count. Sleeps are recorded, never waited for.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/os_class.h"
#include "common/services.h"
#include "common/wheel_ids.h"
#include "ffdriver/effect_driver.h"
#include "ffdriver/effect_store.h"
#include "ffdriver/effect_types.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"

namespace drivertest {

inline constexpr DWORD kDiVersion = 0x0700;
inline constexpr DWORD kPlaying = DIEGES_PLAYING;
using Bytes = std::array<uint8_t, 4>;

// An absolute-axis object ID with the given instance number (bits 8 to 23).
inline DWORD AxisId(uint32_t instance) {
    return (instance << 8) | 0x2u;
}

// A caller's effect: owns the arrays and blocks a DIEFFECT points at.
class Effect {
  public:
    static Effect Constant(LONG magnitude) {
        DICONSTANTFORCE p = {};
        p.lMagnitude = magnitude;
        return Effect().Specific(&p, sizeof p);
    }
    static Effect Ramp(LONG start, LONG end) {
        DIRAMPFORCE p = {};
        p.lStart = start;
        p.lEnd = end;
        return Effect().Specific(&p, sizeof p);
    }
    static Effect Periodic(DWORD magnitude, LONG offset, DWORD phase, DWORD period) {
        DIPERIODIC p = {};
        p.dwMagnitude = magnitude;
        p.lOffset = offset;
        p.dwPhase = phase;
        p.dwPeriod = period;
        return Effect().Specific(&p, sizeof p);
    }

    // Two axes with instance numbers 0 and 1, pushing along the first; endless; full gain.
    Effect() { Cartesian({1, 0}); }

    Effect& Specific(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        specific_.assign(bytes, bytes + size);
        return *this;
    }
    Effect& Flags(DWORD flags) {
        flags_ = flags;
        return *this;
    }
    Effect& Duration(DWORD microseconds) {
        duration_ = microseconds;
        return *this;
    }
    Effect& Gain(DWORD gain) {
        gain_ = gain;
        return *this;
    }
    // Axes with instance numbers 0..n-1 and the given direction.
    Effect& Cartesian(std::vector<LONG> direction) {
        flags_ = DIEFF_CARTESIAN;
        return Direction(std::move(direction));
    }
    Effect& Polar(std::vector<LONG> direction) {
        flags_ = DIEFF_POLAR;
        return Direction(std::move(direction));
    }
    Effect& Direction(std::vector<LONG> direction) {
        axes_.clear();
        for (uint32_t i = 0; i < direction.size(); ++i) {
            axes_.push_back(AxisId(i));
        }
        direction_ = std::move(direction);
        return *this;
    }
    Effect& Axes(std::vector<DWORD> axes) {
        axes_ = std::move(axes);
        return *this;
    }
    Effect& Envelope(DWORD attackLevel, DWORD attackTime, DWORD fadeLevel, DWORD fadeTime) {
        envelope_ = {};
        envelope_.dwSize = sizeof envelope_;
        envelope_.dwAttackLevel = attackLevel;
        envelope_.dwAttackTime = attackTime;
        envelope_.dwFadeLevel = fadeLevel;
        envelope_.dwFadeTime = fadeTime;
        hasEnvelope_ = true;
        return *this;
    }

    // The record a caller hands over; valid while this object lives and is not changed.
    DIEFFECT Build() const& {
        DIEFFECT e;
        std::memset(&e, 0, sizeof e);
        e.dwSize = sizeof e;
        e.dwFlags = flags_;
        e.dwDuration = duration_;
        e.dwGain = gain_;
        e.cAxes = static_cast<DWORD>(axes_.size());
        e.rgdwAxes = axes_.empty() ? nullptr : const_cast<DWORD*>(axes_.data());
        e.rglDirection = direction_.empty() ? nullptr : const_cast<LONG*>(direction_.data());
        e.lpEnvelope = hasEnvelope_ ? const_cast<DIENVELOPE*>(&envelope_) : nullptr;
        e.cbTypeSpecificParams = static_cast<DWORD>(specific_.size());
        e.lpvTypeSpecificParams =
            specific_.empty() ? nullptr : const_cast<uint8_t*>(specific_.data());
        return e;
    }
    // A temporary's record would point at freed memory.
    DIEFFECT Build() && = delete;

  private:
    DWORD flags_ = DIEFF_CARTESIAN;
    DWORD duration_ = INFINITE;
    DWORD gain_ = 10000;
    std::vector<DWORD> axes_;
    std::vector<LONG> direction_;
    DIENVELOPE envelope_ = {};
    bool hasEnvelope_ = false;
    std::vector<uint8_t> specific_;
};

// Makes the store's allocations fail after a number of successful ones, while it lives.
class FailingAllocations {
  public:
    explicit FailingAllocations(int successes) {
        Budget().store(successes);
        previous_ = dravik::SetEffectAllocator(&Allocate);
    }
    ~FailingAllocations() { dravik::SetEffectAllocator(previous_); }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

  private:
    static std::atomic<int>& Budget() {
        static std::atomic<int> budget{0};
        return budget;
    }
    static void* Allocate(size_t size) {
        return Budget().fetch_sub(1) > 0 ? std::malloc(size) : nullptr;
    }
    dravik::EffectAllocator previous_ = nullptr;
};

// The driver and everything it runs on.
struct DriverRig {
    hosted::MemoryRegistry registry;
    hosted::ManualClock clock{50000};
    hosted::ManualTimer timer;
    hosted::ThreadTimer threadTimer;
    hosted::AutoResetEvent storeEvent;
    hosted::VirtualWheel virtualWheel{clock};
    hosted::ManualWork work;
    wheel::ModuleCount moduleCount;
    std::atomic<wheel::OsClass> os{wheel::OsWinNT6};
    std::atomic<uint32_t> sleptMs{0};
    dravik::DriverServices services;
    dravik::EffectDriver* driver = nullptr;

    // `realTimer`: ticks come every 25 ms from a thread instead of from Tick().
    explicit DriverRig(bool realTimer = false) {
        services.registry = &registry;
        services.clock = &clock;
        services.timer = realTimer ? static_cast<wheel::PeriodicTimer*>(&threadTimer) : &timer;
        services.storeLock = &storeEvent;
        services.link = &virtualWheel;
        services.moduleCount = &moduleCount;
        services.work = &work;
        services.osClass = [this] { return os.load(); };
        services.sleep = [this](uint32_t ms) { sleptMs.fetch_add(ms); };
    }
    ~DriverRig() { ReleaseDriver(); }
    DriverRig(const DriverRig&) = delete;
    DriverRig& operator=(const DriverRig&) = delete;

    // Installs the wheel's registry data and builds the object as the class factory does.
    HRESULT CreateDriver() {
        const LONG written = install::WriteWheelData(registry);
        if (written != ERROR_SUCCESS) {
            return E_FAIL;
        }
        driver = dravik::EffectDriver::Create(services);
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = driver->InitDriver();
        if (FAILED(hr)) {
            ReleaseDriver();
        }
        return hr;
    }

    void ReleaseDriver() {
        if (driver != nullptr) {
            driver->Release();
            driver = nullptr;
        }
    }

    // Plugs the wheel in as `joystickId` and binds the record of that ID to it.
    HRESULT Bind(DWORD joystickId) {
        virtualWheel.Attach(joystickId);
        return driver->DeviceID(kDiVersion, joystickId, TRUE, 0, nullptr);
    }

    // Moves the clock on and runs one tick through the timer the driver started.
    void Tick(uint32_t ms = 25) {
        clock.Advance(ms);
        timer.Fire();
    }

    std::vector<Bytes> ReportsFor(uint32_t joystickId) const {
        std::vector<Bytes> out;
        for (const auto& report : virtualWheel.ReportsFor(joystickId)) {
            out.push_back(report.bytes);
        }
        return out;
    }
    // The last report the wheel got as `joystickId`; all 0xEE when there was none.
    Bytes LastReport(uint32_t joystickId) const {
        const auto reports = ReportsFor(joystickId);
        return reports.empty() ? Bytes{0xEE, 0xEE, 0xEE, 0xEE} : reports.back();
    }
    // The report sent by one more tick.
    Bytes TickReport(uint32_t joystickId, uint32_t ms = 25) {
        const size_t before = ReportsFor(joystickId).size();
        Tick(ms);
        const auto reports = ReportsFor(joystickId);
        EXPECT_EQ(reports.size(), before + 1) << "one report per tick";
        return reports.size() > before ? reports.back() : Bytes{0xEE, 0xEE, 0xEE, 0xEE};
    }

    // Downloads a new effect; the handle, or 0 when the download failed.
    DWORD Download(DWORD id, DWORD type, const Effect& effect, DWORD flags = 0) {
        const DIEFFECT e = effect.Build();
        DWORD handle = 0;
        const HRESULT hr = driver->DownloadEffect(id, type, &handle, &e, flags);
        EXPECT_EQ(hr, S_OK) << "download of type " << type;
        return SUCCEEDED(hr) ? handle : 0;
    }
    // Downloads and starts an effect with one iteration.
    DWORD Play(DWORD id, DWORD type, const Effect& effect) {
        return Download(id, type, effect, DIEP_START);
    }

    DWORD Status(DWORD id, DWORD handle) {
        DWORD status = 0xDEAD;
        EXPECT_EQ(driver->GetEffectStatus(id, handle, &status), S_OK);
        return status;
    }

    dravik::EffectSlot Slot(DWORD id, DWORD handle) {
        dravik::EffectSlot copy;
        std::memset(&copy, 0, sizeof copy);
        driver->VisitSlot(id, handle, [&copy](const dravik::EffectSlot& slot) { copy = slot; });
        return copy;
    }

    void SetAmplify(HKEY root, uint32_t value) {
        registry.PutDword(root, wheel::OemKey(), "Amplify", value);
    }
};

// A test whose object is created before the body runs.
class DriverTest : public ::testing::Test, protected DriverRig {
  protected:
    void SetUp() override { ASSERT_EQ(CreateDriver(), S_OK); }
};

}  // namespace drivertest
