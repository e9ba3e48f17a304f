#include "virtual_wheel.h"

#include <cstdio>
#include <cstring>

namespace hosted {

namespace {
const char kPathPrefix[] = "\\\\?\\hid#vid_2d71&pid_5a08#virtual&";
const char kPathSuffix[] = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}  // namespace

VirtualWheel::VirtualWheel(wheel::Clock& clock) : clock_(clock) {}

void VirtualWheel::Attach(uint32_t joystickId) {
    std::lock_guard<std::mutex> guard(mutex_);
    attached_.insert(joystickId);
}

std::string VirtualWheel::PathFor(uint32_t joystickId, uint32_t port) {
    // The first port keeps the path the wheel always had.
    const std::string instance = port == 0
                                     ? std::to_string(joystickId)
                                     : std::to_string(joystickId) + "&port" + std::to_string(port);
    return kPathPrefix + instance + kPathSuffix;
}

void VirtualWheel::SetReportId(uint8_t reportId) {
    std::lock_guard<std::mutex> guard(mutex_);
    reportId_ = reportId;
}

void VirtualWheel::Unplug() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        plugged_ = false;
        ++generation_;
    }
    Emit("unplug");
}

void VirtualWheel::Plug(uint32_t port) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        plugged_ = true;
        port_ = port;
    }
    Emit("plug");
}

void VirtualWheel::FailSends(bool fail) {
    std::lock_guard<std::mutex> guard(mutex_);
    failSends_ = fail;
}

void VirtualWheel::FailOpens(bool fail) {
    std::lock_guard<std::mutex> guard(mutex_);
    failOpens_ = fail;
}

std::vector<VirtualWheel::Report> VirtualWheel::Reports() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return reports_;
}

std::vector<VirtualWheel::Report> VirtualWheel::ReportsFor(uint32_t joystickId) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Report> out;
    for (const Report& report : reports_) {
        if (report.joystickId == joystickId) {
            out.push_back(report);
        }
    }
    return out;
}

void VirtualWheel::ClearReports() {
    std::lock_guard<std::mutex> guard(mutex_);
    reports_.clear();
}

size_t VirtualWheel::OpenHandles() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return handles_.size();
}

size_t VirtualWheel::Opens() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return opens_;
}

void VirtualWheel::OnEvent(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> guard(mutex_);
    observer_ = std::move(observer);
}

void VirtualWheel::Emit(const std::string& line) {
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        observer = observer_;
    }
    if (observer) {
        observer(line);
    }
}

void VirtualWheel::FindDevicePath(uint32_t joystickId, char* path, size_t size) {
    if (path == nullptr || size == 0) {
        return;
    }
    path[0] = '\0';
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (plugged_ && attached_.count(joystickId) != 0) {
            const std::string found = PathFor(joystickId, port_);
            if (found.size() + 1 <= size) {
                std::memcpy(path, found.c_str(), found.size() + 1);
            }
        }
    }
    Emit("find " + std::to_string(joystickId));
}

void VirtualWheel::FindWheelPath(char* path, size_t size) {
    if (path == nullptr || size == 0) {
        return;
    }
    path[0] = '\0';
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (plugged_ && !attached_.empty()) {
            const std::string found = PathFor(*attached_.begin(), port_);
            if (found.size() + 1 <= size) {
                std::memcpy(path, found.c_str(), found.size() + 1);
            }
        }
    }
    Emit("find-wheel");
}

void VirtualWheel::Detach(uint32_t joystickId) {
    std::lock_guard<std::mutex> guard(mutex_);
    attached_.erase(joystickId);
}

HANDLE VirtualWheel::Open(const char* path) {
    std::string line;
    HANDLE result = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const std::string text = path == nullptr ? "" : path;
        for (uint32_t id : attached_) {
            if (text == PathFor(id, port_) && plugged_ && !failOpens_) {
                const uintptr_t value = nextHandle_;
                nextHandle_ += 4;
                handles_[value] = {id, generation_};
                ++opens_;
                result = reinterpret_cast<HANDLE>(value);
                line = "open " + std::to_string(id);
            }
        }
        if (result == INVALID_HANDLE_VALUE) {
            line = "open-failed";
        }
    }
    Emit(line);
    return result;
}

uint8_t VirtualWheel::ReportId(HANDLE device) {
    std::lock_guard<std::mutex> guard(mutex_);
    return handles_.count(reinterpret_cast<uintptr_t>(device)) != 0 ? reportId_ : 0;
}

bool VirtualWheel::SendFeature(HANDLE device, const uint8_t* report, uint32_t length) {
    std::string line;
    bool delivered = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = handles_.find(reinterpret_cast<uintptr_t>(device));
        delivered =
            it != handles_.end() && plugged_ && !failSends_ && it->second.generation == generation_;
        char text[64];
        if (delivered) {
            Report entry{clock_.TickCount(), it->second.joystickId, length, {}};
            std::memcpy(entry.bytes.data(), report, length < 4 ? length : 4);
            reports_.push_back(entry);
            std::snprintf(text, sizeof text, "send %u %02x %02x %02x %02x",
                          static_cast<unsigned>(entry.joystickId), entry.bytes[0], entry.bytes[1],
                          entry.bytes[2], entry.bytes[3]);
        } else {
            std::snprintf(text, sizeof text, "send-failed");
        }
        line = text;
    }
    Emit(line);
    return delivered;
}

void VirtualWheel::Close(HANDLE device) {
    std::string line;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = handles_.find(reinterpret_cast<uintptr_t>(device));
        if (it == handles_.end()) {
            line = "close-unknown";
        } else {
            line = "close " + std::to_string(it->second.joystickId);
            handles_.erase(it);
        }
    }
    Emit(line);
}

}  // namespace hosted
