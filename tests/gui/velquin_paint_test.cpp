// The four indicator controls painted in a window of the test's own under Xvfb and checked by
// their pixels: lamp fill and label, the sunken frame, the cross-hair, the hat's circle, dot
// and arrow (and what its setter invalidates), the rumble pad's cross and dot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "propsheet/controls_win32.h"
#include "propsheet/geometry.h"
#include "tests/gui/gui_util.h"

namespace {

using guitest::Hex;
using guitest::Image;

constexpr int kLamp = 1000;
constexpr int kAxes = 1013;
constexpr int kNarrowAxes = 1014;
constexpr int kPov = 1015;
constexpr int kRumble = 1023;
constexpr COLORREF kHostBackground = RGB(0, 128, 128);

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// A top-level window holding one control of each class, as a page would.
class Controls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        velquin::RegisterControls(instance);
        WNDCLASSA host = {};
        host.lpfnWndProc = HostProc;
        host.hInstance = instance;
        host.hbrBackground = CreateSolidBrush(kHostBackground);
        host.lpszClassName = "PaintHost";
        RegisterClassA(&host);
        // One top-level window for all tests (showing one takes Wine a while); the controls
        // are made anew for each test.
        if (std::getenv("DISPLAY") != nullptr) {
            host_ = CreateWindowExA(0, "PaintHost", "controls", WS_POPUP | WS_VISIBLE, 0, 0, 560,
                                    130, nullptr, nullptr, instance, nullptr);
        }
    }

    static void TearDownTestSuite() {
        if (host_ != nullptr) {
            DestroyWindow(host_);
            host_ = nullptr;
        }
    }

    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests need an X display";
        ASSERT_NE(host_, nullptr);
        Child(velquin::kLampControlClass, "1", kLamp, 10, 10, 40, 40);
        Child(velquin::kAxesControlClass, "Custom2", kAxes, 60, 10, 64, 64);
        Child(velquin::kAxesControlClass, "Custom2", kNarrowAxes, 134, 10, 6, 40);
        Child(velquin::kPovControlClass, "Custom3", kPov, 150, 10, 100, 100);
        Child(velquin::kRumbleControlClass, "Custom1", kRumble, 260, 10, 100, 100);
        Settle();
    }

    void TearDown() override {
        for (int id : {kLamp, kAxes, kNarrowAxes, kPov, kRumble}) {
            if (HWND child = Control(id); child != nullptr) {
                DestroyWindow(child);
            }
        }
        Settle();
    }

    void Child(const char* className, const char* text, int id, int x, int y, int w, int h) {
        HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE, x, y, w, h, host_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(child, nullptr) << className;
    }

    static HWND Control(int id) { return GetDlgItem(host_, id); }

    // Paints everything pending.
    void Settle() {
        RedrawWindow(host_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        guitest::PumpMessages(30);
    }

    Image Shot(int id) {
        Settle();
        return guitest::CaptureClient(Control(id));
    }

    void SaveHost(const std::string& name) {
        Settle();
        const std::string path = guitest::ArtefactPath(name);
        if (!path.empty()) {
            EXPECT_TRUE(guitest::CaptureClient(host_).Save(path)) << path;
        }
    }

    static HWND host_;
};
HWND Controls::host_ = nullptr;

COLORREF Face() {
    return GetSysColor(COLOR_BTNFACE);
}

#define EXPECT_PIXEL(image, x, y, colour) \
    EXPECT_EQ(Hex((image).At((x), (y))), Hex(colour)) << "pixel (" << (x) << "," << (y) << ")"

void ExpectSunkenFrame(const Image& image) {
    const int w = image.width();
    const int h = image.height();
    ASSERT_GT(w, 8);
    ASSERT_GT(h, 8);
    EXPECT_PIXEL(image, 0, h / 2, velquin::kFrameGrey);           // outer left
    EXPECT_PIXEL(image, w / 2 + 1, 0, velquin::kFrameGrey);       // outer top
    EXPECT_PIXEL(image, 1, h / 2 + 1, velquin::kBlack);           // inner left
    EXPECT_PIXEL(image, w / 2 + 1, 1, velquin::kBlack);           // inner top
    EXPECT_PIXEL(image, w - 1, h / 2 + 1, velquin::kFrameLight);  // inner right
    EXPECT_PIXEL(image, w / 2 + 1, h - 1, velquin::kFrameLight);  // inner bottom
    EXPECT_PIXEL(image, 4, 4, velquin::kWhite);                   // interior
}

