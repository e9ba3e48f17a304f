// The wheel check in the situations a wheel owner meets, against the virtual HID wheel in Wine's
// own HID stack and the driver installed where the installer puts it. The check's library runs
// inside this program, whose own module and the installed driver's module get the joystick
// configuration that Wine's DirectInput 7 lacks; the shipped wheel-check.exe runs as it is.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "common/services_win32.h"
#include "common/wheel_ids.h"
#include "ffdriver/effect_types.h"
#include "hid_wheel.h"
#include "joy_config_shim.h"
#include "tests/windows/win_test_util.h"
#include "tools/effect-player/player.h"
#include "wheel_check.h"

// After windows.h.
#include <tlhelp32.h>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 10000;  // record times are in 100 ns units
const Bytes kAllOff = {HID_WHEEL_REPORT_ID, 0, 0, 0};
constexpr size_t kChecks = 5;

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, sizeof folder);
    return folder;
}

std::string Installed(const char* file) {
    return SystemFolder() + "\\" + file;
}

void Register(const std::string& dll) {
    ASSERT_EQ(wintest::Run("regsvr32.exe /s \"" + dll + "\""), 0) << dll;
}

// What the installer leaves for this bitness: both libraries in the system folder, registered
// from there, and the wheel's registry data.
void Install() {
    for (const auto& [file, variable] : {std::pair{"dravik.dll", "WHEEL_DRAVIK_DLL"},
                                         std::pair{"velquin.dll", "WHEEL_VELQUIN_DLL"}}) {
        const std::string built = wintest::DllPathFromEnv(variable);
        ASSERT_FALSE(built.empty()) << variable << " is not set";
        // A copy already loaded from an earlier run stays; it is the same build.
        CopyFileA(built.c_str(), Installed(file).c_str(), FALSE);
        Register(Installed(file));
    }
    wintest::InstallWheelData();
}

void SetAmplify(HKEY root, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Amplify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
}

void FullIntensity() {
    SetAmplify(HKEY_CURRENT_USER, 1000);
    SetAmplify(HKEY_LOCAL_MACHINE, 1000);
}

HKEY AmplifyHiveInUse() {
    return wheel::AmplifyRoot(wheel::GetOsClass());
}
HKEY AmplifyHiveUnused() {
    return AmplifyHiveInUse() == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

void Replug() {
    std::string message;
    ASSERT_TRUE(hidwheel::Install(wintest::DllPathFromEnv("WHEEL_HID_WHEEL_INF"), &message))
        << message;
}

void Unplug() {
    std::string message;
    ASSERT_TRUE(hidwheel::Unplug(&message)) << message;
}

// The report the driver's own code sends for one endless full-strength constant force in this
// direction, as the effect player computes it in virtual time at this Amplify.
Bytes ExpectedReport(LONG x, LONG y, uint32_t amplify) {
    std::ostringstream script;
    script << R"({"amplify": )" << amplify
           << R"(, "os": "nt6", "devices": [0], "until_ms": 100, "steps": [)"
           << R"({"at_ms": 0, "call": "SetGain", "device": 0, "gain": 10000},)"
           << R"( {"at_ms": 0, "call": "DownloadEffect", "device": 0, "type": 0, "handle": 0,)"
           << R"( "flags": 0, "effect": {"flags": 16, "duration": 4294967295, "gain": 10000,)"
           << R"( "axes": [2, 258], "direction": [)" << x << ", " << y
           << R"(], "constant": {"magnitude": 10000}}},)"
           << R"( {"at_ms": 0, "call": "StartEffect", "device": 0, "handle": "last", "mode": 0,)"
           << R"( "count": 1}]})";
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(effect_player::RunScript(script.str(), out, err), effect_player::kExitPlayed)
        << err.str();
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

std::string Show(const Bytes& bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "{%u, %u, %u, %u}", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

// The rumble test as the wheel felt it at this Amplify: motor A alone for about a second, then
// motor B alone, each only where its report is not all off, then all off, and nothing else.
void ExpectRumbleReports(size_t mark, uint32_t amplify) {
    struct Run {
        Bytes bytes;
        int64_t first, last;
        int count;
    };
    std::vector<Run> runs;
    Bytes lastBytes;
    size_t received = 0;
    for (const HidWheelRecord& record : hidwheel::ReadRecords(mark)) {
        ASSERT_EQ(record.kind, HID_WHEEL_FEATURE);
        ASSERT_EQ(record.length, 4u);
        ASSERT_EQ(record.refused, 0);
        ++received;
        Bytes bytes(record.data, record.data + 4);
        lastBytes = bytes;
        if (bytes == kAllOff) {
            continue;
        }
        if (runs.empty() || runs.back().bytes != bytes) {
            runs.push_back({bytes, record.time, record.time, 0});
        }
        runs.back().last = record.time;
        ++runs.back().count;
    }
    std::vector<Bytes> moving;
    for (const Bytes& motor : {ExpectedReport(1, 0, amplify), ExpectedReport(0, 1, amplify)}) {
        if (motor != kAllOff) {
            moving.push_back(motor);
        }
    }
    std::string seen;
    for (const Run& run : runs) {
        seen += " " + Show(run.bytes) + " x" + std::to_string(run.count);
    }
    ASSERT_EQ(runs.size(), moving.size()) << "each motor that moves at Amplify " << amplify
                                          << " alone in turn; the wheel got" << seen;
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(Show(runs[i].bytes), Show(moving[i]));
        const int64_t ms = (runs[i].last - runs[i].first) / kMs;
        EXPECT_GE(ms, 700) << Show(runs[i].bytes) << " for about a second";
        EXPECT_LE(ms, 3000) << Show(runs[i].bytes) << " for about a second";
        EXPECT_GE(runs[i].count, 20) << Show(runs[i].bytes) << " on every tick";
    }
    EXPECT_GE(received, 40u) << "a report on every tick of the two seconds";
    EXPECT_EQ(Show(lastBytes), Show(kAllOff)) << "the test ends with the motors off";
}

// Runs a program with its output in a file; its exit code, the output in `output`.
int RunCapturing(const std::string& commandLine, std::string* output) {
    char file[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "wck", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return -1;
    }
    std::wstring line(commandLine.size(), L'\0');
    line.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, commandLine.data(), static_cast<int>(commandLine.size()),
                            line.data(), static_cast<int>(line.size()))));
    const int code = wintest::RunWithOutput(line, out);
    CloseHandle(out);
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    *output = text.str();
    in.close();
    DeleteFileA(file);
    return code;
}

