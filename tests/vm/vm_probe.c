/* What the VM's scenarios do to the wheel's kernel devices besides the clients nobody here wrote
 * (fftest, SDL): built static from the kernel's uapi headers, so the guest needs no libraries.
 *
 *   vm-probe hidraw B1 B2 B3      the wheel's hidraw node: its identity and report descriptor as
 *                                 the kernel gives them, HIDIOCSFEATURE of [report ID, B1, B2, B3]
 *                                 and HIDIOCGFEATURE reading it back
 *   vm-probe find VID PID [ff|noff|any [MS]]   waits up to MS ms (5000) for an evdev node with
 *                                 those IDs (hex), with or without force feedback, and prints
 *                                 its path
 *   vm-probe caps NODE            name, IDs, axes with their ranges, buttons and force feedback
 *   vm-probe read NODE COUNT MS   prints up to COUNT key and axis events that come within MS ms
 *   vm-probe ff-log MS            a uinput joystick with every force-feedback type that prints
 *                                 each upload, erasure, play, stop and gain its clients send, for
 *                                 MS ms: what a client such as fftest or SDL asks of a device
 *   vm-probe now                  CLOCK_MONOTONIC in ms, for the test wheel's mark-at
 *   vm-probe effects NODE         sets the gain to full, then plays, one after the other, a ramp,
 *                                 a square, a triangle, a saw up and a saw down (the effect types
 *                                 neither fftest nor SDL's calls here play), marking each
 *                                 "effect-TYPE play" and "effect-TYPE stop" in the test wheel's
 *                                 record through the pipe WHEEL_MARKS names
 *   vm-probe latency NODE PIPE    a game's calls timed, in ms: uploads a rumble, plays it, moves
 *                                 the wheel 5 times through the test wheel's command PIPE (each
 *                                 until the service's device NODE shows the move), stops the
 *                                 rumble and sets the gain 15 times; prints the slowest of each
 *                                 kind and the close
 *   vm-probe garbage NODE         a client sending what no game should: effect numbers it does
 *                                 not own, absurd periods, lengths and levels, plays of erased
 *                                 effects; exits 0 when the device answered every call (an
 *                                 error is an answer) and still takes a sound effect afterwards
 * Exit status 0 when it did what was asked, 1 when not (the reason on standard error).
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "common/wheel_descriptor.h"

#define BITS_PER_LONG (8 * sizeof(long))
#define TEST_BIT(bit, array) (((array)[(bit) / BITS_PER_LONG] >> ((bit) % BITS_PER_LONG)) & 1UL)

static int Fail(const char* format, const char* detail) {
    fprintf(stderr, "vm-probe: ");
    fprintf(stderr, format, detail);
    fprintf(stderr, "\n");
    return 1;
}

static long NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

/* The wheel's hidraw node, found by the IDs in its sysfs uevent, as a program without udev must. */
static int FindHidraw(char* path, size_t size) {
    char wanted[64];
    snprintf(wanted, sizeof(wanted), "HID_ID=0003:%08X:%08X", HID_WHEEL_VENDOR_ID,
             HID_WHEEL_PRODUCT_ID);
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == NULL) {
        return -1;
    }
    struct dirent* entry;
    int found = -1;
    while (found != 0 && (entry = readdir(dir)) != NULL) {
        if (strncmp(entry->d_name, "hidraw", 6) != 0) {
            continue;
        }
        char uevent[300], line[200];
        snprintf(uevent, sizeof(uevent), "/sys/class/hidraw/%s/device/uevent", entry->d_name);
        FILE* file = fopen(uevent, "r");
        if (file == NULL) {
            continue;
        }
        while (fgets(line, sizeof(line), file) != NULL) {
            if (strncmp(line, wanted, strlen(wanted)) == 0) {
                snprintf(path, size, "/dev/%s", entry->d_name);
                found = 0;
            }
        }
        fclose(file);
    }
    closedir(dir);
    return found;
}

