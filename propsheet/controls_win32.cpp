#include "controls_win32.h"

#include "propsheet/gdi_win32.h"
#include "propsheet/geometry.h"

namespace velquin {

namespace {

DWORD ValueOf(HWND window) {
    return static_cast<DWORD>(GetWindowLongA(window, GWLP_USERDATA));
}

void StoreValue(HWND window, DWORD value) {
    SetWindowLongA(window, GWLP_USERDATA, static_cast<LONG>(value));
}

Box ClientBox(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return {r.left, r.top, r.right, r.bottom};
}

RECT ToRect(const Box& b) {
    return {b.left, b.top, b.right, b.bottom};
}

HPEN SolidPen(COLORREF colour) {
    return CreatePen(PS_SOLID, 1, colour);
}

void Line(HDC dc, int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

// A frame two pixels deep that makes the box look pressed in, and a white interior.
void DrawSunkenFrame(HDC dc, Box r) {
    Pen grey(SolidPen(kFrameGrey));
    Pen white(SolidPen(kWhite));
    Pen black(SolidPen(kBlack));
    Pen light(SolidPen(kFrameLight));
    Brush fill(CreateSolidBrush(kWhite));
    {
        Selection pen(dc, grey.get());
        MoveToEx(dc, r.left, r.bottom, nullptr);
        LineTo(dc, r.left, r.top);
        LineTo(dc, r.right, r.top);
    }
    {
        Selection pen(dc, white.get());
        MoveToEx(dc, r.right, r.top, nullptr);
        LineTo(dc, r.right, r.bottom);
        LineTo(dc, r.left, r.bottom);
    }
    r = Shrink(r, 1);
    {
        Selection pen(dc, black.get());
        MoveToEx(dc, r.left, r.bottom, nullptr);
        LineTo(dc, r.left, r.top);
        LineTo(dc, r.right, r.top);
    }
    {
        // Continues from the black line's end at (right, top).
        Selection pen(dc, light.get());
        LineTo(dc, r.right, r.bottom);
        LineTo(dc, r.left, r.bottom);
    }
    r = Shrink(r, 1);
    if (fill.get() != nullptr) {
        const RECT interior = ToRect(r);
        FillRect(dc, &interior, fill.get());
    }
}

void PaintLamp(HWND window) {
    PaintScope paint(window);
    HDC dc = paint.dc();
    const Box client = ClientBox(window);
    {
        Brush fill(CreateSolidBrush(ValueOf(window)));
        Selection brush(dc, fill.get());
        Ellipse(dc, client.left, client.top, client.right, client.bottom);
    }
    SetTextColor(dc, kLampText);
    SetBkMode(dc, TRANSPARENT);
    char text[64] = {};
    GetWindowTextA(window, text, sizeof text);
    const int middle = (client.top + client.bottom) / 2;
    RECT band = {client.left, middle - 8, client.right, middle + 8};
    DrawTextA(dc, text, -1, &band, DT_CENTER);
}

void PaintAxes(HWND window) {
    PaintScope paint(window);
    HDC dc = paint.dc();
    const Box client = ClientBox(window);
    DrawSunkenFrame(dc, client);
    const CrossHair c =
        AxesCrossHair(ValueOf(window), client.right - client.left, client.bottom - client.top);
    Pen red(SolidPen(kRed));
    Selection pen(dc, red.get());
    Line(dc, c.x1, c.y, c.x2, c.y);
    Line(dc, c.x, c.y1, c.x, c.y2);
}

void PaintRumble(HWND window) {
    PaintScope paint(window);
    HDC dc = paint.dc();
    const Box client = ClientBox(window);
    DrawSunkenFrame(dc, client);
    const RumbleLayout pad = RumbleGeometry(ValueOf(window), client);
    Pen black(SolidPen(kBlack));
    Brush red(CreateSolidBrush(kRed));
    Selection pen(dc, black.get());
    Line(dc, pad.cx - 15, pad.cy, pad.cx + 16, pad.cy);
    Line(dc, pad.cx, pad.cy - 15, pad.cx, pad.cy + 16);
    // A red dot with a black outline.
    Selection brush(dc, red.get());
    Ellipse(dc, pad.dot.x - 5, pad.dot.y - 5, pad.dot.x + 6, pad.dot.y + 6);
}

void PaintPov(HWND window) {
    PaintScope paint(window);
    HDC dc = paint.dc();
    const DWORD value = ValueOf(window);
    const uint32_t angle = value & 0xFFFFu;
    const double f = (value >> 16) / 100.0;
    Pen red(SolidPen(kRed));
    Brush redFill(CreateSolidBrush(kRed));
    const Box circle = Shrink(ClientBox(window), kPovPaintMargin);
    Selection pen(dc, red.get());
    // The circle keeps the device context's own (white) brush.
    Ellipse(dc, circle.left, circle.top, circle.right, circle.bottom);
    Selection brush(dc, redFill.get());
    const PovFrame frame = PovFrameOf(circle);
    Ellipse(dc, frame.cx - 5, frame.cy - 5, frame.cx + 6, frame.cy + 6);
    if (angle < kPovCentred) {
        const Arrow arrow = ArrowPoints(frame, angle, f);
        POINT points[7];
        for (int i = 0; i < 7; ++i) {
            points[i] = {arrow[i].x, arrow[i].y};
        }
        Polygon(dc, points, 7);
    }
}

// The hat's arrow regions, one pair for the whole process (only the Test page has a hat).
ArrowRegions arrowRegions;

class GdiRegionOps final : public RegionOps {
  public:
    explicit GdiRegionOps(HWND window) : window_(window) {}

    Region CreatePolygon(const Point* points, int count) override {
        POINT gdiPoints[8];
        if (count > 8) {
            return nullptr;
        }
        for (int i = 0; i < count; ++i) {
            gdiPoints[i] = {points[i].x, points[i].y};
        }
        return CreatePolygonRgn(gdiPoints, count, ALTERNATE);
    }
    Box BoxOf(Region region) override {
        RECT r{};
        GetRgnBox(static_cast<HRGN>(region), &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    void Delete(Region region) override { DeleteObject(static_cast<HRGN>(region)); }
    void Invalidate(const Box& box) override {
        const RECT r = ToRect(box);
        InvalidateRect(window_, &r, TRUE);
    }

  private:
    HWND window_;
};

LRESULT CALLBACK LampControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintLamp(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK AxesControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            StoreValue(window, kAxesCentre);
            return 0;
        case WM_PAINT:
            PaintAxes(window);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK PovControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            StoreValue(window, kPovInitial);
            return 0;
        case WM_PAINT:
            PaintPov(window);
            return 0;
        case WM_DESTROY: {
            GdiRegionOps ops(window);
            arrowRegions.Destroy(ops);
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK RumbleControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintRumble(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL RegisterControl(HINSTANCE instance, const char* name, WNDPROC procedure) {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = name;
    return RegisterClassA(&wc) != 0 ? TRUE : FALSE;
}

// Whole-control repaint without erase: every paint covers the control.
void Repaint(HWND control) {
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE);
}

}  // namespace

BOOL RegisterLampControl(HINSTANCE instance) {
    return RegisterControl(instance, kLampControlClass, LampControlProc);
}

BOOL RegisterAxesControl(HINSTANCE instance) {
    return RegisterControl(instance, kAxesControlClass, AxesControlProc);
}

BOOL RegisterPovControl(HINSTANCE instance) {
    return RegisterControl(instance, kPovControlClass, PovControlProc);
}

BOOL RegisterRumbleControl(HINSTANCE instance) {
    return RegisterControl(instance, kRumbleControlClass, RumbleControlProc);
}

void RegisterControls(HINSTANCE instance) {
    RegisterLampControl(instance);
    RegisterAxesControl(instance);
    RegisterPovControl(instance);
    RegisterRumbleControl(instance);
}

void SetLampColor(HWND dialog, int controlId, COLORREF colour) {
    HWND control = GetDlgItem(dialog, controlId);
    StoreValue(control, colour);
    Repaint(control);
}

void SetXYValue(HWND dialog, int controlId, int high, int low) {
    HWND control = GetDlgItem(dialog, controlId);
    StoreValue(control, PackXY(high, low));
    Repaint(control);
}

void SetPovValue(HWND dialog, int controlId, DWORD angle, int eastWest, int northSouth) {
    HWND control = GetDlgItem(dialog, controlId);
    const PovSetting setting = PovValue(angle, eastWest, northSouth);
    StoreValue(control, setting.stored);
    GdiRegionOps ops(control);
    if (!setting.hasArrow) {
        arrowRegions.Update(ops, nullptr);
        return;
    }
    // The region is computed 12 pixels in, 2 more than the paint; the boxes grown by 3 still
    // cover the painted arrow.
    const PovFrame frame = PovFrameOf(Shrink(ClientBox(control), kPovInvalidateMargin));
    const Arrow arrow = ArrowPoints(frame, setting.angle, setting.length / 100.0);
    arrowRegions.Update(ops, &arrow);
}

}  // namespace velquin