std::string ThisProgram() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return exe;
}

// One run's verdicts and lines, from the text or from the JSON.
struct Outcome {
    int exitCode = -1;
    std::vector<std::string> verdicts;
    std::vector<std::string> lines;  // found and advice of each check
};

// The check's output: run here, or in a fresh process of this program that has not loaded the
// driver before the check does.
std::string CheckOutputOnly(const std::vector<std::string>& args, bool inChild, int* exitCode) {
    if (inChild) {
        std::string command = "\"" + ThisProgram() + "\" --check";
        for (const std::string& arg : args) {
            command += " " + arg;
        }
        std::string output;
        *exitCode = RunCapturing(command, &output);
        return output;
    }
    std::ostringstream out;
    std::ostringstream err;
    *exitCode = wheelcheck::RunWheelCheck(args, out, err);
    return out.str();
}

// Set while a situation whose whole output is worth reading in the log runs.
bool showOutput = false;

std::string CheckOutput(const std::vector<std::string>& args, bool inChild, int* exitCode) {
    const std::string output = CheckOutputOnly(args, inChild, exitCode);
    if (showOutput) {
        std::printf("%s\n", output.c_str());
    }
    return output;
}

Outcome RunText(const std::vector<std::string>& args, bool inChild) {
    Outcome outcome;
    std::istringstream text(CheckOutput(args, inChild, &outcome.exitCode));
    std::string line;
    while (std::getline(text, line) && outcome.verdicts.size() < kChecks) {
        outcome.verdicts.push_back(line.substr(0, line.find(' ')));
        outcome.lines.push_back(line);
    }
    return outcome;
}

