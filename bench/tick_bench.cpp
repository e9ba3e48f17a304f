// One driver tick with every slot playing: 16 bound devices x 32 effects, per effect type and
// mixed, and the heap allocations a tick makes. The reports go to a link that only counts them,
// so the figures are the driver's own; one case uses the virtual wheel to show what a recording
// link costs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/allocation_counter.h"
#include "common/services.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"

namespace {

// Every report is counted and dropped; nothing is allocated.
class CountingLink final : public wheel::DeviceLink {
  public:
    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override {
        std::snprintf(path, size, "bench-wheel-%u", static_cast<unsigned>(joystickId));
    }
    HANDLE Open(const char* path) override {
        return path != nullptr && path[0] != '\0' ? reinterpret_cast<HANDLE>(uintptr_t{0x100})
                                                  : nullptr;
    }
    uint8_t ReportId(HANDLE) override { return 0; }
    bool SendFeature(HANDLE, const uint8_t* report, uint32_t length) override {
        ++reports;
        // Keeps the levels observable so the computation cannot be dropped.
        levelSum += length == 4 ? report[1] + report[2] : 0;
        return true;
    }
    void Close(HANDLE) override {}

    uint64_t reports = 0;
    uint64_t levelSum = 0;
};

enum class Kind {
    Constant,
    Ramp,
    Square,
    Sine,
    Triangle,
    SawtoothUp,
    SawtoothDown,
    Spring,
    Mixed,
};

enum class LinkKind { Counting, VirtualWheel };

constexpr uint32_t kDevices = dravik::kDeviceCount;
constexpr uint32_t kSlots = dravik::kSlotCount;

uint32_t TypeFor(Kind kind, uint32_t slot) {
    switch (kind) {
        case Kind::Constant:
            return dravik::EffectConstant;
        case Kind::Ramp:
            return dravik::EffectRamp;
        case Kind::Square:
            return dravik::EffectSquare;
        case Kind::Sine:
            return dravik::EffectSine;
        case Kind::Triangle:
            return dravik::EffectTriangle;
        case Kind::SawtoothUp:
            return dravik::EffectSawtoothUp;
        case Kind::SawtoothDown:
            return dravik::EffectSawtoothDown;
        case Kind::Spring:
            return dravik::EffectSpring;
        case Kind::Mixed:
            break;
    }
    // Constant to sawtooth down and a spring, in turn.
    return slot % 8;
}

// The driver object with every slot of every device playing an effect of `kind`.
class TickRig {
  public:
    TickRig(Kind kind, LinkKind linkKind) : virtualWheel_(clock_) {
        if (install::WriteWheelData(registry_) != ERROR_SUCCESS) {
            std::abort();
        }
        dravik::DriverServices services;
        services.registry = &registry_;
        services.clock = &clock_;
        services.timer = &timer_;
        services.storeLock = &storeEvent_;
        services.link = linkKind == LinkKind::Counting
                            ? static_cast<wheel::DeviceLink*>(&countingLink_)
                            : static_cast<wheel::DeviceLink*>(&virtualWheel_);
        services.moduleCount = &moduleCount_;
        services.osClass = [] { return wheel::OsWinNT6; };
        services.sleep = [](uint32_t) {};
        driver_ = dravik::EffectDriver::Create(services);
        if (driver_ == nullptr || driver_->InitDriver() != S_OK) {
            std::abort();
        }
        for (uint32_t id = 0; id < kDevices; ++id) {
            virtualWheel_.Attach(id);
            if (driver_->DeviceID(0x0700, id, 1, 0, nullptr) != S_OK) {
                std::abort();
            }
            for (uint32_t slot = 0; slot < kSlots; ++slot) {
                Download(id, slot, TypeFor(kind, slot), kind == Kind::Mixed);
            }
        }
    }

    ~TickRig() { driver_->Release(); }

    TickRig(const TickRig&) = delete;
    TickRig& operator=(const TickRig&) = delete;

    // One 25 ms period, called the way the timer calls it.
    void Tick() {
        clock_.Advance(dravik::kTickPeriodMs);
        driver_->TimerTick();
    }

    uint64_t Reports() const { return countingLink_.reports; }
    uint64_t LevelSum() const { return countingLink_.levelSum; }

