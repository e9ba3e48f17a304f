// Effect methods from several threads against the periodic tick, and teardown by whichever
// thread lets go last while effects still play. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "driver_fixture.h"
#include "ffdriver/driver_factory.h"

namespace {

using drivertest::AxisId;
using drivertest::Bytes;
using drivertest::DriverRig;
using drivertest::Effect;
using drivertest::kDiVersion;

using Clock = std::chrono::steady_clock;

constexpr DWORD kDevices = 4;
constexpr uint8_t kReportId = 5;

// Something DirectInput might hand over, valid or not in its numbers.
Effect RandomEffect(std::mt19937& random, uint32_t type) {
    auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    Effect effect;
    switch (type) {
        case dravik::EffectConstant:
            effect = Effect::Constant(static_cast<LONG>(pick(20001)) - 10000);
            break;
        case dravik::EffectRamp:
            effect = Effect::Ramp(static_cast<LONG>(pick(20001)) - 10000,
                                  static_cast<LONG>(pick(20001)) - 10000);
            break;
        default: {
            const DWORD periods[] = {0, 1, 25000, 100000, 1000000};
            effect = Effect::Periodic(pick(10001), static_cast<LONG>(pick(20001)) - 10000,
                                      pick(36000), periods[pick(5)]);
            break;
        }
    }
    std::vector<LONG> direction(pick(4));
    for (LONG& d : direction) {
        d = static_cast<LONG>(random());
    }
    const DWORD flags[] = {DIEFF_CARTESIAN, DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS, DIEFF_POLAR,
                           DIEFF_SPHERICAL};
    effect.Cartesian(direction).Flags(flags[pick(4)]);
    const DWORD durations[] = {INFINITE, INFINITE, 0, 1000, 50000, 500000};
    effect.Duration(durations[pick(6)]).Gain(pick(10001));
    if (pick(3) == 0) {
        effect.Envelope(pick(10001), pick(200000), pick(10001), pick(200000));
    }
    return effect;
}

// One thread's share: random effect calls on the shared devices until the time is up.
void Hammer(dravik::EffectDriver* driver, unsigned seed, Clock::time_point until,
            hosted::ManualClock& clock) {
    std::mt19937 random(seed);
    auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    int calls = 0;
    while (Clock::now() < until || calls < 200) {
        ++calls;
        clock.Advance(pick(7));
        const DWORD id = pick(kDevices);
        const DWORD handle = 1 + pick(dravik::kSlotCount);
        switch (pick(12)) {
            case 0:
            case 1:
            case 2: {
                const uint32_t type = pick(dravik::kEffectTypeCount);
                const Effect effect = RandomEffect(random, type);
                const DIEFFECT e = effect.Build();
                DWORD newHandle = 0;
                driver->DownloadEffect(id, type, &newHandle, &e, pick(2) == 0 ? DIEP_START : 0);
                break;
            }
            case 3: {
                const uint32_t type = pick(dravik::kEffectTypeCount);
                const Effect effect = RandomEffect(random, type);
                const DIEFFECT e = effect.Build();
                DWORD existing = handle;
                const DWORD masks[] = {DIEP_GAIN, DIEP_AXES, DIEP_DIRECTION,
                                       DIEP_TYPESPECIFICPARAMS | DIEP_ENVELOPE,
                                       DIEP_ALLPARAMS | DIEP_START};
                driver->DownloadEffect(id, type, &existing, &e, masks[pick(5)]);
                break;
            }
            case 4:
            case 5:
                driver->StartEffect(id, handle, pick(4) == 0 ? DIES_SOLO : 0, 1 + pick(3));
                break;
            case 6:
                driver->StopEffect(id, handle);
                break;
            case 7:
                driver->DestroyEffect(id, handle);
                break;
            case 8: {
                DWORD status = 0;
                driver->GetEffectStatus(id, handle, &status);
                EXPECT_LE(status, 1u);
                break;
            }
            case 9:
                driver->SetGain(id, pick(10001));
                break;
            case 10:
                driver->SendForceFeedbackCommand(id, pick(8) == 0 ? DISFFC_RESET : DISFFC_STOPALL);
                break;
            default:
                // DirectInput binding the device again replaces the handle under the tick.
                driver->DeviceID(kDiVersion, id, TRUE, 0, nullptr);
                break;
        }
    }
}

// Every report the wheel got: four bytes, a motor-B switch and an even motor-A level outside
// the dead band.
void ExpectWellFormed(const std::vector<hosted::VirtualWheel::Report>& reports) {
    size_t bad = 0;
    for (const auto& report : reports) {
        const Bytes& b = report.bytes;
        const bool ok = report.length == 4 && b[0] == kReportId && b[1] <= 1 && b[3] == 0 &&
                        b[2] % 2 == 0 && (b[2] == 0 || b[2] >= 50);
        if (!ok && ++bad <= 5) {
            ADD_FAILURE() << "report " << int{b[0]} << " " << int{b[1]} << " " << int{b[2]} << " "
                          << int{b[3]} << " length " << report.length;
        }
    }
    EXPECT_EQ(bad, 0u);
}

TEST(ConcurrencyStress, EffectCallsAgainstTicksThenTeardownByTheLastReference) {
    DriverRig rig(/*realTimer=*/true);
    ASSERT_EQ(rig.CreateDriver(), S_OK);
    rig.virtualWheel.SetReportId(kReportId);
    for (DWORD id = 0; id < kDevices; ++id) {
        ASSERT_EQ(rig.Bind(id), S_OK);
    }
    dravik::EffectDriver* driver = rig.driver;
    rig.driver = nullptr;  // the threads hold the references from here on

    const auto until = Clock::now() + std::chrono::milliseconds(600);
    std::atomic<int> ticks{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 3; ++t) {
        driver->AddRef();
        threads.emplace_back([driver, t, until, &rig] {
            Hammer(driver, 1000 + t, until, rig.clock);
            // Leave something playing for the teardown to stop.
            const Effect effect = Effect::Constant(10000);
            const DIEFFECT e = effect.Build();
            DWORD handle = 0;
            driver->DownloadEffect(t % kDevices, dravik::EffectConstant, &handle, &e, DIEP_START);
            driver->Release();
        });
    }
    // Ticks far more often than the timer's 25 ms, for more interleavings.
    driver->AddRef();
    threads.emplace_back([driver, until, &ticks] {
        while (Clock::now() < until || ticks.load() < 50) {
            driver->TimerTick();
            ticks.fetch_add(1);
            std::this_thread::yield();
        }
        driver->Release();
    });
    // The wheel goes away and comes back in the first half.
    const auto replugUntil = Clock::now() + std::chrono::milliseconds(250);
    int unplugs = 0;
    while (Clock::now() < replugUntil || unplugs < 3) {
        rig.virtualWheel.Unplug();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rig.virtualWheel.Plug();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++unplugs;
    }
    // DirectInput binds the devices again once the wheel is back (a binding while it was away
    // found no path), and every device is fed again before this thread lets go.
    std::vector<size_t> seen(kDevices);
    for (DWORD id = 0; id < kDevices; ++id) {
        EXPECT_EQ(driver->DeviceID(kDiVersion, id, TRUE, 0, nullptr), S_OK);
        seen[id] = rig.virtualWheel.ReportsFor(id).size();
    }
    for (DWORD id = 0; id < kDevices; ++id) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (rig.virtualWheel.ReportsFor(id).size() <= seen[id] && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_GT(rig.virtualWheel.ReportsFor(id).size(), seen[id]) << "device " << id;
    }
    driver->Release();
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_GE(ticks.load(), 50);
    EXPECT_EQ(rig.moduleCount.Value(), 0) << "the object is gone";
    EXPECT_EQ(rig.virtualWheel.OpenHandles(), 0u) << "every handle closed";
    EXPECT_EQ(rig.registry.OpenHandles(), 0u) << "every registry key closed";
    const auto reports = rig.virtualWheel.Reports();
    ASSERT_FALSE(reports.empty());
    ExpectWellFormed(reports);
    // Teardown ended with all-off reports: the wheel was in place and every record open.
    for (DWORD id = 0; id < kDevices; ++id) {
        EXPECT_EQ(rig.LastReport(id), (Bytes{kReportId, 0, 0, 0})) << "device " << id;
    }
    // Nothing reaches the wheel after the end.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(rig.virtualWheel.Reports().size(), reports.size());
}

TEST(ConcurrencyStress, StopsAndDownloadsOnAllSlotsWhileTheTimerTicks) {
    DriverRig rig(/*realTimer=*/true);
    ASSERT_EQ(rig.CreateDriver(), S_OK);
    rig.virtualWheel.SetReportId(kReportId);
    ASSERT_EQ(rig.Bind(0), S_OK);
    ASSERT_EQ(rig.Bind(1), S_OK);
    dravik::EffectDriver* driver = rig.driver;

    // Two threads per device fill every slot, play, stop and free them, over and over.
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    std::atomic<int> shared{0};
    // Who holds each handle of each device; a handle given to two threads at once shows here.
    std::atomic<int> owner[2][dravik::kSlotCount + 1] = {};
    for (DWORD id = 0; id < 2; ++id) {
        for (int half = 0; half < 2; ++half) {
            threads.emplace_back([driver, id, half, until, &refused, &shared, &owner, &rig] {
                const Effect effect = Effect::Periodic(10000, 0, 0, 50000);
                const DIEFFECT e = effect.Build();
                int rounds = 0;
                while (Clock::now() < until || rounds < 3) {
                    ++rounds;
                    std::vector<DWORD> mine;
                    for (int k = 0; k < 16; ++k) {
                        DWORD handle = 0;
                        const HRESULT hr =
                            driver->DownloadEffect(id, dravik::EffectSquare, &handle, &e, 0);
                        if (hr == E_FAIL) {
                            refused.fetch_add(1);
                            continue;
                        }
                        EXPECT_EQ(hr, S_OK);
                        EXPECT_GE(handle, 1u);
                        EXPECT_LE(handle, dravik::kSlotCount);
                        if (handle < 1 || handle > dravik::kSlotCount) {
                            continue;
                        }
                        int nobody = 0;
                        if (!owner[id][handle].compare_exchange_strong(nobody, half + 1)) {
                            shared.fetch_add(1);
                        }
                        mine.push_back(handle);
                        driver->StartEffect(id, handle, 0, 0);
                        rig.clock.Advance(1);
                    }
                    for (DWORD handle : mine) {
                        driver->StopEffect(id, handle);
                    }
                    for (DWORD handle : mine) {
                        owner[id][handle].store(0);
                        EXPECT_EQ(driver->DestroyEffect(id, handle), S_OK);
                    }
                }
            });
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Two threads of 16 each fit the 32 slots exactly: a handle was never shared or lost.
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(shared.load(), 0);
    for (DWORD id = 0; id < 2; ++id) {
        for (DWORD handle = 1; handle <= dravik::kSlotCount; ++handle) {
            EXPECT_EQ(rig.Slot(id, handle).inUse, 0u) << id << " " << handle;
        }
    }
    ExpectWellFormed(rig.virtualWheel.Reports());
    rig.ReleaseDriver();
    EXPECT_EQ(rig.moduleCount.Value(), 0);
    EXPECT_EQ(rig.virtualWheel.OpenHandles(), 0u);
}

TEST(ConcurrencyStress, FactoryHandsOutLiveObjectsWhileOthersDie) {
    DriverRig rig;
    ASSERT_EQ(install::WriteWheelData(rig.registry), ERROR_SUCCESS);
    void* out = nullptr;
    ASSERT_EQ(
        dravik::GetDriverClassObject(rig.services, wheel::kDravikClsid, IID_IClassFactory, &out),
        S_OK);
    auto* factory = static_cast<IClassFactory*>(out);

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([factory, &failures] {
            for (int i = 0; i < 150; ++i) {
                void* object = nullptr;
                if (factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver, &object) !=
                        S_OK ||
                    object == nullptr) {
                    failures.fetch_add(1);
                    continue;
                }
                auto* driver = static_cast<IDirectInputEffectDriver*>(object);
                // The object handed out is alive: it answers and counts.
                if (driver->SetGain(0, 5000) != S_OK) {
                    failures.fetch_add(1);
                }
                driver->Release();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(rig.moduleCount.Value(), 1) << "only the factory is left";
    factory->Release();
    EXPECT_EQ(rig.moduleCount.Value(), 0);
}

}  // namespace
