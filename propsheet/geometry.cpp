#include "geometry.h"

#include <cmath>

namespace velquin {

namespace {

// The controls take pi as 3.14159; the pixel positions depend on it.
constexpr double kPi = 3.14159;

int Truncate(double v) {
    return static_cast<int>(v);
}

Box Grow(const Box& box, int by) {
    return Shrink(box, -by);
}

}  // namespace

Box Shrink(const Box& box, int by) {
    return {box.left + by, box.top + by, box.right - by, box.bottom - by};
}

uint32_t PackXY(int high, int low) {
    return (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low);
}

CrossHair AxesCrossHair(uint32_t value, int width, int height) {
    const uint32_t high = value >> 16;
    const uint32_t low = value & 0xFFFFu;
    int x = static_cast<int>((high * static_cast<uint32_t>(width)) >> 16);
    int y = static_cast<int>((low * static_cast<uint32_t>(height)) >> 16);
    // Raise first, then lower: in a box too small for both bounds the upper one wins.
    if (x < 3) {
        x = 3;
    }
    if (x > width - 4) {
        x = width - 4;
    }
    if (y < 3) {
        y = 3;
    }
    if (y > height - 4) {
        y = height - 4;
    }
    CrossHair c;
    c.x = x;
    c.y = y;
    c.x1 = x < 8 ? 3 : x - 5;
    c.x2 = x + 5 > width - 4 ? width - 4 : x + 6;
    c.y1 = y < 8 ? 3 : y - 5;
    c.y2 = y + 5 > height - 4 ? height - 4 : y + 6;
    return c;
}

RumbleLayout RumbleGeometry(uint32_t value, const Box& client) {
    RumbleLayout layout;
    // Two pixels of sunken frame, then five more of margin.
    layout.area = Shrink(client, 7);
    layout.cx = (layout.area.left + layout.area.right) / 2;
    layout.cy = (layout.area.top + layout.area.bottom) / 2;
    layout.hw = (layout.area.right - layout.area.left) / 2;
    layout.hh = (layout.area.bottom - layout.area.top) / 2;
    const int16_t x = static_cast<int16_t>(value >> 16);
    const int16_t y = static_cast<int16_t>(value & 0xFFFFu);
    layout.dot.x = Truncate(x / 10000.0 * layout.hw + layout.cx);
    layout.dot.y = Truncate(layout.hh * (y / 10000.0) + layout.cy);
    return layout;
}

PovFrame PovFrameOf(const Box& circle) {
    return {(circle.left + circle.right) / 2, (circle.top + circle.bottom) / 2,
            (circle.right - circle.left) / 2, (circle.bottom - circle.top) / 2};
}

namespace {

struct ArrowBase {
    double s;
    double c;
    Point tip;
    Point base;
};

ArrowBase ArrowBaseOf(const PovFrame& frame, uint32_t angle, double f) {
    const double theta = angle / 100.0 * kPi / 180.0;
    ArrowBase a;
    a.s = std::sin(theta);
    a.c = std::cos(theta);
    // Screen up is angle 0; angles grow clockwise.
    const double x = frame.cx + frame.rx * a.s * f;
    const double y = frame.cy - frame.ry * a.c * f;
    a.tip = {Truncate(x), Truncate(y)};
    // From the untruncated tip, 10 f back towards the centre.
    a.base = {Truncate(x - 10 * f * a.s), Truncate(y + 10 * f * a.c)};
    return a;
}

}  // namespace

Point ArrowTip(const PovFrame& frame, uint32_t angle, double f) {
    return ArrowBaseOf(frame, angle, f).tip;
}

Arrow ArrowPoints(const PovFrame& frame, uint32_t angle, double f) {
    const ArrowBase a = ArrowBaseOf(frame, angle, f);
    const Point t = a.tip;
    const Point b = a.base;
    const double s10 = 10 * f * a.s;
    const double c10 = 10 * f * a.c;
    const double s5 = 5 * f * a.s;
    const double c5 = 5 * f * a.c;
    return {{
        {Truncate(t.x + s10), Truncate(t.y - c10)},  // apex
        {Truncate(t.x + c10), Truncate(t.y + s10)},  // head corner
        {Truncate(t.x + c5), Truncate(t.y + s5)},    // head meets shaft
        {Truncate(b.x + c5), Truncate(b.y + s5)},    // shaft end
        {Truncate(b.x - c5), Truncate(b.y - s5)},    // shaft end
        {Truncate(t.x - c5), Truncate(t.y - s5)},    // head meets shaft
        {Truncate(t.x - c10), Truncate(t.y - s10)},  // head corner
    }};
}

PovSetting PovValue(uint32_t angle, int eastWest, int northSouth) {
    PovSetting setting;
    setting.angle = static_cast<uint16_t>(angle);
    setting.hasArrow = setting.angle < kPovCentred;
    switch (setting.angle / 4500) {
        case 0:
        case 4:
            setting.length = northSouth;
            break;
        case 2:
        case 6:
            setting.length = eastWest;
            break;
        case 1:
        case 3:
        case 5:
        case 7:
            setting.length = (eastWest + northSouth) >> 1;
            break;
        default:
            // Centred: nothing reads the length, so none is chosen.
            setting.length = 0;
            break;
    }
    setting.stored = (static_cast<uint32_t>(setting.length) << 16) + setting.angle;
    return setting;
}

void ArrowRegions::Update(RegionOps& ops, const Arrow* arrow) {
    if (arrow != nullptr) {
        // The outline closes on its first point.
        Point outline[8];
        for (int i = 0; i < 7; ++i) {
            outline[i] = (*arrow)[i];
        }
        outline[7] = (*arrow)[0];
        // A region that cannot be made leaves the last arrow's region in place.
        if (RegionOps::Region made = ops.CreatePolygon(outline, 8); made != nullptr) {
            current_ = made;
        }
    }
    if (previous_ != nullptr && previous_ != current_) {
        ops.Invalidate(Grow(ops.BoxOf(previous_), kPovInvalidateGrow));
        ops.Invalidate(Grow(ops.BoxOf(current_), kPovInvalidateGrow));
        ops.Delete(previous_);
    } else if (current_ != nullptr) {
        ops.Invalidate(Grow(ops.BoxOf(current_), kPovInvalidateGrow));
    }
    previous_ = current_;
}

void ArrowRegions::Destroy(RegionOps& ops) {
    if (previous_ != nullptr && previous_ != current_) {
        ops.Delete(previous_);
    }
    if (current_ != nullptr) {
        ops.Delete(current_);
    }
    previous_ = nullptr;
    current_ = nullptr;
}

}  // namespace velquin
