// The wheel on Wine's own HID stack: the shipped device link and the real dravik.dll, created
// through COM as DirectInput creates it, against the virtual HID wheel. Wine's SetupAPI lists the
// device, its HID class driver parses the report descriptor and carries the feature reports, and
// the device records every report it receives with its arrival time. Only the joystick
// configuration and FindDevice, which Wine's DirectInput 7 lacks, come from the test side.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "common/registry_win32.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/device_link_win32.h"
#include "ffdriver/effect_driver.h"
#include "ffdriver/hid_search_win32.h"
#include "hid_wheel.h"
#include "joy_config_shim.h"
#include "tests/windows/win_test_util.h"
#include "tools/effect-player/player.h"

// The HID headers do not declare C linkage themselves, and need the Windows types first.
extern "C" {
#include <hidsdi.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kDiVersion = 0x0700;
constexpr int64_t kMs = 10000;  // record times are in 100 ns units
const Bytes kAllOff = {HID_WHEEL_REPORT_ID, 0, 0, 0};

std::string Inf() {
    return wintest::DllPathFromEnv("WHEEL_HID_WHEEL_INF");
}

void Replug() {
    std::string message;
    ASSERT_TRUE(hidwheel::Install(Inf(), &message)) << message;
}

void Unplug() {
    std::string message;
    ASSERT_TRUE(hidwheel::Unplug(&message)) << message;
}

struct Report {
    int64_t time;
    Bytes bytes;
};

// The feature reports the wheel accepted since `mark` (a record count).
std::vector<Report> FeaturesSince(size_t mark) {
    std::vector<Report> reports;
    for (const HidWheelRecord& record : hidwheel::ReadRecords(mark)) {
        EXPECT_EQ(record.kind, HID_WHEEL_FEATURE) << "only feature reports are sent to the wheel";
        EXPECT_EQ(record.length, 4u) << "the motor report is 4 bytes, report ID included";
        if (record.refused == 0) {
            reports.push_back({record.time, Bytes(record.data, record.data + 4)});
        }
    }
    return reports;
}

std::string Show(const Bytes& bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "{%u, %u, %u, %u}", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

// A constant force on two axes, endless, full gain, as a game downloads it.
struct ConstantForce {
    LONG magnitude;
    LONG direction[2];
};

// The report the driver's own code sends for these effects playing together, as the effect player
// computes it in virtual time with Amplify 1000 and full device gain.
Bytes ExpectedReport(const std::vector<ConstantForce>& effects) {
    std::ostringstream script;
    script << R"({"amplify": 1000, "os": "nt6", "devices": [0], "until_ms": 100, "steps": [)"
           << R"({"at_ms": 0, "call": "SetGain", "device": 0, "gain": 10000})";
    for (const ConstantForce& effect : effects) {
        script << R"(, {"at_ms": 0, "call": "DownloadEffect", "device": 0, "type": 0, "handle": 0,)"
               << R"( "flags": 0, "effect": {"flags": 16, "duration": 4294967295, "gain": 10000,)"
               << R"( "axes": [2, 258], "direction": [)" << effect.direction[0] << ", "
               << effect.direction[1] << R"(], "constant": {"magnitude": )" << effect.magnitude
               << R"(}}}, {"at_ms": 0, "call": "StartEffect", "device": 0, "handle": "last",)"
               << R"( "mode": 0, "count": 1})";
    }
    script << "]}";
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(effect_player::RunScript(script.str(), out, err), effect_player::kExitPlayed)
        << err.str();
    // The last row: "ms,device,report_id,byte1,byte2,byte3".
    std::istringstream rows(out.str());
    std::string row;
    std::string last;
    while (std::getline(rows, row)) {
        if (!row.empty() && row[0] != '#') {
            last = row;
        }
    }
    unsigned ms = 0, device = 0, id = 0, b1 = 0, b2 = 0, b3 = 0;
    EXPECT_EQ(std::sscanf(last.c_str(), "%u,%u,%u,%u,%u,%u", &ms, &device, &id, &b1, &b2, &b3), 6)
        << last;
    return {HID_WHEEL_REPORT_ID, static_cast<uint8_t>(b1), static_cast<uint8_t>(b2),
            static_cast<uint8_t>(b3)};
}

void SetAmplify(DWORD value) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(root, wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
        RegSetValueExA(key, "Amplify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
        RegCloseKey(key);
    }
}

// The real driver DLL as DirectInput meets it: created through COM, its DirectInput given the
// joystick-configuration piece, bound to joystick 0.
class ComDriver {
  public:
    ComDriver() {
        HRESULT hr =
            CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver_));
        if (FAILED(hr) || driver_ == nullptr) {
            error_ = "CoCreateInstance failed";
            driver_ = nullptr;
            return;
        }
        if (!hidwheel::SupplyJoyConfig(hidwheel::ModuleOfObject(driver_))) {
            error_ = "the driver does not import DirectInputCreateEx";
        }
    }
    ~ComDriver() { Release(); }
    ComDriver(const ComDriver&) = delete;
    ComDriver& operator=(const ComDriver&) = delete;

    bool ok() const { return driver_ != nullptr && error_.empty(); }
    const std::string& error() const { return error_; }
    IDirectInputEffectDriver* operator->() { return driver_; }
    IDirectInputEffectDriver* get() { return driver_; }

    HRESULT Bind() { return driver_->DeviceID(kDiVersion, 0, TRUE, 0, nullptr); }

    // Downloads and starts a constant force; its handle, 0 on failure.
    DWORD Play(const ConstantForce& force) {
        DWORD axes[2] = {0x002, 0x102};
        LONG direction[2] = {force.direction[0], force.direction[1]};
        DICONSTANTFORCE constant = {force.magnitude};
        DIEFFECT effect = {};
        effect.dwSize = sizeof effect;
        effect.dwFlags = DIEFF_CARTESIAN;
        effect.dwDuration = INFINITE;
        effect.dwGain = 10000;
        effect.dwTriggerButton = DIEB_NOTRIGGER;
        effect.cAxes = 2;
        effect.rgdwAxes = axes;
        effect.rglDirection = direction;
        effect.cbTypeSpecificParams = sizeof constant;
        effect.lpvTypeSpecificParams = &constant;
        DWORD handle = 0;
        if (driver_->SetGain(0, 10000) != S_OK ||
            driver_->DownloadEffect(0, 0, &handle, &effect, 0) != S_OK ||
            driver_->StartEffect(0, handle, 0, 1) != S_OK) {
            return 0;
        }
        return handle;
    }

    ULONG Release() {
        ULONG count = 0;
        if (driver_ != nullptr) {
            count = driver_->Release();
            driver_ = nullptr;
        }
        return count;
    }

  private:
    IDirectInputEffectDriver* driver_ = nullptr;
    std::string error_;
};

