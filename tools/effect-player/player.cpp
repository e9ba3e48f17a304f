#include "player.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <ostream>
#include <sstream>

#include "common/registry.h"
#include "common/services.h"
#include "common/wheel_ids.h"
#include "ffdriver/driver_factory.h"
#include "ffdriver/effect_driver.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_wheel.h"
#include "install/wheel_data.h"

namespace effect_player {

namespace {

using Json = nlohmann::json;

constexpr int64_t kDwordMax = std::numeric_limits<uint32_t>::max();
constexpr int64_t kLongMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kLongMax = std::numeric_limits<int32_t>::max();
// The version of DirectInput the player binds devices as.
constexpr DWORD kDirectInputVersion = 0x0700;

const struct {
    const char* name;
    Call call;
} kCalls[] = {
    {"SetGain", Call::SetGain},
    {"DownloadEffect", Call::DownloadEffect},
    {"StartEffect", Call::StartEffect},
    {"StopEffect", Call::StopEffect},
    {"DestroyEffect", Call::DestroyEffect},
    {"GetEffectStatus", Call::GetEffectStatus},
    {"SendForceFeedbackCommand", Call::SendForceFeedbackCommand},
    {"SetAmplify", Call::SetAmplify},
};

// Where a check is made ("steps[3] (StartEffect)") and where its failure goes.
class Context {
  public:
    Context(std::string where, std::string* error) : where_(std::move(where)), error_(error) {}

    Context Nested(const std::string& what) const { return Context(where_ + " " + what, error_); }

    bool Fail(const std::string& what) const {
        *error_ = where_ + ": " + what;
        return false;
    }

    // Rejects fields the call does not take, so a misspelt one is not silently ignored.
    bool OnlyFields(const Json& object, std::initializer_list<const char*> allowed) const {
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool known = false;
            for (const char* name : allowed) {
                known = known || it.key() == name;
            }
            if (!known) {
                return Fail("unknown field \"" + it.key() + "\"");
            }
        }
        return true;
    }

    bool Integer(const Json& value, const std::string& name, int64_t lo, int64_t hi,
                 int64_t* out) const {
        const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
        if (value.is_number_unsigned()) {
            const uint64_t v = value.get<uint64_t>();
            if (v > static_cast<uint64_t>(hi)) {
                return Fail("\"" + name + "\" is out of range (" + range + ")");
            }
            *out = static_cast<int64_t>(v);
        } else if (value.is_number_integer()) {
            *out = value.get<int64_t>();
        } else {
            return Fail("\"" + name + "\" must be a whole number from " + range);
        }
        if (*out < lo || *out > hi) {
            return Fail("\"" + name + "\" is out of range (" + range + ")");
        }
        return true;
    }

    bool Dword(const Json& object, const char* name, DWORD* out, bool required = true) const {
        const auto it = object.find(name);
        if (it == object.end()) {
            return required ? Fail(std::string("\"") + name + "\" is missing") : true;
        }
        int64_t v = 0;
        if (!Integer(*it, name, 0, kDwordMax, &v)) {
            return false;
        }
        *out = static_cast<DWORD>(v);
        return true;
    }

    bool Long(const Json& object, const char* name, LONG* out) const {
        const auto it = object.find(name);
        if (it == object.end()) {
            return Fail(std::string("\"") + name + "\" is missing");
        }
        int64_t v = 0;
        if (!Integer(*it, name, kLongMin, kLongMax, &v)) {
            return false;
        }
        *out = static_cast<LONG>(v);
        return true;
    }

    bool Object(const Json& value, const std::string& name) const {
        return value.is_object() ? true : Fail("\"" + name + "\" must be an object");
    }