static int Hidraw(int argc, char** argv) {
    if (argc != 5) {
        return Fail("%s", "hidraw needs three bytes");
    }
    char path[300];
    if (FindHidraw(path, sizeof(path)) != 0) {
        return Fail("%s", "no hidraw node has the wheel's IDs");
    }
    int fd = open(path, O_RDWR);
    if (fd < 0) {
        return Fail("cannot open %s", path);
    }
    struct hidraw_devinfo info;
    if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0 || info.bustype != BUS_USB ||
        (unsigned short)info.vendor != HID_WHEEL_VENDOR_ID ||
        (unsigned short)info.product != HID_WHEEL_PRODUCT_ID) {
        return Fail("%s: HIDIOCGRAWINFO gives other IDs", path);
    }
    struct hidraw_report_descriptor descriptor;
    memset(&descriptor, 0, sizeof(descriptor));
    if (ioctl(fd, HIDIOCGRDESCSIZE, &descriptor.size) < 0 ||
        ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        return Fail("%s: cannot read the report descriptor", path);
    }
    if (descriptor.size != sizeof(kHidWheelReportDescriptor) ||
        memcmp(descriptor.value, kHidWheelReportDescriptor, descriptor.size) != 0) {
        return Fail("%s: the report descriptor differs from the wheel's", path);
    }
    unsigned char report[HID_WHEEL_FEATURE_LENGTH] = {HID_WHEEL_REPORT_ID};
    for (int i = 0; i < 3; ++i) {
        report[1 + i] = (unsigned char)strtoul(argv[2 + i], NULL, 0);
    }
    if (ioctl(fd, HIDIOCSFEATURE(sizeof(report)), report) != (int)sizeof(report)) {
        return Fail("HIDIOCSFEATURE: %s", strerror(errno));
    }
    unsigned char back[HID_WHEEL_FEATURE_LENGTH] = {HID_WHEEL_REPORT_ID};
    int got = ioctl(fd, HIDIOCGFEATURE(sizeof(back)), back);
    if (got != (int)sizeof(back) || memcmp(back, report, sizeof(report)) != 0) {
        return Fail("%s", "HIDIOCGFEATURE does not give back the report just set");
    }
    printf(
        "%s: IDs %04x:%04x, descriptor of %u bytes as the wheel's, feature report %02x %02x %02x "
        "%02x set and read back\n",
        path, (unsigned short)info.vendor, (unsigned short)info.product, descriptor.size, report[0],
        report[1], report[2], report[3]);
    close(fd);
    return 0;
}

static int HasFf(int fd) {
    unsigned long types[EV_MAX / BITS_PER_LONG + 1] = {0};
    return ioctl(fd, EVIOCGBIT(0, sizeof(types)), types) >= 0 && TEST_BIT(EV_FF, types);
}

static int Find(int argc, char** argv) {
    if (argc < 4) {
        return Fail("%s", "find needs VID PID");
    }
    unsigned vendor = (unsigned)strtoul(argv[2], NULL, 16);
    unsigned product = (unsigned)strtoul(argv[3], NULL, 16);
    int wantFf = argc > 4 && strcmp(argv[4], "any") != 0 ? strcmp(argv[4], "ff") == 0 : -1;
    long deadline = NowMs() + (argc > 5 ? atol(argv[5]) : 5000);
    do {
        for (int i = 0; i < 32; ++i) {
            char path[64];
            snprintf(path, sizeof(path), "/dev/input/event%d", i);
            int fd = open(path, O_RDONLY);
            if (fd < 0) {
                continue;
            }
            struct input_id id;
            int match = ioctl(fd, EVIOCGID, &id) == 0 && id.vendor == vendor &&
                        id.product == product && (wantFf < 0 || HasFf(fd) == wantFf);
            close(fd);
            if (match) {
                printf("%s\n", path);
                return 0;
            }
        }
        usleep(50000);
    } while (NowMs() < deadline);
    return Fail("%s", "no such evdev node");
}