// Every handle the driver's link opened and closed, around the shipped HID link.
class RecordingLink final : public wheel::DeviceLink {
  public:
    explicit RecordingLink(HINSTANCE module) : real_(module) {}

    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override {
        real_.FindDevicePath(joystickId, path, size);
    }
    HANDLE Open(const char* path) override {
        HANDLE handle = real_.Open(path);
        std::lock_guard<std::mutex> hold(mutex_);
        if (wheel::IsOpenHandle(handle)) {
            open_.insert(handle);
            ++opened_;
        } else {
            ++failedOpens_;
        }
        return handle;
    }
    uint8_t ReportId(HANDLE device) override { return real_.ReportId(device); }
    bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) override {
        const bool sent = real_.SendFeature(device, report, length);
        std::lock_guard<std::mutex> hold(mutex_);
        ++(sent ? sent_ : failedSends_);
        return sent;
    }
    void Close(HANDLE device) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (open_.erase(device) == 0) {
            ++badCloses_;  // closed twice, or never opened
        }
        ++closes_;
        real_.Close(device);
    }

    struct Counts {
        int opened, failedOpens, sent, failedSends, closes, badCloses;
        size_t stillOpen;
    };
    Counts Read() {
        std::lock_guard<std::mutex> hold(mutex_);
        return {opened_, failedOpens_, sent_, failedSends_, closes_, badCloses_, open_.size()};
    }

  private:
    dravik::HidDeviceLink real_;
    std::mutex mutex_;
    std::set<HANDLE> open_;
    int opened_ = 0, failedOpens_ = 0, sent_ = 0, failedSends_ = 0, closes_ = 0, badCloses_ = 0;
};

