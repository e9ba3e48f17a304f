// The arithmetic of the indicator controls, apart from the drawing calls: where the axes
// cross-hair and the rumble dot go, the hat arrow's points, the value the hat setter stores and
// which boxes it invalidates. Coordinates are client pixels; rectangles exclude their right and
// bottom edges, as Windows' do.
#pragma once

#include <array>
#include <cstdint>

namespace velquin {

struct Point {
    int x;
    int y;
    bool operator==(const Point&) const = default;
};

struct Box {
    int left;
    int top;
    int right;
    int bottom;
    bool operator==(const Box&) const = default;
};

Box Shrink(const Box& box, int by);

// The 32-bit value whose high half is `high` and low half `low`, each cut to 16 bits.
uint32_t PackXY(int high, int low);

// AxesControl: the cross-hair centre and the ends of its two arms.
struct CrossHair {
    int x;
    int y;
    int x1;  // left arm end
    int x2;  // right arm end (exclusive, as LineTo draws)
    int y1;
    int y2;
};
// `value`: horizontal position in the high half, vertical in the low half, 0..65535 each.
CrossHair AxesCrossHair(uint32_t value, int width, int height);

// RumbleControl: the area the dot moves in (7 pixels inside the client edge), its centre and
// half sizes, and the dot's centre.
struct RumbleLayout {
    Box area;
    int cx;
    int cy;
    int hw;
    int hh;
    Point dot;
};
// `value`: X (signed, -10000..10000) in the high half, Y in the low half.
RumbleLayout RumbleGeometry(uint32_t value, const Box& client);

// PovControl: the circle's frame.
struct PovFrame {
    int cx;
    int cy;
    int rx;
    int ry;
};
PovFrame PovFrameOf(const Box& circle);

inline constexpr uint32_t kPovCentred = 36000;  // this angle and above: no arrow
inline constexpr int kPovPaintMargin = 10;
inline constexpr int kPovInvalidateMargin = 12;
inline constexpr int kPovInvalidateGrow = 3;

// The seven arrow points for an angle in hundredths of a degree clockwise from up and a length
// factor f (1.0 = the radius).
using Arrow = std::array<Point, 7>;
Arrow ArrowPoints(const PovFrame& frame, uint32_t angle, double f);
// The arrow's tip: where the head meets the circle (at f = 1).
Point ArrowTip(const PovFrame& frame, uint32_t angle, double f);

// What SetPovValue stores: the arrow length in percent in the high half (the east-west length
// for right and left, the north-south one for up and down, their mean for the diagonals), the
// angle's low 16 bits in the low half.
struct PovSetting {
    uint32_t stored;
    uint16_t angle;
    int length;
    bool hasArrow;
};
PovSetting PovValue(uint32_t angle, int eastWest, int northSouth);

// The hat's two module-wide arrow regions and the invalidation they drive. The region handles
// are opaque here; RegionOps makes, measures and deletes them and invalidates boxes.
class RegionOps {
  public:
    using Region = void*;
    virtual ~RegionOps() = default;
    // A polygon region (alternate fill) over the points; null when it cannot be made.
    virtual Region CreatePolygon(const Point* points, int count) = 0;
    virtual Box BoxOf(Region region) = 0;
    virtual void Delete(Region region) = 0;
    // Invalidates the box with erase, so the background is painted before the arrow.
    virtual void Invalidate(const Box& box) = 0;
};

class ArrowRegions {
  public:
    // After SetPovValue stored a value: `arrow` is the new arrow (computed with the invalidation
    // margin), or null for a centred hat, which keeps the current region.
    void Update(RegionOps& ops, const Arrow* arrow);
    // WM_DESTROY: deletes both regions (a shared one once) and empties the handles.
    void Destroy(RegionOps& ops);

    RegionOps::Region current() const { return current_; }
    RegionOps::Region previous() const { return previous_; }

  private:
    RegionOps::Region current_ = nullptr;
    RegionOps::Region previous_ = nullptr;
};

}  // namespace velquin
