// cpl-host: opens the wheel's property sheet as the Game Controllers control panel does. It
// finds the sheet's CLSID under the wheel's OEM key (ConfigCLSID), creates the object through
// COM, sets the joystick ID, reads the sheet and page records and shows them with
// PropertySheetW under the sheet's caption.
//
//   cpl-host [--clsid {GUID}] [--id N] [--page N] [--exit-after MS] [--screenshot FILE.bmp]
//            [--wheel SCRIPT.json | --hid-wheel INF] [--log FILE] [--motor-trace FILE.csv]
//            [--at MS=ACTION]... [--reopen-at MS]
//
// --exit-after closes the sheet by itself after MS milliseconds; --screenshot saves the sheet
// window as a 24-bit BMP just before that.
//
// --reopen-at closes the sheet at MS of the script and opens it again from a new sheet object in
// the same process, as the control panel does when the wheel's properties are opened a second
// time; --exit-after then counts from the start of the script.
//
// --wheel hands the sheet the virtual wheel (SetDevice, SetJoyConfig) before its pages exist:
// its input follows the script (see wheel_script.h) and its effects go to a force-feedback
// driver built from the driver's own code, whose motor reports the virtual wheel records. A
// wheel the script starts unplugged is no device: only the joy-config object is handed over.
// The sheet's own DirectInputCreateA is pointed at the virtual wheel too, so a device the sheet
// re-opens is the virtual wheel again.
//
// --hid-wheel leaves the sheet to open the wheel itself, as under the real control panel: its
// DirectInput is Wine's own, fed by the virtual HID wheel (tools/hid-wheel) installed in the
// prefix, with only the joystick-configuration piece Wine lacks supplied by hidwheel's shim. INF
// is the wheel's driver information file, for replugging it. Without the HID wheel plugged in
// the host fails at once. --wheel and --hid-wheel are exclusive.
//
// --log writes one line per observable event, "<ms> <event>", the time counted from the start
// of the wheel's script: "page <caption>" (a page made), "status <control> <text>", "text
// <control> <text>" (a value label changed), "paint <control>" (an indicator painted),
// "amplify-write <hive> <type> <value>", "directinput-create" (the sheet made a DirectInput
// object), the virtual wheel's "acquire", "create-effect", "set-parameters", "start",
// "release-effect", "unacquire", "new-device N", "release-device N", "new-joy-config N",
// "release-joy-config N", "get-config N ...", "joy-config-acquire N", "joy-config-unacquire N"
// and "report b0 b1 b2 b3" (a motor report), and the host's own "select", "slider", "apply",
// "click", "forget-amplify", "reopen", "gdi-objects N" and "shot" with "rect <control> <class>
// <left> <top> <right> <bottom>" lines that place the shot's controls in its picture, and for a
// slider "trackbar <control> <position> <min> <max> <thumb offset> <track length>" (the thumb's
// left edge from the channel's, and the distance it can travel, in pixels). --motor-trace writes
// the motor reports alone as CSV, "ms,report_id,byte1,byte2,byte3".
//
// --at runs an action at a moment of the script: page:N (switch to page N), slider:V (move the
// Effect page's intensity slider), apply (press "Apply"), forget-amplify (delete the stored
// Amplify in both hives behind the page's back, so that the next write shows even when it stores
// the value the page read), click:ID (click the page's button ID, as "Default" 1021 or "Set"
// 1022), shot:FILE.bmp (save the sheet window as it is then,
// painting only what is pending), gdi (log how many GDI objects the process holds); with
// --hid-wheel also hid:set:X,Y,Z,RZ,HAT,BUTTONS (what the HID wheel reports from then on: axes
// 0..255, hat 0..7 or -1 for centred, buttons as a bit mask, bit 0 button 1), hid:unplug and
// hid:plug, each logged as "hid-<verb> ok" or "hid-<verb> failed: <why>". The shim's own calls
// are logged too ("get-config ...", "find-device ...", "directinput-create ...").
//
// Exit code 0 on success, 1 when something failed, 2 for bad arguments.
#include "common/platform.h"

