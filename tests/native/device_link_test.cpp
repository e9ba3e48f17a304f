// Binding device records to the wheel, the periodic tick that feeds it, losing and finding the
// wheel again, and teardown.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace {

using drivertest::Bytes;
using drivertest::DriverTest;
using drivertest::Effect;
using drivertest::kDiVersion;

// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
const HRESULT kNotConnected = static_cast<HRESULT>(0x8007048Fu);

// Collects the wheel's and the timer's events in the order they happen, while it lives.
class EventLog {
  public:
    explicit EventLog(drivertest::DriverRig& rig) : rig_(rig) {
        rig_.virtualWheel.OnEvent([this](const std::string& line) { Add(line); });
        rig_.timer.OnKill([this](uint32_t id) { Add("kill " + std::to_string(id)); });
    }
    ~EventLog() {
        rig_.virtualWheel.OnEvent(nullptr);
        rig_.timer.OnKill(nullptr);
    }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void Add(const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }
    size_t Count(const std::string& line) const {
        const auto lines = Lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }

  private:
    drivertest::DriverRig& rig_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

using DriverDeviceId = DriverTest;

TEST_F(DriverDeviceId, RefusalsOpenNothingAndStartNoTimer) {
    virtualWheel.Attach(0);
    virtualWheel.Attach(16);
    struct Row {
        const char* what;
        DWORD version;
        DWORD id;
        HRESULT expected;
    };
    const Row rows[] = {
        {"id 16", kDiVersion, 16, E_INVALIDARG},
        {"id far out", kDiVersion, 0xFFFFFFFFu, E_INVALIDARG},
        {"id checked before the version", 0x0500, 16, E_INVALIDARG},
        {"DirectInput 5", 0x0500, 0, static_cast<HRESULT>(0x8007047Eu)},
        {"just below 7", 0x06FF, 0, DIERR_OLDDIRECTINPUTVERSION},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(driver->DeviceID(row.version, row.id, TRUE, 0, nullptr), row.expected)
            << row.what;
    }
    EXPECT_EQ(virtualWheel.Opens(), 0u);
    EXPECT_TRUE(timer.Starts().empty());
    EXPECT_EQ(driver->TimerId(), 0u);
    EXPECT_EQ(driver->CopyRecord(0).bound, 0u);
}

TEST_F(DriverDeviceId, UnopenableWheelLeavesTheRecordUnboundWithoutATimer) {
    // Joystick 2 is not the wheel: the search finds no path and the open fails.
    EXPECT_EQ(driver->DeviceID(kDiVersion, 2, TRUE, 0, nullptr), kNotConnected);
    // The wheel is there but refuses to open.
    virtualWheel.Attach(3);
    virtualWheel.FailOpens(true);
    EXPECT_EQ(driver->DeviceID(kDiVersion, 3, TRUE, 0, nullptr), kNotConnected);
    for (DWORD id : {2u, 3u}) {
        const dravik::DeviceRecord record = driver->CopyRecord(id);
        EXPECT_EQ(record.bound, 0u) << id;
        EXPECT_FALSE(wheel::IsOpenHandle(record.hDevice)) << id;
    }
    EXPECT_TRUE(timer.Starts().empty());
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u);

    // A later DeviceID that can open binds as usual.
    virtualWheel.FailOpens(false);
    EXPECT_EQ(driver->DeviceID(kDiVersion, 3, TRUE, 0, nullptr), S_OK);
    EXPECT_EQ(driver->CopyRecord(3).bound, 1u);
    EXPECT_EQ(timer.Starts().size(), 1u);
    Tick();
    EXPECT_EQ(virtualWheel.ReportsFor(3).size(), 1u);
    EXPECT_TRUE(virtualWheel.ReportsFor(2).empty()) << "the unbound record is not fed";
}