TEST_F(Controls, LampFillsWithItsColourUnderAGreyLabel) {
    Image image = Shot(kLamp);
    ASSERT_EQ(image.width(), 40);
    EXPECT_PIXEL(image, 20, 5, velquin::kBlack);  // no colour set yet: black
    EXPECT_PIXEL(image, 0, 0, Face());            // corner outside the ellipse
    struct Row {
        COLORREF colour;
        const char* name;
    };
    for (const Row& row :
         {Row{0x0000FF, "pressed"}, Row{0x000080, "released"}, Row{0x00C000, "any colour"}}) {
        velquin::SetLampColor(host_, kLamp, row.colour);
        EXPECT_EQ(static_cast<COLORREF>(GetWindowLongA(Control(kLamp), GWLP_USERDATA)), row.colour);
        image = Shot(kLamp);
        EXPECT_PIXEL(image, 20, 5, row.colour) << row.name;
        EXPECT_PIXEL(image, 20, 35, row.colour) << row.name;
        EXPECT_PIXEL(image, 0, 0, Face()) << row.name;
        // The black outline on the left edge at the middle.
        EXPECT_PIXEL(image, 0, 20, velquin::kBlack) << row.name;
    }
    // The label: 0xC8C8C8 pixels only inside the band 8 pixels either side of the middle.
    int inside = 0;
    int outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.At(x, y) == velquin::kLampText) {
                (y >= 12 && y < 28 ? inside : outside)++;
            }
        }
    }
    EXPECT_GT(inside, 3);
    EXPECT_EQ(outside, 0);
    SaveHost("controls-lamp.bmp");
}

TEST_F(Controls, AxesBoxFrameAndCrossHair) {
    Image image = Shot(kAxes);
    ASSERT_EQ(image.width(), 64);
    ExpectSunkenFrame(image);
    // Created at the centre.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(Control(kAxes), GWLP_USERDATA)), 0x80008000u);
    EXPECT_PIXEL(image, 32, 32, velquin::kRed);
    EXPECT_PIXEL(image, 27, 32, velquin::kRed);
    EXPECT_PIXEL(image, 26, 32, velquin::kWhite);

    struct Row {
        int high;
        int low;
    };
    for (const Row& row : {Row{0x4000, 0xC000}, Row{0, 0}, Row{0x2000, 0xFFFF}}) {
        SCOPED_TRACE(Hex(velquin::PackXY(row.high, row.low)));
        velquin::SetXYValue(host_, kAxes, row.high, row.low);
        image = Shot(kAxes);
        const velquin::CrossHair c = velquin::AxesCrossHair(velquin::PackXY(row.high, row.low),
                                                            image.width(), image.height());
        EXPECT_PIXEL(image, c.x, c.y, velquin::kRed);
        EXPECT_PIXEL(image, c.x1, c.y, velquin::kRed);
        EXPECT_PIXEL(image, c.x2 - 1, c.y, velquin::kRed);
        EXPECT_PIXEL(image, c.x, c.y1, velquin::kRed);
        EXPECT_PIXEL(image, c.x, c.y2 - 1, velquin::kRed);
        // Each arm stops one pixel short of its end, unless the other arm runs there.
        if (c.x2 != c.x) {
            EXPECT_PIXEL(image, c.x2, c.y, velquin::kWhite);
        }
        if (c.y2 != c.y) {
            EXPECT_PIXEL(image, c.x, c.y2, velquin::kWhite);
        }
        if (c.x1 > 3) {
            EXPECT_PIXEL(image, c.x1 - 1, c.y, velquin::kWhite);
        }
        // The old centre is white again (for each move here it is off both new arms).
        EXPECT_PIXEL(image, 32, 32, velquin::kWhite);
    }
    // 0x4000 of 64 is 16 and 0xC000 of 64 is 48: checked by numbers, not by the helper.
    velquin::SetXYValue(host_, kAxes, 0x4000, 0xC000);
    image = Shot(kAxes);
    EXPECT_PIXEL(image, 16, 48, velquin::kRed);
    EXPECT_PIXEL(image, 11, 48, velquin::kRed);
    EXPECT_PIXEL(image, 10, 48, velquin::kWhite);
    EXPECT_PIXEL(image, 21, 48, velquin::kRed);
    EXPECT_PIXEL(image, 22, 48, velquin::kWhite);
    EXPECT_PIXEL(image, 16, 43, velquin::kRed);
    EXPECT_PIXEL(image, 16, 42, velquin::kWhite);

    // At the far corner both arms end at W - 4 and H - 4, so the centre pixel itself is the
    // one neither line reaches.
    velquin::SetXYValue(host_, kAxes, 0xFFFF, 0xFFFF);
    image = Shot(kAxes);
    EXPECT_PIXEL(image, 59, 60, velquin::kRed);
    EXPECT_PIXEL(image, 55, 60, velquin::kRed);
    EXPECT_PIXEL(image, 60, 59, velquin::kRed);
    EXPECT_PIXEL(image, 60, 55, velquin::kRed);
    EXPECT_PIXEL(image, 60, 60, velquin::kWhite);
    EXPECT_PIXEL(image, 54, 60, velquin::kWhite);
    SaveHost("controls-axes.bmp");
}

