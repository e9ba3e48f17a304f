// Small owners for the GDI objects the controls create while painting.
#pragma once

#include "common/platform.h"

namespace velquin {

// A pen, brush or region, deleted once when it goes out of scope (if it was ever made).
template <typename Handle>
class GdiObject {
  public:
    explicit GdiObject(Handle handle) : handle_(handle) {}
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() {
        if (handle_ != nullptr) {
            DeleteObject(handle_);
        }
    }
    Handle get() const { return handle_; }

  private:
    Handle handle_;
};

using Pen = GdiObject<HPEN>;
using Brush = GdiObject<HBRUSH>;

// Selects an object into a device context and puts the one it replaced back on scope exit.
// Nothing is selected for a null handle (a pen or brush whose creation failed).
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object)
        : dc_(dc), old_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (old_ != nullptr) {
            SelectObject(dc_, old_);
        }
    }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

// BeginPaint/EndPaint around a WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(window_, &paint_); }
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace velquin
