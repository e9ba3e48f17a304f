#include "report_descriptor.h"

namespace rumble {

namespace {

// Item tags (HID 1.11, 6.2.2): main Output, global Report Size / Report ID / Report Count,
// Push and Pop.
constexpr uint8_t kMainOutput = 0x9;
constexpr uint8_t kGlobalReportSize = 0x7;
constexpr uint8_t kGlobalReportId = 0x8;
constexpr uint8_t kGlobalReportCount = 0x9;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;
constexpr uint8_t kLongItemPrefix = 0xFE;
// Deep enough for any real descriptor; deeper pushes are ignored rather than trusted.
constexpr int kStackDepth = 8;

struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

}  // namespace

uint8_t FirstOutputValueReportId(const uint8_t* descriptor, size_t size) {
    if (descriptor == nullptr) {
        return 0;
    }
    Globals globals;
    Globals stack[kStackDepth];
    int depth = 0;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t prefix = descriptor[pos];
        if (prefix == kLongItemPrefix) {
            // Long items are reserved and carry nothing we read; their length is untrusted.
            return 0;
        }
        const size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (size - pos - 1 < dataSize) {
            return 0;
        }
        uint32_t data = 0;
        for (size_t i = 0; i < dataSize; ++i) {
            data |= uint32_t{descriptor[pos + 1 + i]} << (8 * i);
        }
        const uint8_t type = (prefix >> 2) & 0x3;
        const uint8_t tag = prefix >> 4;
        if (type == 0 && tag == kMainOutput) {
            const bool constant = (data & 0x1) != 0;
            const bool variable = (data & 0x2) != 0;
            if (!constant && variable && globals.reportSize > 1 && globals.reportCount > 0) {
                return globals.reportId;
            }
        } else if (type == 1) {
            switch (tag) {
                case kGlobalReportSize:
                    globals.reportSize = data;
                    break;
                case kGlobalReportCount:
                    globals.reportCount = data;
                    break;
                case kGlobalReportId:
                    globals.reportId = static_cast<uint8_t>(data);
                    break;
                case kGlobalPush:
                    if (depth < kStackDepth) {
                        stack[depth++] = globals;
                    }
                    break;
                case kGlobalPop:
                    if (depth > 0) {
                        globals = stack[--depth];
                    }
                    break;
                default:
                    break;
            }
        }
        pos += 1 + dataSize;
    }
    return 0;
}

}  // namespace rumble
