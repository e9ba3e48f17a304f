// The driver's device link on Linux: the wheel's hidraw node. Discovery tells it which node each
// wheel (device ID) has; it opens only those nodes, and only while they are still the wheel, so
// a node number the kernel hands to another device after an unplug is never written to.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "common/services.h"
#include "linux/report_writer.h"

namespace rumble {

class HidrawLink final : public wheel::DeviceLink {
  public:
    // `warn` takes the messages about failed reports; without it they go to `log`.
    HidrawLink(std::function<void(const std::string&)> log, bool verbose,
               std::function<void(const std::string&)> warn = nullptr);

    // The wheel's node for a device ID; an empty path forgets it (unplugged).
    void SetNode(uint32_t device, const std::string& node);

    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override;
    HANDLE Open(const char* path) override;
    uint8_t ReportId(HANDLE device) override;
    // Leaves the report to the writer thread and returns at once: false only when an earlier
    // report to this descriptor found the wheel gone.
    bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) override;
    void Close(HANDLE device) override;

    // Every report handed over has reached its wheel: none waits or is under way, and the last
    // send did not fail. A wheel forgotten by SetNode no longer counts.
    bool Settled();

  private:
    void Log(const std::string& text);
    std::string NodeOf(HANDLE device);
    // The writer thread's send.
    bool Write(int fd, const uint8_t report[4]);

    std::function<void(const std::string&)> log_;
    bool verbose_;
    std::function<void(const std::string&)> warn_;
    std::map<uint32_t, std::string> nodes_;
    // Open descriptors and their nodes, for the messages of both threads.
    std::mutex openMutex_;
    std::map<int, std::string> open_;
    // The node whose open failed last, so a tick that retries it every 25 ms says so once.
    std::string failedNode_;
    // Nodes whose last send failed: the first failure of a run is logged, the rest are not.
    std::set<std::string> failedSends_;
    // Last: it ends, flushing, before what its thread uses goes.
    ReportWriter writer_;
};

}  // namespace rumble