static int Caps(int argc, char** argv) {
    if (argc != 3) {
        return Fail("%s", "caps needs NODE");
    }
    int fd = open(argv[2], O_RDONLY);
    if (fd < 0) {
        return Fail("cannot open %s", argv[2]);
    }
    char name[128] = "";
    struct input_id id;
    ioctl(fd, EVIOCGNAME(sizeof(name)), name);
    ioctl(fd, EVIOCGID, &id);
    printf("%s: \"%s\" bus %04x vendor %04x product %04x\n", argv[2], name, id.bustype, id.vendor,
           id.product);
    unsigned long abs[ABS_MAX / BITS_PER_LONG + 1] = {0};
    unsigned long keys[KEY_MAX / BITS_PER_LONG + 1] = {0};
    unsigned long ff[FF_MAX / BITS_PER_LONG + 1] = {0};
    ioctl(fd, EVIOCGBIT(EV_ABS, sizeof(abs)), abs);
    ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys);
    printf("  axes:");
    for (int code = 0; code <= ABS_MAX; ++code) {
        struct input_absinfo info;
        if (TEST_BIT(code, abs) && ioctl(fd, EVIOCGABS(code), &info) == 0) {
            printf(" 0x%02x[%d..%d]", code, info.minimum, info.maximum);
        }
    }
    int buttons = 0;
    for (int code = 0; code <= KEY_MAX; ++code) {
        buttons += (int)TEST_BIT(code, keys);
    }
    printf("\n  buttons: %d\n  force feedback:", buttons);
    if (HasFf(fd) && ioctl(fd, EVIOCGBIT(EV_FF, sizeof(ff)), ff) >= 0) {
        for (int code = 0; code <= FF_MAX; ++code) {
            if (TEST_BIT(code, ff)) {
                printf(" 0x%02x", code);
            }
        }
        int effects = 0;
        ioctl(fd, EVIOCGEFFECTS, &effects);
        printf(" (%d effects at once)", effects);
    } else {
        printf(" none");
    }
    printf("\n");
    close(fd);
    return 0;
}

static int Read(int argc, char** argv) {
    if (argc != 5) {
        return Fail("%s", "read needs NODE COUNT MS");
    }
    int fd = open(argv[2], O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return Fail("cannot open %s", argv[2]);
    }
    int wanted = atoi(argv[3]);
    long deadline = NowMs() + atol(argv[4]);
    int seen = 0;
    while (seen < wanted && NowMs() < deadline) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, (int)(deadline - NowMs())) <= 0) {
            continue;
        }
        struct input_event event;
        while (seen < wanted && read(fd, &event, sizeof(event)) == (ssize_t)sizeof(event)) {
            if (event.type == EV_KEY || event.type == EV_ABS) {
                printf("type %u code 0x%03x value %d\n", event.type, event.code, event.value);
                ++seen;
            }
        }
    }
    close(fd);
    return seen == wanted ? 0 : Fail("%s", "fewer events than asked for");
}

static void PrintEffect(long ms, const struct ff_effect* e) {
    printf("%ld upload id %d type 0x%02x direction 0x%04x length %u delay %u", ms, e->id, e->type,
           e->direction, e->replay.length, e->replay.delay);
    const struct ff_envelope* envelope = NULL;
    switch (e->type) {
        case FF_RUMBLE:
            printf(" strong 0x%04x weak 0x%04x", e->u.rumble.strong_magnitude,
                   e->u.rumble.weak_magnitude);
            break;
        case FF_CONSTANT:
            printf(" level %d", e->u.constant.level);
            envelope = &e->u.constant.envelope;
            break;
        case FF_RAMP:
            printf(" start %d end %d", e->u.ramp.start_level, e->u.ramp.end_level);
            envelope = &e->u.ramp.envelope;
            break;
        case FF_PERIODIC:
            printf(" waveform 0x%02x period %u magnitude %d offset %d phase %u",
                   e->u.periodic.waveform, e->u.periodic.period, e->u.periodic.magnitude,
                   e->u.periodic.offset, e->u.periodic.phase);
            envelope = &e->u.periodic.envelope;
            break;
        default:
            break;
    }
    if (envelope != NULL) {
        printf(" attack %u/%u fade %u/%u", envelope->attack_length, envelope->attack_level,
               envelope->fade_length, envelope->fade_level);
    }
    printf("\n");
}