// After windows.h.
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/dinput_shapes.h"
#include "common/wheel_ids.h"
#include "hosted/virtual_dinput_win32.h"
#include "propsheet/sheet_interface.h"
#include "tools/cpl-host/wheel_script.h"
#include "tools/hid-wheel/hid_wheel.h"
#include "tools/hid-wheel/joy_config_shim.h"

namespace {

constexpr UINT_PTR kExitTimer = 0x4C50;
constexpr UINT_PTR kActionTimer = 0x4C51;
constexpr UINT_PTR kReopenTimer = 0x4C52;
constexpr UINT kActionPeriodMs = 10;
constexpr int kMaxPages = 16;

struct Action {
    uint32_t atMs;
    std::string what;  // page, slider, apply, click, shot, gdi, hid
    std::string argument;
};

struct Options {
    bool haveClsid = false;
    CLSID clsid{};
    unsigned id = 0;
    int page = 0;
    unsigned exitAfterMs = 0;
    unsigned reopenAtMs = 0;
    std::string screenshot;
    std::string wheel;
    std::string hidWheelInf;
    std::string log;
    std::string motorTrace;
    std::vector<Action> actions;
};

// What the sheet callback, the hooks and the timers need; the sheet runs modally on this thread.
Options options;
bool failed = false;
DWORD timeZero = 0;
size_t nextAction = 0;
// Set when the sheet was closed to be opened again.
bool reopening = false;

// The event log and the motor trace: written from this thread and from the driver's timer.
class EventLog {
  public:
    ~EventLog() { Close(); }
    bool Open(const std::string& logPath, const std::string& tracePath) {
        if (!logPath.empty()) {
            log_ = std::fopen(logPath.c_str(), "w");
            if (log_ == nullptr) {
                return false;
            }
        }
        if (!tracePath.empty()) {
            trace_ = std::fopen(tracePath.c_str(), "w");
            if (trace_ == nullptr) {
                return false;
            }
            std::fprintf(trace_, "ms,report_id,byte1,byte2,byte3\n");
        }
        return true;
    }
    void Close() {
        std::lock_guard<std::mutex> guard(mutex_);
        for (FILE** file : {&log_, &trace_}) {
            if (*file != nullptr) {
                std::fclose(*file);
                *file = nullptr;
            }
        }
    }
    void Line(const std::string& line) {
        const unsigned long ms = GetTickCount() - timeZero;
        std::lock_guard<std::mutex> guard(mutex_);
        if (log_ != nullptr) {
            std::fprintf(log_, "%lu %s\n", ms, line.c_str());
            std::fflush(log_);
        }
        unsigned bytes[4] = {};
        if (trace_ != nullptr && std::sscanf(line.c_str(), "report %x %x %x %x", &bytes[0],
                                             &bytes[1], &bytes[2], &bytes[3]) == 4) {
            std::fprintf(trace_, "%lu,%u,%u,%u,%u\n", ms, bytes[0], bytes[1], bytes[2], bytes[3]);
            std::fflush(trace_);
        }
    }
    bool active() const { return log_ != nullptr || trace_ != nullptr; }

