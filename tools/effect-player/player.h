// The effect player: plays a JSON script of driver calls against the driver's own code (the
// same EffectDriver, store and tick as the DLL) in one process, with the in-memory registry, a
// virtual clock, a timer fired by hand and the virtual wheel, and prints every report the wheel
// receives as CSV.
//
// Script:
//   {"amplify": 1000,          optional; absent = no Amplify value in the registry
//    "amplify_hive": "user",   optional; "user" or "machine" puts Amplify in that hive instead
//                              of the one the driver reads for "os"
//    "os": "nt6",              optional, "nt6" (default), "xp" or "98": the Windows version
//                              class the driver sees, which chooses the hive it reads Amplify from
//    "devices": [0],           external IDs bound with DeviceID, in this order
//    "until_ms": 2000,         ticks fall at 25, 50, ... ms up to and including this time
//    "steps": [{"at_ms": 0, "call": "SetGain", ...}, ...]}   in time order
//
// Calls and their fields (besides at_ms and call; every field is required unless noted):
//   SetGain {device, gain}
//   DownloadEffect {device, type, handle, flags, effect}; effect null passes a null pointer
//   StartEffect {device, handle, mode, count}
//   StopEffect / DestroyEffect / GetEffectStatus {device, handle}
//   SendForceFeedbackCommand {device, command}
//   SetAmplify {value, hive (optional, as amplify_hive)}: stores Amplify as REG_DWORD
// A handle is a number or "last": the handle the latest DownloadEffect left behind.
// An effect: {flags, duration, gain, sample_period (optional), trigger_button (optional),
// trigger_repeat_interval (optional), axes, direction, envelope (optional), and exactly one of
// constant {magnitude}, ramp {start, end}, periodic {magnitude, offset, phase, period} or raw
// (hex string of the type-specific bytes)}. axes and direction are arrays or null (a null
// pointer; an empty array too); when both are arrays they have the same length, which is cAxes.
// envelope is null, absent, or {attack_level, attack_time, fade_level, fade_time}.
//
// Output: "ms,device,report_id,byte1,byte2,byte3", then one row per report in the order the
// wheel received it: tick reports and the all-off reports of StopEffect. A failing driver call
// adds "# call,step,hresult"; GetEffectStatus adds "# status,handle,value".
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "common/platform.h"

namespace effect_player {

enum class Call {
    SetGain,
    DownloadEffect,
    StartEffect,
    StopEffect,
    DestroyEffect,
    GetEffectStatus,
    SendForceFeedbackCommand,
    SetAmplify,
};

const char* CallName(Call call);

struct HandleRef {
    bool last = false;
    DWORD value = 0;
};

struct ScriptEffect {
    DWORD flags = 0;
    DWORD duration = 0;
    DWORD samplePeriod = 0;
    DWORD gain = 0;
    DWORD triggerButton = 0;
    DWORD triggerRepeatInterval = 0;
    // nullopt: a null pointer.
    std::optional<std::vector<DWORD>> axes;
    std::optional<std::vector<LONG>> direction;
    std::optional<DIENVELOPE> envelope;
    std::vector<uint8_t> typeSpecific;
};

struct Step {
    size_t index = 0;
    uint32_t atMs = 0;
    Call call = Call::SetGain;
    DWORD device = 0;
    HandleRef handle;
    // The call's one number: gain, mode, command or Amplify value.
    DWORD value = 0;
    // DownloadEffect's type and flags, StartEffect's count.
    DWORD type = 0;
    DWORD flags = 0;
    DWORD count = 0;
    // DownloadEffect: nullopt passes a null DIEFFECT.
    std::optional<ScriptEffect> effect;
    // SetAmplify: the hive written, when the script names one.
    std::optional<HKEY> hive;
};

struct Script {
    std::optional<DWORD> amplify;
    std::optional<HKEY> amplifyHive;
    wheel::OsClass os = wheel::OsWinNT6;
    std::vector<DWORD> devices;
    uint32_t untilMs = 0;
    std::vector<Step> steps;
};

// Parses and checks a whole script. On failure `error` names the step ("steps[3] (StartEffect):
// ...") or the top-level field, and `script` is unspecified.
bool ParseScript(const std::string& text, Script* script, std::string* error);

// Plays a parsed script from virtual time 0 and writes the CSV.
void PlayScript(const Script& script, std::ostream& out);

// Exit codes of the command.
inline constexpr int kExitPlayed = 0;
inline constexpr int kExitBadScript = 2;

// Parses and plays; a rejected script writes one line to `err`, nothing to `out`, and returns
// kExitBadScript.
int RunScript(const std::string& text, std::ostream& out, std::ostream& err);

// RunScript on a file's contents; a file that cannot be read counts as a bad script.
int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace effect_player