static int FfLog(int argc, char** argv) {
    if (argc != 3) {
        return Fail("%s", "ff-log needs MS");
    }
    int fd = open("/dev/uinput", O_RDWR);
    if (fd < 0) {
        return Fail("cannot open /dev/uinput: %s", strerror(errno));
    }
    ioctl(fd, UI_SET_EVBIT, EV_KEY);
    ioctl(fd, UI_SET_KEYBIT, BTN_TRIGGER);
    ioctl(fd, UI_SET_KEYBIT, BTN_THUMB);
    ioctl(fd, UI_SET_EVBIT, EV_ABS);
    ioctl(fd, UI_SET_EVBIT, EV_FF);
    static const int kTypes[] = {FF_RUMBLE, FF_PERIODIC, FF_CONSTANT, FF_SPRING, FF_FRICTION,
                                 FF_DAMPER, FF_INERTIA,  FF_RAMP,     FF_SQUARE, FF_TRIANGLE,
                                 FF_SINE,   FF_SAW_UP,   FF_SAW_DOWN, FF_GAIN};
    for (size_t i = 0; i < sizeof(kTypes) / sizeof(kTypes[0]); ++i) {
        ioctl(fd, UI_SET_FFBIT, kTypes[i]);
    }
    for (int axis = ABS_X; axis <= ABS_Y; ++axis) {
        struct uinput_abs_setup abs = {(unsigned short)axis, {0, 0, 255, 0, 0, 0}};
        ioctl(fd, UI_SET_ABSBIT, axis);
        ioctl(fd, UI_ABS_SETUP, &abs);
    }
    struct uinput_setup setup;
    memset(&setup, 0, sizeof(setup));
    snprintf(setup.name, sizeof(setup.name), "force feedback log");
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;
    setup.id.product = 0x0001;
    setup.ff_effects_max = 16;
    if (ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ioctl(fd, UI_DEV_CREATE) < 0) {
        return Fail("cannot create the uinput device: %s", strerror(errno));
    }
    long start = NowMs();
    long deadline = start + atol(argv[2]);
    while (NowMs() < deadline) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, (int)(deadline - NowMs())) <= 0) {
            continue;
        }
        struct input_event event;
        if (read(fd, &event, sizeof(event)) != (ssize_t)sizeof(event)) {
            continue;
        }
        long ms = NowMs() - start;
        if (event.type == EV_UINPUT && event.code == UI_FF_UPLOAD) {
            struct uinput_ff_upload upload;
            memset(&upload, 0, sizeof(upload));
            upload.request_id = (unsigned)event.value;
            ioctl(fd, UI_BEGIN_FF_UPLOAD, &upload);
            PrintEffect(ms, &upload.effect);
            upload.retval = 0;
            ioctl(fd, UI_END_FF_UPLOAD, &upload);
        } else if (event.type == EV_UINPUT && event.code == UI_FF_ERASE) {
            struct uinput_ff_erase erase;
            memset(&erase, 0, sizeof(erase));
            erase.request_id = (unsigned)event.value;
            ioctl(fd, UI_BEGIN_FF_ERASE, &erase);
            printf("%ld erase id %u\n", ms, erase.effect_id);
            erase.retval = 0;
            ioctl(fd, UI_END_FF_ERASE, &erase);
        } else if (event.type == EV_FF && event.code == FF_GAIN) {
            printf("%ld gain %d\n", ms, event.value);
        } else if (event.type == EV_FF) {
            printf("%ld %s id %u\n", ms, event.value ? "play" : "stop", event.code);
        }
    }
    ioctl(fd, UI_DEV_DESTROY);
    close(fd);
    return 0;
}

static void Mark(const char* name, const char* what) {
    const char* path = getenv("WHEEL_MARKS");
    FILE* marks = path ? fopen(path, "w") : NULL;
    if (marks != NULL) {
        fprintf(marks, "mark-at %ld effect-%s %s\n", NowMs(), name, what);
        fclose(marks);
    }
}

static void Event(int fd, unsigned short type, unsigned short code, int value);

