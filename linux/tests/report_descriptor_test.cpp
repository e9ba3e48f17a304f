// The report ID the service sends with: the first output value's, as the Windows driver reads it
// from the HID class, out of descriptors that the kernel hands over unchecked.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "linux/report_descriptor.h"
#include WHEEL_DESCRIPTOR_H

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ReportDescriptor, TheWheelsOwnDescriptorGivesItsReportId) {
    EXPECT_EQ(rumble::FirstOutputValueReportId(kHidWheelReportDescriptor,
                                               sizeof kHidWheelReportDescriptor),
              HID_WHEEL_REPORT_ID);
}

TEST(ReportDescriptor, PicksTheFirstOutputValueAndNothingElse) {
    // Report ID 1 on an input, 2 on one-bit outputs (LEDs: buttons to the HID class), 4 on a
    // constant output (padding), 5 on an array output, 6 on the value: 6.
    const Bytes input1 = {0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02};
    const Bytes led2 = {0x85, 0x02, 0x75, 0x01, 0x95, 0x08, 0x91, 0x02};
    const Bytes pad4 = {0x85, 0x04, 0x75, 0x08, 0x95, 0x01, 0x91, 0x01};
    const Bytes array5 = {0x85, 0x05, 0x75, 0x08, 0x95, 0x01, 0x91, 0x00};
    const Bytes value6 = {0x85, 0x06, 0x75, 0x08, 0x95, 0x02, 0x91, 0x02};
    const Bytes feature7 = {0x85, 0x07, 0x75, 0x08, 0x95, 0x03, 0xB1, 0x02};
    const struct {
        const char* what;
        std::vector<Bytes> parts;
        uint8_t expected;
    } cases[] = {
        {"the value after input, buttons, padding and arrays",
         {input1, led2, pad4, array5, value6},
         6},
        {"feature reports are not outputs", {feature7, value6}, 6},
        {"no output value at all", {input1, led2, feature7}, 0},
        {"no report ID declared", {{0x75, 0x08, 0x95, 0x01, 0x91, 0x02}}, 0},
        {"a report count of 0 declares nothing",
         {{0x85, 0x09, 0x75, 0x08, 0x95, 0x00, 0x91, 0x02}, value6},
         6},
        // Push saves ID 2 and size 1; ID 8 and size 8 inside; Pop brings back 2 and size 1 (LEDs).
        {"push and pop restore the globals",
         {{0x85, 0x02, 0x75, 0x01, 0x95, 0x01, 0xA4, 0x85, 0x08, 0x75, 0x08, 0xB4, 0x91, 0x02},
          value6},
         6},
        {"a four-byte report size item",
         {{0x85, 0x0A, 0x77, 0x10, 0, 0, 0, 0x95, 0x01, 0x91, 0x02}},
         10},
        {"a long item ends the walk", {{0xFE, 0x02, 0x00, 0xAA, 0xBB}, value6}, 0},
        {"an item cut short ends the walk", {value6, {0x26, 0xFF}}, 6},
        {"an item cut short before the value", {{0x85, 0x06, 0x27, 0xFF, 0xFF}}, 0},
    };
    for (const auto& c : cases) {
        Bytes descriptor;
        for (const Bytes& part : c.parts) {
            descriptor.insert(descriptor.end(), part.begin(), part.end());
        }
        EXPECT_EQ(rumble::FirstOutputValueReportId(descriptor.data(), descriptor.size()),
                  c.expected)
            << c.what;
    }
}

TEST(ReportDescriptor, GarbageNeverReadsPastTheEnd) {
    // Under AddressSanitizer, every cut of the real descriptor and random bytes in heap blocks of
    // their exact size: a read past the end is caught.
    for (size_t n = 0; n <= sizeof kHidWheelReportDescriptor; ++n) {
        const Bytes cut(kHidWheelReportDescriptor, kHidWheelReportDescriptor + n);
        const uint8_t id = rumble::FirstOutputValueReportId(cut.data(), cut.size());
        EXPECT_TRUE(id == 0 || id == HID_WHEEL_REPORT_ID) << n;
    }
    std::mt19937 random(21);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(random() % 64);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        rumble::FirstOutputValueReportId(bytes.data(), bytes.size());
    }
    EXPECT_EQ(rumble::FirstOutputValueReportId(nullptr, 10), 0);
}

}  // namespace
