// The effect store: handing out handles, copying a caller's parameters into a slot, updating,
// starting, stopping and destroying effects, and what a failed allocation leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace {

using drivertest::AxisId;
using drivertest::Bytes;
using drivertest::DriverTest;
using drivertest::Effect;
using drivertest::FailingAllocations;
using drivertest::kPlaying;

class EffectStore : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(Bind(0), S_OK);
        ASSERT_EQ(Bind(1), S_OK);
    }

    // True when no slot of the device holds an effect.
    bool AllFree(DWORD id) {
        for (DWORD handle = 1; handle <= dravik::kSlotCount; ++handle) {
            if (Slot(id, handle).inUse != 0) {
                return false;
            }
        }
        return true;
    }

    // The slot's buffers and counts, read under the driver's lock.
    struct Stored {
        dravik::EffectSlot fields;
        std::vector<DWORD> axes;
        std::vector<LONG> direction;
        bool hasEnvelope = false;
        DIENVELOPE envelope = {};
        std::vector<uint8_t> specific;
    };
    Stored Read(DWORD id, DWORD handle) {
        Stored out;
        driver->VisitSlot(id, handle, [&out](const dravik::EffectSlot& slot) {
            out.fields = slot;
            const DIEFFECT& p = slot.params;
            if (p.rgdwAxes != nullptr) {
                out.axes.assign(p.rgdwAxes, p.rgdwAxes + slot.axesLength);
            }
            if (p.rglDirection != nullptr) {
                out.direction.assign(p.rglDirection, p.rglDirection + slot.directionLength);
            }
            if (p.lpEnvelope != nullptr) {
                out.hasEnvelope = true;
                out.envelope = *p.lpEnvelope;
            }
            if (p.lpvTypeSpecificParams != nullptr) {
                const auto* bytes = static_cast<const uint8_t*>(p.lpvTypeSpecificParams);
                out.specific.assign(bytes, bytes + p.cbTypeSpecificParams);
            }
        });
        return out;
    }
};

TEST_F(EffectStore, HandlesAreTheLowestFreeSlotsOneTo32PerDevice) {
    for (DWORD expected = 1; expected <= 32; ++expected) {
        EXPECT_EQ(Download(0, dravik::EffectConstant, Effect::Constant(100)), expected);
    }
    const Effect eSource = Effect::Constant(100);
    const DIEFFECT e = eSource.Build();
    DWORD handle = 0;
    EXPECT_EQ(driver->DownloadEffect(0, dravik::EffectConstant, &handle, &e, 0), E_FAIL);
    EXPECT_EQ(handle, 0u) << "left as it was";
    EXPECT_EQ(Download(1, dravik::EffectConstant, Effect::Constant(100)), 1u) << "own slots";

    EXPECT_EQ(driver->DestroyEffect(0, 5), S_OK);
    EXPECT_EQ(driver->DestroyEffect(0, 9), S_OK);
    EXPECT_EQ(Download(0, dravik::EffectSine, Effect::Periodic(1, 0, 0, 1000)), 5u);
    EXPECT_EQ(Download(0, dravik::EffectSine, Effect::Periodic(1, 0, 0, 1000)), 9u);
    EXPECT_EQ(driver->DownloadEffect(0, dravik::EffectConstant, &handle, &e, 0), E_FAIL);
}