  private:
    std::mutex mutex_;
    FILE* log_ = nullptr;
    FILE* trace_ = nullptr;
};
EventLog eventLog;

void Log(const std::string& line) {
    if (eventLog.active()) {
        eventLog.Line(line);
    }
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "cpl-host: %s\n", message.c_str());
    return 1;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

bool ParseNumber(const char* text, unsigned long* value) {
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0';
}

// X,Y,Z,RZ,HAT,BUTTONS as the HID wheel's control record.
bool ParseHidInput(const std::string& text, HidWheelControl* control) {
    long values[6] = {};
    const long minimum[6] = {0, 0, 0, 0, -1, 0};
    const long maximum[6] = {255, 255, 255, 255, 7, 0xFFF};
    const char* at = text.c_str();
    for (int i = 0; i < 6; ++i) {
        char* end = nullptr;
        values[i] = std::strtol(at, &end, 0);
        if (end == at || values[i] < minimum[i] || values[i] > maximum[i] ||
            *end != (i < 5 ? ',' : '\0')) {
            return false;
        }
        at = end + 1;
    }
    *control = hidwheel::RestingControl();
    for (int i = 0; i < 4; ++i) {
        control->axes[i] = static_cast<uint16_t>(values[i]);
    }
    control->hat = values[4] < 0 ? HID_WHEEL_HAT_CENTRED : static_cast<uint8_t>(values[4]);
    control->buttons = static_cast<uint16_t>(values[5]);
    return true;
}

// MS=ACTION: page:N, slider:V, apply, forget-amplify, click:ID, shot:FILE, hid:set:INPUT,
// hid:unplug, hid:plug.
bool ParseAction(const std::string& text, Action* action) {
    const size_t equals = text.find('=');
    unsigned long ms = 0;
    if (equals == std::string::npos || !ParseNumber(text.substr(0, equals).c_str(), &ms)) {
        return false;
    }
    action->atMs = static_cast<uint32_t>(ms);
    const std::string rest = text.substr(equals + 1);
    const size_t colon = rest.find(':');
    action->what = rest.substr(0, colon);
    action->argument = colon == std::string::npos ? "" : rest.substr(colon + 1);
    unsigned long number = 0;
    if (action->what == "apply" || action->what == "gdi" || action->what == "forget-amplify") {
        return colon == std::string::npos;
    }
    if (action->what == "page") {
        return ParseNumber(action->argument.c_str(), &number) && number < kMaxPages;
    }
    if (action->what == "slider" || action->what == "click") {
        return ParseNumber(action->argument.c_str(), &number) && number <= 0xFFFF;
    }
    if (action->what == "hid") {
        HidWheelControl control{};
        return action->argument == "unplug" || action->argument == "plug" ||
               (action->argument.rfind("set:", 0) == 0 &&
                ParseHidInput(action->argument.substr(4), &control));
    }
    return action->what == "shot" && !action->argument.empty();
}

bool ParseArguments(int argc, char** argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            *error = "missing value after " + arg;
            return false;
        }
        const char* value = argv[++i];
        unsigned long number = 0;
        Action action;
        if (arg == "--clsid") {
            if (!wheel::ParseGuid(value, &options.clsid)) {
                *error = std::string("not a CLSID: ") + value;
                return false;
            }
            options.haveClsid = true;
        } else if (arg == "--id" && ParseNumber(value, &number) && number <= 0xFFFF) {
            options.id = static_cast<unsigned>(number);
        } else if (arg == "--page" && ParseNumber(value, &number) && number < kMaxPages) {
            options.page = static_cast<int>(number);
        } else if (arg == "--exit-after" && ParseNumber(value, &number)) {
            options.exitAfterMs = static_cast<unsigned>(number);
        } else if (arg == "--reopen-at" && ParseNumber(value, &number) && number > 0) {
            options.reopenAtMs = static_cast<unsigned>(number);
        } else if (arg == "--screenshot") {
            options.screenshot = value;
        } else if (arg == "--wheel") {
            options.wheel = value;
        } else if (arg == "--hid-wheel") {
            options.hidWheelInf = value;
        } else if (arg == "--log") {
            options.log = value;
        } else if (arg == "--motor-trace") {
            options.motorTrace = value;
        } else if (arg == "--at" && ParseAction(value, &action)) {
            options.actions.push_back(action);
        } else {
            *error = "bad argument: " + arg + " " + value;
            return false;
        }
    }
    if (!options.wheel.empty() && !options.hidWheelInf.empty()) {
        *error = "--wheel and --hid-wheel are exclusive";
        return false;
    }
    for (const Action& a : options.actions) {
        if (a.what == "hid" && options.hidWheelInf.empty()) {
            *error = "hid:" + a.argument + " needs --hid-wheel";
            return false;
        }
    }
    std::stable_sort(options.actions.begin(), options.actions.end(),
                     [](const Action& a, const Action& b) { return a.atMs < b.atMs; });
    return true;
}

// ConfigCLSID under HKLM\...\OEM\VID_2D71&PID_5A08.
bool ReadConfigClsid(CLSID* clsid) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, wheel::OemKey().c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    char text[64] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, "ConfigCLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ && wheel::ParseGuid(text, clsid);
}