class HidWheel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        wintest::InstallWheelData();
        const std::string dll = wintest::DllPathFromEnv("WHEEL_DRAVIK_DLL");
        ASSERT_EQ(wintest::Run("regsvr32.exe /s \"" + dll + "\""), 0);
        // The shipped link in this program creates DirectInput through its own import.
        ASSERT_TRUE(hidwheel::SupplyJoyConfig(GetModuleHandleA(nullptr)));
    }
    void SetUp() override {
        ASSERT_FALSE(Inf().empty()) << "WHEEL_HID_WHEEL_INF is not set";
        SetAmplify(1000);
        ASSERT_TRUE(hidwheel::WriteControl(hidwheel::RestingControl()));
        Replug();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        hidwheel::SetGetConfigHook(nullptr);
        hidwheel::SetJoystickStandIn(0, "");
        hidwheel::WriteControl(hidwheel::RestingControl());
        Replug();
        CoUninitialize();
    }
};

TEST_F(HidWheel, ShippedLinkFindsOpensAndSendsThroughWinesHidStack) {
    const std::string wheelPath = hidwheel::FindInterfacePath();
    ASSERT_FALSE(wheelPath.empty());
    dravik::HidDeviceLink link(GetModuleHandleA(nullptr));

    // Wine's own HID devices are listed too; the search must pass over them to the wheel.
    char path[dravik::kDevicePathSize];
    link.FindDevicePath(0, path, sizeof path);
    EXPECT_STREQ(path, wheelPath.c_str());
    // No second joystick, and a buffer the path does not fit: no match, nothing written past it.
    link.FindDevicePath(1, path, sizeof path);
    EXPECT_STREQ(path, "");
    char small[24];
    std::memset(small, 'x', sizeof small);
    link.FindDevicePath(0, small, 16);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(small[16], 'x');

    HANDLE device = link.Open(path[0] != '\0' ? path : wheelPath.c_str());
    ASSERT_TRUE(wheel::IsOpenHandle(device));
    // The report ID of the descriptor's output value, through Wine's HID parser.
    EXPECT_EQ(link.ReportId(device), HID_WHEEL_REPORT_ID);

    const size_t mark = hidwheel::RecordCount();
    const uint8_t report[4] = {HID_WHEEL_REPORT_ID, 1, 120, 0};
    EXPECT_TRUE(link.SendFeature(device, report, 4));
    auto received = FeaturesSince(mark);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, Bytes(report, report + 4));

    // A wheel that refuses the report: the send says so.
    HidWheelControl control = hidwheel::RestingControl();
    control.failSends = 1;
    ASSERT_TRUE(hidwheel::WriteControl(control));
    EXPECT_FALSE(link.SendFeature(device, report, 4));
    ASSERT_TRUE(hidwheel::WriteControl(hidwheel::RestingControl()));

    // Unplugged: the open handle is dead and the path cannot be opened.
    Unplug();
    EXPECT_FALSE(link.SendFeature(device, report, 4));
    EXPECT_FALSE(wheel::IsOpenHandle(link.Open(wheelPath.c_str())));
    link.Close(device);
    link.FindDevicePath(0, path, sizeof path);
    EXPECT_STREQ(path, "");
}

