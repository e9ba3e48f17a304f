/* The Linux test wheel: a uhid device with the wheel's identity and report descriptor (the one the
 * Windows virtual HID wheel has), for a Linux kernel without the real wheel. The kernel makes a
 * hidraw node and, through hid-generic, an evdev joystick of it, exactly as of the real wheel.
 *
 * It records every feature report it is sent (UHID_SET_REPORT) with the time it arrived, in ms of
 * CLOCK_MONOTONIC since the program started, as CSV "ms,report_id,byte1,byte2,byte3" (the format
 * scripts/plot-motors reads); everything else it sees or does is a "# ms what" comment line.
 * GET_REPORT of the feature report answers the last one set.
 *
 * usage: uhid-wheel [--log FILE]     (default: standard output)
 * Commands, one a line, on standard input:
 *   unplug                   UHID_DESTROY: the wheel is gone
 *   plug                     UHID_CREATE2 again
 *   input X Y Z RZ HAT BUTTONS   one input report: axes 0..255, hat 0..7 or -1 centred, buttons
 *                            a 12-bit mask (button 1 = bit 0)
 *   stall                    stops answering SET_REPORT, as a wheel that hangs (the kernel gives
 *                            up on each request after its time-out); the requests are noted,
 *                            not recorded
 *   answer                   answers SET_REPORT again
 *   mark TEXT                a comment with the time, so a test can line up its own steps
 *   mark-at MS TEXT          the same with the time the writer read from CLOCK_MONOTONIC (ms)
 *                            before it acted, which a busy system may deliver here later
 *   quit
 * SIGTERM and SIGINT end it like quit. It prints "ready" to standard error once the device has
 * been created.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "common/wheel_descriptor.h"

static FILE* logFile;
static struct timespec started;
static volatile sig_atomic_t stopRequested;
static int stalled;
static int plugged;
static unsigned char lastFeature[HID_WHEEL_FEATURE_LENGTH] = {HID_WHEEL_REPORT_ID};

static long ElapsedMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - started.tv_sec) * 1000L + (now.tv_nsec - started.tv_nsec) / 1000000L;
}

static void Note(const char* format, ...) {
    va_list args;
    fprintf(logFile, "# %ld ", ElapsedMs());
    va_start(args, format);
    vfprintf(logFile, format, args);
    va_end(args);
    fputc('\n', logFile);
}

static int Send(int fd, const struct uhid_event* event) {
    ssize_t written = write(fd, event, sizeof(*event));
    if (written != (ssize_t)sizeof(*event)) {
        fprintf(stderr, "uhid-wheel: write to /dev/uhid: %s\n",
                written < 0 ? strerror(errno) : "short write");
        return -1;
    }
    return 0;
}

static int Plug(int fd) {
    struct uhid_event event;
    memset(&event, 0, sizeof(event));
    event.type = UHID_CREATE2;
    struct uhid_create2_req* create = &event.u.create2;
    snprintf((char*)create->name, sizeof(create->name), "Talvex DX Wheel");
    snprintf((char*)create->phys, sizeof(create->phys), "uhid-wheel/input0");
    snprintf((char*)create->uniq, sizeof(create->uniq), "TDX-TEST-0001");
    create->rd_size = sizeof(kHidWheelReportDescriptor);
    memcpy(create->rd_data, kHidWheelReportDescriptor, sizeof(kHidWheelReportDescriptor));
    create->bus = 0x03; /* BUS_USB */
    create->vendor = HID_WHEEL_VENDOR_ID;
    create->product = HID_WHEEL_PRODUCT_ID;
    create->version = HID_WHEEL_VERSION;
    if (Send(fd, &event) != 0) {
        return -1;
    }
    plugged = 1;
    Note("plugged");
    return 0;
}

static int Unplug(int fd) {
    struct uhid_event event;
    memset(&event, 0, sizeof(event));
    event.type = UHID_DESTROY;
    if (Send(fd, &event) != 0) {
        return -1;
    }
    plugged = 0;
    Note("unplugged");
    return 0;
}

