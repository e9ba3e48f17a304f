#include "hidraw_link.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/wheel_ids.h"
#include "linux/node_access.h"
#include "linux/report_descriptor.h"

namespace rumble {

namespace {

// The descriptor lives in a HANDLE as fd + 1, so that descriptor 0 is not the null handle.
HANDLE ToHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}
int ToFd(HANDLE handle) {
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

}  // namespace

HidrawLink::HidrawLink(std::function<void(const std::string&)> log, bool verbose,
                       std::function<void(const std::string&)> warn)
    : log_(std::move(log)),
      verbose_(verbose),
      warn_(warn ? std::move(warn) : log_),
      writer_([this](int fd, const uint8_t report[4]) { return Write(fd, report); },
              [this](int fd) {
                  {
                      std::lock_guard<std::mutex> lock(openMutex_);
                      open_.erase(fd);
                  }
                  close(fd);
              }) {}

void HidrawLink::Log(const std::string& text) {
    if (log_) {
        log_(text);
    }
}

void HidrawLink::SetNode(uint32_t device, const std::string& node) {
    if (node.empty()) {
        const auto it = nodes_.find(device);
        if (it != nodes_.end()) {
            std::lock_guard<std::mutex> lock(openMutex_);
            failedSends_.erase(it->second);
        }
        nodes_.erase(device);
    } else {
        nodes_[device] = node;
    }
}

void HidrawLink::FindDevicePath(uint32_t joystickId, char* path, size_t size) {
    if (path == nullptr || size == 0) {
        return;
    }
    path[0] = '\0';
    const auto it = nodes_.find(joystickId);
    if (it != nodes_.end() && it->second.size() + 1 <= size) {
        std::memcpy(path, it->second.c_str(), it->second.size() + 1);
    }
}

HANDLE HidrawLink::Open(const char* path) {
    bool known = false;
    for (const auto& entry : nodes_) {
        known = known || entry.second == path;
    }
    if (!known) {
        return nullptr;
    }
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (failedNode_ != path) {
            failedNode_ = path;
            std::string text = std::string("cannot open ") + path + ": " + std::strerror(error);
            if (error == EACCES || error == EPERM) {
                text += "; the service needs read and write access to the wheel's hidraw node: " +
                        std::string(kRuleAdvice);
            }
            Log(text);
        }
        return nullptr;
    }
    // Still the wheel: the node may have gone to another device since discovery saw it.
    hidraw_devinfo info = {};
    if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0 ||
        static_cast<uint16_t>(info.vendor) != wheel::kVendorId ||
        static_cast<uint16_t>(info.product) != wheel::kProductId) {
        close(fd);
        return nullptr;
    }
    failedNode_.clear();
    std::lock_guard<std::mutex> lock(openMutex_);
    open_[fd] = path;
    return ToHandle(fd);
}

std::string HidrawLink::NodeOf(HANDLE device) {
    std::lock_guard<std::mutex> lock(openMutex_);
    const auto it = open_.find(ToFd(device));
    return it == open_.end() ? std::string("?") : it->second;
}

uint8_t HidrawLink::ReportId(HANDLE device) {
    const int fd = ToFd(device);
    int size = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0) {
        Log(NodeOf(device) + ": the report descriptor cannot be read; report ID 0");
        return 0;
    }
    hidraw_report_descriptor descriptor = {};
    descriptor.size = static_cast<uint32_t>(size) < HID_MAX_DESCRIPTOR_SIZE
                          ? static_cast<uint32_t>(size)
                          : HID_MAX_DESCRIPTOR_SIZE;
    if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        Log(NodeOf(device) + ": the report descriptor cannot be read; report ID 0");
        return 0;
    }
    const uint8_t id = FirstOutputValueReportId(descriptor.value, descriptor.size);
    Log(NodeOf(device) + ": report ID " + std::to_string(id) + " (the first output value's)");
    return id;
}

bool HidrawLink::SendFeature(HANDLE device, const uint8_t* report, uint32_t length) {
    uint8_t buffer[4] = {};
    std::memcpy(buffer, report, length < sizeof buffer ? length : sizeof buffer);
    return writer_.Post(ToFd(device), buffer);
}

bool HidrawLink::Write(int fd, const uint8_t report[4]) {
    uint8_t buffer[4];
    std::memcpy(buffer, report, sizeof buffer);
    const int result = ioctl(fd, HIDIOCSFEATURE(sizeof buffer), buffer);
    const int error = errno;
    const std::string node = NodeOf(ToHandle(fd));
    if (verbose_) {
        char text[64];
        std::snprintf(text, sizeof text, "report %02x %02x %02x %02x", buffer[0], buffer[1],
                      buffer[2], buffer[3]);
        Log(node + ": " + text + (result < 0 ? " failed" : ""));
    }
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(openMutex_);
        first = result < 0 ? failedSends_.insert(node).second : (failedSends_.erase(node), false);
    }
    if (first && warn_) {
        // Once per run of failures: a wheel that is gone fails every tick until it is back.
        warn_(node + ": a motor report failed: " + std::strerror(error) +
              "; retried until the wheel answers");
    }
    return result >= 0;
}

bool HidrawLink::Settled() {
    {
        std::lock_guard<std::mutex> lock(openMutex_);
        if (!failedSends_.empty()) {
            return false;
        }
    }
    return writer_.Idle();
}

void HidrawLink::Close(HANDLE device) {
    // Closed by the writer once what is waiting for it is sent.
    writer_.Release(ToFd(device));
}

}  // namespace rumble