// The driver's own object on the shipped link, counting what the link does: a send that fails
// after unplug closes the handle once, the ticks then only try to reopen, and replug resumes.
TEST_F(HidWheel, DriverClosesADeadHandleOnceAndReopensAfterReplug) {
    RecordingLink link(GetModuleHandleA(nullptr));
    wheel::Win32Registry registry;
    wheel::Win32Clock clock;
    wheel::MultimediaTimer timer;
    wheel::NamedEventLock storeEvent;
    ASSERT_TRUE(storeEvent.Create(wheel::VidPidName().c_str()));
    wheel::ModuleCount moduleCount;
    dravik::DriverServices services;
    services.registry = &registry;
    services.clock = &clock;
    services.timer = &timer;
    services.storeLock = &storeEvent;
    services.link = &link;
    services.moduleCount = &moduleCount;
    services.osClass = &wheel::GetOsClass;
    services.sleep = [](uint32_t ms) { Sleep(ms); };
    dravik::EffectDriver* driver = dravik::EffectDriver::Create(services);
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->InitDriver(), S_OK);
    ASSERT_EQ(driver->DeviceID(kDiVersion, 0, TRUE, 0, nullptr), S_OK);
    EXPECT_EQ(driver->CopyRecord(0).reportId, HID_WHEEL_REPORT_ID);
    Sleep(150);
    auto counts = link.Read();
    EXPECT_EQ(counts.opened, 1);
    EXPECT_GE(counts.sent, 3);

    Unplug();
    Sleep(200);
    counts = link.Read();
    EXPECT_EQ(counts.failedSends, 1) << "one send fails; later ticks find no handle to send on";
    EXPECT_EQ(counts.closes, 1);
    EXPECT_EQ(counts.badCloses, 0);
    EXPECT_GE(counts.failedOpens, 4) << "every tick tries to reopen the path";
    EXPECT_EQ(counts.stillOpen, 0u);

    const int sentBefore = counts.sent;
    Replug();
    Sleep(150);
    counts = link.Read();
    EXPECT_EQ(counts.opened, 2);
    EXPECT_GE(counts.sent - sentBefore, 3);

    EXPECT_EQ(driver->Release(), 0u);
    counts = link.Read();
    EXPECT_EQ(counts.badCloses, 0);
    EXPECT_EQ(counts.stillOpen, 0u) << "teardown closes the reopened handle";
    EXPECT_EQ(counts.closes, 2);
}

TEST_F(HidWheel, RealDriverBindsTicksPlaysStopsAndEndsAllOff) {
    ComDriver driver;
    ASSERT_TRUE(driver.ok()) << driver.error();
    size_t mark = hidwheel::RecordCount();
    ASSERT_EQ(driver.Bind(), S_OK);

    // Nothing playing: {report ID, 0, 0, 0} about every 25 ms.
    Sleep(500);
    auto idle = FeaturesSince(mark);
    ASSERT_GE(idle.size(), 12u);
    ASSERT_LE(idle.size(), 24u);
    for (const Report& report : idle) {
        EXPECT_EQ(report.bytes, kAllOff) << Show(report.bytes);
    }
    const double meanMs = static_cast<double>(idle.back().time - idle.front().time) / kMs /
                          static_cast<double>(idle.size() - 1);
    EXPECT_GT(meanMs, 20.0);
    EXPECT_LT(meanMs, 35.0);

    // Two constant forces: the wheel gets the bytes the effect player computes for them.
    const ConstantForce alongA = {6000, {1, 0}};
    const ConstantForce alongB = {10000, {0, 1}};
    const Bytes both = ExpectedReport({alongA, alongB});
    const Bytes onlyB = ExpectedReport({alongB});
    ASSERT_NE(both, kAllOff);
    ASSERT_NE(onlyB, both);
    const DWORD first = driver.Play(alongA);
    const DWORD second = driver.Play(alongB);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    Sleep(200);
    mark = hidwheel::RecordCount();
    Sleep(100);
    auto playing = FeaturesSince(mark);
    ASSERT_GE(playing.size(), 3u);
    for (const Report& report : playing) {
        EXPECT_EQ(report.bytes, both) << Show(report.bytes) << " instead of " << Show(both);
    }

    // Stopping one sends the all-off report at once, before the call returns; the next ticks
    // send the other effect's levels.
    mark = hidwheel::RecordCount();
    const int64_t beforeStop = hidwheel::Now();
    ASSERT_EQ(driver->StopEffect(0, first), S_OK);
    const int64_t afterStop = hidwheel::Now();
    Sleep(150);
    auto stopped = FeaturesSince(mark);
    const auto allOff = std::find_if(stopped.begin(), stopped.end(), [&](const Report& r) {
        return r.bytes == kAllOff && r.time >= beforeStop && r.time <= afterStop;
    });
    ASSERT_NE(allOff, stopped.end()) << "no all-off report while StopEffect ran";
    ASSERT_GE(stopped.end() - allOff, 3);
    EXPECT_EQ(stopped.back().bytes, onlyB) << Show(stopped.back().bytes);
    for (auto it = allOff + 1; it != stopped.end(); ++it) {
        EXPECT_EQ(it->bytes, onlyB) << Show(it->bytes);
    }

    // The final Release: an all-off report last, and nothing after it.
    mark = hidwheel::RecordCount();
    EXPECT_EQ(driver.Release(), 0u);
    const int64_t released = hidwheel::Now();
    Sleep(200);
    auto last = FeaturesSince(mark);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().bytes, kAllOff);
    EXPECT_LE(last.back().time, released) << "a report arrived after the driver was released";
}

