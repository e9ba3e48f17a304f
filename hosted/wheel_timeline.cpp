#include "wheel_timeline.h"

#include <algorithm>
#include <utility>

namespace hosted {

namespace {

template <typename T>
void Take(const std::optional<T>& change, T* value) {
    if (change.has_value()) {
        *value = *change;
    }
}

}  // namespace

WheelTimeline::WheelTimeline(std::vector<WheelFrame> frames) : frames_(std::move(frames)) {
    std::stable_sort(frames_.begin(), frames_.end(),
                     [](const WheelFrame& a, const WheelFrame& b) { return a.atMs < b.atMs; });
}

WheelState WheelTimeline::At(uint32_t ms) const {
    WheelState state;
    for (const WheelFrame& frame : frames_) {
        if (frame.atMs > ms) {
            break;
        }
        Take(frame.x, &state.x);
        Take(frame.y, &state.y);
        Take(frame.z, &state.z);
        Take(frame.rz, &state.rz);
        Take(frame.pov, &state.pov);
        Take(frame.buttons, &state.buttons);
        Take(frame.connected, &state.connected);
        Take(frame.createEffectFails, &state.createEffectFails);
        Take(frame.getConfigFails, &state.getConfigFails);
        Take(frame.acquireAlready, &state.acquireAlready);
    }
    return state;
}

size_t WheelTimeline::FramesBy(uint32_t ms) const {
    size_t count = 0;
    while (count < frames_.size() && frames_[count].atMs <= ms) {
        ++count;
    }
    return count;
}

bool ButtonMask(const std::vector<int>& pressed, uint32_t* mask) {
    uint32_t bits = 0;
    for (int number : pressed) {
        if (number < 1 || number > kWheelButtons) {
            return false;
        }
        bits |= 1u << (number - 1);
    }
    *mask = bits;
    return true;
}

}  // namespace hosted
