// The indicator controls' arithmetic: cross-hair, rumble dot, hat arrow, the hat setter's stored
// value and the boxes it invalidates.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "propsheet/geometry.h"

namespace velquin {
namespace {

std::string Show(const Arrow& arrow) {
    std::string text;
    for (const Point& p : arrow) {
        text += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    }
    return text;
}

PovFrame PaintFrame(int width, int height) {
    return PovFrameOf(Shrink({0, 0, width, height}, kPovPaintMargin));
}

TEST(PropsheetPovArrow, FullLengthArrowStraightUpIn100By100) {
    const Box circle = Shrink({0, 0, 100, 100}, kPovPaintMargin);
    EXPECT_EQ(circle, (Box{10, 10, 90, 90}));
    const Arrow expected = {{{50, 0}, {60, 10}, {55, 10}, {55, 20}, {45, 20}, {45, 10}, {40, 10}}};
    const Arrow arrow = ArrowPoints(PovFrameOf(circle), 0, 1.0);
    EXPECT_EQ(arrow, expected) << Show(arrow);
    EXPECT_EQ(ArrowTip(PovFrameOf(circle), 0, 1.0), (Point{50, 10}));
}

// With pi taken as 3.14159 the right-pointing arrow's sine is just below 1 and its cosine just
// above 0, so every truncation falls one pixel short of the exact figure.
TEST(PropsheetPovArrow, RightAngleIsTruncatedShortOfTheRim) {
    const PovFrame frame = PaintFrame(100, 100);
    EXPECT_EQ(ArrowTip(frame, 9000, 1.0), (Point{89, 49}));  // the exact rim point is (90, 50)
    const Arrow expected = {{{98, 48}, {89, 58}, {89, 53}, {79, 53}, {78, 44}, {88, 44}, {88, 39}}};
    const Arrow arrow = ArrowPoints(frame, 9000, 1.0);
    EXPECT_EQ(arrow, expected) << Show(arrow);
    // It points right: apex beyond the tip, shaft behind it, all near the horizontal midline.
    EXPECT_GT(arrow[0].x, 89);
    EXPECT_LT(arrow[3].x, 89);
}

TEST(PropsheetPovArrow, TipsOfTheFourMainDirections) {
    const PovFrame frame = PaintFrame(100, 100);
    struct Row {
        uint32_t angle;
        Point tip;
    };
    const Row rows[] = {
        {0, {50, 10}},
        {9000, {89, 49}},
        {18000, {50, 89}},  // sine just above 0: x stays 50; cosine just above -1
        {27000, {10, 50}},  // 10.0000000004 and 50.00016
    };
    for (const Row& row : rows) {
        const Point tip = ArrowTip(frame, row.angle, 1.0);
        EXPECT_EQ(tip, row.tip) << "angle " << row.angle << " tip (" << tip.x << "," << tip.y
                                << ")";
    }
}

TEST(PropsheetPovArrow, LengthZeroCollapsesOntoTheCentre) {
    for (int size : {100, 70, 55}) {
        const PovFrame frame = PaintFrame(size, size - 4);
        for (uint32_t angle : {0u, 4500u, 9000u, 13500u, 31500u, 35999u}) {
            const Arrow arrow = ArrowPoints(frame, angle, 0.0);
            for (const Point& p : arrow) {
                EXPECT_EQ(p, (Point{frame.cx, frame.cy})) << "size " << size << " angle " << angle;
            }
        }
    }
}

TEST(PropsheetPovArrow, HalfLengthHalvesTheArrow) {
    const PovFrame frame = PaintFrame(100, 100);
    // f = 0.5: tip at half the radius, head 10 wide, apex 5 beyond the tip.
    const Arrow expected = {{{50, 25}, {55, 30}, {52, 30}, {52, 35}, {47, 35}, {47, 30}, {45, 30}}};
    EXPECT_EQ(ArrowPoints(frame, 0, 0.5), expected) << Show(ArrowPoints(frame, 0, 0.5));
}

TEST(PropsheetPovValue, LengthBySector) {
    struct Row {
        uint32_t angle;
        int eastWest;
        int northSouth;
        int length;
    };
    const Row rows[] = {
        {0, 100, 60, 60},
        {4499, 100, 60, 60},
        {4500, 100, 60, 80},
        {9000, 100, 60, 100},
        {13500, 100, 60, 80},
        {18000, 100, 60, 60},
        {22500, 100, 60, 80},
        {27000, 100, 60, 100},
        {31500, 100, 60, 80},
        {35999, 100, 60, 80},
        {4500, 101, 60, 80},
        {9000, 0, 100, 0},
        {0x10000 + 9000, 100, 60, 100},  // only the low 16 bits are the angle
    };
    for (const Row& row : rows) {
        const PovSetting s = PovValue(row.angle, row.eastWest, row.northSouth);
        EXPECT_TRUE(s.hasArrow) << row.angle;
        EXPECT_EQ(s.length, row.length) << "angle " << row.angle;
        EXPECT_EQ(s.stored, (static_cast<uint32_t>(row.length) << 16) + (row.angle & 0xFFFF))
            << "angle " << row.angle;
    }
}

TEST(PropsheetPovValue, CentredAnglesStoreTheAngleAndNoArrow) {
    for (uint32_t angle : {36000u, 40000u, 0xFFFFu, 0xFFFFFFFFu}) {
        const PovSetting s = PovValue(angle, 100, 100);
        EXPECT_FALSE(s.hasArrow) << angle;
        EXPECT_EQ(s.angle, angle & 0xFFFF);
        EXPECT_EQ(s.stored & 0xFFFF, angle & 0xFFFF);
    }
}

TEST(PropsheetPackXY, HalvesAreSixteenBitFields) {
    EXPECT_EQ(PackXY(10000, -10000), 0x2710D8F0u);
    EXPECT_EQ(PackXY(-1, 5), 0xFFFF0005u);
    EXPECT_EQ(PackXY(0x8000, 0x8000), 0x80008000u);
    // A negative low value does not spill into the high half.
    EXPECT_EQ(PackXY(0x1234, -1), 0x1234FFFFu);
    EXPECT_EQ(PackXY(0x12345, 0x1FFFF), 0x2345FFFFu);
}

TEST(PropsheetAxes, CrossHairPositionsAndArms) {
    struct Row {
        uint32_t value;
        int width;
        int height;
        CrossHair expected;
    };
    const Row rows[] = {
        // At the origin: centre (3, 3), arms from 3 to 9.
        {0x00000000, 64, 64, {3, 3, 3, 9, 3, 9}},
        // At the far corner: centre (W - 4, H - 4), arms end at W - 4 and H - 4.
        {0xFFFFFFFF, 64, 64, {60, 60, 55, 60, 55, 60}},
        {0xFFFFFFFF, 72, 71, {68, 67, 63, 68, 62, 67}},
        // Centre of a 64 x 47 box.
        {0x80008000, 64, 47, {32, 23, 27, 38, 18, 29}},
        // (0xFFFF * 100) >> 16 = 99, lowered to 96.
        {0xFFFF0000, 100, 100, {96, 3, 91, 96, 3, 9}},
        // Below 8 the left arm starts at 3; from 8 on it starts 5 left of the centre.
        {(7u * 65536 / 100 + 1) << 16, 100, 100, {7, 3, 3, 13, 3, 9}},
        {(9u * 65536 / 100 + 1) << 16, 100, 100, {9, 3, 4, 15, 3, 9}},
        // Narrower than 7 pixels: the upper bound wins, even below 3.
        {0x00000000, 6, 64, {2, 3, 3, 2, 3, 9}},
        {0x80000000, 5, 64, {1, 3, 3, 1, 3, 9}},
        {0xFFFFFFFF, 3, 3, {-1, -1, 3, -1, 3, -1}},
    };
    for (const Row& row : rows) {
        const CrossHair c = AxesCrossHair(row.value, row.width, row.height);
        const CrossHair& e = row.expected;
        EXPECT_EQ(c.x, e.x) << std::hex << row.value << std::dec << " in " << row.width;
        EXPECT_EQ(c.y, e.y) << std::hex << row.value;
        EXPECT_EQ(c.x1, e.x1) << std::hex << row.value;
        EXPECT_EQ(c.x2, e.x2) << std::hex << row.value;
        EXPECT_EQ(c.y1, e.y1) << std::hex << row.value;
        EXPECT_EQ(c.y2, e.y2) << std::hex << row.value;
    }
}

TEST(PropsheetRumble, DotPositions) {
    struct Row {
        int x;
        int y;
        Box client;
        Point dot;
    };
    const Row rows[] = {
        // Right and top edge of the area 7 pixels inside the client edge.
        {10000, -10000, {0, 0, 100, 100}, {93, 7}},
        {10000, -10000, {0, 0, 120, 80}, {113, 7}},
        {-10000, 10000, {0, 0, 100, 100}, {7, 93}},
        {0, 0, {0, 0, 100, 100}, {50, 50}},
        // Truncation toward zero on both sides of the centre.
        {5000, -5000, {0, 0, 100, 100}, {71, 28}},  // 50 + 21.5, 50 - 21.5
        {-1, 1, {0, 0, 100, 100}, {49, 50}},        // 49.9957 and 50.0043
    };
    for (const Row& row : rows) {
        const RumbleLayout pad = RumbleGeometry(PackXY(row.x, row.y), row.client);
        EXPECT_EQ(pad.dot, row.dot)
            << row.x << "," << row.y << " -> (" << pad.dot.x << "," << pad.dot.y << ")";
    }
    const RumbleLayout pad = RumbleGeometry(0, {0, 0, 100, 100});
    EXPECT_EQ(pad.area, (Box{7, 7, 93, 93}));
    EXPECT_EQ(pad.hw, 43);
    EXPECT_EQ(pad.hh, 43);
}

// A region is the bounding box of its points; the operations are recorded.
class RecordingOps final : public RegionOps {
  public:
    Region CreatePolygon(const Point* points, int count) override {
        ++created;
        lastCount = count;
        if (failCreate) {
            return nullptr;
        }
        Box box{points[0].x, points[0].y, points[0].x + 1, points[0].y + 1};
        for (int i = 1; i < count; ++i) {
            box.left = std::min(box.left, points[i].x);
            box.top = std::min(box.top, points[i].y);
            box.right = std::max(box.right, points[i].x + 1);
            box.bottom = std::max(box.bottom, points[i].y + 1);
        }
        regions.push_back(box);
        return &regions.back();
    }
    Box BoxOf(Region region) override { return *static_cast<Box*>(region); }
    void Delete(Region region) override { deleted.push_back(static_cast<Box*>(region)); }
    void Invalidate(const Box& box) override { invalidated.push_back(box); }