// The whole sheet window, frame included, as a bottom-up 24-bit BMP.
bool SaveWindowBitmap(HWND window, const std::string& path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDc = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* out = std::fopen(path.c_str(), "wb");
        ok = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, imageSize, 1, out) == 1;
        if (out != nullptr) {
            ok = std::fclose(out) == 0 && ok;
        }
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    ReleaseDC(window, windowDc);
    return ok;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK LogRect(HWND child, LPARAM sheet) {
    // Labels and group boxes have no identifier of their own (-1, read back as 0xFFFF).
    const int id = GetDlgCtrlID(child);
    if (id <= 0 || id >= 0xFFFF || !IsWindowVisible(child)) {
        return TRUE;
    }
    RECT sheetRect{};
    RECT r{};
    GetWindowRect(reinterpret_cast<HWND>(sheet), &sheetRect);
    GetWindowRect(child, &r);
    char line[160];
    std::snprintf(line, sizeof line, "rect %d %s %ld %ld %ld %ld", id, ClassOf(child).c_str(),
                  r.left - sheetRect.left, r.top - sheetRect.top, r.right - sheetRect.left,
                  r.bottom - sheetRect.top);
    Log(line);
    if (ClassOf(child) == TRACKBAR_CLASSA) {
        RECT thumb{};
        RECT channel{};
        SendMessageA(child, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        SendMessageA(child, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
        std::snprintf(line, sizeof line, "trackbar %d %ld %ld %ld %ld %ld", id,
                      static_cast<long>(SendMessageA(child, TBM_GETPOS, 0, 0)),
                      static_cast<long>(SendMessageA(child, TBM_GETRANGEMIN, 0, 0)),
                      static_cast<long>(SendMessageA(child, TBM_GETRANGEMAX, 0, 0)),
                      thumb.left - channel.left,
                      (channel.right - channel.left) - (thumb.right - thumb.left));
        Log(line);
    }
    return TRUE;
}

// The GDI objects this process holds. Where GetGuiResources is not implemented (Wine), the
// handle table is walked instead: there a handle's table index alone names a live object.
unsigned long GdiObjects() {
    SetLastError(ERROR_SUCCESS);
    const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
        return count;
    }
    unsigned long live = 0;
    for (ULONG_PTR index = 1; index <= 0xFFFF; ++index) {
        live += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0 ? 1 : 0;
    }
    return live;
}

// Saves the sheet and logs where its page's controls are in the picture.
void Shot(HWND sheet, const std::string& path) {
    if (!SaveWindowBitmap(sheet, path)) {
        failed = true;
        std::fprintf(stderr, "cpl-host: could not write the screenshot %s\n", path.c_str());
        return;
    }
    Log("shot " + path);
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    if (page != nullptr) {
        EnumChildWindows(page, LogRect, reinterpret_cast<LPARAM>(sheet));
    }
}

// The HID wheel's actions: its input, unplugging and replugging it.
void RunHidAction(const Action& action) {
    std::string message;
    std::string verb = action.argument;
    bool ok = false;
    if (verb.rfind("set:", 0) == 0) {
        HidWheelControl control{};
        ok = ParseHidInput(verb.substr(4), &control) && hidwheel::WriteControl(control);
        if (!ok) {
            message = "cannot write " HID_WHEEL_CONTROL_FILE;
        }
        verb = "set " + verb.substr(4);
    } else if (verb == "unplug") {
        ok = hidwheel::Unplug(&message);
    } else {
        ok = hidwheel::Install(options.hidWheelInf, &message);
    }
    Log("hid-" + verb + (ok ? " ok" : " failed: " + message));
    if (!ok) {
        failed = true;
        std::fprintf(stderr, "cpl-host: hid:%s failed: %s\n", action.argument.c_str(),
                     message.c_str());
    }
}

void RunAction(HWND sheet, const Action& action) {
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    if (action.what == "page") {
        Log("select " + action.argument);
        PropSheet_SetCurSel(sheet, nullptr, std::atoi(action.argument.c_str()));
    } else if (action.what == "slider") {
        Log("slider " + action.argument);
        SendDlgItemMessageA(page, 1027, TBM_SETPOS, TRUE, std::atoi(action.argument.c_str()));
    } else if (action.what == "apply" || action.what == "click") {
        const bool apply = action.what == "apply";
        Log(apply ? "apply" : "click " + action.argument);
        // The button sends its page the same WM_COMMAND a mouse click does.
        SendDlgItemMessageA(page, apply ? 1028 : std::atoi(action.argument.c_str()), BM_CLICK, 0,
                            0);
    } else if (action.what == "forget-amplify") {
        Log("forget-amplify");
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(root, wheel::OemKey().c_str(), 0, KEY_SET_VALUE, &key) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(key, "Amplify");
                RegCloseKey(key);
            }
        }
    } else if (action.what == "hid") {
        RunHidAction(action);
    } else if (action.what == "shot") {
        // Only what is pending is painted: a shot must not cause repaints of its own.
        RedrawWindow(sheet, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        Shot(sheet, action.argument);
    } else if (action.what == "gdi") {
        Log("gdi-objects " + std::to_string(GdiObjects()));
    }
}