TEST_F(EffectStore, DownloadRefusesInconsistentRequestsAndChangesNothing) {
    const DWORD existing = Play(0, dravik::EffectConstant, Effect::Constant(10000));
    ASSERT_EQ(existing, 1u);
    DWORD axes[2] = {AxisId(0), AxisId(1)};
    LONG direction[2] = {0, 1};
    DICONSTANTFORCE force = {2000};
    struct Row {
        const char* what;
        DWORD id;
        DWORD type;
        DWORD handle;
        void (*spoil)(DIEFFECT&);
    };
    const Row rows[] = {
        {"device 16", 16, 0, 0, nullptr},
        {"type 12", 0, 12, 0, nullptr},
        {"handle 33", 0, 0, 33, nullptr},
        {"two axes, no direction", 0, 0, 0, [](DIEFFECT& e) { e.rglDirection = nullptr; }},
        {"two axes, no axis IDs", 0, 0, 0, [](DIEFFECT& e) { e.rgdwAxes = nullptr; }},
        {"no axes, axis IDs", 0, 0, 0,
         [](DIEFFECT& e) {
             e.cAxes = 0;
             e.rglDirection = nullptr;
         }},
        {"no axes, direction", 0, 0, 0,
         [](DIEFFECT& e) {
             e.cAxes = 0;
             e.rgdwAxes = nullptr;
         }},
        {"size without block", 0, 0, 0, [](DIEFFECT& e) { e.lpvTypeSpecificParams = nullptr; }},
        {"block without size", 0, 0, 0, [](DIEFFECT& e) { e.cbTypeSpecificParams = 0; }},
        {"update: size without block", 0, 0, existing,
         [](DIEFFECT& e) { e.lpvTypeSpecificParams = nullptr; }},
    };
    for (const Row& row : rows) {
        DIEFFECT e = {};
        e.dwFlags = DIEFF_CARTESIAN;
        e.dwDuration = INFINITE;
        e.dwGain = 10000;
        e.cAxes = 2;
        e.rgdwAxes = axes;
        e.rglDirection = direction;
        e.cbTypeSpecificParams = sizeof force;
        e.lpvTypeSpecificParams = &force;
        if (row.spoil != nullptr) {
            row.spoil(e);
        }
        DWORD handle = row.handle;
        EXPECT_EQ(
            driver->DownloadEffect(row.id, row.type, &handle, &e, DIEP_ALLPARAMS | DIEP_START),
            E_INVALIDARG)
            << row.what;
        EXPECT_EQ(handle, row.handle) << row.what;
    }
    const Effect goodSource = Effect::Constant(1);
    const DIEFFECT good = goodSource.Build();
    DWORD handle = 0;
    EXPECT_EQ(driver->DownloadEffect(0, 0, nullptr, &good, 0), E_INVALIDARG);
    EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, nullptr, 0), E_INVALIDARG);

    // Only the first effect exists, unchanged and playing.
    EXPECT_EQ(Slot(0, 2).inUse, 0u);
    EXPECT_EQ(Read(0, existing).specific.size(), sizeof(DICONSTANTFORCE));
    EXPECT_EQ(Read(0, existing).direction, (std::vector<LONG>{1, 0}));
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));

    // No axes and no arrays at all is a valid, silent effect.
    const Effect axislessSource = Effect::Constant(10000);
    DIEFFECT axisless = axislessSource.Build();
    axisless.cAxes = 0;
    axisless.rgdwAxes = nullptr;
    axisless.rglDirection = nullptr;
    handle = 0;
    EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, &axisless, DIEP_START), S_OK);
    EXPECT_EQ(handle, 2u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0})) << "it adds nothing";
}

TEST_F(EffectStore, EffectMethodsRefuseBadDevicesAndHandles) {
    DWORD status = 0xABCD;
    for (DWORD handle : {0u, 33u, 0xFFFFFFFFu}) {
        EXPECT_EQ(driver->DestroyEffect(0, handle), E_INVALIDARG) << handle;
        EXPECT_EQ(driver->StartEffect(0, handle, 0, 1), E_INVALIDARG) << handle;
        EXPECT_EQ(driver->StopEffect(0, handle), E_INVALIDARG) << handle;
        EXPECT_EQ(driver->GetEffectStatus(0, handle, &status), E_INVALIDARG) << handle;
    }
    EXPECT_EQ(driver->DestroyEffect(16, 1), E_INVALIDARG);
    EXPECT_EQ(driver->StartEffect(16, 1, 0, 1), E_INVALIDARG);
    EXPECT_EQ(driver->StopEffect(16, 1), E_INVALIDARG);
    EXPECT_EQ(driver->GetEffectStatus(16, 1, &status), E_INVALIDARG);
    EXPECT_EQ(driver->GetEffectStatus(0, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(status, 0xABCDu);
    EXPECT_TRUE(virtualWheel.Reports().empty()) << "no stop reached the wheel";
}

TEST_F(EffectStore, NoDownloadFlagStoresNothing) {
    const Effect eSource = Effect::Constant(10000);
    const DIEFFECT e = eSource.Build();
    DWORD handle = 0;
    EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, &e, DIEP_NODOWNLOAD | DIEP_START), S_OK);
    EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(AllFree(0));

    // On an existing effect it neither updates nor starts.
    handle = Download(0, dravik::EffectConstant, Effect::Constant(3000));
    ASSERT_EQ(handle, 1u);
    EXPECT_EQ(
        driver->DownloadEffect(0, 0, &handle, &e, DIEP_NODOWNLOAD | DIEP_ALLPARAMS | DIEP_START),
        S_OK);
    EXPECT_EQ(handle, 1u);
    EXPECT_EQ(Status(0, 1), 0u);
    const DICONSTANTFORCE stored = {3000};
    const auto specific = Read(0, 1).specific;
    ASSERT_EQ(specific.size(), sizeof stored);
    EXPECT_EQ(std::memcmp(specific.data(), &stored, sizeof stored), 0);
}

