// The wheel check: what a support person would walk a wheel owner through, as one program. It
// looks at Windows and this program's bitness, the installation in this bitness's registry view,
// the rumble intensity, the wheel as the driver finds it, and lets the installed driver rumble
// each motor once. It only reads the registry and needs no administrator rights.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace wheelcheck {

struct Options {
    uint32_t joystickId = 0;  // --id N
    bool rumble = true;       // --no-rumble clears it
    bool json = false;        // --json
    bool help = false;        // --help
};

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;
inline constexpr int kExitBadArguments = 2;

// False with `error` set for anything but the four options (an --id of 16 or more included:
// the driver serves joystick IDs 0 to 15).
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// Inconclusive: the check ran, but something outside it spoils what it shows.
enum class Verdict { Ok, Problem, Skipped, Inconclusive };

struct CheckResult {
    std::string name;
    Verdict verdict;
    std::string found;   // what the check found, in plain words (UTF-8)
    std::string advice;  // for a problem or an inconclusive check: what to do
    bool ok() const { return verdict == Verdict::Ok || verdict == Verdict::Skipped; }
};

// The five checks, in order. The rumble test takes about two seconds.
std::vector<CheckResult> RunChecks(const Options& options);

// One line per check, then a summary line.
std::string FormatText(const std::vector<CheckResult>& results);
// {"exit_code": N, "checks": [{"name", "verdict", "ok", "found", "advice"}, ...]}
std::string FormatJson(const std::vector<CheckResult>& results);
int ExitCode(const std::vector<CheckResult>& results);

const char* VerdictText(Verdict verdict);
std::string Usage();

// The whole program: parses `args` (without the program's name), runs the checks, prints them
// to `out` (usage and argument errors to `err`) and returns the exit code.
int RunWheelCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace wheelcheck