void CALLBACK ActionTimer(HWND sheet, UINT, UINT_PTR, DWORD) {
    const uint32_t now = GetTickCount() - timeZero;
    while (nextAction < options.actions.size() && options.actions[nextAction].atMs <= now) {
        RunAction(sheet, options.actions[nextAction++]);
    }
    if (nextAction >= options.actions.size()) {
        KillTimer(sheet, kActionTimer);
    }
}

void CALLBACK ReopenTimer(HWND sheet, UINT, UINT_PTR id, DWORD) {
    KillTimer(sheet, id);
    Log("reopen");
    reopening = true;
    PropSheet_PressButton(sheet, PSBTN_CANCEL);
}

void CALLBACK ExitTimer(HWND sheet, UINT, UINT_PTR id, DWORD) {
    KillTimer(sheet, id);
    if (!options.screenshot.empty()) {
        // Paint everything that is still pending before the capture.
        RedrawWindow(sheet, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Shot(sheet, options.screenshot);
    }
    PropSheet_PressButton(sheet, PSBTN_CANCEL);
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED) {
        const uint32_t now = GetTickCount() - timeZero;
        auto fromNow = [now](unsigned atMs) { return atMs > now ? atMs - now : 1u; };
        if (options.reopenAtMs != 0 && !reopening) {
            SetTimer(sheet, kReopenTimer, fromNow(options.reopenAtMs), ReopenTimer);
        } else if (options.exitAfterMs != 0) {
            SetTimer(sheet, kExitTimer,
                     options.reopenAtMs != 0 ? fromNow(options.exitAfterMs) : options.exitAfterMs,
                     ExitTimer);
        }
        if (nextAction < options.actions.size()) {
            SetTimer(sheet, kActionTimer, kActionPeriodMs, ActionTimer);
        }
    }
    return 0;
}

// Observing the pages from outside: status texts, indicator paints and page creation.

bool IsIndicator(HWND window) {
    const std::string name = ClassOf(window);
    return name == "LampControl" || name == "AxesControl" || name == "PovControl" ||
           name == "RumbleControl";
}

bool IsStatusLine(HWND window) {
    const int id = GetDlgCtrlID(window);
    return id == 1024 || id == 1025 || id == 1026;
}

// The Calibration page's value labels, 1016 to 1019, set on every tick: only changes are logged.
bool IsValueLabel(HWND window) {
    const int id = GetDlgCtrlID(window);
    return id >= 1016 && id <= 1019;
}
std::string labelTexts[4];

void NotePaint(HWND window) {
    if (IsIndicator(window)) {
        Log("paint " + std::to_string(GetDlgCtrlID(window)));
    }
}

HHOOK sentHook = nullptr;
HHOOK returnedHook = nullptr;
HHOOK postedHook = nullptr;

LRESULT CALLBACK SentMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == WM_PAINT) {
            NotePaint(message->hwnd);
        }
    }
    return CallNextHookEx(sentHook, code, wParam, lParam);
}