/* tests/vm/expected/effect-*.json are what a Windows game sends for the same forces. */
static int Effects(int argc, char** argv) {
    if (argc != 3) {
        return Fail("%s", "effects needs NODE");
    }
    int fd = open(argv[2], O_RDWR);
    if (fd < 0) {
        return Fail("cannot open %s", argv[2]);
    }
    Event(fd, EV_FF, FF_GAIN, 0xFFFF);
    struct {
        const char* name;
        unsigned short type, waveform, direction, period, length;
        short magnitude, offset, end;
        unsigned short attack, attackLevel, fade, fadeLevel;
    } const kEffects[] = {
        /* Forces on the wheel, right (0xC000) and left (0x4000); 0x2000 points between down and
         * left, off the wheel's axis. */
        {"ramp", FF_RAMP, 0, 0xC000, 0, 800, -0x4000, 0, 0x7FFF, 0, 0, 0, 0},
        {"square", FF_PERIODIC, FF_SQUARE, 0x4000, 200, 700, 0x6000, 0, 0, 0, 0, 0, 0},
        {"triangle", FF_PERIODIC, FF_TRIANGLE, 0x2000, 300, 700, 0x7FFF, 0, 0, 200, 0, 0, 0},
        {"saw-up", FF_PERIODIC, FF_SAW_UP, 0xC000, 250, 600, 0x7FFF, 0, 0, 0, 0, 300, 0},
        {"saw-down", FF_PERIODIC, FF_SAW_DOWN, 0x4000, 250, 600, 0x5000, 0x2000, 0, 0, 0, 0, 0},
    };
    int status = 0;
    for (size_t i = 0; i < sizeof(kEffects) / sizeof(kEffects[0]); ++i) {
        struct ff_effect effect;
        memset(&effect, 0, sizeof(effect));
        effect.id = -1;
        effect.type = kEffects[i].type;
        effect.direction = kEffects[i].direction;
        effect.replay.length = kEffects[i].length;
        struct ff_envelope* envelope;
        if (kEffects[i].type == FF_RAMP) {
            effect.u.ramp.start_level = kEffects[i].magnitude;
            effect.u.ramp.end_level = kEffects[i].end;
            envelope = &effect.u.ramp.envelope;
        } else {
            effect.u.periodic.waveform = kEffects[i].waveform;
            effect.u.periodic.period = kEffects[i].period;
            effect.u.periodic.magnitude = kEffects[i].magnitude;
            effect.u.periodic.offset = kEffects[i].offset;
            envelope = &effect.u.periodic.envelope;
        }
        envelope->attack_length = kEffects[i].attack;
        envelope->attack_level = kEffects[i].attackLevel;
        envelope->fade_length = kEffects[i].fade;
        envelope->fade_level = kEffects[i].fadeLevel;
        if (ioctl(fd, EVIOCSFF, &effect) < 0) {
            printf("  %-9s upload refused: %s\n", kEffects[i].name, strerror(errno));
            status = 1;
            continue;
        }
        Mark(kEffects[i].name, "play");
        Event(fd, EV_FF, (unsigned short)effect.id, 1);
        printf("  %-9s playing %u ms\n", kEffects[i].name, kEffects[i].length);
        usleep((kEffects[i].length + 250u) * 1000u);
        Mark(kEffects[i].name, "stop");
        ioctl(fd, EVIOCRMFF, effect.id);
    }
    close(fd);
    return status;
}

/* One call of the garbage client: any answer is fine, a hang or a crash is not. */
static int Upload(int fd, struct ff_effect* effect, const char* what) {
    int result = ioctl(fd, EVIOCSFF, effect);
    printf("  %-44s %s\n", what, result < 0 ? strerror(errno) : "accepted");
    return result;
}

static void Event(int fd, unsigned short type, unsigned short code, int value) {
    struct input_event event;
    memset(&event, 0, sizeof(event));
    event.type = type;
    event.code = code;
    event.value = value;
    (void)!write(fd, &event, sizeof(event));
}