  private:
    std::string where_;
    std::string* error_;
};

bool ParseHive(const Context& c, const Json& value, const char* name, HKEY* hive) {
    if (value == "user") {
        *hive = HKEY_CURRENT_USER;
    } else if (value == "machine") {
        *hive = HKEY_LOCAL_MACHINE;
    } else {
        return c.Fail(std::string("\"") + name + "\" must be \"user\" or \"machine\"");
    }
    return true;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

template <typename T>
std::vector<uint8_t> BytesOf(const T& record) {
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

// axes or direction: an array of numbers in [lo, hi], or null for a null pointer.
template <typename T>
bool ParseArray(const Context& c, const Json& effect, const char* name, int64_t lo, int64_t hi,
                std::optional<std::vector<T>>* out) {
    const auto it = effect.find(name);
    if (it == effect.end()) {
        return c.Fail(std::string("\"") + name + "\" is missing");
    }
    if (it->is_null()) {
        out->reset();
        return true;
    }
    if (!it->is_array()) {
        return c.Fail(std::string("\"") + name + "\" must be an array or null");
    }
    std::vector<T> values;
    for (size_t i = 0; i < it->size(); ++i) {
        int64_t v = 0;
        if (!c.Integer((*it)[i], std::string(name) + "[" + std::to_string(i) + "]", lo, hi, &v)) {
            return false;
        }
        values.push_back(static_cast<T>(v));
    }
    // There is nothing for an empty array to point at.
    if (values.empty()) {
        out->reset();
    } else {
        *out = std::move(values);
    }
    return true;
}

bool ParseTypeSpecific(const Context& c, const Json& effect, ScriptEffect* described) {
    const char* const kinds[] = {"constant", "ramp", "periodic", "raw"};
    const char* kind = nullptr;
    for (const char* k : kinds) {
        if (effect.contains(k)) {
            if (kind != nullptr) {
                return c.Fail(std::string("has both \"") + kind + "\" and \"" + k +
                              "\"; an effect takes exactly one");
            }
            kind = k;
        }
    }
    if (kind == nullptr) {
        return c.Fail("needs one of \"constant\", \"ramp\", \"periodic\" or \"raw\"");
    }
    const Json& params = effect[kind];
    const Context inner = c.Nested(kind);
    if (std::strcmp(kind, "raw") == 0) {
        if (!params.is_string()) {
            return c.Fail("\"raw\" must be a string of hexadecimal digits");
        }
        const std::string text = params.get<std::string>();
        if (text.size() % 2 != 0) {
            return c.Fail("\"raw\" must have an even number of hexadecimal digits");
        }
        for (size_t i = 0; i < text.size(); i += 2) {
            const int hi = HexDigit(text[i]);
            const int lo = HexDigit(text[i + 1]);
            if (hi < 0 || lo < 0) {
                return c.Fail("\"raw\" must be a string of hexadecimal digits");
            }
            described->typeSpecific.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        return true;
    }
    if (!c.Object(params, kind)) {
        return false;
    }
    if (std::strcmp(kind, "constant") == 0) {
        DICONSTANTFORCE force = {};
        if (!inner.OnlyFields(params, {"magnitude"}) ||
            !inner.Long(params, "magnitude", &force.lMagnitude)) {
            return false;
        }
        described->typeSpecific = BytesOf(force);
    } else if (std::strcmp(kind, "ramp") == 0) {
        DIRAMPFORCE force = {};
        if (!inner.OnlyFields(params, {"start", "end"}) ||
            !inner.Long(params, "start", &force.lStart) ||
            !inner.Long(params, "end", &force.lEnd)) {
            return false;
        }
        described->typeSpecific = BytesOf(force);
    } else {
        DIPERIODIC wave = {};
        if (!inner.OnlyFields(params, {"magnitude", "offset", "phase", "period"}) ||
            !inner.Dword(params, "magnitude", &wave.dwMagnitude) ||
            !inner.Long(params, "offset", &wave.lOffset) ||
            !inner.Dword(params, "phase", &wave.dwPhase) ||
            !inner.Dword(params, "period", &wave.dwPeriod)) {
            return false;
        }
        described->typeSpecific = BytesOf(wave);
    }
    return true;
}

bool ParseEffect(const Context& step, const Json& value, std::optional<ScriptEffect>* out) {
    if (value.is_null()) {
        out->reset();
        return true;
    }
    if (!step.Object(value, "effect")) {
        return false;
    }
    const Context c = step.Nested("effect");
    if (!c.OnlyFields(value, {"flags", "duration", "sample_period", "gain", "trigger_button",
                              "trigger_repeat_interval", "axes", "direction", "envelope",
                              "constant", "ramp", "periodic", "raw"})) {
        return false;
    }
    ScriptEffect described;
    if (!c.Dword(value, "flags", &described.flags) ||
        !c.Dword(value, "duration", &described.duration) ||
        !c.Dword(value, "gain", &described.gain) ||
        !c.Dword(value, "sample_period", &described.samplePeriod, false) ||
        !c.Dword(value, "trigger_button", &described.triggerButton, false) ||
        !c.Dword(value, "trigger_repeat_interval", &described.triggerRepeatInterval, false) ||
        !ParseArray(c, value, "axes", 0, kDwordMax, &described.axes) ||
        !ParseArray(c, value, "direction", kLongMin, kLongMax, &described.direction)) {
        return false;
    }
    // One count, cAxes, covers both arrays; the driver reads that many entries of each.
    if (described.axes && described.direction &&
        described.axes->size() != described.direction->size()) {
        return c.Fail("\"axes\" and \"direction\" must have the same length");
    }
    const auto env = value.find("envelope");
    if (env != value.end() && !env->is_null()) {
        if (!c.Object(*env, "envelope")) {
            return false;
        }
        const Context e = c.Nested("envelope");
        DIENVELOPE envelope = {};
        envelope.dwSize = sizeof(DIENVELOPE);
        if (!e.OnlyFields(*env, {"attack_level", "attack_time", "fade_level", "fade_time"}) ||
            !e.Dword(*env, "attack_level", &envelope.dwAttackLevel) ||
            !e.Dword(*env, "attack_time", &envelope.dwAttackTime) ||
            !e.Dword(*env, "fade_level", &envelope.dwFadeLevel) ||
            !e.Dword(*env, "fade_time", &envelope.dwFadeTime)) {
            return false;
        }
        described.envelope = envelope;
    }
    if (!ParseTypeSpecific(c, value, &described)) {
        return false;
    }
    *out = std::move(described);
    return true;
}

bool ParseHandle(const Context& c, const Json& step, bool haveDownload, HandleRef* out) {
    const auto it = step.find("handle");
    if (it == step.end()) {
        return c.Fail("\"handle\" is missing");
    }
    if (it->is_string()) {
        if (*it != "last") {
            return c.Fail("\"handle\" must be a whole number or \"last\"");
        }
        if (!haveDownload) {
            return c.Fail("\"handle\" is \"last\" but no DownloadEffect comes before it");
        }
        out->last = true;
        return true;
    }
    int64_t v = 0;
    if (!c.Integer(*it, "handle", 0, kDwordMax, &v)) {
        return false;
    }
    out->value = static_cast<DWORD>(v);
    return true;
}

bool ParseStep(const Json& value, size_t index, uint32_t previousMs, uint32_t untilMs,
               bool* haveDownload, Step* step, std::string* error) {
    const std::string at = "steps[" + std::to_string(index) + "]";
    Context c(at, error);
    if (!value.is_object()) {
        return c.Fail("must be an object");
    }
    const auto call = value.find("call");
    if (call == value.end()) {
        return c.Fail("\"call\" is missing");
    }
    if (!call->is_string()) {
        return c.Fail("\"call\" must be a string");
    }
    const std::string name = call->get<std::string>();
    bool known = false;
    for (const auto& entry : kCalls) {
        if (name == entry.name) {
            step->call = entry.call;
            known = true;
        }
    }
    if (!known) {
        return c.Fail("unknown call \"" + name + "\"");
    }
    c = Context(at + " (" + name + ")", error);
    step->index = index;
    DWORD atMs = 0;
    if (!c.Dword(value, "at_ms", &atMs)) {
        return false;
    }
    if (atMs < previousMs) {
        return c.Fail("\"at_ms\" " + std::to_string(atMs) + " comes before the previous step's " +
                      std::to_string(previousMs) + "; steps must be in time order");
    }
    if (atMs > untilMs) {
        return c.Fail("\"at_ms\" " + std::to_string(atMs) + " is after \"until_ms\" " +
                      std::to_string(untilMs));
    }
    step->atMs = atMs;

    switch (step->call) {
        case Call::SetGain:
            return c.OnlyFields(value, {"at_ms", "call", "device", "gain"}) &&
                   c.Dword(value, "device", &step->device) && c.Dword(value, "gain", &step->value);
        case Call::DownloadEffect: {
            if (!c.OnlyFields(value,
                              {"at_ms", "call", "device", "type", "handle", "flags", "effect"}) ||
                !c.Dword(value, "device", &step->device) || !c.Dword(value, "type", &step->type) ||
                !ParseHandle(c, value, *haveDownload, &step->handle) ||
                !c.Dword(value, "flags", &step->flags)) {
                return false;
            }
            const auto effect = value.find("effect");
            if (effect == value.end()) {
                return c.Fail("\"effect\" is missing");
            }
            if (!ParseEffect(c, *effect, &step->effect)) {
                return false;
            }
            *haveDownload = true;
            return true;
        }
        case Call::StartEffect:
            return c.OnlyFields(value, {"at_ms", "call", "device", "handle", "mode", "count"}) &&
                   c.Dword(value, "device", &step->device) &&
                   ParseHandle(c, value, *haveDownload, &step->handle) &&
                   c.Dword(value, "mode", &step->value) && c.Dword(value, "count", &step->count);
        case Call::StopEffect:
        case Call::DestroyEffect:
        case Call::GetEffectStatus:
            return c.OnlyFields(value, {"at_ms", "call", "device", "handle"}) &&
                   c.Dword(value, "device", &step->device) &&
                   ParseHandle(c, value, *haveDownload, &step->handle);
        case Call::SendForceFeedbackCommand:
            return c.OnlyFields(value, {"at_ms", "call", "device", "command"}) &&
                   c.Dword(value, "device", &step->device) &&
                   c.Dword(value, "command", &step->value);
        case Call::SetAmplify: {
            if (!c.OnlyFields(value, {"at_ms", "call", "value", "hive"}) ||
                !c.Dword(value, "value", &step->value)) {
                return false;
            }
            const auto hive = value.find("hive");
            if (hive != value.end()) {
                HKEY root = nullptr;
                if (!ParseHive(c, *hive, "hive", &root)) {
                    return false;
                }
                step->hive = root;
            }
            return true;
        }
    }
    return c.Fail("unhandled call");
}

std::string Hresult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// Writes Amplify as the Effect page does: create the OEM key, store a REG_DWORD.
void WriteAmplify(wheel::RegistryApi& registry, HKEY root, DWORD value) {
    HKEY raw = nullptr;
    if (registry.CreateKey(root, wheel::OemKey().c_str(), &raw) != ERROR_SUCCESS) {
        return;
    }
    wheel::RegKey key(registry, raw);
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    registry.SetValue(key.get(), "Amplify", REG_DWORD, bytes, sizeof bytes);
}

// One driver object with its hosted platform, as DirectInput would create it through COM.
class Session {
  public:
    Session(const Script& script, std::ostream& out) : script_(script), out_(out), wheel_(clock_) {}

    ~Session() {
        // The teardown's all-off reports come after the script's window and are not printed.
        if (driver_ != nullptr) {
            driver_->Release();
        }
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Play() {
        out_ << "ms,device,report_id,byte1,byte2,byte3\n";
        if (!Create()) {
            return;
        }
        for (size_t i = 0; i < script_.devices.size(); ++i) {
            const DWORD id = script_.devices[i];
            wheel_.Attach(id);
            const HRESULT hr = driver_->DeviceID(kDirectInputVersion, id, 1, 0, nullptr);
            if (FAILED(hr)) {
                out_ << "# DeviceID,devices[" << i << "]," << Hresult(hr) << "\n";
            }
            Drain();
        }
        size_t next = 0;
        const auto runUntil = [&](uint64_t ms) {
            while (next < script_.steps.size() && script_.steps[next].atMs <= ms) {
                clock_.Set(script_.steps[next].atMs);
                Run(script_.steps[next]);
                Drain();
                ++next;
            }
        };
        for (uint64_t tick = dravik::kTickPeriodMs; tick <= script_.untilMs;
             tick += dravik::kTickPeriodMs) {
            runUntil(tick);
            clock_.Set(static_cast<uint32_t>(tick));
            timer_.Fire();
            Drain();
        }
        runUntil(script_.untilMs);
    }

  private:
    bool Create() {
        const LONG written = install::WriteWheelData(registry_);
        if (written != ERROR_SUCCESS) {
            out_ << "# WriteWheelData,-," << written << "\n";
            return false;
        }
        if (script_.amplify) {
            WriteAmplify(
                registry_,
                script_.amplifyHive ? *script_.amplifyHive : wheel::AmplifyRoot(script_.os),
                *script_.amplify);
        }
        dravik::DriverServices services;
        services.registry = &registry_;
        services.clock = &clock_;
        services.timer = &timer_;
        services.storeLock = &storeEvent_;
        services.link = &wheel_;
        services.moduleCount = &moduleCount_;
        const wheel::OsClass os = script_.os;
        services.osClass = [os] { return os; };
        services.sleep = [](uint32_t) {};

        IClassFactory* factory = nullptr;
        HRESULT hr = dravik::GetDriverClassObject(services, wheel::kDravikClsid, IID_IClassFactory,
                                                  reinterpret_cast<void**>(&factory));
        if (FAILED(hr)) {
            out_ << "# DllGetClassObject,-," << Hresult(hr) << "\n";
            return false;
        }
        hr = factory->CreateInstance(nullptr, IID_IDirectInputEffectDriver,
                                     reinterpret_cast<void**>(&driver_));
        factory->Release();
        if (FAILED(hr)) {
            out_ << "# CreateInstance,-," << Hresult(hr) << "\n";
            driver_ = nullptr;
            return false;
        }
        return true;
    }

    DWORD Resolve(const HandleRef& handle) const { return handle.last ? last_ : handle.value; }

    void Run(const Step& step) {
        HRESULT hr = S_OK;
        switch (step.call) {
            case Call::SetGain:
                hr = driver_->SetGain(step.device, step.value);
                break;
            case Call::DownloadEffect: {
                DWORD handle = Resolve(step.handle);
                if (step.effect) {
                    const ScriptEffect& described = *step.effect;
                    // Copies the driver may read; the step itself stays untouched.
                    std::vector<DWORD> axes = described.axes.value_or(std::vector<DWORD>());
                    std::vector<LONG> direction = described.direction.value_or(std::vector<LONG>());
                    DIENVELOPE envelope = described.envelope.value_or(DIENVELOPE{});
                    std::vector<uint8_t> typeSpecific = described.typeSpecific;
                    DIEFFECT effect = {};
                    effect.dwSize = sizeof(DIEFFECT);
                    effect.dwFlags = described.flags;
                    effect.dwDuration = described.duration;
                    effect.dwSamplePeriod = described.samplePeriod;
                    effect.dwGain = described.gain;
                    effect.dwTriggerButton = described.triggerButton;
                    effect.dwTriggerRepeatInterval = described.triggerRepeatInterval;
                    effect.cAxes = static_cast<DWORD>(
                        axes.size() > direction.size() ? axes.size() : direction.size());
                    effect.rgdwAxes = described.axes ? axes.data() : nullptr;
                    effect.rglDirection = described.direction ? direction.data() : nullptr;
                    effect.lpEnvelope = described.envelope ? &envelope : nullptr;
                    effect.cbTypeSpecificParams = static_cast<DWORD>(typeSpecific.size());
                    effect.lpvTypeSpecificParams =
                        typeSpecific.empty() ? nullptr : typeSpecific.data();
                    hr = driver_->DownloadEffect(step.device, step.type, &handle, &effect,
                                                 step.flags);
                } else {
                    hr = driver_->DownloadEffect(step.device, step.type, &handle, nullptr,
                                                 step.flags);
                }
                last_ = handle;
                break;
            }
            case Call::StartEffect:
                hr =
                    driver_->StartEffect(step.device, Resolve(step.handle), step.value, step.count);
                break;
            case Call::StopEffect:
                hr = driver_->StopEffect(step.device, Resolve(step.handle));
                break;
            case Call::DestroyEffect:
                hr = driver_->DestroyEffect(step.device, Resolve(step.handle));
                break;
            case Call::GetEffectStatus: {
                DWORD status = 0;
                hr = driver_->GetEffectStatus(step.device, Resolve(step.handle), &status);
                if (SUCCEEDED(hr)) {
                    out_ << "# status," << Resolve(step.handle) << "," << status << "\n";
                }
                break;
            }
            case Call::SendForceFeedbackCommand:
                hr = driver_->SendForceFeedbackCommand(step.device, step.value);
                break;
            case Call::SetAmplify:
                WriteAmplify(registry_, step.hive ? *step.hive : wheel::AmplifyRoot(script_.os),
                             step.value);
                break;
        }
        if (FAILED(hr)) {
            out_ << "# " << CallName(step.call) << "," << step.index << "," << Hresult(hr) << "\n";
        }
    }

    // Prints what the wheel received since the last call, in arrival order.
    void Drain() {
        const std::vector<hosted::VirtualWheel::Report> reports = wheel_.Reports();
        wheel_.ClearReports();
        for (const auto& r : reports) {
            out_ << r.ms << "," << r.joystickId << "," << unsigned{r.bytes[0]} << ","
                 << unsigned{r.bytes[1]} << "," << unsigned{r.bytes[2]} << ","
                 << unsigned{r.bytes[3]} << "\n";
        }
    }

    const Script& script_;
    std::ostream& out_;
    hosted::MemoryRegistry registry_;
    hosted::ManualClock clock_;
    hosted::ManualTimer timer_;
    hosted::AutoResetEvent storeEvent_;
    hosted::VirtualWheel wheel_;
    wheel::ModuleCount moduleCount_;
    IDirectInputEffectDriver* driver_ = nullptr;
    DWORD last_ = 0;
};

}  // namespace

const char* CallName(Call call) {
    for (const auto& entry : kCalls) {
        if (entry.call == call) {
            return entry.name;
        }
    }
    return "?";
}

bool ParseScript(const std::string& text, Script* script, std::string* error) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& e) {
        *error = std::string("invalid JSON: ") + e.what();
        return false;
    }
    const Context c("script", error);
    if (!root.is_object()) {
        return c.Fail("must be a JSON object");
    }
    if (!c.OnlyFields(root, {"amplify", "amplify_hive", "os", "devices", "until_ms", "steps"})) {
        return false;
    }
    *script = Script();
    if (root.contains("amplify")) {
        DWORD amplify = 0;
        if (!c.Dword(root, "amplify", &amplify)) {
            return false;
        }
        script->amplify = amplify;
    }
    if (root.contains("amplify_hive")) {
        HKEY hive = nullptr;
        if (!ParseHive(c, root["amplify_hive"], "amplify_hive", &hive)) {
            return false;
        }
        script->amplifyHive = hive;
    }
    if (root.contains("os")) {
        const Json& os = root["os"];
        if (os == "nt6") {
            script->os = wheel::OsWinNT6;
        } else if (os == "xp") {
            script->os = wheel::OsWinXP;
        } else if (os == "98") {
            script->os = wheel::OsWin98;
        } else {
            return c.Fail("\"os\" must be \"nt6\", \"xp\" or \"98\"");
        }
    }
    if (!root.contains("devices")) {
        return c.Fail("\"devices\" is missing");
    }
    const Json& devices = root["devices"];
    if (!devices.is_array()) {
        return c.Fail("\"devices\" must be an array of external device IDs");
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        int64_t id = 0;
        if (!c.Integer(devices[i], "devices[" + std::to_string(i) + "]", 0, kDwordMax, &id)) {
            return false;
        }
        script->devices.push_back(static_cast<DWORD>(id));
    }
    DWORD until = 0;
    if (!c.Dword(root, "until_ms", &until)) {
        return false;
    }
    script->untilMs = until;
    if (!root.contains("steps")) {
        return c.Fail("\"steps\" is missing");
    }
    const Json& steps = root["steps"];
    if (!steps.is_array()) {
        return c.Fail("\"steps\" must be an array");
    }
    uint32_t previousMs = 0;
    bool haveDownload = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        Step step;
        if (!ParseStep(steps[i], i, previousMs, script->untilMs, &haveDownload, &step, error)) {
            return false;
        }
        previousMs = step.atMs;
        script->steps.push_back(std::move(step));
    }
    return true;
}

void PlayScript(const Script& script, std::ostream& out) {
    Session session(script, out);
    session.Play();
}

int RunScript(const std::string& text, std::ostream& out, std::ostream& err) {
    Script script;
    std::string error;
    if (!ParseScript(text, &script, &error)) {
        err << "effect-player: " << error << "\n";
        return kExitBadScript;
    }
    PlayScript(script, out);
    return kExitPlayed;
}

int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        err << "effect-player: cannot read " << path << "\n";
        return kExitBadScript;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        err << "effect-player: cannot read " << path << "\n";
        return kExitBadScript;
    }
    return RunScript(text.str(), out, err);
}

}  // namespace effect_player
