// The same effect through the Linux service and through the Windows effect player gives the same
// reports. Each case is a client's requests to the wheel's uinput device (uploads, plays, stops,
// erasures, gain) and, written by hand, the DirectInput calls a Windows game makes for the same
// intent: a force on the wheel is a one-axis X effect there, pushing left by a negative direction
// or magnitude, and a rumble is one effect per motor; the service's bridge runs with a virtual
// clock and a recording wheel, the player runs the script, and the two report lists must be equal
// row for row.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "effect-player/player.h"
#include "ffdriver/effect_driver.h"
#include "ffdriver/effect_store.h"
#include "hosted/hosted_services.h"
#include "hosted/virtual_wheel.h"
#include "linux/amplify_config.h"
#include "linux/ff_bridge.h"

namespace {

// StarvedUpload: an upload during which the driver's allocation number `value` (from 0) fails.
enum class Do { Upload, Play, Stop, Erase, Gain, StarvedUpload, Rebind, Drop };

struct ClientStep {
    uint32_t atMs;
    Do what;
    ff_effect effect;  // Upload
    int32_t code;      // Play, Stop, Erase: the effect id
    int32_t value;     // Play: the count; Gain: the gain
};

ff_effect Effect(uint16_t type, int16_t id, uint16_t direction, uint16_t lengthMs,
                 uint16_t delayMs = 0) {
    ff_effect e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.id = id;
    e.direction = direction;
    e.replay.length = lengthMs;
    e.replay.delay = delayMs;
    return e;
}

ff_effect Constant(int16_t id, uint16_t direction, uint16_t lengthMs, int16_t level) {
    ff_effect e = Effect(FF_CONSTANT, id, direction, lengthMs);
    e.u.constant.level = level;
    return e;
}

ff_effect Periodic(int16_t id, uint16_t waveform, uint16_t direction, uint16_t lengthMs,
                   uint16_t period, int16_t magnitude, int16_t offset, uint16_t phase,
                   ff_envelope envelope = {}) {
    ff_effect e = Effect(FF_PERIODIC, id, direction, lengthMs);
    e.u.periodic.waveform = waveform;
    e.u.periodic.period = period;
    e.u.periodic.magnitude = magnitude;
    e.u.periodic.offset = offset;
    e.u.periodic.phase = phase;
    e.u.periodic.envelope = envelope;
    return e;
}

ClientStep Upload(uint32_t at, const ff_effect& e) {
    return {at, Do::Upload, e, 0, 0};
}
ClientStep Play(uint32_t at, int32_t id, int32_t count = 1) {
    return {at, Do::Play, {}, id, count};
}
ClientStep Stop(uint32_t at, int32_t id) {
    return {at, Do::Stop, {}, id, 0};
}
ClientStep Erase(uint32_t at, int32_t id) {
    return {at, Do::Erase, {}, id, 0};
}
ClientStep Gain(uint32_t at, int32_t gain) {
    return {at, Do::Gain, {}, FF_GAIN, gain};
}
ClientStep StarvedUpload(uint32_t at, const ff_effect& e, int32_t failingAllocation) {
    return {at, Do::StarvedUpload, e, 0, failingAllocation};
}
// What the service does when the wheel is bound again (its node opened after a changed
// permission) and when the wheel and its device go.
ClientStep Service(uint32_t at, Do what) {
    return {at, what, {}, 0, 0};
}

// The driver's allocations fail one at a time: the one numbered g_failingAllocation, counted
// from 0 after it is set; -1 fails none.
int g_allocations = 0;
int g_failingAllocation = -1;
void* StarvedAllocate(size_t size) {
    return g_allocations++ == g_failingAllocation ? nullptr : std::malloc(size);
}

// The DirectInput side: DIEFF_OBJECTIDS | DIEFF_CARTESIAN (17), full effect gain, no trigger,
// on the given axes (object IDs: 2 is X, 258 is Y).
std::string DiEffect(const std::string& axes, const std::string& duration,
                     const std::string& direction, const std::string& params,
                     const std::string& envelope = "") {
    return "{\"flags\": 17, \"duration\": " + duration +
           ", \"gain\": 10000, \"trigger_button\": 4294967295, \"axes\": " + axes +
           ", \"direction\": " + direction +
           (envelope.empty() ? "" : ", \"envelope\": " + envelope) + ", " + params + "}";
}
// A force on the wheel: X alone; direction [1] pushes right, [-1] left.
std::string XEffect(const std::string& duration, const std::string& direction,
                    const std::string& params, const std::string& envelope = "") {
    return DiEffect("[2]", duration, direction, params, envelope);
}
std::string Download(uint32_t at, int type, const std::string& effect, int handle = 0,
                     int flags = 0) {
    return "{\"at_ms\": " + std::to_string(at) +
           ", \"call\": \"DownloadEffect\", \"device\": 0, \"type\": " + std::to_string(type) +
           ", \"handle\": " + std::to_string(handle) + ", \"flags\": " + std::to_string(flags) +
           ", \"effect\": " + effect + "}";
}
std::string Call(uint32_t at, const std::string& call, int handle, const std::string& more = "") {
    return "{\"at_ms\": " + std::to_string(at) + ", \"call\": \"" + call +
           "\", \"device\": 0, \"handle\": " + std::to_string(handle) + more + "}";
}
std::string Start(uint32_t at, int handle, int count = 1) {
    return Call(at, "StartEffect", handle, ", \"mode\": 0, \"count\": " + std::to_string(count));
}
std::string Script(uint32_t untilMs, const std::vector<std::string>& steps,
                   const std::string& amplify = "") {
    std::string text = "{" + (amplify.empty() ? "" : "\"amplify\": " + amplify + ", ") +
                       "\"devices\": [0], \"until_ms\": " + std::to_string(untilMs) +
                       ", \"steps\": [";
    for (size_t i = 0; i < steps.size(); ++i) {
        text += (i == 0 ? "" : ", ") + steps[i];
    }
    return text + "]}";
}

// The service's timer as a timerfd keeps it: a timer started at t fires at t + 25, t + 50, ...
// and stopped, not at all.
class PhasedTimer final : public wheel::PeriodicTimer {
  public:
    explicit PhasedTimer(wheel::Clock& clock) : clock_(clock) {}
    uint32_t Start(uint32_t periodMs, uint32_t, wheel::TimerCallback callback,
                   void* user) override {
        periodMs_ = periodMs;
        startMs_ = clock_.TickCount();
        callback_ = callback;
        user_ = user;
        ++starts_;
        return starts_;
    }
    void Kill(uint32_t id) override {
        if (id == starts_) {
            callback_ = nullptr;
        }
    }
    // Fires if a period ends at `ms`.
    void At(uint32_t ms) {
        if (callback_ != nullptr && ms > startMs_ && (ms - startMs_) % periodMs_ == 0) {
            callback_(user_);
        }
    }
    uint32_t Starts() const { return starts_; }