TEST_F(EffectStore, NewEffectTakesEveryParameterWhateverTheFlags) {
    Effect effect = Effect::Periodic(7000, -200, 9000, 40000)
                        .Polar({4500, 0})
                        .Duration(1500000)
                        .Gain(8000)
                        .Envelope(1000, 200000, 3000, 300000);
    effect.Axes({AxisId(1), AxisId(0)});
    DIEFFECT e = effect.Build();
    e.dwSamplePeriod = 11;
    e.dwTriggerButton = 12;
    e.dwTriggerRepeatInterval = 13;
    e.dwStartDelay = 14;
    DWORD handle = 0;
    ASSERT_EQ(driver->DownloadEffect(0, dravik::EffectTriangle, &handle, &e, 0), S_OK);
    ASSERT_EQ(handle, 1u);

    const Stored s = Read(0, 1);
    const DIEFFECT& p = s.fields.params;
    EXPECT_EQ(s.fields.inUse, 1u);
    EXPECT_EQ(s.fields.effectType, static_cast<uint32_t>(dravik::EffectTriangle));
    EXPECT_EQ(s.fields.playState, 0u) << "downloaded, not started";
    EXPECT_EQ(p.dwSize, 0u) << "never copied";
    EXPECT_EQ(p.dwStartDelay, 0u) << "never copied";
    EXPECT_EQ(p.dwFlags, static_cast<DWORD>(DIEFF_POLAR));
    EXPECT_EQ(p.dwDuration, 1500000u);
    EXPECT_EQ(p.dwGain, 8000u);
    EXPECT_EQ(p.dwSamplePeriod, 11u);
    EXPECT_EQ(p.dwTriggerButton, 12u);
    EXPECT_EQ(p.dwTriggerRepeatInterval, 13u);
    EXPECT_EQ(p.cAxes, 2u);
    EXPECT_EQ(s.axes, (std::vector<DWORD>{AxisId(1), AxisId(0)}));
    EXPECT_EQ(s.direction, (std::vector<LONG>{4500, 0}));
    ASSERT_TRUE(s.hasEnvelope);
    EXPECT_EQ(s.envelope.dwAttackLevel, 1000u);
    EXPECT_EQ(s.envelope.dwAttackTime, 200000u);
    EXPECT_EQ(s.envelope.dwFadeLevel, 3000u);
    EXPECT_EQ(s.envelope.dwFadeTime, 300000u);
    const DIEFFECT caller = effect.Build();
    ASSERT_EQ(s.specific.size(), sizeof(DIPERIODIC));
    EXPECT_EQ(std::memcmp(s.specific.data(), caller.lpvTypeSpecificParams, sizeof(DIPERIODIC)), 0);
    // The slot owns copies, not the caller's memory.
    EXPECT_NE(p.rgdwAxes, caller.rgdwAxes);
    EXPECT_NE(p.lpvTypeSpecificParams, caller.lpvTypeSpecificParams);
}