TEST_F(HidWheel, UnplugAndReplugWhilePlayingTwentyTimes) {
    const ConstantForce force = {8000, {1, 0}};
    const Bytes expected = ExpectedReport({force});
    ComDriver driver;
    ASSERT_TRUE(driver.ok()) << driver.error();
    ASSERT_EQ(driver.Bind(), S_OK);
    ASSERT_NE(driver.Play(force), 0u);
    Sleep(150);
    DWORD handlesBefore = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handlesBefore));

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Unplug();
        const int64_t gone = hidwheel::Now();
        Sleep(80);
        const size_t mark = hidwheel::RecordCount();
        const int64_t back0 = hidwheel::Now();
        Replug();
        const int64_t back = hidwheel::Now();
        Sleep(120);
        auto reports = FeaturesSince(mark);
        ASSERT_FALSE(reports.empty()) << "no report after replug";
        EXPECT_GE(reports.front().time, back0) << "a report arrived while the wheel was away";
        EXPECT_LT(reports.front().time - back, 2 * 25 * kMs + 15 * kMs)
            << "reports resume within two ticks of the replug";
        for (const Report& report : reports) {
            EXPECT_EQ(report.bytes, expected) << Show(report.bytes);
        }
        (void)gone;
        if (HasFatalFailure()) {
            return;
        }
    }
    DWORD handlesAfter = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handlesAfter));
    EXPECT_EQ(handlesAfter, handlesBefore) << "handles leaked across 20 unplugs";
}

// Plugged back into another USB port, the wheel is another device instance with another
// interface path. Nobody calls DeviceID again, as games do not: the driver finds it by itself
// once the old path has failed for about a second.
TEST_F(HidWheel, WheelBackInAnotherPortIsFoundWithoutDeviceId) {
    const ConstantForce force = {8000, {1, 0}};
    const Bytes expected = ExpectedReport({force});
    ComDriver driver;
    ASSERT_TRUE(driver.ok()) << driver.error();
    ASSERT_EQ(driver.Bind(), S_OK);
    ASSERT_NE(driver.Play(force), 0u);
    Sleep(150);
    const std::string oldPath = hidwheel::FindInterfacePath();

    Unplug();
    const int64_t gone = hidwheel::Now();
    const size_t mark = hidwheel::RecordCount();
    std::string message;
    ASSERT_TRUE(hidwheel::Install(Inf(), &message, 1)) << message;
    const int64_t back = hidwheel::Now();
    const std::string newPath = hidwheel::FindInterfacePath();
    ASSERT_NE(newPath, oldPath) << "the other port must give another path";

    std::vector<Report> reports;
    for (int i = 0; i < 500 && reports.size() < 8; ++i) {
        Sleep(10);
        reports = FeaturesSince(mark);
    }
    ASSERT_GE(reports.size(), 8u) << "the wheel in the other port got nothing";
    std::printf(
        "wheel back in another port (%s): unplugged to first report %lld ms, replug to "
        "first report %lld ms\n",
        newPath.c_str(), static_cast<long long>((reports.front().time - gone) / kMs),
        static_cast<long long>((reports.front().time - back) / kMs));
    EXPECT_LT(reports.front().time - gone, 2500 * kMs)
        << "about a second after the old path failed";
    for (const Report& report : reports) {
        EXPECT_EQ(report.bytes, expected) << Show(report.bytes);
    }
    EXPECT_EQ(driver.Release(), 0u);
}

// Another HID device's interface (one of Wine's own, another vendor and product), or "".
std::string OtherHidPath() {
    std::string found;
    dravik::VisitHidInterfaces(
        [](const char* path, size_t length, void* context) {
            uint16_t vendorId = 0;
            uint16_t productId = 0;
            if (!dravik::HidDeviceIds(path, &vendorId, &productId) ||
                (vendorId == wheel::kVendorId && productId == wheel::kProductId)) {
                return false;
            }
            static_cast<std::string*>(context)->assign(path, length);
            return true;
        },
        &found);
    return found;
}