static void RecordFeature(const unsigned char* data, unsigned size) {
    if (size == HID_WHEEL_FEATURE_LENGTH) {
        fprintf(logFile, "%ld,%u,%u,%u,%u\n", ElapsedMs(), data[0], data[1], data[2], data[3]);
        memcpy(lastFeature, data, size);
        return;
    }
    /* Not the wheel's report: kept as a comment that a test can look for. */
    fprintf(logFile, "# %ld set_report of %u bytes:", ElapsedMs(), size);
    for (unsigned i = 0; i < size && i < 16; ++i) {
        fprintf(logFile, " %02x", data[i]);
    }
    fputc('\n', logFile);
}

static int HandleKernelEvent(int fd) {
    struct uhid_event event;
    ssize_t got = read(fd, &event, sizeof(event));
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return 0;
        }
        fprintf(stderr, "uhid-wheel: read from /dev/uhid: %s\n", strerror(errno));
        return -1;
    }
    struct uhid_event reply;
    memset(&reply, 0, sizeof(reply));
    switch (event.type) {
        case UHID_START:
            Note("start flags 0x%llx", (unsigned long long)event.u.start.dev_flags);
            break;
        case UHID_STOP:
            Note("stop");
            break;
        case UHID_OPEN:
            Note("open");
            break;
        case UHID_CLOSE:
            Note("close");
            break;
        case UHID_OUTPUT:
            Note("output report of %u bytes, first 0x%02x", event.u.output.size,
                 event.u.output.size ? event.u.output.data[0] : 0);
            break;
        case UHID_SET_REPORT: {
            struct uhid_set_report_req* request = &event.u.set_report;
            if (stalled) {
                Note("set_report %u left unanswered", request->id);
                return 0;
            }
            if (request->rtype == UHID_FEATURE_REPORT) {
                RecordFeature(request->data, request->size);
            } else {
                Note("set_report of type %u", request->rtype);
            }
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = request->id;
            reply.u.set_report_reply.err = 0;
            return Send(fd, &reply);
        }
        case UHID_GET_REPORT: {
            struct uhid_get_report_req* request = &event.u.get_report;
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = request->id;
            if (request->rtype == UHID_FEATURE_REPORT && request->rnum == HID_WHEEL_REPORT_ID) {
                reply.u.get_report_reply.err = 0;
                reply.u.get_report_reply.size = sizeof(lastFeature);
                memcpy(reply.u.get_report_reply.data, lastFeature, sizeof(lastFeature));
            } else {
                reply.u.get_report_reply.err = EIO;
            }
            Note("get_report type %u number %u", request->rtype, request->rnum);
            return Send(fd, &reply);
        }
        default:
            Note("event %u", event.type);
            break;
    }
    return 0;
}

static int SendInput(int fd, const char* arguments) {
    int axes[4], hat;
    unsigned buttons;
    if (sscanf(arguments, "%d %d %d %d %d %i", &axes[0], &axes[1], &axes[2], &axes[3], &hat,
               &buttons) != 6) {
        fprintf(stderr, "uhid-wheel: input needs X Y Z RZ HAT BUTTONS\n");
        return 0;
    }
    struct uhid_event event;
    memset(&event, 0, sizeof(event));
    event.type = UHID_INPUT2;
    unsigned char* data = event.u.input2.data;
    data[0] = HID_WHEEL_REPORT_ID;
    for (int i = 0; i < 4; ++i) {
        data[1 + i] = (unsigned char)(axes[i] < 0 ? 0 : axes[i] > 255 ? 255 : axes[i]);
    }
    /* A hat value outside 0..7 is the null state: centred. */
    data[5] = (unsigned char)(hat >= 0 && hat <= 7 ? hat : 0x0F);
    data[6] = (unsigned char)(buttons & 0xFF);
    data[7] = (unsigned char)((buttons >> 8) & 0x0F);
    event.u.input2.size = HID_WHEEL_INPUT_LENGTH;
    Note("input %d %d %d %d %d 0x%03x", data[1], data[2], data[3], data[4], hat, buttons & 0xFFF);
    return plugged ? Send(fd, &event) : 0;
}