TEST_F(EffectStore, UpdateChangesOnlyTheSelectedParametersAndKeepsTiming) {
    // A ramp over two seconds: 63.5 at one second.
    const DWORD handle = Play(0, dravik::EffectRamp, Effect::Ramp(0, 10000).Duration(2000000));
    ASSERT_EQ(handle, 1u);
    for (int i = 0; i < 39; ++i) {
        Tick();
    }
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 126, 0})) << "levels 63 and 0";
    const dravik::EffectSlot before = Slot(0, handle);

    // Only the gain changes; the flags come along, everything else stays.
    const Effect updateSource = Effect::Ramp(10000, 0).Duration(7).Gain(5000).Cartesian({0, 1});
    DIEFFECT update = updateSource.Build();
    DWORD h = handle;
    ASSERT_EQ(
        driver->DownloadEffect(0, dravik::EffectRamp, &h, &update, DIEP_GAIN | DIEP_NORESTART),
        S_OK);
    EXPECT_EQ(h, handle);
    const Stored after = Read(0, handle);
    EXPECT_EQ(after.fields.params.dwGain, 5000u);
    EXPECT_EQ(after.fields.params.dwDuration, 2000000u);
    EXPECT_EQ(after.direction, (std::vector<LONG>{1, 0}));
    EXPECT_EQ(after.fields.startTick, before.startTick);
    EXPECT_EQ(after.fields.iterationsLeft, before.iterationsLeft);
    EXPECT_EQ(after.fields.playState, 1u);
    // At 1.025 s: 5125 x 127 x 0.5 / 10000 = 32.5, the ramp went on from where it was.
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 64, 0}));
}

TEST_F(EffectStore, UpdateCanReplaceTypeBlockAndDirection) {
    const DWORD handle = Play(0, dravik::EffectConstant, Effect::Constant(10000));
    ASSERT_EQ(handle, 1u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));
    // Now a square wave pushing motor B, from the same handle.
    const Effect updateSource = Effect::Periodic(10000, 0, 0, 1000000).Cartesian({0, 1});
    DIEFFECT update = updateSource.Build();
    DWORD h = handle;
    ASSERT_EQ(driver->DownloadEffect(0, dravik::EffectSquare, &h, &update,
                                     DIEP_TYPESPECIFICPARAMS | DIEP_DIRECTION),
              S_OK);
    EXPECT_EQ(Read(0, handle).fields.effectType, static_cast<uint32_t>(dravik::EffectSquare));
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 0, 0}));
}

TEST_F(EffectStore, StartFlagStartsOneIterationAndReturnsStartsResult) {
    clock.Set(777000);
    const DWORD handle = Download(0, dravik::EffectConstant, Effect::Constant(10000), DIEP_START);
    ASSERT_EQ(handle, 1u);
    dravik::EffectSlot slot = Slot(0, handle);
    EXPECT_EQ(slot.playState, 1u);
    EXPECT_EQ(slot.iterationsLeft, 1u);
    EXPECT_EQ(slot.startTick, 777000u);
    EXPECT_EQ(slot.elapsedMs, 0u);

    // An update with the start flag restarts from the beginning with one iteration.
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 5), S_OK);
    clock.Advance(300);
    const Effect eSource = Effect::Constant(10000);
    const DIEFFECT e = eSource.Build();
    DWORD h = handle;
    EXPECT_EQ(driver->DownloadEffect(0, 0, &h, &e, DIEP_START), S_OK);
    slot = Slot(0, handle);
    EXPECT_EQ(slot.startTick, 777300u);
    EXPECT_EQ(slot.iterationsLeft, 1u);
}

TEST_F(EffectStore, StartingAgainRestartsFromTheBeginning) {
    const DWORD handle = Download(0, dravik::EffectRamp, Effect::Ramp(0, 10000).Duration(2000000));
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 126, 0}));
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0})) << "back near lStart";
}