TEST_F(Controls, NarrowAxesBoxPutsTheCentreAtWidthMinusFour) {
    velquin::SetXYValue(host_, kNarrowAxes, 0, 0x8000);
    const Image image = Shot(kNarrowAxes);
    ASSERT_EQ(image.width(), 6);
    // x = 6 - 4 = 2 although that is below 3; the vertical arm runs there.
    EXPECT_PIXEL(image, 2, 17, velquin::kRed);
    EXPECT_PIXEL(image, 2, 22, velquin::kRed);
    EXPECT_PIXEL(image, 3, 17, velquin::kWhite);
}

TEST_F(Controls, HatCircleDotAndArrow) {
    HWND pov = Control(kPov);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(pov, GWLP_USERDATA)), 0x0064FFFFu);
    Image image = Shot(kPov);
    ASSERT_EQ(image.width(), 100);
    EXPECT_PIXEL(image, 50, 50, velquin::kRed);  // centre dot
    EXPECT_PIXEL(image, 10, 50, velquin::kRed);  // circle over (10, 10, 90, 90)
    EXPECT_PIXEL(image, 30, 50, velquin::kWhite);
    EXPECT_PIXEL(image, 5, 50, Face());
    EXPECT_PIXEL(image, 50, 5, Face());  // no arrow while centred
    SaveHost("controls-hat-centred.bmp");

    // Straight up: head between (50, 0), (60, 10), (40, 10); shaft 10 wide down to y = 20.
    velquin::SetPovValue(host_, kPov, 0, 100, 100);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(pov, GWLP_USERDATA)), 0x00640000u);
    image = Shot(kPov);
    EXPECT_PIXEL(image, 50, 5, velquin::kRed);
    EXPECT_PIXEL(image, 50, 1, velquin::kRed);
    EXPECT_PIXEL(image, 57, 9, velquin::kRed);
    EXPECT_PIXEL(image, 50, 15, velquin::kRed);
    EXPECT_PIXEL(image, 47, 18, velquin::kRed);
    EXPECT_PIXEL(image, 38, 5, Face());
    EXPECT_PIXEL(image, 62, 5, Face());
    EXPECT_PIXEL(image, 50, 50, velquin::kRed);
    SaveHost("controls-hat-up.bmp");

    // To the right; the old arrow's pixels are erased.
    velquin::SetPovValue(host_, kPov, 9000, 100, 100);
    image = Shot(kPov);
    EXPECT_PIXEL(image, 93, 49, velquin::kRed);
    EXPECT_PIXEL(image, 84, 48, velquin::kRed);
    EXPECT_PIXEL(image, 50, 5, Face());
    EXPECT_PIXEL(image, 50, 15, velquin::kWhite);
    SaveHost("controls-hat-right.bmp");

    // Centred again: no arrow, circle and dot stay.
    velquin::SetPovValue(host_, kPov, 0xFFFFFFFF, 100, 100);
    image = Shot(kPov);
    EXPECT_PIXEL(image, 93, 49, Face());
    EXPECT_PIXEL(image, 84, 48, velquin::kWhite);
    EXPECT_PIXEL(image, 50, 50, velquin::kRed);
    EXPECT_PIXEL(image, 10, 50, velquin::kRed);
}

