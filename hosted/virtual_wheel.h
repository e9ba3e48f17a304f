// The virtual wheel's device-link side: the wheel as the force-feedback driver sees it. It
// answers the device search for the joystick IDs it is attached as, opens and closes handles,
// and records every motor report with the time it arrived. It can be unplugged and plugged
// back (handles opened before an unplug stay dead, as on Windows), and told to fail sends or
// opens.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/services.h"

namespace hosted {

class VirtualWheel final : public wheel::DeviceLink {
  public:
    struct Report {
        uint32_t ms;
        uint32_t joystickId;
        uint32_t length;
        std::array<uint8_t, 4> bytes;
    };

    explicit VirtualWheel(wheel::Clock& clock);

    // Makes FindDevicePath(joystickId) answer this wheel's interface path.
    void Attach(uint32_t joystickId);
    // The interface path of the wheel as `joystickId` in USB port `port`.
    static std::string PathFor(uint32_t joystickId, uint32_t port = 0);
    void SetReportId(uint8_t reportId);

    void Unplug();
    // Plugs it back, into `port`: another port gives it another interface path.
    void Plug(uint32_t port = 0);
    void FailSends(bool fail);
    void FailOpens(bool fail);

    std::vector<Report> Reports() const;
    std::vector<Report> ReportsFor(uint32_t joystickId) const;
    void ClearReports();
    size_t OpenHandles() const;
    size_t Opens() const;
    // Every search ("find N"), open, close, send and failed send, in order, as short text lines.
    void OnEvent(std::function<void(const std::string&)> observer);

    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override;
    // The wheel's path whatever joystick ID it has ("find-wheel").
    void FindWheelPath(char* path, size_t size) override;
    // The wheel is no longer `joystickId` (another device took that ID): FindDevicePath for it
    // answers nothing.
    void Detach(uint32_t joystickId);
    HANDLE Open(const char* path) override;
    uint8_t ReportId(HANDLE device) override;
    bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) override;
    void Close(HANDLE device) override;

  private:
    struct Handle {
        uint32_t joystickId;
        uint32_t generation;
    };
    void Emit(const std::string& line);

    wheel::Clock& clock_;
    mutable std::mutex mutex_;
    std::set<uint32_t> attached_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x100;
    uint32_t generation_ = 0;
    bool plugged_ = true;
    uint32_t port_ = 0;
    bool failSends_ = false;
    bool failOpens_ = false;
    uint8_t reportId_ = 0;
    size_t opens_ = 0;
    std::vector<Report> reports_;
    std::function<void(const std::string&)> observer_;
};

}  // namespace hosted
