#include "motor_report.h"

namespace dravik {

int32_t ClampLevel(int32_t level) {
    // Widen before negating so INT32_MIN has a magnitude too.
    int64_t magnitude = level < 0 ? -static_cast<int64_t>(level) : level;
    if (magnitude > 127) {
        magnitude = 127;
    }
    if (magnitude <= 24) {
        magnitude = 0;
    }
    return static_cast<int32_t>(magnitude);
}

std::array<uint8_t, 4> BuildMotorReport(uint8_t reportId, int32_t levelA, int32_t levelB) {
    return {reportId, static_cast<uint8_t>(levelB > 48 ? 1 : 0), static_cast<uint8_t>(levelA * 2),
            0};
}

}  // namespace dravik
