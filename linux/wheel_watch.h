// Finding the wheels through libudev: every HID device with the wheel's vendor and product, its
// hidraw node and its evdev node, at start and whenever one comes or goes. Events come from
// udevd once it has applied its rules (node permissions included); where no udevd runs (a
// minimal system without /run/udev/control) they come straight from the kernel.
#pragma once

#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace rumble {

struct WheelNodes {
    // The HID device's sysfs path: one per plugged-in wheel, new at every plug.
    std::string hidSyspath;
    std::string hidraw;  // /dev/hidrawN
    std::string event;   // /dev/input/eventN
    std::string name;    // the input device's name
};

// "0003:2D71:5A08.0001" (bus:vendor:product.instance, as the kernel names HID devices): whether
// it is the wheel.
bool IsWheelHidName(const std::string& sysname);

class WheelWatch {
  public:
    WheelWatch() = default;
    ~WheelWatch();
    WheelWatch(const WheelWatch&) = delete;
    WheelWatch& operator=(const WheelWatch&) = delete;

    // False with `error` set when libudev cannot be used at all.
    bool Open(std::string* error);
    // Which source the events come from, for the log.
    const char* Source() const { return kernelSource_ ? "kernel uevents (no udevd)" : "udevd"; }
    // Readable when an event waits.
    int Fd() const;
    // Reads the waiting events; true when one of them concerns a wheel.
    bool Receive();
    // Every wheel that has both of its nodes now.
    std::vector<WheelNodes> Wheels() const;

  private:
    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
    bool kernelSource_ = false;
};

}  // namespace rumble