TEST_F(DriverDeviceId, OneTimerServesEveryBinding) {
    virtualWheel.SetReportId(0x42);
    for (DWORD id : {0u, 0u, 5u, 15u, 5u}) {
        virtualWheel.Attach(id);
        // fBegin and the other arguments are not looked at.
        EXPECT_EQ(driver->DeviceID(kDiVersion, id, id == 5 ? FALSE : TRUE, 77, nullptr), S_OK)
            << id;
    }
    const auto starts = timer.Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].periodMs, 25u);
    EXPECT_EQ(starts[0].resolutionMs, 100u);
    EXPECT_EQ(driver->TimerId(), starts[0].id);
    EXPECT_EQ(timer.Live(), 1u);
    // Binding again replaces the record's handle rather than leaking one.
    EXPECT_EQ(virtualWheel.OpenHandles(), 3u);
    for (DWORD id : {0u, 5u, 15u}) {
        const dravik::DeviceRecord record = driver->CopyRecord(id);
        EXPECT_EQ(record.bound, 1u);
        EXPECT_EQ(record.externalId, static_cast<int32_t>(id));
        EXPECT_EQ(record.reportId, 0x42);
        EXPECT_EQ(std::string(record.devicePath), hosted::VirtualWheel::PathFor(id));
    }
    EXPECT_EQ(TickReport(15), (Bytes{0x42, 0, 0, 0}));
}

TEST_F(DriverDeviceId, FailedTimerStartIsRetriedByTheNextBinding) {
    timer.FailStarts(true);
    EXPECT_EQ(Bind(0), S_OK);
    EXPECT_EQ(driver->CopyRecord(0).bound, 1u);
    EXPECT_EQ(driver->TimerId(), 0u);
    Tick();
    EXPECT_TRUE(virtualWheel.Reports().empty()) << "no timer, no ticks";
    timer.FailStarts(false);
    EXPECT_EQ(Bind(1), S_OK);
    EXPECT_EQ(timer.Starts().size(), 1u);
    Tick();
    EXPECT_EQ(virtualWheel.ReportsFor(0).size(), 1u);
    EXPECT_EQ(virtualWheel.ReportsFor(1).size(), 1u);
}

using DriverTick = DriverTest;

TEST_F(DriverTick, EveryBoundOpenRecordGetsAnAllOffReportEachTick) {
    virtualWheel.SetReportId(3);
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_EQ(Bind(9), S_OK);
    virtualWheel.Attach(4);  // plugged in, but DirectInput never bound it
    for (int i = 0; i < 5; ++i) {
        Tick();
    }
    for (DWORD id : {0u, 9u}) {
        const auto reports = virtualWheel.ReportsFor(id);
        ASSERT_EQ(reports.size(), 5u) << id;
        for (const auto& report : reports) {
            EXPECT_EQ(report.bytes, (Bytes{3, 0, 0, 0}));
            EXPECT_EQ(report.length, 4u);
        }
    }
    EXPECT_TRUE(virtualWheel.ReportsFor(4).empty());
}

TEST_F(DriverTick, EffectsOfOneRecordDoNotReachAnother) {
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_EQ(Bind(1), S_OK);
    ASSERT_NE(Play(1, dravik::EffectConstant, Effect::Constant(10000).Cartesian({1})), 0u);
    Tick();
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(LastReport(1), (Bytes{0, 1, 254, 0}));
}