  private:
    wheel::Clock& clock_;
    uint32_t periodMs_ = 1;
    uint32_t startMs_ = 0;
    wheel::TimerCallback callback_ = nullptr;
    void* user_ = nullptr;
    uint32_t starts_ = 0;
};

struct Case {
    const char* what;
    std::vector<ClientStep> client;
    std::string script;
    uint32_t untilMs;
    // The intensity file's text; empty for no file (1000).
    std::string config;
    // Upload results the client must see, in order.
    std::vector<int> uploads;
};

// The service's bridge with the hosted platform, on the virtual clock, played like the player
// plays a script: the steps due by each 25 ms tick, then the tick.
std::string PlayClient(const Case& c, std::vector<int>* uploads) {
    char name[] = "/tmp/rumble-same-XXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    if (c.config.empty()) {
        std::remove(name);
    } else {
        std::ofstream(name) << c.config;
    }
    hosted::ManualClock clock;
    PhasedTimer timer(clock);
    hosted::VirtualWheel wheel(clock);
    rumble::ConfigRegistry registry(name, nullptr);
    EXPECT_EQ(registry.Load(), ERROR_SUCCESS);
    std::ostringstream out;
    out << "ms,device,report_id,byte1,byte2,byte3\n";
    {
        rumble::BridgeServices services;
        services.registry = &registry;
        services.clock = &clock;
        services.timer = &timer;
        services.link = &wheel;
        rumble::FfBridge bridge(services);
        EXPECT_TRUE(bridge.Create());
        wheel.Attach(0);
        EXPECT_EQ(bridge.Bind(0), S_OK);
        size_t next = 0;
        const auto runUntil = [&](uint32_t ms) {
            for (; next < c.client.size() && c.client[next].atMs <= ms; ++next) {
                const ClientStep& s = c.client[next];
                clock.Set(s.atMs);
                switch (s.what) {
                    case Do::Upload:
                        uploads->push_back(bridge.Upload(0, s.effect));
                        break;
                    case Do::Play:
                    case Do::Stop:
                    case Do::Gain:
                        bridge.Event(0, static_cast<uint16_t>(s.code), s.value);
                        break;
                    case Do::Erase:
                        uploads->push_back(bridge.Erase(0, s.code));
                        break;
                    case Do::StarvedUpload: {
                        g_allocations = 0;
                        g_failingAllocation = s.value;
                        const dravik::EffectAllocator previous =
                            dravik::SetEffectAllocator(&StarvedAllocate);
                        uploads->push_back(bridge.Upload(0, s.effect));
                        dravik::SetEffectAllocator(previous);
                        EXPECT_GT(g_allocations, s.value) << "the failing allocation never came";
                        break;
                    }
                    case Do::Rebind:
                        EXPECT_EQ(bridge.Bind(0), S_OK);
                        break;
                    case Do::Drop:
                        bridge.EraseAll(0);
                        break;
                }
            }
        };
        for (uint32_t ms = 0; ms <= c.untilMs; ++ms) {
            runUntil(ms);
            clock.Set(ms);
            timer.At(ms);
        }
        // The teardown's all-off reports come after the window, as in the player.
        for (const auto& r : wheel.Reports()) {
            out << r.ms << "," << r.joystickId << "," << unsigned{r.bytes[0]} << ","
                << unsigned{r.bytes[1]} << "," << unsigned{r.bytes[2]} << ","
                << unsigned{r.bytes[3]} << "\n";
        }
    }
    std::remove(name);
    return out.str();
}

