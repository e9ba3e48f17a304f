// Which HID devices are the wheel, by the name the kernel gives them; a removal has nothing else.
#include <gtest/gtest.h>

#include "linux/wheel_watch.h"

namespace {

TEST(WheelWatch, TellsTheWheelByItsHidName) {
    const struct {
        const char* name;
        bool wheel;
    } cases[] = {
        {"0003:2D71:5A08.0001", true},   // USB
        {"0005:2D71:5A08.000A", true},   // Bluetooth
        {"0003:2d71:5a08.0002", true},   // hex either case
        {"0003:2D71:5A09.0001", false},  // another product
        {"0003:046D:5A08.0001", false},  // another vendor
        {"0003:2D71:5A08", false},       // no instance
        {"0003:2D71:5A08.0001x", false}, {"hidraw0", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rumble::IsWheelHidName(c.name), c.wheel) << c.name;
    }
}

}  // namespace