TEST_F(DriverTick, UnpluggedWheelIsRetriedEveryTickAndResumesWhenBack) {
    EventLog log(*this);
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian({1})), 0u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 254, 0}));

    virtualWheel.Unplug();
    Tick();
    EXPECT_EQ(log.Count("send-failed"), 1u);
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u) << "a failed send closes the handle";
    EXPECT_EQ(driver->CopyRecord(0).hDevice, nullptr);
    EXPECT_EQ(driver->CopyRecord(0).bound, 1u) << "still bound";
    EXPECT_EQ(driver->SendMotorReport(0), E_FAIL) << "closed record";

    const size_t reports = virtualWheel.Reports().size();
    const size_t opens = virtualWheel.Opens();
    for (int i = 0; i < 4; ++i) {
        Tick();
    }
    EXPECT_EQ(log.Count("open-failed"), 4u) << "one reopen attempt per tick";
    EXPECT_EQ(log.Count("send-failed"), 1u) << "nothing sent while the wheel is away";
    EXPECT_EQ(virtualWheel.Reports().size(), reports);
    EXPECT_EQ(virtualWheel.Opens(), opens);

    virtualWheel.Plug();
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 254, 0})) << "output resumes with the same effect";
    EXPECT_EQ(virtualWheel.OpenHandles(), 1u);
    EXPECT_EQ(TickReport(0), (Bytes{0, 1, 254, 0}));
}

// Plugged back into another USB port, the wheel has another path. Once the old one has stayed
// unopenable for a second, the tick asks for a search, then once a second; the search runs as
// background work, never on the tick, and the tick after it binds what it found. While the wheel
// is there nobody searches.
TEST_F(DriverTick, WheelBackInAnotherPortIsSearchedForOnceASecond) {
    virtualWheel.SetReportId(3);
    ASSERT_EQ(Bind(0), S_OK);
    EventLog log(*this);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000).Cartesian({1})), 0u);
    const auto tickAndWork = [this] {
        Tick();
        work.RunPending();
    };
    for (int i = 0; i < 80; ++i) {
        tickAndWork();
    }
    EXPECT_EQ(log.Count("find 0"), 0u) << "a search while the wheel is there";

    virtualWheel.Unplug();
    tickAndWork();  // the send fails and closes the handle
    // The first failed reopen starts the second; searches at 1, 2 and 3 s.
    for (int i = 0; i < 121; ++i) {
        tickAndWork();
    }
    EXPECT_EQ(log.Count("find 0"), 3u);
    EXPECT_EQ(log.Count("open-failed"), 121u) << "the old path is still tried on every tick";

    // A search that has not run yet: the ticks neither run it nor ask for another.
    for (int i = 0; i < 80; ++i) {
        Tick();
    }
    EXPECT_EQ(log.Count("find 0"), 3u) << "the tick ran the search itself";
    EXPECT_EQ(work.Pending(), 1u) << "a second search asked for while one is in flight";
    work.RunPending();
    EXPECT_EQ(log.Count("find 0"), 4u);

    virtualWheel.Plug(1);
    const size_t reports = virtualWheel.Reports().size();
    // The search that ran found nothing; the tick that takes its result asks for the next.
    tickAndWork();
    EXPECT_EQ(log.Count("find 0"), 5u);
    EXPECT_EQ(virtualWheel.Reports().size(), reports);
    EXPECT_EQ(TickReport(0), (Bytes{3, 1, 254, 0})) << "output resumes at the new path";
    EXPECT_EQ(driver->CopyRecord(0).devicePath, hosted::VirtualWheel::PathFor(0, 1));
    EXPECT_EQ(virtualWheel.OpenHandles(), 1u);
    for (int i = 0; i < 80; ++i) {
        tickAndWork();
    }
    EXPECT_EQ(log.Count("find 0"), 5u) << "a search while the wheel is there";
}

// While the wheel was out another device took its joystick ID: the search asks for the wheel by
// its own IDs and binds it under whatever ID it has now.
TEST_F(DriverTick, WheelWhoseJoystickIdWasTakenIsFoundByItsIds) {
    ASSERT_EQ(Bind(0), S_OK);
    EventLog log(*this);
    virtualWheel.Unplug();
    virtualWheel.Detach(0);
    virtualWheel.Attach(1);
    virtualWheel.Plug(1);
    for (int i = 0; i < 45; ++i) {
        Tick();
        work.RunPending();
    }
    EXPECT_EQ(log.Count("find 0"), 1u);
    EXPECT_EQ(log.Count("find-wheel"), 1u) << "joystick 0 is not the wheel any more";
    EXPECT_EQ(driver->CopyRecord(0).devicePath, hosted::VirtualWheel::PathFor(1, 1));
    EXPECT_EQ(TickReport(1), (Bytes{0, 0, 0, 0})) << "record 0 feeds the wheel, now joystick 1";
}

