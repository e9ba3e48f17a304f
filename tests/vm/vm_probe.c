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
 * Exit status 0 when it did what was asked, 1 when not (the reason on standard error).
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
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
    fprintf(stderr, "usage: vm-probe hidraw|find|caps|read ...\n");
    return 2;
}
