#include "report_board_win32.h"

#include <mutex>

#include "common/services_win32.h"
#include "common/wheel_ids.h"

namespace wheel {

namespace {

// Every process of the session's users may read and write the board, elevated or not, whatever
// its integrity level; systems without integrity levels refuse the label and take the rest.
const char* const kBoardSecurity[] = {
    "D:(A;;0xF001F;;;SY)(A;;0xF001F;;;BA)(A;;0x7;;;AU)S:(ML;;NW;;;LW)",
    "D:(A;;0xF001F;;;SY)(A;;0xF001F;;;BA)(A;;0x7;;;AU)",
};

std::mutex& OpenLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

std::string ReportBoardName() {
    return VidPidName() + " reports";
}

LONG ReportBoardPathHash(const char* path) {
    uint32_t hash = 2166136261u;
    for (const char* c = path; c != nullptr && *c != '\0'; ++c) {
        char folded = *c;
        if (folded >= 'A' && folded <= 'Z') {
            folded = static_cast<char>(folded - 'A' + 'a');
        }
        hash = (hash ^ static_cast<uint8_t>(folded)) * 16777619u;
    }
    return static_cast<LONG>(hash);
}

SharedReportBoard::~SharedReportBoard() {
    if (block_ != nullptr) {
        UnmapViewOfFile(block_);
    }
    if (mapping_ != nullptr) {
        CloseHandle(mapping_);
    }
}

ReportBoardBlock* SharedReportBoard::Block() {
    std::lock_guard<std::mutex> guard(OpenLock());
    if (block_ != nullptr || failed_) {
        return block_;
    }
    const std::string name = ReportBoardName();
    mapping_ = CreateUnderFirstSecurity(kBoardSecurity, [&name](SECURITY_ATTRIBUTES* attributes) {
        return CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                  sizeof(ReportBoardBlock), name.c_str());
    });
    // Made by another program under rights that refuse creation here: reading and writing are
    // all the board needs.
    if (mapping_ == nullptr) {
        mapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
    }
    if (mapping_ != nullptr) {
        block_ = static_cast<ReportBoardBlock*>(MapViewOfFile(
            mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ReportBoardBlock)));
    }
    if (block_ == nullptr) {
        // Nothing to publish to; the driver works on without it, and does not try at every tick.
        failed_ = true;
        return nullptr;
    }
    InterlockedCompareExchange(&block_->layout, kReportBoardLayout, 0);
    return block_;
}

void SharedReportBoard::Sent(const char* devicePath, uint32_t tick) {
    ReportBoardBlock* block = Block();
    if (block == nullptr || block->layout != kReportBoardLayout) {
        return;
    }
    const LONG self = static_cast<LONG>(GetCurrentProcessId());
    const LONG hash = ReportBoardPathHash(devicePath);
    for (ReportBoardSlot& slot : block->slots) {
        if (slot.processId == self && slot.pathHash == hash) {
            InterlockedExchange(&slot.lastReport, static_cast<LONG>(tick));
            return;
        }
    }
    for (ReportBoardSlot& slot : block->slots) {
        const LONG owner = slot.processId;
        const bool stale =
            owner == 0 || tick - static_cast<uint32_t>(slot.lastReport) > kReportBoardStaleMs;
        if (!stale || InterlockedCompareExchange(&slot.processId, self, owner) != owner) {
            continue;
        }
        InterlockedExchange(&slot.pathHash, hash);
        InterlockedExchange(&slot.lastReport, static_cast<LONG>(tick));
        return;
    }
}

bool ReadReportBoard(std::vector<ReportBoardEntry>* entries) {
    entries->clear();
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, ReportBoardName().c_str());
    if (mapping == nullptr) {
        return false;
    }
    const auto* block = static_cast<const ReportBoardBlock*>(
        MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(ReportBoardBlock)));
    const bool ok = block != nullptr && block->layout == kReportBoardLayout;
    if (ok) {
        const uint32_t now = GetTickCount();
        for (const ReportBoardSlot& slot : block->slots) {
            const LONG owner = slot.processId;
            if (owner == 0) {
                continue;
            }
            entries->push_back({static_cast<uint32_t>(owner), slot.pathHash,
                                now - static_cast<uint32_t>(slot.lastReport)});
        }
    }
    if (block != nullptr) {
        UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
    return ok;
}

}  // namespace wheel