Outcome RunJson(std::vector<std::string> args, bool inChild) {
    args.push_back("--json");
    Outcome outcome;
    const std::string out = CheckOutput(args, inChild, &outcome.exitCode);
    const nlohmann::json json = nlohmann::json::parse(out, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << out;
    if (json.is_discarded()) {
        return outcome;
    }
    EXPECT_EQ(json.value("exit_code", -1), outcome.exitCode);
    for (const auto& check : json.at("checks")) {
        const std::string verdict = check.at("verdict").get<std::string>();
        EXPECT_EQ(check.at("ok").get<bool>(), verdict == "ok" || verdict == "skipped")
            << check.dump();
        outcome.verdicts.push_back(verdict);
        outcome.lines.push_back(check.at("found").get<std::string>() + " " +
                                check.at("advice").get<std::string>());
    }
    return outcome;
}

class WheelCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Install();
        // The check's own DirectInput calls go through this program's imports; the driver's
        // through those of the installed DLL, which COM finds already loaded.
        ASSERT_TRUE(hidwheel::SupplyJoyConfig(GetModuleHandleA(nullptr)));
        HMODULE driver = LoadLibraryA(Installed("dravik.dll").c_str());
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(hidwheel::SupplyJoyConfig(driver));
    }
    static void TearDownTestSuite() {
        // The other test programs register the built libraries themselves; put them back.
        Register(wintest::DllPathFromEnv("WHEEL_DRAVIK_DLL"));
        Register(wintest::DllPathFromEnv("WHEEL_VELQUIN_DLL"));
    }
    void SetUp() override {
        FullIntensity();
        ASSERT_TRUE(hidwheel::WriteControl(hidwheel::RestingControl()));
        Replug();
    }
};

// What the wheel receives while the check runs.
enum class Received {
    Rumble,   // the rumble test at the situation's Amplify, and nothing else
    Nothing,  // not a single report
    Any,      // another program sends too: not looked at
};

struct Situation {
    const char* name;
    std::vector<std::string> args;
    void (*arrange)();
    void (*restore)();
    int exitCode;
    std::array<const char*, kChecks> verdicts;
    // Check number (1 to 5) and what its line must say.
    std::vector<std::pair<int, std::string>> says;
    Received received;
    // The Amplify the driver reads in the situation.
    uint32_t amplify = 1000;
    // Check number and what its line must not say.
    std::vector<std::pair<int, std::string>> neverSays = {};
    bool inChild = false;
};

void Nothing() {}

void BreakInstallation() {
    wintest::DeleteTree(HKEY_LOCAL_MACHINE,
                        wheel::OemEffectsKey() + "\\" +
                            wheel::GuidString(dravik::EffectTypeGuid(dravik::EffectSpring)));
    wintest::DeleteTree(HKEY_CLASSES_ROOT, wheel::ClsidKey(wheel::kDravikClsid));
}

void MendInstallation() {
    wintest::InstallWheelData();
    Register(Installed("dravik.dll"));
    Register(Installed("velquin.dll"));
}

void SilenceInUseHive() {
    SetAmplify(AmplifyHiveInUse(), 0);
    SetAmplify(AmplifyHiveUnused(), 700);
}

void AmplifyInUse300() {
    SetAmplify(AmplifyHiveInUse(), 300);
}

void AmplifyInUse150() {
    SetAmplify(AmplifyHiveInUse(), 150);
}

void AmplifyInUse1600() {
    SetAmplify(AmplifyHiveInUse(), 1600);
}

// "1000" as text: the driver reads the bytes '1', '0', '0', '0'.
constexpr uint32_t kAmplifyFromText = 0x30303031;
void AmplifyInUseAsText() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(AmplifyHiveInUse(), wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Amplify", 0, REG_SZ, reinterpret_cast<const BYTE*>("1000"), 5);
    RegCloseKey(key);
}

void ReplugAfter() {
    Replug();
}

// Every effect type's dwEffectId one off: all twelve there, none right.
// As the installation before the axes were written: neither axis is an actuator to DirectInput.
void DropForceAttributes() {
    for (const char* axis : {"\\0", "\\1"}) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (wheel::OemAxesKey() + axis).c_str(), 0,
                                KEY_ALL_ACCESS, &handle),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueA(handle, "FFAttributes"), ERROR_SUCCESS);
        RegCloseKey(handle);
    }
}

void ShiftEffectIds() {
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        const std::string key =
            wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(type));
        HKEY handle = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle),
                  ERROR_SUCCESS);
        DIEFFECTATTRIBUTES attributes = {};
        DWORD size = sizeof attributes;
        ASSERT_EQ(RegQueryValueExA(handle, "Attributes", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&attributes), &size),
                  ERROR_SUCCESS);
        attributes.dwEffectId = (type + 1) % dravik::kEffectTypeCount;
        RegSetValueExA(handle, "Attributes", 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(&attributes), size);
        RegCloseKey(handle);
    }
}