LRESULT CALLBACK ReturnedMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        char text[128] = {};
        if (message->message == WM_SETTEXT && IsStatusLine(message->hwnd)) {
            GetWindowTextA(message->hwnd, text, sizeof text);
            Log("status " + std::to_string(GetDlgCtrlID(message->hwnd)) + " " + text);
        } else if (message->message == WM_SETTEXT && IsValueLabel(message->hwnd)) {
            GetWindowTextA(message->hwnd, text, sizeof text);
            std::string& last = labelTexts[GetDlgCtrlID(message->hwnd) - 1016];
            if (last != text) {
                last = text;
                Log("text " + std::to_string(GetDlgCtrlID(message->hwnd)) + " " + text);
            }
        } else if (message->message == WM_INITDIALOG && ClassOf(message->hwnd) == "#32770" &&
                   GetParent(message->hwnd) != nullptr) {
            GetWindowTextA(message->hwnd, text, sizeof text);
            Log(std::string("page ") + text);
        }
    }
    return CallNextHookEx(returnedHook, code, wParam, lParam);
}

LRESULT CALLBACK PostedMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const auto* message = reinterpret_cast<const MSG*>(lParam);
        if (message->message == WM_PAINT) {
            NotePaint(message->hwnd);
        }
    }
    return CallNextHookEx(postedHook, code, wParam, lParam);
}

void InstallHooks() {
    const DWORD thread = GetCurrentThreadId();
    sentHook = SetWindowsHookExA(WH_CALLWNDPROC, SentMessage, nullptr, thread);
    returnedHook = SetWindowsHookExA(WH_CALLWNDPROCRET, ReturnedMessage, nullptr, thread);
    postedHook = SetWindowsHookExA(WH_GETMESSAGE, PostedMessage, nullptr, thread);
}

void RemoveHooks() {
    for (HHOOK* hook : {&sentHook, &returnedHook, &postedHook}) {
        if (*hook != nullptr) {
            UnhookWindowsHookEx(*hook);
            *hook = nullptr;
        }
    }
}

// Every write of Amplify, in either hive, as the registry reports it.
class AmplifyWatch {
  public:
    void Start() {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const struct {
            HKEY root;
            const char* name;
        } hives[] = {{HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                     {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}};
        for (const auto& hive : hives) {
            Watched w{nullptr, nullptr, hive.name};
            if (RegOpenKeyExA(hive.root, wheel::OemKey().c_str(), 0, KEY_NOTIFY | KEY_QUERY_VALUE,
                              &w.key) != ERROR_SUCCESS) {
                continue;
            }
            w.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            Arm(w);
            watched_.push_back(w);
        }
        if (!watched_.empty()) {
            thread_ = std::thread([this] { Run(); });
        }
    }
    void Stop() {
        if (thread_.joinable()) {
            SetEvent(stop_);
            thread_.join();
        }
        for (Watched& w : watched_) {
            RegCloseKey(w.key);
            CloseHandle(w.event);
        }
        watched_.clear();
        if (stop_ != nullptr) {
            CloseHandle(stop_);
            stop_ = nullptr;
        }
    }

  private:
    struct Watched {
        HKEY key;
        HANDLE event;
        const char* name;
    };
    static void Arm(const Watched& w) {
        RegNotifyChangeKeyValue(w.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, w.event, TRUE);
    }
    void Run() {
        std::vector<HANDLE> handles{stop_};
        for (const Watched& w : watched_) {
            handles.push_back(w.event);
        }
        for (;;) {
            const DWORD which = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                       handles.data(), FALSE, INFINITE);
            if (which == WAIT_OBJECT_0 || which >= WAIT_OBJECT_0 + handles.size()) {
                return;
            }
            const Watched& w = watched_[which - WAIT_OBJECT_0 - 1];
            Arm(w);
            BYTE data[16] = {};
            DWORD size = sizeof data;
            DWORD type = 0;
            if (RegQueryValueExA(w.key, "Amplify", nullptr, &type, data, &size) != ERROR_SUCCESS) {
                continue;
            }
            unsigned long value = 0;
            for (DWORD i = 0; i < size && i < 4; ++i) {
                value |= static_cast<unsigned long>(data[i]) << (8 * i);
            }
            Log(std::string("amplify-write ") + w.name + " " +
                (type == REG_DWORD ? "REG_DWORD" : "type" + std::to_string(type)) + " " +
                std::to_string(value));
        }
    }

    HANDLE stop_ = nullptr;
    std::vector<Watched> watched_;
    std::thread thread_;
};