TEST_F(EffectStore, IterationsEndTheEffect) {
    struct Row {
        DWORD count;
        DWORD durationUs;
        uint32_t playingAtMs;  // still playing at this time
        uint32_t stoppedByMs;  // stopped by this time
    };
    const Row rows[] = {
        {1, 500000, 500, 600},
        {2, 500000, 1000, 1100},
        {3, 1000000, 2950, 3100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        const DWORD handle =
            Download(0, dravik::EffectConstant, Effect::Constant(10000).Duration(row.durationUs));
        ASSERT_EQ(driver->StartEffect(0, handle, 0, row.count), S_OK);
        uint32_t elapsed = 0;
        while (elapsed + 25 <= row.playingAtMs) {
            elapsed += 25;
            EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0})) << elapsed;
        }
        EXPECT_EQ(Status(0, handle), kPlaying);
        while (elapsed + 25 <= row.stoppedByMs) {
            elapsed += 25;
            Tick();
        }
        EXPECT_EQ(Status(0, handle), 0u);
        EXPECT_EQ(Slot(0, handle).playState, 3u);
        EXPECT_EQ(Slot(0, handle).inUse, 1u) << "ended, still downloaded";
        EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    }
}

TEST_F(EffectStore, CountZeroRepeatsLikeEndless) {
    const DWORD handle =
        Download(0, dravik::EffectConstant, Effect::Constant(10000).Duration(100000));
    ASSERT_EQ(driver->StartEffect(0, handle, 0, 0), S_OK);
    for (int i = 0; i < 400; ++i) {
        Tick();
    }
    EXPECT_EQ(Status(0, handle), kPlaying);
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 254, 0}));
}

TEST_F(EffectStore, SoloStopsTheOtherEffectsOfItsDeviceOnly) {
    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 1u);
    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian({0, 1})), 2u);
    ASSERT_EQ(Download(0, dravik::EffectConstant, Effect::Constant(5000)), 3u);
    ASSERT_EQ(Play(1, dravik::EffectConstant, Effect::Constant(10000)), 1u);

    // Neither of these modes is exactly solo: nothing stops.
    const DWORD modes[] = {DIES_NODOWNLOAD, DIES_SOLO | DIES_NODOWNLOAD, 2u};
    for (DWORD mode : modes) {
        ASSERT_EQ(driver->StartEffect(0, 3, mode, 1), S_OK);
        EXPECT_EQ(Status(0, 1), kPlaying) << mode;
        EXPECT_EQ(Status(0, 2), kPlaying) << mode;
    }

    ASSERT_EQ(driver->StartEffect(0, 3, DIES_SOLO, 1), S_OK);
    EXPECT_EQ(Status(0, 1), 0u);
    EXPECT_EQ(Status(0, 2), 0u);
    EXPECT_EQ(Status(0, 3), kPlaying);
    EXPECT_EQ(Status(1, 1), kPlaying) << "another device's effect plays on";
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 126, 0})) << "only the solo effect";
    EXPECT_EQ(TickReport(1), (Bytes{0, 0, 254, 0}));
}

TEST_F(EffectStore, StopSwitchesOffAtOnceAndTheOtherEffectReturnsOnTheNextTick) {
    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 1u);
    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian({0, 1})), 2u);
    ASSERT_EQ(TickReport(0), (Bytes{0, 1, 254, 0}));
    const size_t before = ReportsFor(0).size();

    EXPECT_EQ(driver->StopEffect(0, 2), S_OK);
    ASSERT_EQ(ReportsFor(0).size(), before + 1) << "sent by the stop, not by a tick";
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Status(0, 2), 0u);
    EXPECT_EQ(Status(0, 1), kPlaying);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));

    // Stopping a device that is not bound reaches no wheel and still succeeds.
    ASSERT_EQ(Play(4, dravik::EffectConstant, Effect::Constant(10000)), 1u);
    EXPECT_EQ(driver->StopEffect(4, 1), S_OK);
    EXPECT_EQ(Status(4, 1), 0u);
    EXPECT_TRUE(virtualWheel.ReportsFor(4).empty());
}

