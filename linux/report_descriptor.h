// The report ID the driver sends its motor report with, read from the wheel's HID report
// descriptor as the kernel gives it (HIDIOCGRDESC).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rumble {

// The report ID of the first output value in the descriptor, as the Windows driver takes it from
// the first output value capability: an Output main item that is data (not constant), variable
// and wider than one bit (one-bit fields are buttons there), counted in descriptor order. 0 when
// the descriptor declares no report IDs, has no such item, or is malformed before it: a
// truncated item or a long item ends the walk, and no read ever passes `size`.
uint8_t FirstOutputValueReportId(const uint8_t* descriptor, size_t size);

}  // namespace rumble