/* Returns 1 to go on, 0 to quit, -1 on a failure. */
static int HandleCommand(int fd, char* line) {
    line[strcspn(line, "\r\n")] = '\0';
    if (strcmp(line, "unplug") == 0) {
        return plugged && Unplug(fd) != 0 ? -1 : 1;
    }
    if (strcmp(line, "plug") == 0) {
        return !plugged && Plug(fd) != 0 ? -1 : 1;
    }
    if (strncmp(line, "input ", 6) == 0) {
        return SendInput(fd, line + 6) != 0 ? -1 : 1;
    }
    if (strcmp(line, "stall") == 0 || strcmp(line, "answer") == 0) {
        stalled = line[0] == 's';
        Note("%s", line);
        return 1;
    }
    if (strncmp(line, "mark ", 5) == 0) {
        Note("mark %s", line + 5);
        return 1;
    }
    long long at;
    int textStart;
    if (sscanf(line, "mark-at %lld %n", &at, &textStart) == 1) {
        long sinceStart = (long)(at - (started.tv_sec * 1000LL + started.tv_nsec / 1000000LL));
        fprintf(logFile, "# %ld mark %s\n", sinceStart, line + textStart);
        return 1;
    }
    if (strcmp(line, "quit") == 0) {
        return 0;
    }
    if (line[0] != '\0') {
        fprintf(stderr, "uhid-wheel: unknown command \"%s\"\n", line);
    }
    return 1;
}

static void OnStopSignal(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

int main(int argc, char** argv) {
    logFile = stdout;
    if (argc == 3 && strcmp(argv[1], "--log") == 0) {
        logFile = fopen(argv[2], "w");
        if (logFile == NULL) {
            fprintf(stderr, "uhid-wheel: cannot write %s: %s\n", argv[2], strerror(errno));
            return 2;
        }
    } else if (argc != 1) {
        fprintf(stderr, "usage: uhid-wheel [--log FILE]\n");
        return 2;
    }
    setvbuf(logFile, NULL, _IOLBF, 0);
    clock_gettime(CLOCK_MONOTONIC, &started);

    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);

    int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "uhid-wheel: cannot open /dev/uhid: %s\n", strerror(errno));
        return 1;
    }
    fprintf(logFile, "ms,report_id,byte1,byte2,byte3\n");
    if (Plug(fd) != 0) {
        return 1;
    }
    fprintf(stderr, "ready\n");

    char line[256];
    size_t used = 0;
    int commandsOpen = 1;
    int status = 0;
    while (!stopRequested) {
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {commandsOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            status = 1;
            break;
        }
        /* Commands first: a mark written before its writer acted then comes before the reports
         * the act caused, even when both are waiting. */
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            ssize_t got = read(0, line + used, sizeof(line) - 1 - used);
            if (got <= 0) {
                /* No more commands: go on being a wheel until a signal ends it. */
                commandsOpen = 0;
                continue;
            }
            used += (size_t)got;
            line[used] = '\0';
            char* end;
            int result = 1;
            while (result == 1 && (end = strchr(line, '\n')) != NULL) {
                *end = '\0';
                result = HandleCommand(fd, line);
                used -= (size_t)(end + 1 - line);
                memmove(line, end + 1, used + 1);
            }
            if (used == sizeof(line) - 1) {
                used = 0; /* an endless line: dropped */
            }
            if (result <= 0) {
                status = result < 0;
                break;
            }
        }
        if ((fds[0].revents & POLLIN) && HandleKernelEvent(fd) != 0) {
            status = 1;
            break;
        }
    }
    if (plugged) {
        Unplug(fd);
    }
    Note("exit");
    close(fd);
    return status;
}