// Teardown with a search in flight neither waits for it nor lets it bind anything; a search that
// cannot be started is asked for again a second later.
TEST_F(DriverTick, ReleaseLeavesASearchInFlightToEndByItself) {
    ASSERT_EQ(Bind(0), S_OK);
    EventLog log(*this);
    virtualWheel.Unplug();
    work.FailRuns(true);
    for (int i = 0; i < 42; ++i) {
        Tick();
    }
    work.FailRuns(false);
    EXPECT_EQ(work.Pending(), 0u);
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    ASSERT_EQ(work.Pending(), 1u) << "the failed start is tried again";
    virtualWheel.Plug();
    ReleaseDriver();
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u);
    const size_t opens = virtualWheel.Opens();
    EXPECT_EQ(work.RunPending(), 1u);
    EXPECT_EQ(log.Count("find 0"), 0u) << "a cancelled search still searched";
    EXPECT_EQ(virtualWheel.Opens(), opens);
}

TEST_F(DriverTick, BindingAgainWhileUnpluggedKeepsTheRecordForTheTick) {
    ASSERT_EQ(Bind(0), S_OK);
    virtualWheel.Unplug();
    EXPECT_EQ(driver->DeviceID(kDiVersion, 0, TRUE, 0, nullptr), kNotConnected);
    EXPECT_EQ(driver->CopyRecord(0).bound, 1u) << "a bound record stays bound";
    Tick();
    EXPECT_TRUE(virtualWheel.Reports().empty());
    EXPECT_EQ(driver->CopyRecord(0).devicePath, hosted::VirtualWheel::PathFor(0))
        << "the failed search keeps the path the record was bound to";
    virtualWheel.Plug();
    // The tick reopens it by itself, as after any unplug.
    EXPECT_EQ(TickReport(0), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(virtualWheel.OpenHandles(), 1u);
}

TEST_F(DriverTick, FailedSearchOfAnUnboundRecordLeavesNoPath) {
    virtualWheel.Unplug();
    EXPECT_EQ(driver->DeviceID(kDiVersion, 0, TRUE, 0, nullptr), kNotConnected);
    EXPECT_STREQ(driver->CopyRecord(0).devicePath, "");
    virtualWheel.Plug();
    Tick();
    EXPECT_TRUE(virtualWheel.Reports().empty()) << "an unbound record is never reopened";
}

TEST_F(DriverTick, SendMotorReportRefusesBadAndUnboundRecords) {
    EXPECT_EQ(driver->SendMotorReport(16), E_INVALIDARG);
    EXPECT_EQ(driver->SendMotorReport(0), E_FAIL);
    ASSERT_EQ(Bind(0), S_OK);
    EXPECT_EQ(driver->SendMotorReport(0), S_OK);
    EXPECT_EQ(LastReport(0), (Bytes{0, 0, 0, 0}));
    virtualWheel.FailSends(true);
    EXPECT_EQ(driver->SendMotorReport(0), S_OK) << "a failed send is not reported";
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u);
}

using DriverTeardown = DriverTest;

