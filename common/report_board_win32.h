// The report board: a small named shared-memory block in which every driver tells, per wheel it
// feeds and per process, when it last sent that wheel a report. The wheel check reads it to know
// whether another program is driving the wheel now, rather than merely having the driver loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/services.h"

namespace wheel {

// The block's name (in the session, like the store event's).
std::string ReportBoardName();

inline constexpr uint32_t kReportBoardSlots = 64;

// One slot: a process feeding one wheel. A slot whose last report is older than this is free
// for another writer: its process stopped sending, or ended.
inline constexpr uint32_t kReportBoardStaleMs = 10000;

struct ReportBoardSlot {
    volatile LONG processId;   // 0: never used
    volatile LONG pathHash;    // of the wheel's interface path, letter case ignored
    volatile LONG lastReport;  // GetTickCount when the last report went out
    volatile LONG reserved;
};

struct ReportBoardBlock {
    volatile LONG layout;  // kReportBoardLayout once made
    LONG reserved[3];
    ReportBoardSlot slots[kReportBoardSlots];
};

inline constexpr LONG kReportBoardLayout = 0x31425254;  // "TRB1"

// The hash the slots key wheels by: FNV-1a over the path's bytes, ASCII letters folded to lower
// case (interface paths are compared without regard to case on Windows).
LONG ReportBoardPathHash(const char* path);

// The driver's side. The block is made or opened at the first report, not at load: nothing of
// this runs under the loader lock, and a process that never drives a wheel never makes it.
class SharedReportBoard final : public ReportSink {
  public:
    SharedReportBoard() = default;
    SharedReportBoard(const SharedReportBoard&) = delete;
    SharedReportBoard& operator=(const SharedReportBoard&) = delete;
    ~SharedReportBoard() override;

    void Sent(const char* devicePath, uint32_t tick) override;

  private:
    ReportBoardBlock* Block();

    ReportBoardBlock* block_ = nullptr;
    HANDLE mapping_ = nullptr;
    bool failed_ = false;
};

// The check's side: the entries of the board as they are now; false when there is no board
// (no driver has sent a report in this session since the board existed).
struct ReportBoardEntry {
    uint32_t processId;
    LONG pathHash;
    uint32_t msSinceReport;
};
bool ReadReportBoard(std::vector<ReportBoardEntry>* entries);

}  // namespace wheel