// Every feature report the driver DLL sends through hid.dll to a device that answers, counted
// by whether it is the wheel (asked by its attributes, as the path tells nothing).
std::atomic<int> featuresToOthers{0};
std::atomic<int> featuresToWheel{0};
BOOLEAN WINAPI CountingSetFeature(HANDLE device, PVOID report, ULONG length) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    // A handle whose device is gone (the wheel just unplugged) answers nothing: it is no other
    // device.
    if (HidD_GetAttributes(device, &attributes)) {
        const bool wheelDevice =
            attributes.VendorID == wheel::kVendorId && attributes.ProductID == wheel::kProductId;
        ++(wheelDevice ? featuresToWheel : featuresToOthers);
    }
    return HidD_SetFeature(device, report, length);
}

// While the wheel is out a device of another vendor takes its joystick ID. The driver must not
// bind it, and finds the wheel again in the other port by the wheel's own IDs.
TEST_F(HidWheel, AnotherDeviceAtTheWheelsJoystickIdGetsNothing) {
    const std::string other = OtherHidPath();
    ASSERT_FALSE(other.empty()) << "Wine's own HID devices are missing";
    ComDriver driver;
    ASSERT_TRUE(driver.ok()) << driver.error();
    ASSERT_TRUE(hidwheel::RedirectImport(hidwheel::ModuleOfObject(driver.get()), "hid.dll",
                                         "HidD_SetFeature",
                                         reinterpret_cast<void*>(CountingSetFeature)));
    ASSERT_EQ(driver.Bind(), S_OK);
    const ConstantForce force = {8000, {1, 0}};
    ASSERT_NE(driver.Play(force), 0u);
    Sleep(100);

    Unplug();
    hidwheel::SetJoystickStandIn(0, other);
    const int64_t gone = hidwheel::Now();
    const size_t mark = hidwheel::RecordCount();
    featuresToOthers = 0;
    std::string message;
    ASSERT_TRUE(hidwheel::Install(Inf(), &message, 1)) << message;
    std::vector<Report> reports;
    for (int i = 0; i < 400 && reports.size() < 8; ++i) {
        Sleep(10);
        reports = FeaturesSince(mark);
    }
    // Two more searches' worth: a driver that bound the other device would send to it now.
    Sleep(300);
    hidwheel::SetJoystickStandIn(0, "");
    EXPECT_EQ(featuresToOthers.load(), 0) << "the other device was sent the wheel's reports";
    ASSERT_GE(reports.size(), 8u) << "the wheel, back in another port, was not found again";
    std::printf("joystick 0 taken by %s: the wheel found again %lld ms after the unplug\n",
                other.c_str(), static_cast<long long>((reports.front().time - gone) / kMs));
    EXPECT_EQ(reports.back().bytes, ExpectedReport({force})) << Show(reports.back().bytes);
    EXPECT_EQ(driver.Release(), 0u);
}

// The longest time between two calls of a multimedia timer while `measuring` is set.
struct TimerGaps {
    LARGE_INTEGER frequency;
    LARGE_INTEGER last;
    std::atomic<int64_t> longest{0};
    std::atomic<bool> measuring{false};
};
void CALLBACK MeasureGap(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* gaps = reinterpret_cast<TimerGaps*>(user);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t gapMs = (now.QuadPart - gaps->last.QuadPart) * 1000 / gaps->frequency.QuadPart;
    gaps->last = now;
    if (gaps->measuring && gapMs > gaps->longest) {
        gaps->longest = gapMs;
    }
}

struct Releasing {
    ComDriver* driver;
    ULONG count;
};
DWORD WINAPI ReleaseOnThread(void* parameter) {
    auto* releasing = static_cast<Releasing*>(parameter);
    releasing->count = releasing->driver->Release();
    return 0;
}

