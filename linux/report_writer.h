// Motor reports leave from their own thread. HIDIOCSFEATURE waits for the wheel (the USB HID
// driver up to 5 s per report), and nothing that serves clients or forwards input may wait with
// it. Each open wheel has a one-slot mailbox of the latest report: while a send is under way, a
// new report replaces one not yet sent rather than queueing behind it, so after a stall the
// wheel gets the current levels, and the last report posted (an all-off included) is always the
// last one sent. A report left while no send was under way is never replaced, only followed by
// the latest, so a report made and undone within microseconds (a 10 ms rumble) still goes out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace rumble {

class ReportWriter {
  public:
    // Sends one report to a descriptor: false when the wheel is gone. Runs on the writer thread.
    using Send = std::function<bool(int fd, const uint8_t report[4])>;
    // Closes a descriptor the writer no longer needs. Runs on the writer thread.
    using CloseFd = std::function<void(int fd)>;

    ReportWriter(Send send, CloseFd close);
    // Sends what is still waiting, closes what was given up, and ends the thread.
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // Leaves `report` for `fd`: after the one waiting if that was left while no send was under
    // way, else in its place. False once a send to `fd` failed: the caller then gives the
    // descriptor up.
    bool Post(int fd, const uint8_t report[4]);
    // Gives `fd` up: its waiting report still goes out, then it is closed, never while a send
    // to it is under way.
    void Release(int fd);
    // Nothing waits to be sent and no send is under way.
    bool Idle();

  private:
    struct Slot {
        bool pending = false;
        bool sending = false;
        uint8_t report[4] = {};
        // A second report, left after `report` while no send was under way.
        bool hasThen = false;
        uint8_t then[4] = {};
        bool failed = false;
        bool released = false;
    };
    void Run();

    Send send_;
    CloseFd close_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Slot> slots_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace rumble
