// The wheel as games see it on Linux: a uinput device named after the wheel, with its axes (same
// ranges), buttons and hat, fed from the wheel's own evdev device, which it grabs so that games
// see one device, not two; and force feedback, whose requests it hands to the bridge. It lives
// as long as the wheel's evdev device, as a kernel device would: made with the wheel's state of
// the moment, and resynchronised whenever the kernel had to drop some of the wheel's input.
#pragma once

#include <linux/input.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rumble {

class FfBridge;

class MirrorDevice {
  public:
    explicit MirrorDevice(std::function<void(const std::string&)> log) : log_(std::move(log)) {}
    ~MirrorDevice();
    MirrorDevice(const MirrorDevice&) = delete;
    MirrorDevice& operator=(const MirrorDevice&) = delete;

    // Opens and grabs the wheel's evdev node and creates the uinput device like it, with the
    // wheel's axes and buttons as they are now. False with `error` saying which node and what to
    // do.
    bool Create(const std::string& eventNode, const std::string& hidraw, std::string* error);

    int UinputFd() const { return uinput_; }
    int EvdevFd() const { return evdev_; }
    // The uinput device's own evdev node (/dev/input/eventN), which clients open.
    const std::string& Node() const { return node_; }

    // The wheel's events, passed on; false when the wheel's node has gone.
    bool ForwardInput();
    // Force-feedback requests from clients, carried out by the bridge for wheel `device`.
    void ServeClients(FfBridge& bridge, uint32_t device);

  private:
    void Log(const std::string& text);
    // What the device has been sent: the state a resynchronisation starts from.
    void Track(const input_event& event);
    // Appends the events that bring the device's keys and axes (as passed on so far) in line
    // with the wheel's as the kernel has them now, and a SYN_REPORT.
    void AppendDifferences(std::vector<input_event>* out);

    std::function<void(const std::string&)> log_;
    int evdev_ = -1;
    int uinput_ = -1;
    std::string node_;
    // The wheel's keys and axes, and the state the device has of them.
    uint8_t keyBits_[KEY_MAX / 8 + 1] = {};
    uint8_t absBits_[ABS_MAX / 8 + 1] = {};
    uint8_t keys_[KEY_MAX / 8 + 1] = {};
    int32_t abs_[ABS_MAX + 1] = {};
    // After SYN_DROPPED the kernel's events up to the next SYN_REPORT are a torn packet.
    bool dropping_ = false;
    // What one read passes on, kept so that forwarding input allocates only while it grows.
    std::vector<input_event> forward_;
};

}  // namespace rumble