TEST_F(EffectStore, DestroyFreesTheSlotEvenIfNothingWasThere) {
    EXPECT_EQ(driver->DestroyEffect(0, 17), S_OK) << "never downloaded";
    EXPECT_EQ(Slot(0, 17).inUse, 0u);
    EXPECT_EQ(Slot(0, 17).playState, 0u);

    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000).Envelope(0, 10, 0, 10)), 1u);
    ASSERT_EQ(Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian({0, 1})), 2u);
    EXPECT_EQ(driver->DestroyEffect(0, 1), S_OK);
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0})) << "destroying stops at once";
    const Stored s = Read(0, 1);
    EXPECT_EQ(s.fields.inUse, 0u);
    EXPECT_EQ(s.fields.playState, 0u) << "cleared, not just stopped";
    EXPECT_FALSE(s.hasEnvelope);
    EXPECT_TRUE(s.axes.empty());
    EXPECT_EQ(Status(0, 1), 0u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(driver->DestroyEffect(0, 1), S_OK) << "twice";
}

TEST_F(EffectStore, StartingAFreeSlotPlaysNothing) {
    EXPECT_EQ(driver->StartEffect(0, 8, 0, 1), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    // An update into a free slot does not make it in use either.
    const Effect eSource = Effect::Constant(10000);
    const DIEFFECT e = eSource.Build();
    DWORD handle = 8;
    EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, &e, DIEP_ALLPARAMS), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Download(0, dravik::EffectConstant, Effect::Constant(1)), 1u);
}

TEST_F(EffectStore, FailedAllocationFreesTheSlotAndLeaksNothing) {
    // One allocation each for the axes, the direction, the envelope and the type block.
    const Effect full = Effect::Constant(10000).Envelope(0, 10, 0, 10);
    for (int successes = 0; successes < 4; ++successes) {
        SCOPED_TRACE(successes);
        const DIEFFECT e = full.Build();
        DWORD handle = 0;
        {
            FailingAllocations failing(successes);
            EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, &e, DIEP_START), E_OUTOFMEMORY);
        }
        EXPECT_EQ(handle, 0u);
        const Stored s = Read(0, 1);
        EXPECT_EQ(s.fields.inUse, 0u);
        EXPECT_EQ(s.fields.playState, 0u) << "not started";
        EXPECT_EQ(s.fields.params.rgdwAxes, nullptr);
        EXPECT_EQ(s.fields.params.rglDirection, nullptr);
        EXPECT_EQ(s.fields.params.lpEnvelope, nullptr);
        EXPECT_EQ(s.fields.params.lpvTypeSpecificParams, nullptr);
    }
    // The same slot is handed out once memory is back.
    EXPECT_EQ(Play(0, dravik::EffectConstant, full), 1u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));

    // A failed update frees the effect's slot too.
    DWORD handle = 1;
    const Effect eSource = Effect::Constant(5000).Cartesian({1, 1, 1});
    const DIEFFECT e = eSource.Build();
    {
        FailingAllocations failing(1);
        EXPECT_EQ(driver->DownloadEffect(0, 0, &handle, &e, DIEP_AXES | DIEP_DIRECTION),
                  E_OUTOFMEMORY);
    }
    EXPECT_EQ(handle, 0u);
    const Stored s = Read(0, 1);
    EXPECT_EQ(s.fields.inUse, 0u);
    EXPECT_TRUE(s.axes.empty());
    EXPECT_FALSE(s.hasEnvelope);
    // Its play state and timing are not the copy's to change: the status still reads playing,
    // though a free slot adds nothing.
    EXPECT_EQ(s.fields.playState, 1u);
    EXPECT_EQ(s.fields.startTick, 50000u);
    EXPECT_EQ(s.fields.iterationsLeft, 1u);
    EXPECT_EQ(Status(0, 1), kPlaying);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Download(0, dravik::EffectConstant, full), 1u);
}

TEST_F(EffectStore, NewEffectKeepsThePlayStateAndTimingOfItsSlot) {
    // A free slot may be started; the effect downloaded into it later plays from that start.
    ASSERT_EQ(driver->StartEffect(0, 1, 0, 2), S_OK);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0})) << "nothing to play yet";
    ASSERT_EQ(Download(0, dravik::EffectConstant, Effect::Constant(10000)), 1u);
    const dravik::EffectSlot slot = Slot(0, 1);
    EXPECT_EQ(slot.inUse, 1u);
    EXPECT_EQ(slot.playState, 1u);
    EXPECT_EQ(slot.startTick, 50000u);
    EXPECT_EQ(slot.iterationsLeft, 2u);
    EXPECT_EQ(Status(0, 1), kPlaying);
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 254, 0}));
    EXPECT_EQ(Slot(0, 1).elapsedMs, 50u) << "timed from its start";
}

