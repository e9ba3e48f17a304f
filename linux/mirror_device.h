// The wheel as games see it on Linux: a uinput device named after the wheel, with its axes (same
// ranges), buttons and hat, fed from the wheel's own evdev device, which it grabs so that games
// see one device, not two; and force feedback, whose requests it hands to the bridge.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rumble {

class FfBridge;

class MirrorDevice {
  public:
    explicit MirrorDevice(std::function<void(const std::string&)> log) : log_(std::move(log)) {}
    ~MirrorDevice();
    MirrorDevice(const MirrorDevice&) = delete;
    MirrorDevice& operator=(const MirrorDevice&) = delete;

    // Opens and grabs the wheel's evdev node and creates the uinput device like it. False with
    // `error` saying which node and what to do.
    bool Create(const std::string& eventNode, const std::string& hidraw, std::string* error);
    // A wheel plugged back in: its new evdev node feeds the same uinput device.
    bool Attach(const std::string& eventNode, std::string* error);
    // The wheel is gone: held buttons are released, the uinput device stays for its clients.
    void Detach();

    int UinputFd() const { return uinput_; }
    int EvdevFd() const { return evdev_; }
    // The uinput device's own evdev node (/dev/input/eventN), which clients open.
    const std::string& Node() const { return node_; }

    // The wheel's events, passed on; false when the wheel's node has gone.
    bool ForwardInput();
    // Force-feedback requests from clients, carried out by the bridge for wheel `device`.
    void ServeClients(FfBridge& bridge, uint32_t device);

  private:
    bool OpenSource(const std::string& eventNode, std::string* error);
    void Log(const std::string& text);

    std::function<void(const std::string&)> log_;
    int evdev_ = -1;
    int uinput_ = -1;
    std::string node_;
    // Keys the wheel holds down now, released on Detach.
    uint8_t held_[(0x2ff + 8) / 8] = {};
};

}  // namespace rumble