    std::deque<Box> regions;
    std::vector<Box*> deleted;
    std::vector<Box> invalidated;
    int created = 0;
    int lastCount = 0;
    bool failCreate = false;
};

Box Grown3(const Box& b) {
    return {b.left - 3, b.top - 3, b.right + 3, b.bottom + 3};
}

Arrow InvalidationArrow(uint32_t angle) {
    return ArrowPoints(PovFrameOf(Shrink({0, 0, 100, 100}, kPovInvalidateMargin)), angle, 1.0);
}

TEST(PropsheetArrowRegions, CentredBeforeAnyArrowInvalidatesNothing) {
    RecordingOps ops;
    ArrowRegions regions;
    regions.Update(ops, nullptr);
    EXPECT_TRUE(ops.invalidated.empty());
    EXPECT_EQ(ops.created, 0);
    EXPECT_EQ(regions.current(), nullptr);
    EXPECT_EQ(regions.previous(), nullptr);
}

TEST(PropsheetArrowRegions, MovingTheHatInvalidatesBothArrowBoxesAndDeletesTheOlder) {
    RecordingOps ops;
    ArrowRegions regions;
    const Arrow up = InvalidationArrow(0);
    regions.Update(ops, &up);
    ASSERT_EQ(ops.regions.size(), 1u);
    EXPECT_EQ(ops.lastCount, 8);  // closed outline: P0..P6 and P0 again
    Box* first = &ops.regions[0];
    // Up at margin 12 in 100 x 100: points span x 40..60, y 2..22.
    EXPECT_EQ(*first, (Box{40, 2, 61, 23}));
    ASSERT_EQ(ops.invalidated.size(), 1u);
    EXPECT_EQ(ops.invalidated[0], Grown3(*first));
    EXPECT_EQ(regions.previous(), regions.current());

    ops.invalidated.clear();
    const Arrow right = InvalidationArrow(9000);
    regions.Update(ops, &right);
    ASSERT_EQ(ops.regions.size(), 2u);
    Box* second = &ops.regions[1];
    ASSERT_EQ(ops.invalidated.size(), 2u);
    EXPECT_EQ(ops.invalidated[0], Grown3(*first));
    EXPECT_EQ(ops.invalidated[1], Grown3(*second));
    ASSERT_EQ(ops.deleted.size(), 1u);
    EXPECT_EQ(ops.deleted[0], first);
    EXPECT_EQ(regions.current(), second);
    EXPECT_EQ(regions.previous(), second);
}

TEST(PropsheetArrowRegions, CentredAfterAnArrowKeepsItsRegionAndInvalidatesItsBox) {
    RecordingOps ops;
    ArrowRegions regions;
    const Arrow left = InvalidationArrow(27000);
    regions.Update(ops, &left);
    ops.invalidated.clear();
    regions.Update(ops, nullptr);
    ASSERT_EQ(ops.invalidated.size(), 1u);
    EXPECT_EQ(ops.invalidated[0], Grown3(ops.regions[0]));
    EXPECT_TRUE(ops.deleted.empty());
    EXPECT_EQ(regions.current(), &ops.regions[0]);
}

TEST(PropsheetArrowRegions, FailedRegionKeepsTheLastOne) {
    RecordingOps ops;
    ArrowRegions regions;
    const Arrow up = InvalidationArrow(0);
    regions.Update(ops, &up);
    ops.failCreate = true;
    ops.invalidated.clear();
    const Arrow down = InvalidationArrow(18000);
    regions.Update(ops, &down);
    EXPECT_EQ(regions.current(), &ops.regions[0]);
    EXPECT_TRUE(ops.deleted.empty());
    ASSERT_EQ(ops.invalidated.size(), 1u);
    EXPECT_EQ(ops.invalidated[0], Grown3(ops.regions[0]));
}

TEST(PropsheetArrowRegions, DestroyDeletesASharedRegionOnceAndEmptiesBoth) {
    RecordingOps ops;
    ArrowRegions regions;
    regions.Destroy(ops);
    EXPECT_TRUE(ops.deleted.empty());

    const Arrow up = InvalidationArrow(0);
    const Arrow down = InvalidationArrow(18000);
    regions.Update(ops, &up);
    regions.Update(ops, &down);
    ops.deleted.clear();
    regions.Destroy(ops);
    ASSERT_EQ(ops.deleted.size(), 1u);
    EXPECT_EQ(ops.deleted[0], &ops.regions[1]);
    EXPECT_EQ(regions.current(), nullptr);
    EXPECT_EQ(regions.previous(), nullptr);

    // After the destroy a centred value has nothing to invalidate.
    ops.invalidated.clear();
    regions.Update(ops, nullptr);
    EXPECT_TRUE(ops.invalidated.empty());
}

// The setter computes its arrow 12 pixels in, the paint 10; the boxes grown by 3 must still
// cover every point the paint draws, or a moving hat leaves old arrow pixels behind.
TEST(PropsheetArrowRegions, InvalidationBoxCoversThePaintedArrow) {
    for (const Box client : {Box{0, 0, 100, 100}, Box{0, 0, 70, 66}, Box{0, 0, 105, 99}}) {
        const PovFrame paint = PovFrameOf(Shrink(client, kPovPaintMargin));
        const PovFrame invalidate = PovFrameOf(Shrink(client, kPovInvalidateMargin));
        for (uint32_t angle = 0; angle < 36000; angle += 250) {
            RecordingOps ops;
            ArrowRegions regions;
            const Arrow region = ArrowPoints(invalidate, angle, 1.0);
            regions.Update(ops, &region);
            ASSERT_EQ(ops.invalidated.size(), 1u);
            const Box box = ops.invalidated[0];
            for (const Point& p : ArrowPoints(paint, angle, 1.0)) {
                EXPECT_TRUE(p.x >= box.left && p.x < box.right && p.y >= box.top &&
                            p.y < box.bottom)
                    << "angle " << angle << " point (" << p.x << "," << p.y << ") client "
                    << client.right << "x" << client.bottom;
            }
        }
    }
}

}  // namespace
}  // namespace velquin