int ShowSheet(IDIGameCntrlPropSheet* sheet) {
    HRESULT hr = sheet->SetID(static_cast<USHORT>(options.id));
    if (FAILED(hr)) {
        return Fail("SetID failed: " + Hex(hr));
    }
    LPDIGCSHEETINFO sheetInfo = nullptr;
    LPDIGCPAGEINFO pageInfo = nullptr;
    hr = sheet->GetSheetInfo(&sheetInfo);
    if (FAILED(hr) || sheetInfo == nullptr) {
        return Fail("GetSheetInfo failed: " + Hex(hr));
    }
    hr = sheet->GetPageInfo(&pageInfo);
    if (FAILED(hr) || pageInfo == nullptr) {
        return Fail("GetPageInfo failed: " + Hex(hr));
    }
    const int count = sheetInfo->nNumPages;
    if (count < 1 || count > kMaxPages) {
        return Fail("the sheet describes " + std::to_string(count) + " pages");
    }
    if (options.page >= count) {
        return Fail("--page: the sheet has " + std::to_string(count) + " pages");
    }
    std::vector<PROPSHEETPAGEW> pages(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const DIGCPAGEINFO& from = pageInfo[i];
        PROPSHEETPAGEW& page = pages[static_cast<size_t>(i)];
        page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = from.hInstance;
        page.pszTemplate = from.lpwszTemplate;
        page.pfnDlgProc = from.fpPageProc;
        page.lParam = from.lParam;
        if (from.fIconFlag) {
            page.dwFlags |= PSP_USEICONID;
            page.pszIcon = from.lpwszPageIcon;
        }
        if (from.lpwszPageTitle != nullptr) {
            page.dwFlags |= PSP_USETITLE;
            page.pszTitle = from.lpwszPageTitle;
        }
    }
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = nullptr;
    header.hInstance = nullptr;  // the sheet's icon is a system icon
    if (sheetInfo->fSheetIconFlag) {
        header.dwFlags |= PSH_USEICONID;
        header.pszIcon = sheetInfo->lpwszSheetIcon;
    }
    header.pszCaption = sheetInfo->lpwszSheetCaption;
    header.nPages = static_cast<UINT>(count);
    header.nStartPage = static_cast<UINT>(options.page);
    header.ppsp = pages.data();
    header.pfnCallback = SheetCallback;
    if (PropertySheetW(&header) < 0) {
        return Fail("PropertySheetW failed, error " + std::to_string(GetLastError()));
    }
    if (failed) {
        return Fail("an action failed");
    }
    return 0;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::stringstream buffer;
    buffer << file.rdbuf();
    *text = buffer.str();
    return true;
}

// The virtual wheel: handed to the sheet, and what the sheet's DirectInputCreateA hands out.
std::shared_ptr<hosted::VirtualDirectInput> virtualWheel;

HRESULT WINAPI VirtualDirectInputCreateA(HINSTANCE, DWORD version, IDirectInputA** out,
                                         IUnknown* outer) {
    char line[64];
    std::snprintf(line, sizeof line, "directinput-create version=0x%04lX",
                  static_cast<unsigned long>(version));
    Log(line);
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if (virtualWheel == nullptr) {
        return E_FAIL;
    }
    *out = virtualWheel->NewDirectInput();
    return *out != nullptr ? DI_OK : E_OUTOFMEMORY;
}

// The virtual wheel given to the sheet as the control panel gives it a device: the joystick
// format set, ready to be acquired. An unplugged wheel has no device to give.
bool HandOverWheel(IDIGameCntrlPropSheet* sheet, hosted::VirtualDirectInput& wheel) {
    IDirectInputJoyConfig* joyConfig = wheel.NewJoyConfig();
    if (joyConfig == nullptr) {
        return false;
    }
    sheet->SetJoyConfig(joyConfig);
    if (!wheel.State().connected) {
        return true;
    }
    IDirectInputDevice2A* device = wheel.NewDevice();
    if (device == nullptr) {
        return false;
    }
    device->SetDataFormat(wheel::JoystickDataFormat());
    sheet->SetDevice(device);
    return true;
}