static int Garbage(int argc, char** argv) {
    if (argc != 3) {
        return Fail("%s", "garbage needs NODE");
    }
    int fd = open(argv[2], O_RDWR);
    if (fd < 0) {
        return Fail("cannot open %s", argv[2]);
    }
    struct ff_effect effect;
    /* Plays, stops and erasures of numbers this client never got, the kernel's "none" among them.
     */
    static const int kForeign[] = {-1, 0, 1, 15, 16, 255, 65535, 0x7FFFFFFF};
    for (size_t i = 0; i < sizeof(kForeign) / sizeof(kForeign[0]); ++i) {
        Event(fd, EV_FF, (unsigned short)kForeign[i], 1);
        Event(fd, EV_FF, (unsigned short)kForeign[i], 0x7FFFFFFF);
        Event(fd, EV_FF, (unsigned short)kForeign[i], 0);
        ioctl(fd, EVIOCRMFF, kForeign[i]);
    }
    printf("  plays, stops and erasures of effect numbers not this client's: sent\n");
    /* Updates of effects that are not there. */
    memset(&effect, 0, sizeof(effect));
    effect.type = FF_CONSTANT;
    effect.u.constant.level = 0x7FFF;
    effect.replay.length = 1000;
    effect.id = 7;
    Upload(fd, &effect, "update of effect 7, never uploaded");
    effect.id = -2;
    Upload(fd, &effect, "upload with id -2");
    /* Absurd values in effects the kernel lets through to the device. */
    memset(&effect, 0, sizeof(effect));
    effect.id = -1;
    effect.type = FF_PERIODIC;
    effect.u.periodic.waveform = FF_SINE;
    effect.u.periodic.period = 0;
    effect.u.periodic.magnitude = -32768;
    effect.u.periodic.offset = -32768;
    effect.replay.length = 0xFFFF;
    effect.replay.delay = 0xFFFF;
    int zeroPeriod = Upload(fd, &effect, "sine of period 0, magnitude -32768");
    if (zeroPeriod >= 0) {
        Event(fd, EV_FF, (unsigned short)effect.id, 3);
    }
    memset(&effect, 0, sizeof(effect));
    effect.id = -1;
    effect.type = FF_PERIODIC;
    effect.u.periodic.waveform = FF_SQUARE;
    effect.u.periodic.period = 0xFFFF;
    effect.u.periodic.magnitude = 0x7FFF;
    effect.u.periodic.phase = 0xFFFF;
    effect.u.periodic.envelope.attack_length = 0xFFFF;
    effect.u.periodic.envelope.attack_level = 0xFFFF;
    effect.u.periodic.envelope.fade_length = 0xFFFF;
    effect.u.periodic.envelope.fade_level = 0xFFFF;
    effect.replay.length = 1;
    Upload(fd, &effect, "square of period 65535 ms, length 1 ms");
    if (effect.id >= 0) {
        Event(fd, EV_FF, (unsigned short)effect.id, 1);
    }
    memset(&effect, 0, sizeof(effect));
    effect.id = -1;
    effect.type = FF_PERIODIC;
    effect.u.periodic.waveform = FF_CUSTOM;
    effect.u.periodic.period = 100;
    effect.u.periodic.magnitude = 0x7FFF;
    Upload(fd, &effect, "custom waveform (not advertised)");
    memset(&effect, 0, sizeof(effect));
    effect.id = -1;
    effect.type = FF_RAMP;
    effect.u.ramp.start_level = -32768;
    effect.u.ramp.end_level = 32767;
    effect.replay.length = 0;
    int ramp = Upload(fd, &effect, "ramp of length 0 (infinite)");
    if (ramp >= 0) {
        int rampId = effect.id;
        Event(fd, EV_FF, (unsigned short)rampId, 1);
        usleep(100000);
        /* The same effect changed while it plays, to a type it cannot change into. */
        effect.type = FF_RUMBLE;
        Upload(fd, &effect, "the playing ramp re-uploaded as a rumble");
        ioctl(fd, EVIOCRMFF, rampId);
        Event(fd, EV_FF, (unsigned short)rampId, 1);
        printf("  ramp erased, then played again: sent\n");
    }
    Event(fd, EV_FF, FF_GAIN, 0x7FFFFFFF);
    Event(fd, EV_FF, FF_GAIN, -1);
    Event(fd, EV_FF, FF_GAIN, 0xFFFF);
    printf("  gain 0x7FFFFFFF, -1, then 0xFFFF: sent\n");
    usleep(200000);
    /* The device still works: a sound rumble uploads. */
    memset(&effect, 0, sizeof(effect));
    effect.id = -1;
    effect.type = FF_RUMBLE;
    effect.u.rumble.strong_magnitude = 0x8000;
    effect.replay.length = 200;
    int sound = Upload(fd, &effect, "a sound rumble afterwards");
    if (sound >= 0) {
        Event(fd, EV_FF, (unsigned short)effect.id, 1);
        usleep(400000);
    }
    close(fd);
    return sound >= 0 ? 0 : Fail("%s", "the device refused a sound effect after the garbage");
}

