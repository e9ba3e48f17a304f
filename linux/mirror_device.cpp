#include "mirror_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux/ff_bridge.h"
#include "linux/node_access.h"

namespace rumble {

namespace {

bool TestBit(const uint8_t* bits, unsigned bit) {
    return (bits[bit / 8] >> (bit % 8)) & 1u;
}

// What a client may upload: the types the Windows driver registers, by their evdev names.
constexpr uint16_t kFfBits[] = {FF_CONSTANT, FF_RAMP,   FF_PERIODIC, FF_SINE,   FF_SQUARE,
                                FF_TRIANGLE, FF_SAW_UP, FF_SAW_DOWN, FF_RUMBLE, FF_GAIN,
                                FF_SPRING,   FF_DAMPER, FF_FRICTION, FF_INERTIA};

std::string Errno(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

MirrorDevice::~MirrorDevice() {
    if (uinput_ >= 0) {
        ioctl(uinput_, UI_DEV_DESTROY);
        close(uinput_);
    }
    if (evdev_ >= 0) {
        close(evdev_);
    }
}

void MirrorDevice::Log(const std::string& text) {
    if (log_) {
        log_(text);
    }
}

bool MirrorDevice::Create(const std::string& eventNode, const std::string& hidraw,
                          std::string* error) {
    evdev_ = open(eventNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (evdev_ < 0) {
        const int e = errno;
        *error = Errno("cannot open the wheel's input node " + eventNode, e);
        if (e == EACCES || e == EPERM) {
            *error += "; the service needs read access to it: " + std::string(kRuleAdvice);
        }
        return false;
    }
    // Games must see the wheel once, through the mirror: nobody else reads it while we hold it.
    if (ioctl(evdev_, EVIOCGRAB, 1) < 0) {
        Log(Errno("cannot grab " + eventNode + " (games may see the wheel twice)", errno));
    }
    uinput_ = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (uinput_ < 0) {
        const int e = errno;
        *error = Errno("cannot open /dev/uinput", e);
        if (e == ENOENT || e == ENODEV) {
            *error += "; load the uinput module ('modprobe uinput')";
        } else if (e == EACCES || e == EPERM) {
            *error +=
                "; the service needs read and write access to it: " + std::string(kRuleAdvice);
        }
        return false;
    }
    uint8_t types[(EV_MAX + 8) / 8] = {};
    uint8_t misc[(MSC_MAX + 8) / 8] = {};
    ioctl(evdev_, EVIOCGBIT(0, sizeof types), types);
    if (TestBit(types, EV_KEY) &&
        ioctl(evdev_, EVIOCGBIT(EV_KEY, sizeof keyBits_), keyBits_) >= 0) {
        ioctl(uinput_, UI_SET_EVBIT, EV_KEY);
        for (unsigned code = 0; code <= KEY_MAX; ++code) {
            if (TestBit(keyBits_, code)) {
                ioctl(uinput_, UI_SET_KEYBIT, code);
            }
        }
    }
    if (TestBit(types, EV_ABS) &&
        ioctl(evdev_, EVIOCGBIT(EV_ABS, sizeof absBits_), absBits_) >= 0) {
        ioctl(uinput_, UI_SET_EVBIT, EV_ABS);
        for (unsigned code = 0; code <= ABS_MAX; ++code) {
            uinput_abs_setup setup = {};
            setup.code = static_cast<uint16_t>(code);
            // The same range, fuzz, flat and resolution: games calibrate as for the wheel. The
            // value too: a game that opens the device at once reads where the wheel stands.
            if (TestBit(absBits_, code) && ioctl(evdev_, EVIOCGABS(code), &setup.absinfo) >= 0) {
                ioctl(uinput_, UI_SET_ABSBIT, code);
                ioctl(uinput_, UI_ABS_SETUP, &setup);
                abs_[code] = setup.absinfo.value;
            } else {
                absBits_[code / 8] &= static_cast<uint8_t>(~(1u << (code % 8)));
            }
        }
    }
    if (TestBit(types, EV_MSC) && ioctl(evdev_, EVIOCGBIT(EV_MSC, sizeof misc), misc) >= 0) {
        ioctl(uinput_, UI_SET_EVBIT, EV_MSC);
        for (unsigned code = 0; code <= MSC_MAX; ++code) {
            if (TestBit(misc, code)) {
                ioctl(uinput_, UI_SET_MSCBIT, code);
            }
        }
    }
    ioctl(uinput_, UI_SET_EVBIT, EV_FF);
    for (const uint16_t bit : kFfBits) {
        ioctl(uinput_, UI_SET_FFBIT, bit);
    }
    uinput_setup setup = {};
    ioctl(evdev_, EVIOCGID, &setup.id);
    char name[UINPUT_MAX_NAME_SIZE] = {};
    if (ioctl(evdev_, EVIOCGNAME(sizeof name - 1), name) < 0 || name[0] == '\0') {
        std::strcpy(name, "Talvex DX wheel");
    }
    std::memcpy(setup.name, name, sizeof setup.name);
    setup.ff_effects_max = kEffectsPerWheel;
    // The physical path tells the mirror from the wheel: "talvex-rumble/hidrawN".
    const std::string phys = "talvex-rumble/" + hidraw.substr(hidraw.rfind('/') + 1);
    if (ioctl(uinput_, UI_SET_PHYS, phys.c_str()) < 0 || ioctl(uinput_, UI_DEV_SETUP, &setup) < 0 ||
        ioctl(uinput_, UI_DEV_CREATE) < 0) {
        *error = Errno("cannot create the uinput device", errno);
        return false;
    }
    // Buttons held now (uinput takes no initial key state) and any axis moved since it was read.
    std::vector<input_event> state;
    AppendDifferences(&state);
    if (state.size() > 1 && write(uinput_, state.data(), state.size() * sizeof state[0]) < 0) {
        Log(Errno("cannot give the device the wheel's state", errno));
    }
    char sysname[64] = {};
    if (ioctl(uinput_, UI_GET_SYSNAME(sizeof sysname), sysname) >= 0) {
        const std::string dir = std::string("/sys/devices/virtual/input/") + sysname;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* entry = readdir(d)) {
                if (std::strncmp(entry->d_name, "event", 5) == 0) {
                    node_ = std::string("/dev/input/") + entry->d_name;
                }
            }
            closedir(d);
        }
    }
    return true;
}

void MirrorDevice::Track(const input_event& event) {
    if (event.type == EV_KEY && event.code <= KEY_MAX) {
        uint8_t& byte = keys_[event.code / 8];
        const auto bit = static_cast<uint8_t>(1u << (event.code % 8));
        byte = event.value != 0 ? (byte | bit) : static_cast<uint8_t>(byte & ~bit);
    } else if (event.type == EV_ABS && event.code <= ABS_MAX) {
        abs_[event.code] = event.value;
    }
}

void MirrorDevice::AppendDifferences(std::vector<input_event>* out) {
    uint8_t keys[sizeof keys_] = {};
    if (ioctl(evdev_, EVIOCGKEY(sizeof keys), keys) >= 0) {
        for (unsigned code = 0; code <= KEY_MAX; ++code) {
            if (TestBit(keyBits_, code) && TestBit(keys, code) != TestBit(keys_, code)) {
                out->push_back(
                    input_event{{}, EV_KEY, static_cast<uint16_t>(code), TestBit(keys, code)});
            }
        }
    }
    for (unsigned code = 0; code <= ABS_MAX; ++code) {
        input_absinfo info = {};
        if (TestBit(absBits_, code) && ioctl(evdev_, EVIOCGABS(code), &info) >= 0 &&
            info.value != abs_[code]) {
            out->push_back(input_event{{}, EV_ABS, static_cast<uint16_t>(code), info.value});
        }
    }
    for (const input_event& event : *out) {
        Track(event);
    }
    out->push_back(input_event{{}, EV_SYN, SYN_REPORT, 0});
}

bool MirrorDevice::ForwardInput() {
    input_event events[64];
    for (;;) {
        const ssize_t got = read(evdev_, events, sizeof events);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return true;
            }
            return false;  // ENODEV: unplugged
        }
        if (got == 0) {
            return false;
        }
        const size_t count = static_cast<size_t>(got) / sizeof events[0];
        std::vector<input_event>& out = forward_;
        out.clear();
        for (size_t i = 0; i < count; ++i) {
            const input_event& event = events[i];
            // The wheel's node overflowed while we were held up: the kernel threw input away
            // and says so. uinput discards a SYN_DROPPED written to it, so the device is brought
            // to the wheel's state instead, once the torn packet has passed.
            if (dropping_) {
                if (event.type == EV_SYN && event.code == SYN_REPORT) {
                    dropping_ = false;
                    AppendDifferences(&out);
                }
                continue;
            }
            if (event.type == EV_SYN && event.code == SYN_DROPPED) {
                if (!dropping_) {
                    Log("the wheel's input came faster than it was read; its device is brought "
                        "back to the wheel's state");
                }
                dropping_ = true;
                continue;
            }
            Track(event);
            out.push_back(event);
        }
        if (!out.empty() && uinput_ >= 0 &&
            write(uinput_, out.data(), out.size() * sizeof out[0]) < 0) {
            Log(Errno("cannot pass the wheel's input on", errno));
        }
    }
}

void MirrorDevice::ServeClients(FfBridge& bridge, uint32_t device) {
    input_event event;
    while (read(uinput_, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type == EV_UINPUT && event.code == UI_FF_UPLOAD) {
            uinput_ff_upload upload = {};
            upload.request_id = static_cast<uint32_t>(event.value);
            if (ioctl(uinput_, UI_BEGIN_FF_UPLOAD, &upload) < 0) {
                continue;
            }
            upload.retval = bridge.Upload(device, upload.effect);
            ioctl(uinput_, UI_END_FF_UPLOAD, &upload);
        } else if (event.type == EV_UINPUT && event.code == UI_FF_ERASE) {
            uinput_ff_erase erase = {};
            erase.request_id = static_cast<uint32_t>(event.value);
            if (ioctl(uinput_, UI_BEGIN_FF_ERASE, &erase) < 0) {
                continue;
            }
            erase.retval = bridge.Erase(device, static_cast<int32_t>(erase.effect_id));
            ioctl(uinput_, UI_END_FF_ERASE, &erase);
        } else if (event.type == EV_FF) {
            bridge.Event(device, event.code, event.value);
        }
    }
}

}  // namespace rumble