  private:
    void Download(uint32_t device, uint32_t slot, uint32_t type, bool vary) {
        DWORD axes[2] = {0x0002, 0x0102};
        LONG direction[2] = {3, 4};
        // Ten-second iterations with an attack and a fade, repeated without end, so the
        // envelope's every phase and the iteration step are part of the measurement.
        DIENVELOPE envelope = {sizeof(DIENVELOPE), 2000, 1000000, 2000, 1000000};
        DICONSTANTFORCE constant = {4000};
        DIRAMPFORCE ramp = {-3000, 6000};
        DIPERIODIC periodic = {6000, 500, 4500, 200000 + 1000 * slot};
        // A spring's DICONDITION: offset, two coefficients, two saturations, dead band.
        LONG condition[6] = {0, 5000, 5000, 10000, 10000, 100};

        DIEFFECT effect = {};
        effect.dwSize = sizeof(DIEFFECT);
        effect.dwFlags = vary && slot % 2 == 1 ? DIEFF_POLAR : DIEFF_CARTESIAN;
        effect.dwDuration = 10000000;
        effect.dwGain = 9000;
        effect.cAxes = 2;
        effect.rgdwAxes = axes;
        effect.rglDirection = direction;
        effect.lpEnvelope = &envelope;
        if (effect.dwFlags == DIEFF_POLAR) {
            direction[0] = static_cast<LONG>(slot * 1000);
        }
        switch (type) {
            case dravik::EffectConstant:
                effect.cbTypeSpecificParams = sizeof constant;
                effect.lpvTypeSpecificParams = &constant;
                break;
            case dravik::EffectRamp:
                effect.cbTypeSpecificParams = sizeof ramp;
                effect.lpvTypeSpecificParams = &ramp;
                break;
            case dravik::EffectSpring:
                effect.lpEnvelope = nullptr;
                effect.cbTypeSpecificParams = sizeof condition;
                effect.lpvTypeSpecificParams = condition;
                break;
            default:
                effect.cbTypeSpecificParams = sizeof periodic;
                effect.lpvTypeSpecificParams = &periodic;
                break;
        }
        DWORD handle = 0;
        if (driver_->DownloadEffect(device, type, &handle, &effect, 0) != S_OK ||
            handle != slot + 1 || driver_->StartEffect(device, handle, 0, 0xFFFFFFFFu) != S_OK) {
            std::abort();
        }
    }

    hosted::MemoryRegistry registry_;
    hosted::ManualClock clock_;
    hosted::ManualTimer timer_;
    hosted::AutoResetEvent storeEvent_;
    CountingLink countingLink_;
    hosted::VirtualWheel virtualWheel_;
    wheel::ModuleCount moduleCount_;
    dravik::EffectDriver* driver_ = nullptr;
};

// Enough ticks for the first reports, reopened handles and lazily built state to be behind us.
constexpr int kWarmUpTicks = 8;

void BM_Tick(benchmark::State& state, Kind kind, LinkKind link) {
    TickRig rig(kind, link);
    for (int i = 0; i < kWarmUpTicks; ++i) {
        rig.Tick();
    }
    const uint64_t allocationsBefore = bench::HeapAllocations();
    const uint64_t reportsBefore = rig.Reports();
    for (auto _ : state) {
        rig.Tick();
    }
    const uint64_t allocations = bench::HeapAllocations() - allocationsBefore;
    const double ticks = static_cast<double>(state.iterations());
    state.counters["allocs_per_tick"] = static_cast<double>(allocations) / ticks;
    state.counters["slots"] = kDevices * kSlots;
    if (link == LinkKind::Counting) {
        state.counters["reports_per_tick"] =
            static_cast<double>(rig.Reports() - reportsBefore) / ticks;
        benchmark::DoNotOptimize(rig.LevelSum());
        if (allocations != 0) {
            state.SkipWithError("the tick allocated on the heap");
        }
    }
}

BENCHMARK_CAPTURE(BM_Tick, constant, Kind::Constant, LinkKind::Counting)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, ramp, Kind::Ramp, LinkKind::Counting)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, square, Kind::Square, LinkKind::Counting)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, sine, Kind::Sine, LinkKind::Counting)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, triangle, Kind::Triangle, LinkKind::Counting)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, sawtooth_up, Kind::SawtoothUp, LinkKind::Counting)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, sawtooth_down, Kind::SawtoothDown, LinkKind::Counting)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, spring, Kind::Spring, LinkKind::Counting)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tick, mixed, Kind::Mixed, LinkKind::Counting)->Unit(benchmark::kMicrosecond);
// The virtual wheel records every report and tells its observer in text: it allocates, so
// this case shows the link's cost rather than the driver's.
BENCHMARK_CAPTURE(BM_Tick, mixed_virtual_wheel, Kind::Mixed, LinkKind::VirtualWheel)
    ->Unit(benchmark::kMicrosecond);

// Heap allocations of a tick after warm-up, for every kind of effect; the tick must make none.
bool TicksDoNotAllocate() {
    if (!bench::CountsAllocations()) {
        std::printf("heap allocations per tick: not counted in this build\n");
        return true;
    }
    const Kind kinds[] = {Kind::Constant,     Kind::Ramp,     Kind::Square,
                          Kind::Sine,         Kind::Triangle, Kind::SawtoothUp,
                          Kind::SawtoothDown, Kind::Spring,   Kind::Mixed};
    constexpr int kTicks = 400;
    uint64_t worst = 0;
    for (Kind kind : kinds) {
        TickRig rig(kind, LinkKind::Counting);
        for (int i = 0; i < kWarmUpTicks; ++i) {
            rig.Tick();
        }
        const uint64_t before = bench::HeapAllocations();
        for (int i = 0; i < kTicks; ++i) {
            rig.Tick();
        }
        const uint64_t allocations = bench::HeapAllocations() - before;
        worst = allocations > worst ? allocations : worst;
    }
    std::printf("heap allocations in %d ticks after warm-up (worst effect kind): %llu\n", kTicks,
                static_cast<unsigned long long>(worst));
    return worst == 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const bool noAllocations = TicksDoNotAllocate();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!noAllocations) {
        std::printf("FAILED: the tick allocates on the heap\n");
        return 1;
    }
    return 0;
}