void SetServerPath(const CLSID& clsid, DWORD type, const std::wstring& path) {
    const std::string key = wheel::ClsidKey(clsid) + "\\InProcServer32";
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS, &handle),
              ERROR_SUCCESS);
    RegSetValueExW(handle, nullptr, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

// Both classes registered the way COM also reads them: REG_EXPAND_SZ with %SystemRoot%.
void RegisterExpandable() {
    SetServerPath(wheel::kDravikClsid, REG_EXPAND_SZ, L"%SystemRoot%\\system32\\dravik.dll");
    SetServerPath(wheel::kVelquinClsid, REG_EXPAND_SZ, L"%SystemRoot%\\system32\\velquin.dll");
}

// Long findings: both classes registered by another program's deep paths, one of them under a
// user name beyond ASCII, and all effect types but one gone: the installation's line runs to
// some 2300 bytes.
std::wstring Deep(const wchar_t* start, const wchar_t* file) {
    std::wstring path = start;
    for (int level = 0; level < 20; ++level) {
        path += L"Another Wheel Maker Support\\";
    }
    return path + file;
}
const std::wstring kForeignDriver = Deep(L"C:\\Program Files\\", L"dravik.dll");
const std::wstring kForeignSheet = Deep(L"C:\\Users\\J\u00fcrgen\\AppData\\", L"velquin.dll");
void RegisterElsewhereWithoutEffectTypes() {
    SetServerPath(wheel::kDravikClsid, REG_SZ, kForeignDriver);
    SetServerPath(wheel::kVelquinClsid, REG_SZ, kForeignSheet);
    for (uint32_t type = 0; type + 1 < dravik::kEffectTypeCount; ++type) {
        wintest::DeleteTree(
            HKEY_LOCAL_MACHINE,
            wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(type)));
    }
}

HRESULT WINAPI NoDirectInput(HINSTANCE, DWORD, REFIID, void** out, IUnknown*) {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_FAIL;
}

void BreakDirectInput() {
    ASSERT_TRUE(hidwheel::RedirectImport(GetModuleHandleA(nullptr), "dinput.dll",
                                         "DirectInputCreateEx",
                                         reinterpret_cast<void*>(NoDirectInput)));
}

void MendDirectInput() {
    ASSERT_TRUE(hidwheel::SupplyJoyConfig(GetModuleHandleA(nullptr)));
}

// Another process of this program with the installed driver loaded, sending the wheel its own
// constant force; with the property sheet loaded as well, as Game Controllers has it.
const char kStopDriving[] = "WheelCheckTestsStopDriving";
PROCESS_INFORMATION driving = {};
HANDLE stopDriving = nullptr;

void StartDriving(const char* how) {
    stopDriving = CreateEventA(nullptr, TRUE, FALSE, kStopDriving);
    ASSERT_NE(stopDriving, nullptr);
    const size_t mark = hidwheel::RecordCount();
    std::string command = "\"" + ThisProgram() + "\" --drive-wheel " + how;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &driving));
    // Until its reports arrive.
    for (int i = 0; i < 500; ++i) {
        for (const HidWheelRecord& record : hidwheel::ReadRecords(mark)) {
            if (Bytes(record.data, record.data + 4) != kAllOff) {
                return;
            }
        }
        Sleep(10);
    }
    FAIL() << "the other program's reports did not arrive";
}

void StartGame() {
    StartDriving("game");
}

// The x86 build of this program and of the driver, beside this build, when both were built and
// this machine runs 32-bit code (scripts/test says so in WHEEL_CAN_RUN_32BIT): a 32-bit process
// of this prefix can load them.
std::string X86Program() {
    return wintest::DllPathFromEnv("WHEEL_X86_CHECK_TESTS");
}
std::string X86Driver() {
    return wintest::DllPathFromEnv("WHEEL_X86_DRAVIK_DLL");
}
bool HaveX86Build() {
    const char* runs32 = std::getenv("WHEEL_CAN_RUN_32BIT");
    return sizeof(void*) == 8 && runs32 != nullptr && std::string(runs32) == "1" &&
           !X86Program().empty() && !X86Driver().empty() &&
           GetFileAttributesA(X86Program().c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetFileAttributesA(X86Driver().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A 32-bit program with the driver library loaded, doing nothing with it: most DirectInput
// racing games are 32-bit.
PROCESS_INFORMATION holder32 = {};
void StartIdle32BitHolder() {
    std::string command = "\"" + X86Program() + "\" --hold-library \"" + X86Driver() + "\" 60";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &holder32));
    // Until its library's handle to the drivers' shared event is there (Wine 8 lists no module
    // of a 32-bit process to a 64-bit one, so the modules cannot tell).
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, wheel::VidPidName().c_str());
    ASSERT_NE(event, nullptr);
    ULONG before = 0;
    ASSERT_TRUE(wheel::HandleCount(event, &before));
    ULONG now = before;
    for (int i = 0; i < 200 && now <= before; ++i) {
        Sleep(50);
        ASSERT_TRUE(wheel::HandleCount(event, &now));
    }
    CloseHandle(event);
    ASSERT_GT(now, before) << "the 32-bit program did not load the driver";
}