std::string PlayScript(const std::string& text) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(effect_player::RunScript(text, out, err), effect_player::kExitPlayed) << err.str();
    return out.str();
}

// Rows with a motor on, so a case that leaves the wheel silent is not taken for a match.
int LoudRows(const std::string& csv) {
    std::istringstream lines(csv);
    std::string line;
    int loud = 0;
    while (std::getline(lines, line)) {
        unsigned ms = 0, device = 0, id = 0, b1 = 0, b2 = 0, b3 = 0;
        if (std::sscanf(line.c_str(), "%u,%u,%u,%u,%u,%u", &ms, &device, &id, &b1, &b2, &b3) == 6 &&
            (b1 != 0 || b2 != 0)) {
            ++loud;
        }
    }
    return loud;
}

std::vector<Case> Cases() {
    const std::string infinite = "4294967295";
    std::vector<Case> cases;
    // SDL's Cartesian {1, 0} arrives as 0x3FFF: a steering force of 0x6000, both motors.
    cases.push_back(
        {"constant along X",
         {Upload(0, Constant(0, 0x3FFF, 500, 0x6000)), Play(0, 0)},
         Script(700,
                {Download(0, 0, XEffect("500000", "[1]", "\"constant\": {\"magnitude\": 7500}")),
                 Start(0, 1)}),
         700,
         "",
         {0}});
    // fftest's "along X" is 0x4000, left: the game pushes left by a negative direction.
    ff_effect ramp = Effect(FF_RAMP, 0, 0x4000, 1000, 100);
    ramp.u.ramp.start_level = 0x1000;
    ramp.u.ramp.end_level = 0x7FFF;
    // The delay starts it 100 ms later; a second effect, stopped before its delay is over, never
    // starts.
    ff_effect late = Constant(1, 0xC000, 0, 0x7FFF);
    late.replay.delay = 200;
    cases.push_back(
        {"ramp delayed 100 ms, and a play stopped before its delay",
         {Upload(0, ramp), Upload(0, late), Play(0, 0), Play(0, 1), Stop(100, 1)},
         Script(
             1200,
             {Download(0, 1,
                       XEffect("1000000", "[-1]", "\"ramp\": {\"start\": 1250, \"end\": 10000}")),
              Download(0, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 10000}")),
              Start(100, 1), Call(100, "StopEffect", 2)}),
         1200,
         "",
         {0, 0}});
    // Wine turns a Windows game's X force into 0x402D.
    cases.push_back(
        {"sine with attack and fade, phase a quarter",
         {Upload(0,
                 Periodic(0, FF_SINE, 0x402D, 1000, 100, 0x7FFF, 0, 0x4000, {200, 0, 200, 0x2000})),
          Play(0, 0)},
         Script(1100, {Download(0, 3,
                                XEffect("1000000", "[-1]",
                                        "\"periodic\": {\"magnitude\": 10000, \"offset\": 0, "
                                        "\"phase\": 9000, \"period\": 100000}",
                                        "{\"attack_level\": 0, \"attack_time\": 200000, "
                                        "\"fade_level\": 2500, \"fade_time\": 200000}")),
                       Start(0, 1)}),
         1100,
         "",
         {0}});
    // Upside down is half a period later; played twice.
    cases.push_back(
        {"square, negative magnitude, twice",
         {Upload(0, Periodic(0, FF_SQUARE, 0xC000, 300, 200, -0x4000, 0, 0)), Play(0, 0, 2)},
         Script(800, {Download(0, 2,
                               XEffect("300000", "[1]",
                                       "\"periodic\": {\"magnitude\": 5000, \"offset\": 0, "
                                       "\"phase\": 18000, \"period\": 200000}")),
                      Start(0, 1, 2)}),
         800,
         "",
         {0}});
    // A force pointing off the X axis is still a force on the wheel: a Windows game has no
    // other axis to send it along. Endless, stopped by the client.
    cases.push_back(
        {"triangle with offset, endless, stopped",
         {Upload(0, Periodic(0, FF_TRIANGLE, 0x9000, 0, 250, 0x5000, 0x1000, 0)), Play(0, 0),
          Stop(500, 0)},
         Script(700, {Download(0, 4,
                               XEffect(infinite, "[1]",
                                       "\"periodic\": {\"magnitude\": 6250, \"offset\": 1250, "
                                       "\"phase\": 0, \"period\": 250000}")),
                      Start(0, 1), Call(500, "StopEffect", 1)}),
         700,
         "",
         {0}});
    cases.push_back(
        {"saw up, and saw down upside down is saw up",
         {Upload(0, Periodic(0, FF_SAW_UP, 0x4000, 600, 300, 0x7FFF, 0, 0)),
          Upload(0, Periodic(1, FF_SAW_DOWN, 0x4000, 600, 300, -0x7FFF, 0, 0)), Play(0, 0),
          Play(300, 1)},
         Script(1000, {Download(0, 5,
                                XEffect("600000", "[-1]",
                                        "\"periodic\": {\"magnitude\": 10000, \"offset\": "
                                        "0, \"phase\": 0, \"period\": 300000}")),
                       Download(0, 5,
                                XEffect("600000", "[-1]",
                                        "\"periodic\": {\"magnitude\": 10000, \"offset\": "
                                        "0, \"phase\": 0, \"period\": 300000}")),
                       Start(0, 1), Start(300, 2)}),
         1000,
         "",
         {0, 0}});
    ff_effect rumble = Effect(FF_RUMBLE, 0, 0, 400);
    rumble.u.rumble.strong_magnitude = 0xC000;
    rumble.u.rumble.weak_magnitude = 0x8000;
    // One constant force along each motor's axis; both stop together.
    cases.push_back({"rumble: strong to motor A, weak to motor B, stopped early",
                     {Upload(0, rumble), Play(0, 0), Stop(300, 0)},
                     Script(500, {Download(0, 0,
                                           DiEffect("[2, 258]", "400000", "[1, 0]",
                                                    "\"constant\": {\"magnitude\": 7500}")),
                                  Download(0, 0,
                                           DiEffect("[2, 258]", "400000", "[0, 1]",
                                                    "\"constant\": {\"magnitude\": 5000}")),
                                  Start(0, 1), Start(0, 2), Call(300, "StopEffect", 1),
                                  Call(300, "StopEffect", 2)}),
                     500,
                     "",
                     {0}});
    // A spring is accepted and silent; the constant beside it plays at gain 0x8000 (5000) and
    // the file's intensity, 600, and is then updated in place and erased. A negative level
    // pushing right is a push to the left.
    ff_effect spring = Effect(FF_SPRING, 1, 0, 0);
    spring.u.condition[0].right_coeff = 0x4000;
    cases.push_back(
        {"gain, intensity file, a spring, an update and an erasure",
         {Gain(0, 0x8000), Upload(0, Constant(0, 0xC000, 0, -0x7FFF)), Upload(0, spring),
          Play(0, 0), Play(0, 1), Upload(200, Constant(0, 0xC000, 0, -0x4000)), Erase(400, 0)},
         Script(
             600,
             {"{\"at_ms\": 0, \"call\": \"SetGain\", \"device\": 0, \"gain\": 5000}",
              Download(0, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": -10000}")),
              Download(0, 7, XEffect(infinite, "[1]", "\"raw\": \"\"")), Start(0, 1), Start(0, 2),
              Download(200, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": -5000}"), 1,
                       1023),
              Call(400, "DestroyEffect", 1)},
             "600"),
         600,
         "# the owner's setting\namplify = 600\n",
         {0, 0, 0, 0}});
    // An update the driver cannot copy fails for the client, and the kernel keeps the old
    // effect: it plays on unchanged and erases fine, and its slots are free again after.
    std::vector<ClientStep> refused = {Upload(0, Constant(0, 0x3FFF, 0, 0x6000)), Play(0, 0),
                                       StarvedUpload(100, Constant(0, 0x3FFF, 0, 0x2000), 1),
                                       Erase(300, 0)};
    std::vector<int> refusedUploads = {0, -ENOMEM, 0};
    for (int16_t id = 0; id < 16; ++id) {
        ff_effect full = Effect(FF_RUMBLE, id, 0, 100);
        refused.push_back(Upload(400, full));
        refusedUploads.push_back(0);
    }
    cases.push_back(
        {"an update refused by the driver leaves the effect as it was", refused,
         Script(500,
                {Download(0, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 7500}")),
                 Start(0, 1), Call(300, "DestroyEffect", 1)}),
         500, "", refusedUploads});
    // A rumble whose strong part took the new parameters and whose weak part was refused: both
    // are the old rumble again.
    ff_effect quieter = rumble;
    quieter.u.rumble.strong_magnitude = 0x2000;
    quieter.u.rumble.weak_magnitude = 0x2000;
    cases.push_back({"a rumble update refused halfway leaves the rumble as it was",
                     {Upload(0, rumble), Play(0, 0), StarvedUpload(100, quieter, 4), Erase(300, 0)},
                     Script(500, {Download(0, 0,
                                           DiEffect("[2, 258]", "400000", "[1, 0]",
                                                    "\"constant\": {\"magnitude\": 7500}")),
                                  Download(0, 0,
                                           DiEffect("[2, 258]", "400000", "[0, 1]",
                                                    "\"constant\": {\"magnitude\": 5000}")),
                                  Start(0, 1), Start(0, 2), Call(300, "DestroyEffect", 1),
                                  Call(300, "DestroyEffect", 2)}),
                     500,
                     "",
                     {0, -ENOMEM, 0}});
    // The refused effect's slot was the second; with the first free by then, the old effect
    // comes back in the first and plays from its start (the game's equivalent: stop, download,
    // start). The second slot is stopped, so the next effect, put there, waits for its play.
    cases.push_back(
        {"an effect refused an update comes back in another slot",
         {Upload(0, Constant(1, 0x3FFF, 0, 0x7FFF)), Upload(0, Constant(0, 0x3FFF, 0, 0x6000)),
          Play(0, 0), Erase(100, 1), StarvedUpload(200, Constant(0, 0x3FFF, 0, 0x2000), 0),
          Upload(300, Constant(1, 0x3FFF, 0, 0x7FFF)), Erase(400, 0)},
         Script(500,
                {Download(0, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 10000}")),
                 Download(0, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 7500}")),
                 Start(0, 2), Call(100, "DestroyEffect", 1), Call(200, "StopEffect", 2),
                 Download(200, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 7500}")),
                 Start(200, 1),
                 Download(300, 0, XEffect(infinite, "[1]", "\"constant\": {\"magnitude\": 10000}")),
                 Call(400, "DestroyEffect", 1)}),
         500,
         "",
         {0, 0, 0, -ENOMEM, 0, 0}});
    // The gain a client sets stays when the wheel is bound again; a device made anew starts at
    // full gain.
    cases.push_back(
        {"the gain stays across a re-bind, not across devices",
         {Gain(0, 0x8000), Upload(0, Constant(0, 0x3FFF, 100, 0x7FFF)), Play(0, 0),
          Service(150, Do::Rebind), Play(200, 0), Service(350, Do::Drop),
          Upload(400, Constant(0, 0x3FFF, 100, 0x7FFF)), Play(400, 0)},
         Script(600,
                {"{\"at_ms\": 0, \"call\": \"SetGain\", \"device\": 0, \"gain\": 5000}",
                 Download(0, 0, XEffect("100000", "[1]", "\"constant\": {\"magnitude\": 10000}")),
                 Start(0, 1), Start(200, 1), Call(350, "DestroyEffect", 1),
                 "{\"at_ms\": 350, \"call\": \"SetGain\", \"device\": 0, \"gain\": 10000}",
                 Download(400, 0, XEffect("100000", "[1]", "\"constant\": {\"magnitude\": 10000}")),
                 Start(400, 1)}),
         600,
         "",
         {0, 0}});
    return cases;
}

