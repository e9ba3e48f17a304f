/* The wheel's HID report descriptor, shared by the Windows virtual HID wheel and the Linux test
 * wheel (uhid): one joystick with four 8-bit axes, a hat switch and twelve
 * buttons, and the motors. The axes are 8-bit because the calibration the property sheet stores
 * is in units of a 16-bit reading >> 8 and DirectInput applies stored calibration in the device's
 * own units: only 8-bit axes have the units it implies. Every report carries HID_WHEEL_REPORT_ID,
 * so the output value the driver reads its report ID from and the feature report it sends share
 * it; there is no other report ID.
 */
#ifndef HID_WHEEL_DESCRIPTOR_H
#define HID_WHEEL_DESCRIPTOR_H

#define HID_WHEEL_VENDOR_ID 0x2D71
#define HID_WHEEL_PRODUCT_ID 0x5A08
#define HID_WHEEL_VERSION 0x0100
#define HID_WHEEL_REPORT_ID 0x03
/* Lengths as the HID class reports them: the report ID byte included. */
#define HID_WHEEL_INPUT_LENGTH 8
#define HID_WHEEL_OUTPUT_LENGTH 4
#define HID_WHEEL_FEATURE_LENGTH 4

static const unsigned char kHidWheelReportDescriptor[] = {
    0x05, 0x01,                /* Usage Page (Generic Desktop) */
    0x09, 0x04,                /* Usage (Joystick) */
    0xA1, 0x01,                /* Collection (Application) */
    0x85, HID_WHEEL_REPORT_ID, /*   Report ID */
    0x09, 0x30,                /*   Usage (X) */
    0x09, 0x31,                /*   Usage (Y) */
    0x09, 0x32,                /*   Usage (Z) */
    0x09, 0x35,                /*   Usage (Rz) */
    0x15, 0x00,                /*   Logical Minimum (0) */
    0x26, 0xFF,
    0x00,       /*   Logical Maximum (255) */
    0x75, 0x08, /*   Report Size (8) */
    0x95, 0x04, /*   Report Count (4) */
    0x81, 0x02, /*   Input (Data, Variable, Absolute): the four axes */
    0x09, 0x39, /*   Usage (Hat Switch) */
    0x15, 0x00, /*   Logical Minimum (0) */
    0x25, 0x07, /*   Logical Maximum (7) */
    0x35, 0x00, /*   Physical Minimum (0) */
    0x46, 0x3B,
    0x01,       /*   Physical Maximum (315) */
    0x65, 0x14, /*   Unit (degrees) */
    0x75, 0x04, /*   Report Size (4) */
    0x95, 0x01, /*   Report Count (1) */
    0x81, 0x42, /*   Input (Data, Variable, Absolute, Null State): the hat */
    0x65, 0x00, /*   Unit (none) */
    0x45, 0x00, /*   Physical Maximum (0): physical range back to logical */
    0x81, 0x01, /*   Input (Constant): 4 bits to the byte boundary */
    0x05, 0x09, /*   Usage Page (Button) */
    0x19, 0x01, /*   Usage Minimum (Button 1) */
    0x29, 0x0C, /*   Usage Maximum (Button 12) */
    0x25, 0x01, /*   Logical Maximum (1) */
    0x75, 0x01, /*   Report Size (1) */
    0x95, 0x0C, /*   Report Count (12) */
    0x81, 0x02, /*   Input (Data, Variable, Absolute): the buttons */
    0x75, 0x04, /*   Report Size (4) */
    0x95, 0x01, /*   Report Count (1) */
    0x81, 0x01, /*   Input (Constant): 4 bits to the byte boundary */
    0x06, 0x00,
    0xFF,       /*   Usage Page (Vendor Defined 0xFF00) */
    0x09, 0x01, /*   Usage (motor levels) */
    0x26, 0xFF,
    0x00,       /*   Logical Maximum (255) */
    0x75, 0x08, /*   Report Size (8) */
    0x95, 0x03, /*   Report Count (3) */
    0x91, 0x02, /*   Output (Data, Variable, Absolute): the output value */
    0x09, 0x02, /*   Usage (motor report) */
    0x95, 0x03, /*   Report Count (3) */
    0xB1, 0x02, /*   Feature (Data, Variable, Absolute): motor B, motor A, 0 */
    0xC0        /* End Collection */
};

#endif