void StopIdle32BitHolder() {
    TerminateProcess(holder32.hProcess, 0);
    WaitForSingleObject(holder32.hProcess, 10000);
    CloseHandle(holder32.hProcess);
    CloseHandle(holder32.hThread);
}

// Another process of this program that bound the wheel once and released it: the installed
// driver stays loaded there (as COM keeps it after a game lets go), and sends nothing.
const char kHolderReady[] = "WheelCheckTestsHolderReady";
void StartIdleHolder() {
    stopDriving = CreateEventA(nullptr, TRUE, FALSE, kStopDriving);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kHolderReady);
    ASSERT_NE(stopDriving, nullptr);
    ASSERT_NE(ready, nullptr);
    std::string command = "\"" + ThisProgram() + "\" --drive-wheel idle";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &driving));
    EXPECT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << "the holder did not start";
    CloseHandle(ready);
    // Its last report, the all-off one of its release, is well in the past.
    Sleep(400);
}

void StartControlPanel() {
    StartDriving("sheet");
}

void StopDriving() {
    SetEvent(stopDriving);
    EXPECT_EQ(WaitForSingleObject(driving.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(driving.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the other program's driver calls failed";
    CloseHandle(driving.hProcess);
    CloseHandle(driving.hThread);
    CloseHandle(stopDriving);
}

// The event every driver shares, its rights taken away from everyone: the driver's library
// can neither make it nor open it in a new process. This process's own handles stay.
PSECURITY_DESCRIPTOR eventRights = nullptr;
PACL eventDacl = nullptr;

void ShutEveryoneOutOfTheEvent() {
    HANDLE event = OpenEventA(READ_CONTROL | WRITE_DAC, FALSE, wheel::VidPidName().c_str());
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &eventDacl, nullptr, &eventRights),
              static_cast<DWORD>(ERROR_SUCCESS));
    ACL empty = {};
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    EXPECT_EQ(SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &empty, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(event);
}

void GiveTheEventBack() {
    HANDLE event = OpenEventA(WRITE_DAC, FALSE, wheel::VidPidName().c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              eventDacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(event);
    LocalFree(eventRights);
}

std::string Utf8(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), length, nullptr, nullptr);
    out.resize(static_cast<size_t>(length > 0 ? length - 1 : 0));
    return out;
}

TEST_F(WheelCheck, SaysWhatIsWrongInEachSituation) {
    const std::string driverClass = wheel::GuidString(wheel::kDravikClsid);
    const std::string hiveInUse =
        AmplifyHiveInUse() == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    const std::string exe = ThisProgram().substr(ThisProgram().find_last_of('\\') + 1);
    const Situation situations[] = {
        {"all ok",
         {},
         Nothing,
         Nothing,
         wheelcheck::kExitOk,
         {"ok", "ok", "ok", "ok", "ok"},
         {{2, "dravik.dll and velquin.dll are in " + SystemFolder()},
          {2, "X and Y are force-feedback axes"},
          {3, "Amplify is 1000 (100 %)"},
          {4, "joystick 0 is the wheel (vendor 2D71, product 5A08)"},
          {4, "report ID 3"},
          {5, "motor A alone for 1 s"},
          {5, "every call succeeded"},
          {5, "Did you feel motor A, then motor B?"}},
         Received::Rumble},
        {"no wheel",
         {},
         Unplug,
         ReplugAfter,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "problem", "skipped"},
         {{4, "no wheel is plugged in"}, {4, "plug the wheel in"}},
         Received::Nothing},
        {"broken installation",
         {},
         BreakInstallation,
         MendInstallation,
         wheelcheck::kExitProblem,
         {"ok", "problem", "ok", "ok", "problem"},
         {{2, "Spring {13541C27-8E33-11D0-9AD0-00A0C9A06E35}"},
          {2, "1 of the 12 effect types is missing"},
          {2, "does not start without all twelve"},
          {2, "the driver class " + driverClass + " is not registered"},
          {2, "run the installer again"},
          {5, "could not be created"},
          {5, "run the installer again"}},
         Received::Nothing},
        {"intensity 0 in the hive in use",
         {"--no-rumble"},
         SilenceInUseHive,
         FullIntensity,
         wheelcheck::kExitProblem,
         {"ok", "ok", "problem", "ok", "skipped"},
         {{3, "Amplify is 0 (0 %) in " + hiveInUse},
          {3, "holds 700 (70 %), which is not used"},
          {3, "both motors stay still"},
          {3, "Effect page"}},
         Received::Nothing},
        {"intensity 300: motor B stays still",
         {},
         AmplifyInUse300,
         FullIntensity,
         wheelcheck::kExitProblem,
         {"ok", "ok", "problem", "ok", "ok"},
         {{3, "Amplify is 300 (30 %)"},
          {3, "motor B stays still even at full strength"},
          {3, "both motors work from 386 (38.6 %) on"},
          {3, "to 386 (38.6 %) or above"},
          {5, "motor B stays still: did you feel motor A?"}},
         Received::Rumble,
         300,
         {{3, "motor A stays still"}, {5, "then motor B?"}}},
        {"intensity 150: both motors stay still",
         {},
         AmplifyInUse150,
         FullIntensity,
         wheelcheck::kExitProblem,
         {"ok", "ok", "problem", "ok", "ok"},
         {{3, "both motors stay still even at full strength"},
          {3, "to 386 (38.6 %) or above"},
          {5, "both motors stay still"}},
         Received::Rumble,
         150,
         {{5, "Did you feel"}}},
        {"intensity 1600, beyond the slider",
         {},
         AmplifyInUse1600,
         FullIntensity,
         wheelcheck::kExitProblem,
         {"ok", "ok", "problem", "ok", "ok"},
         {{3, "Amplify is 1600 (160 %)"}, {3, "beyond the slider's 0 to 1500"}},
         Received::Rumble,
         1600},
        {"intensity stored as text",
         {},
         AmplifyInUseAsText,
         FullIntensity,
         wheelcheck::kExitProblem,
         {"ok", "ok", "problem", "ok", "ok"},
         {{3, "a REG_SZ value of 5 bytes"}, {3, "4-byte REG_DWORD"}},
         Received::Rumble,
         kAmplifyFromText},
        {"every effect type with a wrong ID",
         {},
         ShiftEffectIds,
         MendInstallation,
         wheelcheck::kExitProblem,
         {"ok", "problem", "ok", "ok", "ok"},
         {{2, "all 12 effect types are registered with a wrong dwEffectId"},
          {2, "Spring {13541C27-8E33-11D0-9AD0-00A0C9A06E35} (its dwEffectId is 8, not 7)"},
          {2, "the driver starts, but games' effects of these types would play as other types"}},
         Received::Rumble,
         1000,
         {{2, "none of the 12"}, {2, "does not start"}}},
        {"no force-feedback axis",
         {},
         DropForceAttributes,
         MendInstallation,
         wheelcheck::kExitProblem,
         {"ok", "problem", "ok", "ok", "ok"},
         {{2,
           "X (Axes\\0) has no FFAttributes, Y (Axes\\1) has no FFAttributes: games would see "
           "no force-feedback axis"},
          {2, "run the installer again"}},
         Received::Rumble,
         1000,
         {{2, "X and Y are force-feedback axes"}}},
        {"classes registered as REG_EXPAND_SZ",
         {},
         RegisterExpandable,
         MendInstallation,
         wheelcheck::kExitOk,
         {"ok", "ok", "ok", "ok", "ok"},
         {{2, "dravik.dll and velquin.dll are in " + SystemFolder()}},
         Received::Rumble},
        {"the wheel is not joystick 1",
         {"--id", "1", "--no-rumble"},
         Nothing,
         Nothing,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "problem", "skipped"},
         {{4, "the wheel is plugged in"}, {4, "does not list it as joystick 1"}},
         Received::Nothing},
        {"long findings and a user name beyond ASCII",
         {},
         RegisterElsewhereWithoutEffectTypes,
         MendInstallation,
         wheelcheck::kExitProblem,
         {"ok", "problem", "ok", "ok", "problem"},
         {{2, "the driver class points at " + Utf8(kForeignDriver) + ", which does not exist"},
          {2, "the property sheet class points at " + Utf8(kForeignSheet)},
          {2, "11 of the 12 effect types are missing"},
          {2, "Friction {13541C2A-8E33-11D0-9AD0-00A0C9A06E35}"},
          {2, "run the installer again"}},
         Received::Nothing},
        {"DirectInput cannot be created",
         {"--no-rumble"},
         BreakDirectInput,
         MendDirectInput,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "problem", "skipped"},
         {{4, "DirectInput 7 could not be created (0x80004005)"}, {4, "repair DirectX"}},
         Received::Nothing,
         1000,
         {{4, "first game controller"}}},
        {"a game drives the wheel",
         {},
         StartGame,
         StopDriving,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "ok", "inconclusive"},
         {{5, "inconclusive: another program sends the wheel its own report every 25 ms"},
          {5, "(" + exe + " (process"},
          {5, "a game or another program that uses the wheel's force feedback"},
          {5, "close that program"}},
         Received::Any,
         1000,
         {{5, "Did you feel"}}},
        {"an idle program with the driver loaded",
         {},
         StartIdleHolder,
         StopDriving,
         wheelcheck::kExitOk,
         {"ok", "ok", "ok", "ok", "ok"},
         {{5, "every call succeeded"},
          {5, "(note: " + exe + " (process"},
          {5, "has the wheel's driver loaded but sent the wheel nothing during the test"},
          {5, "Did you feel motor A, then motor B?"}},
         Received::Rumble,
         1000,
         {{5, "inconclusive"}, {5, "may not look into"}}},
        {"an idle 32-bit program with the driver loaded",
         {},
         StartIdle32BitHolder,
         StopIdle32BitHolder,
         wheelcheck::kExitOk,
         {"ok", "ok", "ok", "ok", "ok"},
         {{5, "has the wheel's driver loaded but sent the wheel nothing"},
          {5, "Did you feel motor A, then motor B?"}},
         Received::Rumble,
         1000,
         {{5, "inconclusive"}}},
        {"Game Controllers' Effect page drives the wheel",
         {},
         StartControlPanel,
         StopDriving,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "ok", "inconclusive"},
         {{5, "Game Controllers with the wheel's Properties open"}},
         Received::Any,
         1000,
         {{5, "Did you feel"}}},
        {"the driver's library does not start",
         {},
         ShutEveryoneOutOfTheEvent,
         GiveTheEventBack,
         wheelcheck::kExitProblem,
         {"ok", "ok", "ok", "ok", "problem"},
         {{5, "refused to start (its DllMain failed, 0x8007045A"},
          {5, "made by another program under rights"},
          {5, "a game run as administrator"}},
         Received::Nothing,
         1000,
         {{5, "run the installer again"}},
         true},
    };
    for (const Situation& situation : situations) {
        if (situation.arrange == StartIdle32BitHolder && !HaveX86Build()) {
            std::printf(
                "not run: \"%s\" runs in the 64-bit tests with the x86 build beside them, "
                "where this machine runs 32-bit code\n",
                situation.name);
            continue;
        }
        for (const bool json : {false, true}) {
            SCOPED_TRACE(std::string(situation.name) + (json ? " (--json)" : " (text)"));
            situation.arrange();
            // What the other programs' situations print is shown in the log.
            showOutput = situation.received == Received::Any ||
                         std::string(situation.name).find("idle") != std::string::npos;
            const size_t mark = hidwheel::RecordCount();
            const Outcome outcome = json ? RunJson(situation.args, situation.inChild)
                                         : RunText(situation.args, situation.inChild);
            situation.restore();
            EXPECT_EQ(outcome.exitCode, situation.exitCode);
            ASSERT_EQ(outcome.verdicts.size(), kChecks);
            for (size_t i = 0; i < kChecks; ++i) {
                EXPECT_EQ(outcome.verdicts[i], situation.verdicts[i])
                    << "check " << i + 1 << ": " << outcome.lines[i];
            }
            for (const auto& [check, text] : situation.says) {
                EXPECT_NE(outcome.lines[check - 1].find(text), std::string::npos)
                    << "check " << check << " should say \"" << text
                    << "\": " << outcome.lines[check - 1];
            }
            for (const auto& [check, text] : situation.neverSays) {
                EXPECT_EQ(outcome.lines[check - 1].find(text), std::string::npos)
                    << "check " << check << " must not say \"" << text
                    << "\": " << outcome.lines[check - 1];
            }
            if (situation.received == Received::Rumble) {
                ExpectRumbleReports(mark, situation.amplify);
            } else if (situation.received == Received::Nothing) {
                EXPECT_EQ(hidwheel::RecordCount(), mark) << "nothing is sent to the wheel";
            }
        }
    }
}