static double NowMsExact(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

static int WriteFf(int fd, unsigned short code, int value) {
    struct input_event event;
    memset(&event, 0, sizeof(event));
    event.type = EV_FF;
    event.code = code;
    event.value = value;
    return write(fd, &event, sizeof(event)) == (ssize_t)sizeof(event) ? 0 : -1;
}

static int Latency(int argc, char** argv) {
    if (argc != 4) {
        return Fail("%s", "latency needs NODE PIPE");
    }
    int fd = open(argv[2], O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return Fail("cannot open %s", argv[2]);
    }
    struct ff_effect rumble;
    memset(&rumble, 0, sizeof(rumble));
    rumble.type = FF_RUMBLE;
    rumble.id = -1;
    rumble.u.rumble.strong_magnitude = 0x8000;
    double t = NowMsExact();
    if (ioctl(fd, EVIOCSFF, &rumble) < 0) {
        return Fail("%s", "EVIOCSFF failed");
    }
    double upload = NowMsExact() - t;
    t = NowMsExact();
    if (WriteFf(fd, (unsigned short)rumble.id, 1) < 0) {
        return Fail("%s", "play failed");
    }
    double play = NowMsExact() - t;
    double input = 0;
    for (int i = 0; i < 5; ++i) {
        int x = 10 + 40 * i;
        FILE* pipe = fopen(argv[3], "w");
        if (pipe == NULL) {
            return Fail("cannot open %s", argv[3]);
        }
        t = NowMsExact();
        fprintf(pipe, "input %d 128 128 128 -1 0\n", x);
        fclose(pipe);
        int seen = 0;
        while (!seen && NowMsExact() - t < 20000) {
            struct pollfd pfd = {fd, POLLIN, 0};
            poll(&pfd, 1, 100);
            struct input_event event;
            while (read(fd, &event, sizeof(event)) == (ssize_t)sizeof(event)) {
                seen = seen || (event.type == EV_ABS && event.code == ABS_X && event.value == x);
            }
        }
        if (!seen) {
            return Fail("%s", "a move of the wheel never reached the service's device");
        }
        double took = NowMsExact() - t;
        input = took > input ? took : input;
    }
    double stop = 0;
    t = NowMsExact();
    WriteFf(fd, (unsigned short)rumble.id, 0);
    stop = NowMsExact() - t;
    double gain = 0;
    for (int i = 0; i < 15; ++i) {
        t = NowMsExact();
        WriteFf(fd, FF_GAIN, 0xFFFF - i);
        double took = NowMsExact() - t;
        gain = took > gain ? took : gain;
    }
    t = NowMsExact();
    close(fd);
    double closing = NowMsExact() - t;
    printf("upload %.1f play %.1f input %.1f stop %.1f gain %.1f close %.1f\n", upload, play, input,
           stop, gain, closing);
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    const char* command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "hidraw") == 0) {
        return Hidraw(argc, argv);
    }
    if (strcmp(command, "find") == 0) {
        return Find(argc, argv);
    }
    if (strcmp(command, "caps") == 0) {
        return Caps(argc, argv);
    }
    if (strcmp(command, "read") == 0) {
        return Read(argc, argv);
    }
    if (strcmp(command, "ff-log") == 0) {
        return FfLog(argc, argv);
    }
    if (strcmp(command, "now") == 0) {
        printf("%ld\n", NowMs());
        return 0;
    }
    if (strcmp(command, "effects") == 0) {
        return Effects(argc, argv);
    }
    if (strcmp(command, "garbage") == 0) {
        return Garbage(argc, argv);
    }
    if (strcmp(command, "latency") == 0) {
        return Latency(argc, argv);
    }
    fprintf(stderr,
            "usage: vm-probe hidraw|find|caps|read|ff-log|now|effects|garbage|latency ...\n");
    return 2;
}
