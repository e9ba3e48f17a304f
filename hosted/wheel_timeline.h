// The virtual wheel's input over time: a script of frames, each changing some of the wheel's
// axes, hat, buttons, connection and faults at a moment; what it does not change keeps its
// value from the frames before.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace hosted {

inline constexpr int32_t kAxisCentre = 32768;
inline constexpr uint32_t kPovCentred = 0xFFFFFFFF;
inline constexpr int kWheelButtons = 32;

// The wheel at one moment.
struct WheelState {
    int32_t x = kAxisCentre;
    int32_t y = kAxisCentre;
    int32_t z = kAxisCentre;
    int32_t rz = kAxisCentre;
    uint32_t pov = kPovCentred;
    // Bit n - 1 set: button n is pressed.
    uint32_t buttons = 0;
    // Unplugged: Acquire fails and the motor reports go nowhere.
    bool connected = true;
    // Faults a test can switch on: CreateEffect and GetConfig fail, and Acquire answers S_FALSE
    // (already acquired) even the first time.
    bool createEffectFails = false;
    bool getConfigFails = false;
    bool acquireAlready = false;

    bool operator==(const WheelState&) const = default;
};

// One step of a script: the moment and what changes then.
struct WheelFrame {
    uint32_t atMs = 0;
    std::optional<int32_t> x;
    std::optional<int32_t> y;
    std::optional<int32_t> z;
    std::optional<int32_t> rz;
    std::optional<uint32_t> pov;
    std::optional<uint32_t> buttons;
    std::optional<bool> connected;
    std::optional<bool> createEffectFails;
    std::optional<bool> getConfigFails;
    std::optional<bool> acquireAlready;
    // The next N GetConfig calls from this frame on fail, whatever getConfigFails says; a later
    // frame with a count starts a new one.
    std::optional<uint32_t> getConfigFailures;
};

class WheelTimeline {
  public:
    WheelTimeline() = default;
    // Frames in time order (equal times apply in the order given).
    explicit WheelTimeline(std::vector<WheelFrame> frames);

    // The state at `ms`: every frame at or before it applied in order onto the defaults.
    WheelState At(uint32_t ms) const;
    // How many frames have been applied by `ms`.
    size_t FramesBy(uint32_t ms) const;
    const std::vector<WheelFrame>& frames() const { return frames_; }

  private:
    std::vector<WheelFrame> frames_;
};

// Bit mask of pressed buttons from their numbers 1..32; false for a number outside that range.
bool ButtonMask(const std::vector<int>& pressed, uint32_t* mask);

}  // namespace hosted
