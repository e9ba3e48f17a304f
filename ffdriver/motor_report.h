// The 4-byte HID feature report that carries the two motor levels.
#pragma once

#include <array>
#include <cstdint>

namespace dravik {

// Above 127 becomes 127, 24 or less becomes 0. A negative total is taken by its magnitude, so
// it never turns into full strength.
int32_t ClampLevel(int32_t level);

// {reportId, levelB > 48 ? 1 : 0, levelA * 2, 0}, from levels already clamped.
std::array<uint8_t, 4> BuildMotorReport(uint8_t reportId, int32_t levelA, int32_t levelB);

}  // namespace dravik

namespace dravik {

// A sum of levels brought into the int32 range.
inline int32_t SaturateLevel(int64_t sum) {
    return sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : static_cast<int32_t>(sum);
}

}  // namespace dravik