// Creates the sheet object, hands it the virtual wheel and shows it; 0 when it ran.
int OpenSheet() {
    IDIGameCntrlPropSheet* sheet = nullptr;
    const HRESULT hr =
        CoCreateInstance(options.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDIGameCntrlPropSheet,
                         reinterpret_cast<void**>(&sheet));
    if (FAILED(hr) || sheet == nullptr) {
        return Fail("creating the sheet " + wheel::GuidString(options.clsid) +
                    " failed: " + Hex(hr));
    }
    int result = 0;
    if (!options.wheel.empty() &&
        (virtualWheel == nullptr || !HandOverWheel(sheet, *virtualWheel))) {
        result = Fail("the virtual wheel could not be made");
    } else if (!options.wheel.empty() &&
               !hidwheel::RedirectImport(hidwheel::ModuleOfObject(sheet), "dinput.dll",
                                         "DirectInputCreateA",
                                         reinterpret_cast<void*>(VirtualDirectInputCreateA))) {
        result = Fail("the sheet does not import DirectInputCreateA from dinput.dll");
    } else if (!options.hidWheelInf.empty() &&
               !hidwheel::SupplyJoyConfig(hidwheel::ModuleOfObject(sheet))) {
        result = Fail("the sheet imports neither DirectInputCreateA nor DirectInputCreateEx");
    } else {
        result = ShowSheet(sheet);
    }
    // The sheet releases the device and the joy-config object it was given.
    sheet->Release();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!ParseArguments(argc, argv, &error)) {
        Fail(error);
        std::fprintf(stderr,
                     "usage: cpl-host [--clsid {GUID}] [--id N] [--page N] [--exit-after MS] "
                     "[--screenshot FILE.bmp] [--wheel SCRIPT.json | --hid-wheel INF] [--log FILE] "
                     "[--motor-trace FILE.csv] "
                     "[--at MS=page:N|slider:V|apply|forget-amplify|click:ID|shot:FILE|gdi|"
                     "hid:set:X,Y,Z,RZ,HAT,BUTTONS|"
                     "hid:unplug|hid:plug]... [--reopen-at MS]\n");
        return 2;
    }
    std::vector<hosted::WheelFrame> frames;
    JOYRANGE storedRange = hosted::VirtualWheelSetup().storedRange;
    if (!options.wheel.empty()) {
        std::string text;
        if (!ReadFile(options.wheel, &text)) {
            Fail("cannot read " + options.wheel);
            return 2;
        }
        if (!cplhost::ParseWheelScript(text, &frames, &error, &storedRange)) {
            Fail(options.wheel + ": " + error);
            return 2;
        }
    }
    if (!options.haveClsid && !ReadConfigClsid(&options.clsid)) {
        return Fail("no ConfigCLSID under HKEY_LOCAL_MACHINE\\" + wheel::OemKey() +
                    " (run \"wheel-data write\" or pass --clsid)");
    }
    if (!options.hidWheelInf.empty() && hidwheel::FindInterfacePath().empty()) {
        return Fail(
            "--hid-wheel: the virtual HID wheel is not plugged in here (install it with "
            "\"hid-wheel install\")");
    }
    timeZero = GetTickCount();
    if (!eventLog.Open(options.log, options.motorTrace)) {
        return Fail("cannot write " + options.log + " " + options.motorTrace);
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        return Fail("CoInitialize failed: " + Hex(hr));
    }
    AmplifyWatch amplify;
    if (eventLog.active()) {
        amplify.Start();
        InstallHooks();
    }
    if (!options.wheel.empty()) {
        virtualWheel = hosted::CreateWin32VirtualWheel(options.id, hosted::WheelTimeline(frames),
                                                       storedRange, Log);
    }
    if (!options.hidWheelInf.empty()) {
        hidwheel::SetShimLog(Log);
    }
    int result = OpenSheet();
    if (result == 0 && reopening) {
        // The library stays loaded in between, as in the control panel's process.
        result = OpenSheet();
    }
    // The driver stops its effects, sends the all-off report and kills its timer.
    virtualWheel.reset();
    hidwheel::SetShimLog(nullptr);
    RemoveHooks();
    amplify.Stop();
    CoUninitialize();
    eventLog.Close();
    return result;
}