TEST_F(EffectStore, ArraySizesThatDoNotFitAreAllocationFailures) {
    // Refuses what no test needs, so a 64-bit build fails the big requests without touching
    // memory; a 32-bit build must never ask for a size that wrapped around.
    struct LimitedAllocations {
        static void* Allocate(size_t size) {
            return size <= (size_t{1} << 20) ? std::malloc(size) : nullptr;
        }
        dravik::EffectAllocator previous = dravik::SetEffectAllocator(&Allocate);
        ~LimitedAllocations() { dravik::SetEffectAllocator(previous); }
    };
    struct Row {
        const char* what;
        bool update;
        DWORD cAxes;  // 32-bit sizes of 4, 0 and 8 bytes when wrapped
        DWORD mask;
    };
    const Row rows[] = {
        {"new effect", false, 0x40000001u, 0},
        {"new effect, wraps to no bytes", false, 0x40000000u, 0},
        {"update of the axes alone", true, 0x40000001u, DIEP_AXES},
        {"update of the direction alone", true, 0x40000002u, DIEP_DIRECTION},
    };
    DWORD axes[4] = {AxisId(0), AxisId(1), AxisId(0), AxisId(1)};
    LONG direction[4] = {1, 0, 1, 0};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        DWORD handle = 0;
        if (row.update) {
            handle = Play(0, dravik::EffectConstant, Effect::Constant(10000));
            ASSERT_EQ(handle, 1u);
        }
        const Effect eSource = Effect::Constant(10000);
        DIEFFECT e = eSource.Build();
        e.cAxes = row.cAxes;
        e.rgdwAxes = axes;
        e.rglDirection = direction;
        HRESULT hr = S_OK;
        {
            LimitedAllocations limited;
            hr = driver->DownloadEffect(0, dravik::EffectConstant, &handle, &e, row.mask);
        }
        ASSERT_EQ(hr, E_OUTOFMEMORY);
        EXPECT_EQ(handle, 0u);
        const dravik::EffectSlot slot = Slot(0, 1);
        EXPECT_EQ(slot.inUse, 0u);
        EXPECT_EQ(slot.params.rgdwAxes, nullptr);
        EXPECT_EQ(slot.params.rglDirection, nullptr);
        EXPECT_EQ(slot.axesLength, 0u);
        EXPECT_EQ(slot.directionLength, 0u);
        EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    }
}

TEST_F(EffectStore, AxisCountChangedThroughOneArrayOnlyNeverReadsPastTheOther) {
    struct Row {
        const char* what;
        std::vector<LONG> first;  // direction at download, axes 0..n-1
        DWORD mask;
        std::vector<LONG> update;  // direction in the update, axes 0..n-1
        Bytes bytes;
    };
    const Row rows[] = {
        // Two axes now, but the direction still has one entry: the second reads as 0.
        {"axes grow", {1}, DIEP_AXES, {0, 1}, {0, 0, 254, 0}},
        // Four directions over two axis IDs: four levels, which no motor takes.
        {"direction grows", {1, 0}, DIEP_DIRECTION, {1, 1, 1, 1}, {0, 0, 0, 0}},
        // One axis left: it drives both motors.
        {"direction shrinks", {1, 0}, DIEP_DIRECTION, {1}, {0, 1, 254, 0}},
        // One axis ID, two directions: one level for both motors.
        {"axes shrink", {0, 1}, DIEP_AXES, {1}, {0, 1, 254, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(driver->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
        const DWORD handle =
            Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian(row.first));
        ASSERT_EQ(handle, 1u);
        const Effect eSource = Effect::Constant(10000).Cartesian(row.update);
        const DIEFFECT e = eSource.Build();
        DWORD h = handle;
        ASSERT_EQ(driver->DownloadEffect(0, 0, &h, &e, row.mask), S_OK);
        EXPECT_EQ(Read(0, handle).fields.params.cAxes, row.update.size());
        EXPECT_EQ(TickReport(0), row.bytes);
    }
}

}  // namespace