std::vector<std::string> Rows(const std::string& csv) {
    std::istringstream lines(csv);
    std::vector<std::string> rows;
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        rows.push_back(line);
    }
    return rows;
}

bool AllOff(const std::string& row) {
    return row.size() > 6 && row.compare(row.size() - 6, 6, ",0,0,0") == 0;
}

// The service's rows are the player's, row for row, except that once an all-off report has
// gone out, the player's further all-off rows may be missing (the service's tick rests while
// nothing plays). Empty when they match, else the first row that does not.
std::string DifferenceWhilePlaying(const std::string& service, const std::string& player) {
    const std::vector<std::string> sent = Rows(service);
    size_t next = 0;
    bool off = true;
    for (const std::string& row : Rows(player)) {
        if (next < sent.size() && sent[next] == row) {
            off = AllOff(row);
            ++next;
        } else if (!(off && AllOff(row))) {
            return "player " + row + ", service " + (next < sent.size() ? sent[next] : "nothing");
        }
    }
    return next == sent.size() ? "" : "service sent more: " + sent[next];
}

TEST(SameReports, EachEffectTypeGivesThePlayersReports) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        std::vector<int> uploads;
        const std::string service = PlayClient(c, &uploads);
        const std::string player = PlayScript(c.script);
        EXPECT_EQ(uploads, c.uploads);
        EXPECT_GT(LoudRows(player), 0) << player;
        EXPECT_EQ(DifferenceWhilePlaying(service, player), "") << service << "\n" << player;
    }
}