TEST_F(WheelCheck, RefusesBadArgumentsWithExitCodeTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--id"}, {"--id", "16"}, {"--id", "-1"}, {"--id", "1x"}, {"--rumble"}, {"extra"}};
    for (const auto& args : bad) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(wheelcheck::RunWheelCheck(args, out, err), wheelcheck::kExitBadArguments)
            << args.back();
        EXPECT_TRUE(out.str().empty()) << "no check runs for " << args.back();
        EXPECT_NE(err.str().find("usage: wheel-check"), std::string::npos);
    }
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(wheelcheck::RunWheelCheck({"--help"}, out, err), wheelcheck::kExitOk);
    EXPECT_NE(out.str().find("--no-rumble"), std::string::npos);
}

// The shipped program has nothing of the test side: on plain Wine the driver's search finds no
// wheel, and it says why.
TEST_F(WheelCheck, ShippedProgramIsHonestOnPlainWine) {
    const std::string exe = "\"" + wintest::DllPathFromEnv("WHEEL_CHECK_EXE") + "\"";
    std::string output;
    EXPECT_EQ(RunCapturing(exe + " --bogus", &output), wheelcheck::kExitBadArguments) << output;
    EXPECT_NE(output.find("usage: wheel-check"), std::string::npos) << output;

    EXPECT_EQ(RunCapturing(exe + " --no-rumble", &output), wheelcheck::kExitProblem) << output;
    std::istringstream lines(output);
    std::vector<std::string> checks;
    for (std::string line; std::getline(lines, line);) {
        checks.push_back(line);
    }
    ASSERT_GE(checks.size(), kChecks) << output;
    EXPECT_EQ(checks[1].rfind("ok ", 0), 0u) << checks[1];
    EXPECT_EQ(checks[3].rfind("problem ", 0), 0u) << checks[3];
    EXPECT_NE(checks[3].find("the wheel is plugged in"), std::string::npos) << checks[3];
    EXPECT_NE(checks[3].find("does not list it as joystick 0"), std::string::npos) << checks[3];
    EXPECT_NE(checks[3].find("has no IDirectInputJoyConfig"), std::string::npos) << checks[3];
    EXPECT_NE(checks[3].find("nothing on the wheel's side"), std::string::npos) << checks[3];
}

}  // namespace