// A second multimedia timer of the same process, every 10 ms, with its longest gap measured
// while the driver searches for the unplugged wheel; the search made slow (1 s in the joystick
// configuration, as a DirectInput busy with many devices). A search on the timer's thread would
// hold the other timer for that second; the bound leaves room for a busy machine's scheduling.
TEST_F(HidWheel, AnotherMultimediaTimerKeepsItsPeriodDuringASearch) {
    ComDriver driver;
    ASSERT_TRUE(driver.ok()) << driver.error();
    ASSERT_EQ(driver.Bind(), S_OK);
    std::atomic<int> searches{0};
    hidwheel::SetGetConfigHook([&searches] {
        ++searches;
        Sleep(1000);
    });
    TimerGaps gaps;
    QueryPerformanceFrequency(&gaps.frequency);
    QueryPerformanceCounter(&gaps.last);
    const UINT timer = timeSetEvent(10, 1, &MeasureGap, reinterpret_cast<DWORD_PTR>(&gaps),
                                    TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    ASSERT_NE(timer, 0u);
    Sleep(100);
    gaps.measuring = true;
    Unplug();
    Sleep(3000);  // searches from about 1 s on
    gaps.measuring = false;
    timeKillEvent(timer);
    hidwheel::SetGetConfigHook(nullptr);
    std::printf("longest gap of a 10 ms multimedia timer during %d searches: %lld ms\n",
                searches.load(), static_cast<long long>(gaps.longest.load()));
    EXPECT_GE(searches.load(), 1) << "no search ran while the wheel was out";
    EXPECT_LT(gaps.longest.load(), 600) << "the other timer stalled during a search";
    EXPECT_EQ(driver.Release(), 0u);
}

// The final Release while a search is held up (its joystick configuration waits on a lock the
// releasing thread could hold): Release returns without waiting for the search.
TEST_F(HidWheel, ReleaseDuringASearchReturnsPromptly) {
    auto driver = std::make_unique<ComDriver>();
    ASSERT_TRUE(driver->ok()) << driver->error();
    ASSERT_EQ(driver->Bind(), S_OK);
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hidwheel::SetGetConfigHook([entered, gate] {
        SetEvent(entered);
        WaitForSingleObject(gate, 10000);
    });
    Unplug();
    ASSERT_EQ(WaitForSingleObject(entered, 3000), WAIT_OBJECT_0) << "no search started";

    Releasing releasing{driver.get(), 99};
    const DWORD started = GetTickCount();
    HANDLE thread = CreateThread(nullptr, 0, &ReleaseOnThread, &releasing, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD waited = WaitForSingleObject(thread, 2000);
    const DWORD elapsed = GetTickCount() - started;
    // Let the search go on and end, whatever happened.
    SetEvent(gate);
    WaitForSingleObject(thread, 15000);
    CloseHandle(thread);
    hidwheel::SetGetConfigHook(nullptr);
    std::printf("Release during a held-up search returned after %lu ms\n",
                static_cast<unsigned long>(elapsed));
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "Release waited for the search";
    EXPECT_EQ(releasing.count, 0u);
    // The search ends by itself and leaves the module's count alone.
    Sleep(200);
    CloseHandle(entered);
    CloseHandle(gate);
}

// The second process of the two-process test: its own driver object on the same wheel, playing
// one constant force for a while. Exit code 0 when every call succeeded.
int PlayInChildProcess(LONG magnitude, LONG dx, LONG dy, DWORD ms) {
    if (CoInitialize(nullptr) != S_OK) {
        return 3;
    }
    int result = 0;
    {
        ComDriver driver;
        if (!driver.ok() || driver.Bind() != S_OK || driver.Play({magnitude, {dx, dy}}) == 0) {
            result = 1;
        } else {
            Sleep(ms);
            if (driver.Release() != 0) {
                result = 1;
            }
        }
    }
    CoUninitialize();
    return result;
}

size_t CountBytes(const std::vector<Report>& reports, const Bytes& bytes, int64_t from,
                  int64_t to) {
    return static_cast<size_t>(std::count_if(reports.begin(), reports.end(), [&](const Report& r) {
        return r.bytes == bytes && r.time >= from && r.time <= to;
    }));
}

// The longest gap before a report of one kind that arrived inside [from, to].
int64_t LongestGap(const std::vector<Report>& reports, const Bytes& bytes, int64_t from,
                   int64_t to) {
    int64_t longest = 0;
    int64_t previous = -1;
    for (const Report& report : reports) {
        if (report.bytes != bytes) {
            continue;
        }
        if (previous >= 0 && report.time >= from && report.time <= to) {
            longest = std::max(longest, report.time - previous);
        }
        previous = report.time;
    }
    return longest;
}

TEST_F(HidWheel, TwoProcessesShareTheWheelAndTheStoreEvent) {
    const ConstantForce childForce = {6000, {1, 0}};
    const ConstantForce ownForce = {10000, {0, 1}};
    const Bytes childBytes = ExpectedReport({childForce});
    const Bytes ownBytes = ExpectedReport({ownForce});
    ASSERT_NE(childBytes, ownBytes);
    const size_t mark = hidwheel::RecordCount();

    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    std::string command = std::string("\"") + exe + "\" --play-in-child 6000 1 0 3000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    CloseHandle(child.hThread);
    // Wait for the child's reports before this process joins.
    for (int i = 0; i < 400 && CountBytes(FeaturesSince(mark), childBytes, 0, INT64_MAX) < 3; ++i) {
        Sleep(10);
    }
    ASSERT_GE(CountBytes(FeaturesSince(mark), childBytes, 0, INT64_MAX), 3u);

    auto own = std::make_unique<ComDriver>();
    ASSERT_TRUE(own->ok()) << own->error();
    ASSERT_EQ(own->Bind(), S_OK);
    ASSERT_NE(own->Play(ownForce), 0u);
    const int64_t bothFrom = hidwheel::Now();
    Sleep(300);

    // Both processes' drivers take the one named event: while this process holds it, neither
    // ticks until its 100 ms wait runs out.
    HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, wheel::VidPidName().c_str());
    ASSERT_NE(event, nullptr) << "the drivers' store event does not exist";
    ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    const int64_t held = hidwheel::Now();
    Sleep(150);
    SetEvent(event);
    const int64_t heldUntil = hidwheel::Now();
    Sleep(300);
    const int64_t bothTo = hidwheel::Now();

    // This process lets go of its driver; the child's goes on.
    EXPECT_EQ(own->Release(), 0u);
    const int64_t ownGone = hidwheel::Now();
    Sleep(400);
    // A new driver here; then the child's release leaves it working.
    own = std::make_unique<ComDriver>();
    ASSERT_TRUE(own->ok()) << own->error();
    ASSERT_EQ(own->Bind(), S_OK);
    ASSERT_NE(own->Play(ownForce), 0u);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
    DWORD childExit = 1;
    GetExitCodeProcess(child.hProcess, &childExit);
    CloseHandle(child.hProcess);
    EXPECT_EQ(childExit, 0u) << "the child's driver calls failed";
    const int64_t childGone = hidwheel::Now();
    Sleep(300);
    EXPECT_EQ(own->Release(), 0u);

    const auto reports = FeaturesSince(mark);
    // Both send while both play (a report every 25 ms each).
    EXPECT_GE(CountBytes(reports, childBytes, bothFrom, held), 6u);
    EXPECT_GE(CountBytes(reports, ownBytes, bothFrom, held), 6u);
    EXPECT_GE(LongestGap(reports, childBytes, held, heldUntil + 50 * kMs), 90 * kMs);
    EXPECT_GE(LongestGap(reports, ownBytes, held, heldUntil + 50 * kMs), 90 * kMs);
    EXPECT_LT(LongestGap(reports, childBytes, bothTo - 250 * kMs, bothTo), 60 * kMs);
    EXPECT_LT(LongestGap(reports, ownBytes, bothTo - 250 * kMs, bothTo), 60 * kMs);
    // Each process's release leaves the other's driver sending.
    EXPECT_GE(CountBytes(reports, childBytes, ownGone + 50 * kMs, ownGone + 400 * kMs), 8u);
    EXPECT_GE(CountBytes(reports, ownBytes, childGone + 50 * kMs, childGone + 300 * kMs), 6u);
    // With every driver gone the event is free.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--play-in-child") {
        return PlayInChildProcess(std::atol(argv[2]), std::atol(argv[3]), std::atol(argv[4]),
                                  static_cast<DWORD>(std::atol(argv[5])));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