// An idle wheel gets one all-off report and then none until the next play; rumbles of 10 ms,
// shorter than a tick and started between ticks, each reach the wheel at their start.
TEST(SameReports, AnIdleWheelRestsAndShortEffectsReachIt) {
    ff_effect blip = Effect(FF_RUMBLE, 0, 0, 10);
    blip.u.rumble.strong_magnitude = 0xC000;
    blip.u.rumble.weak_magnitude = 0x8000;
    Case c = {"blips", {Upload(0, blip)}, "", 2000, "", {}};
    std::vector<uint32_t> plays;
    // Some apart by less than a tick, while the tick still runs, most from a resting one.
    for (uint32_t at = 1003; at < 1800; at += (plays.size() % 4 == 0 ? 11 : 37)) {
        plays.push_back(at);
        c.client.push_back(Play(at, 0));
    }
    // An endless rumble played and stopped between two ticks, as SDL stops a short rumble.
    ff_effect endless = Effect(FF_RUMBLE, 1, 0, 0);
    endless.u.rumble.strong_magnitude = 0x4000;
    c.client.push_back(Upload(1850, endless));
    c.client.push_back(Play(1900, 0));
    c.client.push_back(Play(1905, 1));
    c.client.push_back(Stop(1910, 1));
    // SDL's own way: the playing rumble updated to full and 5 ms later to nothing.
    ff_effect full = endless;
    full.u.rumble.strong_magnitude = 0xFFFF;
    ff_effect none = endless;
    none.u.rumble.strong_magnitude = 0;
    c.client.push_back(Play(1960, 1));
    c.client.push_back(Upload(1965, full));
    c.client.push_back(Upload(1970, none));
    std::vector<int> uploads;
    const std::vector<std::string> rows = Rows(PlayClient(c, &uploads));
    EXPECT_EQ(uploads, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [](const std::string& row) {
                               return row.rfind("1970,0,0,", 0) == 0 &&
                                      row.find(",254,") != std::string::npos;
                           }),
              rows.end())
        << "the full rumble, replaced within a tick, never reached the wheel";
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [](const std::string& row) {
                               return row.rfind("1910,", 0) == 0 && !AllOff(row);
                           }),
              rows.end())
        << "the rumble stopped between ticks never reached the wheel";
    plays.push_back(1900);
    std::string idle;
    std::string afterLast;
    for (const std::string& row : rows) {
        const unsigned ms = static_cast<unsigned>(std::stoul(row));
        if (ms < 1000) {
            idle += row + " ";
        } else if (ms > 1910 + dravik::kTickPeriodMs && ms < 1960) {
            afterLast += row + " ";
        }
    }
    EXPECT_EQ(idle, "25,0,0,0,0,0 ");
    EXPECT_EQ(afterLast, "");
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(AllOff(rows.back()));
    for (uint32_t at : plays) {
        const std::string loud = std::to_string(at) + ",0,0,1,190,0";
        EXPECT_NE(std::find(rows.begin(), rows.end(), loud), rows.end()) << "no " << loud;
    }
}