// The box of the arrow region the setter builds (12 pixels in), grown by 3, as far as it lies
// in the 100 x 100 control.
RECT ArrowBox(uint32_t angle) {
    const velquin::Arrow a = velquin::ArrowPoints(
        velquin::PovFrameOf(velquin::Shrink({0, 0, 100, 100}, velquin::kPovInvalidateMargin)),
        angle, 1.0);
    POINT points[8];
    for (int i = 0; i < 7; ++i) {
        points[i] = {a[i].x, a[i].y};
    }
    points[7] = points[0];
    HRGN region = CreatePolygonRgn(points, 8, ALTERNATE);
    RECT box{};
    GetRgnBox(region, &box);
    DeleteObject(region);
    InflateRect(&box, 3, 3);
    const RECT client = {0, 0, 100, 100};
    RECT inside{};
    IntersectRect(&inside, &box, &client);
    return inside;
}

std::string Show(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

TEST_F(Controls, HatSetterInvalidatesOnlyTheArrowBoxes) {
    HWND pov = Control(kPov);
    // A centred hat before any arrow: nothing to repaint.
    velquin::SetPovValue(host_, kPov, 0xFFFF, 100, 100);
    EXPECT_FALSE(GetUpdateRect(pov, nullptr, FALSE));

    velquin::SetPovValue(host_, kPov, 0, 100, 100);
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(pov, &update, FALSE));
    EXPECT_EQ(Show(update), Show(ArrowBox(0)));
    Settle();

    // Moving: the old and the new box, nothing else.
    velquin::SetPovValue(host_, kPov, 27000, 100, 100);
    HRGN updateRegion = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetUpdateRgn(pov, updateRegion, FALSE), ERROR);
    const RECT oldBox = ArrowBox(0);
    const RECT newBox = ArrowBox(27000);
    HRGN expected = CreateRectRgnIndirect(&oldBox);
    HRGN second = CreateRectRgnIndirect(&newBox);
    CombineRgn(expected, expected, second, RGN_OR);
    EXPECT_TRUE(EqualRgn(updateRegion, expected));
    DeleteObject(updateRegion);
    DeleteObject(expected);
    DeleteObject(second);
    Settle();

    // Centred after an arrow: the last arrow's box is repainted to take the arrow away.
    velquin::SetPovValue(host_, kPov, 36000, 100, 100);
    ASSERT_TRUE(GetUpdateRect(pov, &update, FALSE));
    EXPECT_EQ(Show(update), Show(ArrowBox(27000)));
    Settle();
}

TEST_F(Controls, RumblePadCrossAndDot) {
    Image image = Shot(kRumble);
    ASSERT_EQ(image.width(), 100);
    ExpectSunkenFrame(image);
    EXPECT_EQ(GetWindowLongA(Control(kRumble), GWLP_USERDATA), 0);
    EXPECT_PIXEL(image, 50, 50, velquin::kRed);    // dot at the centre
    EXPECT_PIXEL(image, 45, 50, velquin::kBlack);  // its outline
    EXPECT_PIXEL(image, 40, 50, velquin::kBlack);  // the cross
    EXPECT_PIXEL(image, 50, 40, velquin::kBlack);
    EXPECT_PIXEL(image, 65, 50, velquin::kBlack);
    EXPECT_PIXEL(image, 66, 50, velquin::kWhite);  // the cross ends at cx + 15
    EXPECT_PIXEL(image, 34, 50, velquin::kWhite);

    // Right and top edge of the area 7 pixels in: the dot is centred on (93, 7).
    velquin::SetXYValue(host_, kRumble, 10000, -10000);
    image = Shot(kRumble);
    EXPECT_PIXEL(image, 93, 7, velquin::kRed);
    EXPECT_PIXEL(image, 88, 7, velquin::kBlack);
    EXPECT_PIXEL(image, 93, 2, velquin::kBlack);
    EXPECT_PIXEL(image, 50, 50, velquin::kBlack);  // the cross is back in the middle
    EXPECT_PIXEL(image, 55, 55, velquin::kWhite);
    SaveHost("controls-rumble.bmp");

    velquin::SetXYValue(host_, kRumble, -10000, 10000);
    image = Shot(kRumble);
    EXPECT_PIXEL(image, 7, 93, velquin::kRed);
    EXPECT_PIXEL(image, 93, 7, velquin::kWhite);
}

TEST_F(Controls, RegisteringAgainFailsQuietly) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    EXPECT_FALSE(velquin::RegisterLampControl(instance));
    EXPECT_FALSE(velquin::RegisterAxesControl(instance));
    EXPECT_FALSE(velquin::RegisterPovControl(instance));
    EXPECT_FALSE(velquin::RegisterRumbleControl(instance));
}

}  // namespace