TEST_F(DriverTeardown, StopsEveryEffectThenSwitchesOffThenCloses) {
    // Rebuild the object with a sleep that shows up in the log.
    EventLog* log = nullptr;
    ReleaseDriver();
    services.sleep = [&log](uint32_t ms) {
        if (log != nullptr) {
            log->Add("sleep " + std::to_string(ms));
        }
    };
    ASSERT_EQ(CreateDriver(), S_OK);
    ASSERT_EQ(moduleCount.Value(), 1);

    virtualWheel.SetReportId(9);
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_EQ(Bind(1), S_OK);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    ASSERT_NE(Play(0, dravik::EffectSquare, Effect::Periodic(10000, 0, 0, 100000)), 0u);
    ASSERT_NE(Play(1, dravik::EffectConstant, Effect::Constant(10000).Cartesian({1})), 0u);
    Tick();
    ASSERT_EQ(LastReport(0), (Bytes{9, 0, 254, 0}));
    ASSERT_EQ(LastReport(1), (Bytes{9, 1, 254, 0}));

    const uint32_t timerId = driver->TimerId();
    EventLog recording(*this);
    log = &recording;
    ReleaseDriver();

    const std::string kill = "kill " + std::to_string(timerId);
    const std::vector<std::string> expected = {
        "sleep 100",
        kill,
        "send 0 09 00 00 00",  // device 0, slot 1 stopped
        "send 0 09 00 00 00",  // device 0, slot 2 stopped
        "send 1 09 00 00 00",  // device 1, slot 1 stopped
        "send 0 09 00 00 00",  // the final all-off report
        "close 0",
        "send 1 09 00 00 00",
        "close 1",
    };
    EXPECT_EQ(recording.Lines(), expected);
    EXPECT_EQ(timer.Live(), 0u);
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
    // Ticks after the end reach nothing.
    Tick();
    EXPECT_EQ(recording.Lines().size(), expected.size());
}

TEST_F(DriverTeardown, WheelAlreadyGoneOrNeverFound) {
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_EQ(driver->DeviceID(kDiVersion, 7, TRUE, 0, nullptr), kNotConnected);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    ASSERT_NE(Play(7, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    virtualWheel.Unplug();
    const std::string kill = "kill " + std::to_string(driver->TimerId());
    EventLog log(*this);
    ReleaseDriver();
    // The first all-off report finds the wheel gone and closes the dead handle; the record that
    // never opened gets nothing, and nothing is closed twice.
    const std::vector<std::string> expected = {kill, "send-failed", "close 0"};
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(virtualWheel.OpenHandles(), 0u);
    EXPECT_EQ(moduleCount.Value(), 0);
    EXPECT_EQ(sleptMs.load(), 100u);
}

TEST_F(DriverTeardown, ObjectThatNeverBoundKillsNoTimer) {
    DWORD handle = Download(3, dravik::EffectSine, Effect::Periodic(10000, 0, 0, 100000));
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(driver->StartEffect(3, handle, 0, 1), S_OK);
    ReleaseDriver();
    EXPECT_TRUE(timer.Kills().empty());
    EXPECT_TRUE(virtualWheel.Reports().empty());
    EXPECT_EQ(moduleCount.Value(), 0);
}

TEST_F(DriverTeardown, ModuleCountDropsOnlyOnceTheObjectIsGone) {
    // A callable whose last copy dies with the object's members reports the module count it sees
    // then: DllCanUnloadNow on another thread must not answer S_OK while the destructor still
    // runs inside the library.
    struct Witness {
        wheel::ModuleCount& count;
        int32_t* seen;
        ~Witness() { *seen = count.Value(); }
    };
    int32_t seenAtDestruction = -1;
    ReleaseDriver();
    auto witness = std::make_shared<Witness>(Witness{moduleCount, &seenAtDestruction});
    const auto os = services.osClass;
    services.osClass = [witness, os] { return os(); };
    witness.reset();
    ASSERT_EQ(CreateDriver(), S_OK);
    services.osClass = os;
    ASSERT_EQ(Bind(0), S_OK);
    ASSERT_NE(Play(0, dravik::EffectConstant, Effect::Constant(10000)), 0u);
    ASSERT_EQ(moduleCount.Value(), 1);
    ReleaseDriver();
    EXPECT_EQ(seenAtDestruction, 1) << "the count dropped before the object was freed";
    EXPECT_EQ(moduleCount.Value(), 0);
}

}  // namespace
