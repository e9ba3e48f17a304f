/* The files through which a test (or the main job) talks to the virtual HID wheel. The device
 * reads the control record before every input report and appends one record per report it is
 * sent, so nothing of this passes through the report descriptor. Shared by the kernel-mode
 * device (C) and the user-mode side (C++). */
#ifndef HID_WHEEL_CHANNEL_H
#define HID_WHEEL_CHANNEL_H

#include <stdint.h>

/* Win32 paths; the device opens them as \??\C:\hidwheel\... */
#define HID_WHEEL_DIR "C:\\hidwheel"
#define HID_WHEEL_CONTROL_FILE HID_WHEEL_DIR "\\control"
#define HID_WHEEL_REPORTS_FILE HID_WHEEL_DIR "\\reports"

#define HID_WHEEL_HAT_CENTRED 0x0F

/* What the wheel reports as its input, and how it answers reports sent to it. A missing or short
 * file means the wheel at rest: axes centred, hat centred, no button pressed. */
struct HidWheelControl {
    uint16_t axes[4];  /* X, Y, Z, Rz, 0..255 (8-bit axes; more reads as 255) */
    uint8_t hat;       /* 0 = up, clockwise in steps of 45 degrees up to 7; HID_WHEEL_HAT_CENTRED */
    uint8_t failSends; /* nonzero: every report sent to the wheel is refused */
    uint16_t buttons;  /* bit i: button i + 1 pressed */
};

enum HidWheelReportKind {
    HID_WHEEL_FEATURE = 1, /* IOCTL_HID_SET_FEATURE (HidD_SetFeature) */
    HID_WHEEL_OUTPUT = 2,  /* IOCTL_HID_SET_OUTPUT_REPORT (HidD_SetOutputReport) */
    HID_WHEEL_WRITE = 3    /* IOCTL_HID_WRITE_REPORT (WriteFile) */
};

/* One report the wheel was sent, appended to the reports file. */
struct HidWheelRecord {
    int64_t time;     /* system time when it arrived, 100 ns units (a FILETIME) */
    uint16_t kind;    /* HidWheelReportKind */
    uint16_t refused; /* 1 when the wheel answered with a failure (failSends) */
    uint32_t length;  /* bytes the wheel received, report ID included */
    uint8_t data[16]; /* the first 16 of them */
};

#if defined(__cplusplus)
static_assert(sizeof(HidWheelControl) == 12, "the control file layout is fixed");
static_assert(sizeof(HidWheelRecord) == 32, "the reports file layout is fixed");
#endif

#endif
