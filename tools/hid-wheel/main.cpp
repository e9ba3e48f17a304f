// hid-wheel: installs the virtual HID wheel into the running Wine prefix, unplugs and replugs it,
// sets what it reports and lists what it was sent.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hid_wheel.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: hid-wheel install [INF] | unplug | plug [INF] | status\n"
                 "       hid-wheel set X Y Z RZ HAT BUTTONS   (axes 0..255, hat 0..7 or -1 for\n"
                 "                                              centred, buttons as a bit mask)\n"
                 "       hid-wheel fail on|off                (refuse the reports it is sent)\n"
                 "       hid-wheel reports [FROM]             (CSV of the reports it received)\n"
                 "       hid-wheel trace [FROM]               (its accepted motor reports as\n"
                 "                                              ms,report_id,byte1,byte2,byte3)\n"
                 "       hid-wheel count                      (how many reports it received)\n");
    return 2;
}

bool ParseNumber(const char* text, long minimum, long maximum, long* value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    *value = parsed;
    return true;
}

int Install(const char* verb, int argc, char** argv) {
    const std::string inf = argc > 2 ? argv[2] : hidwheel::DefaultInfPath();
    std::string message;
    if (!hidwheel::Install(inf, &message)) {
        std::fprintf(stderr, "hid-wheel %s: %s\n", verb, message.c_str());
        return 1;
    }
    std::printf("hid-wheel %s: the wheel is plugged in at %s\n", verb,
                hidwheel::FindInterfacePath().c_str());
    return 0;
}

int Set(int argc, char** argv) {
    if (argc != 8) {
        return Usage();
    }
    HidWheelControl control = hidwheel::ReadControl();
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        if (!ParseNumber(argv[2 + i], 0, 255, &value)) {
            return Usage();
        }
        control.axes[i] = static_cast<uint16_t>(value);
    }
    if (!ParseNumber(argv[6], -1, 7, &value)) {
        return Usage();
    }
    control.hat = value < 0 ? HID_WHEEL_HAT_CENTRED : static_cast<uint8_t>(value);
    if (!ParseNumber(argv[7], 0, 0xFFF, &value)) {
        return Usage();
    }
    control.buttons = static_cast<uint16_t>(value);
    if (!hidwheel::WriteControl(control)) {
        std::fprintf(stderr, "hid-wheel set: cannot write %s\n", HID_WHEEL_CONTROL_FILE);
        return 1;
    }
    return 0;
}

int Fail(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[2], "on") != 0 && std::strcmp(argv[2], "off") != 0)) {
        return Usage();
    }
    HidWheelControl control = hidwheel::ReadControl();
    control.failSends = std::strcmp(argv[2], "on") == 0 ? 1 : 0;
    if (!hidwheel::WriteControl(control)) {
        std::fprintf(stderr, "hid-wheel fail: cannot write %s\n", HID_WHEEL_CONTROL_FILE);
        return 1;
    }
    return 0;
}

int Trace(long from) {
    std::printf("ms,report_id,byte1,byte2,byte3\n");
    const auto records = hidwheel::ReadRecords(static_cast<size_t>(from));
    const int64_t origin = records.empty() ? 0 : records.front().time;
    for (const auto& record : records) {
        if (record.kind == HID_WHEEL_FEATURE && record.refused == 0 && record.length >= 4) {
            std::printf("%lld,%u,%u,%u,%u\n",
                        static_cast<long long>((record.time - origin) / 10000), record.data[0],
                        record.data[1], record.data[2], record.data[3]);
        }
    }
    return 0;
}

int Reports(long from) {
    static const char* const kKinds[] = {"?", "feature", "output", "write"};
    std::printf("index,time_ms,kind,refused,length,bytes\n");
    const auto records = hidwheel::ReadRecords(static_cast<size_t>(from));
    const int64_t origin = records.empty() ? 0 : records.front().time;
    long index = from;
    for (const auto& record : records) {
        std::printf("%ld,%.1f,%s,%u,%u,", index++, static_cast<double>(record.time - origin) / 1e4,
                    kKinds[record.kind <= 3 ? record.kind : 0], record.refused, record.length);
        const uint32_t shown =
            record.length < sizeof record.data ? record.length : sizeof record.data;
        for (uint32_t i = 0; i < shown; ++i) {
            std::printf("%s%02X", i == 0 ? "" : " ", record.data[i]);
        }
        std::printf("\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string verb = argv[1];
    if (verb == "install" || verb == "plug") {
        return argc > 3 ? Usage() : Install(argv[1], argc, argv);
    }
    if (verb == "unplug" && argc == 2) {
        std::string message;
        if (!hidwheel::Unplug(&message)) {
            std::fprintf(stderr, "hid-wheel unplug: %s\n", message.c_str());
            return 1;
        }
        std::printf("hid-wheel unplug: the wheel is unplugged\n");
        return 0;
    }
    if (verb == "status" && argc == 2) {
        const std::string path = hidwheel::FindInterfacePath();
        std::printf("%s\n", path.empty() ? "no wheel" : path.c_str());
        return path.empty() ? 1 : 0;
    }
    if (verb == "set") {
        return Set(argc, argv);
    }
    if (verb == "fail") {
        return Fail(argc, argv);
    }
    if (verb == "count" && argc == 2) {
        std::printf("%zu\n", hidwheel::RecordCount());
        return 0;
    }
    if (verb == "reports" || verb == "trace") {
        long from = 0;
        if (argc > 3 || (argc == 3 && !ParseNumber(argv[2], 0, 0x7FFFFFFF, &from))) {
            return Usage();
        }
        return verb == "trace" ? Trace(from) : Reports(from);
    }
    return Usage();
}