namespace {

// The other program of the "drives the wheel" situations: the installed driver loaded as a game
// (or, with "sheet", as Game Controllers with the wheel's property sheet) has it, playing a
// constant force until the test says stop. Exit code 0 when every call succeeded.
int DriveWheel(const std::string& how) {
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, kStopDriving);
    if (stop == nullptr || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 2;
    }
    if (how == "sheet" && LoadLibraryA(Installed("velquin.dll").c_str()) == nullptr) {
        return 3;
    }
    HMODULE module = LoadLibraryA(Installed("dravik.dll").c_str());
    if (module == nullptr || !hidwheel::SupplyJoyConfig(module)) {
        return 4;
    }
    IDirectInputEffectDriver* driver = nullptr;
    if (FAILED(CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver)))) {
        return 5;
    }
    DWORD axes[2] = {0x002, 0x102};
    LONG direction[2] = {1, 0};
    DICONSTANTFORCE constant = {6000};
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
    int result = 0;
    if (how == "idle") {
        // Bound once and let go; the library stays loaded.
        result = driver->DeviceID(0x0700, 0, TRUE, 0, nullptr) == S_OK ? 0 : 6;
        driver->Release();
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHolderReady);
        if (ready == nullptr || !SetEvent(ready)) {
            result = 7;
        }
        WaitForSingleObject(stop, 60000);
        CoUninitialize();
        return result;
    }
    if (driver->DeviceID(0x0700, 0, TRUE, 0, nullptr) != S_OK ||
        driver->DownloadEffect(0, dravik::EffectConstant, &handle, &effect, DIEP_START) != S_OK) {
        result = 6;
    } else {
        WaitForSingleObject(stop, 60000);
    }
    driver->Release();
    CoUninitialize();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--drive-wheel") {
        return DriveWheel(argv[2]);
    }
    // A program of another bitness that has a driver library loaded and does nothing with it,
    // for a while: what a 64-bit check must see in a 32-bit game.
    if (argc == 4 && std::string(argv[1]) == "--hold-library") {
        if (LoadLibraryA(argv[2]) == nullptr) {
            return 2;
        }
        Sleep(static_cast<DWORD>(std::atol(argv[3])) * 1000);
        return 0;
    }
    // The check in a process that has not loaded the driver: only this program's own search gets
    // the joystick configuration Wine lacks.
    if (argc >= 2 && std::string(argv[1]) == "--check") {
        if (!hidwheel::SupplyJoyConfig(GetModuleHandleA(nullptr))) {
            return 99;
        }
        return wheelcheck::RunWheelCheck(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                                         std::cerr);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