// Clients send garbage: none of it may reach the wheel as anything but what the driver computes
// for the valid requests around it.
TEST(SameReports, GarbageFromClientsChangesNothing) {
    Case clean = {"clean", {Upload(0, Constant(0, 0x8000, 600, 0x4000)), Play(0, 0)}, "", 700, "",
                  {0}};
    Case noisy = clean;
    ff_effect unknownWave = Periodic(1, 0x7777, 0, 100, 100, 100, 0, 0);
    ff_effect custom = Periodic(2, FF_CUSTOM, 0, 100, 100, 100, 0, 0);
    ff_effect badId = Constant(99, 0, 100, 0x7FFF);
    ff_effect negativeId = Constant(-1, 0, 100, 0x7FFF);
    ff_effect zeroPeriod = Periodic(3, FF_SINE, 0x8000, 0, 0, 0x7FFF, 0, 0);
    noisy.client = {
        Upload(0, Constant(0, 0x8000, 600, 0x4000)),
        Upload(0, unknownWave),
        Upload(0, custom),
        Upload(0, badId),
        Upload(0, negativeId),
        // fftest plays 65535 after a failed upload; ids never uploaded, or erased.
        Play(0, 0xFFFF),
        Play(0, 5),
        Stop(0, 7),
        Play(0, 0),
        Play(0, 0, -3),
        Erase(0, 9),
        Erase(0, -4),
        // A sine of period 0 plays as silence, and so changes nothing either.
        Upload(100, zeroPeriod),
        Play(100, 3, 0x7FFFFFFF),
        {150, Do::Play, {}, 0x61, 1},  // FF_AUTOCENTER: not offered
    };
    noisy.uploads = {0, -EINVAL, -EINVAL, -EINVAL, -EINVAL, -EINVAL, -EINVAL, 0};
    std::vector<int> cleanUploads;
    std::vector<int> noisyUploads;
    const std::string expected = PlayClient(clean, &cleanUploads);
    EXPECT_GT(LoudRows(expected), 0);
    // The silent sine plays on, so the noisy run's tick goes on with all-off reports.
    EXPECT_EQ(DifferenceWhilePlaying(expected, PlayClient(noisy, &noisyUploads)), "");
    EXPECT_EQ(noisyUploads, noisy.uploads);
}

}  // namespace
