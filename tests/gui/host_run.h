// What the control-panel host shows and logs, read back for the pages' tests: its event log,
// its shots with the place of each control in them, and the pixels of lamps, cross-hairs and
// the hat arrow where the pages' geometry puts them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "propsheet/geometry.h"
#include "tests/gui/gui_util.h"

namespace guitest::host {

using velquin::Box;

struct Event {
    uint32_t ms;
    std::string text;
};

// A control as placed in a shot: the window rectangle in the picture's coordinates.
using Layout = std::map<int, Box>;

struct HostRun {
    int exitCode = -1;
    std::vector<Event> events;
    std::map<std::string, guitest::Image> shots;
    std::map<std::string, Layout> layouts;

    // Events whose text starts with `prefix`, at or after `from` and before `to`.
    std::vector<Event> Find(const std::string& prefix, uint32_t from = 0,
                            uint32_t to = UINT32_MAX) const {
        std::vector<Event> found;
        for (const Event& e : events) {
            if (e.ms >= from && e.ms < to && e.text.rfind(prefix, 0) == 0) {
                found.push_back(e);
            }
        }
        return found;
    }
    std::vector<std::string> Texts(const std::string& prefix, uint32_t from = 0,
                                   uint32_t to = UINT32_MAX) const {
        std::vector<std::string> texts;
        for (const Event& e : Find(prefix, from, to)) {
            texts.push_back(e.text);
        }
        return texts;
    }
    // The time of the first event with this text; UINT32_MAX when there is none.
    uint32_t TimeOf(const std::string& text) const {
        for (const Event& e : events) {
            if (e.text == text) {
                return e.ms;
            }
        }
        return UINT32_MAX;
    }
    // The slider of a shot as the host read it from the control.
    struct Slider {
        long position = -1;
        long min = -1;
        long max = -1;
        long thumbOffset = -1;  // the thumb's left edge from the channel's, in pixels
        long trackLength = -1;  // how far the thumb can travel
    };
    Slider SliderIn(const std::string& shot) const {
        Slider slider;
        bool inShot = false;
        for (const Event& e : events) {
            if (e.text.rfind("shot ", 0) == 0) {
                inShot = e.text.substr(5) == shot;
                continue;
            }
            if (inShot && std::sscanf(e.text.c_str(), "trackbar 1027 %ld %ld %ld %ld %ld",
                                      &slider.position, &slider.min, &slider.max,
                                      &slider.thumbOffset, &slider.trackLength) == 5) {
                return slider;
            }
        }
        ADD_FAILURE() << "no slider in " << shot;
        return slider;
    }
    // Motor byte 2 (motor A, doubled) of the reports in a time window.
    std::vector<int> MotorA(uint32_t from, uint32_t to) const {
        std::vector<int> levels;
        for (const Event& e : Find("report ", from, to)) {
            unsigned b[4] = {};
            if (std::sscanf(e.text.c_str(), "report %x %x %x %x", &b[0], &b[1], &b[2], &b[3]) ==
                4) {
                levels.push_back(static_cast<int>(b[2]));
            }
        }
        return levels;
    }
};

inline std::vector<Event> ReadLog(const std::string& path) {
    std::vector<Event> events;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        events.push_back({static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10)),
                          line.substr(space + 1)});
    }
    return events;
}

// "shot FILE" followed by its "rect" lines.
inline void ReadShots(HostRun* run) {
    std::string current;
    for (const Event& e : run->events) {
        if (e.text.rfind("shot ", 0) == 0) {
            current = e.text.substr(5);
            run->shots[current] = guitest::Image::Load(current);
            continue;
        }
        int id = 0;
        char className[64] = {};
        Box box{};
        if (!current.empty() &&
            std::sscanf(e.text.c_str(), "rect %d %63s %d %d %d %d", &id, className, &box.left,
                        &box.top, &box.right, &box.bottom) == 6) {
            run->layouts[current][id] = box;
        }
    }
}

// Runs the host's command line and reads back its log and the shots it names.
inline HostRun LaunchHost(const std::string& command, const std::string& logPath) {
    HostRun run;
    guitest::Process process(command);
    EXPECT_TRUE(process.started()) << command;
    run.exitCode = process.Wait(60000);
    run.events = ReadLog(logPath);
    ReadShots(&run);
    return run;
}

// Pixels

struct Found {
    const guitest::Image* image = nullptr;
    Box box{};
};

inline Found Locate(const HostRun& run, const std::string& shot, int control) {
    Found found;
    const auto image = run.shots.find(shot);
    const auto layout = run.layouts.find(shot);
    if (image == run.shots.end() || image->second.empty() || layout == run.layouts.end() ||
        layout->second.count(control) == 0) {
        ADD_FAILURE() << "no picture of control " << control << " in " << shot;
        return found;
    }
    found.image = &image->second;
    found.box = layout->second.at(control);
    return found;
}

// The share of a control's pixels that have the colour.
inline double Share(const Found& f, COLORREF colour) {
    if (f.image == nullptr) {
        return 0;
    }
    int count = 0;
    int all = 0;
    for (int y = f.box.top; y < f.box.bottom; ++y) {
        for (int x = f.box.left; x < f.box.right; ++x) {
            ++all;
            count += f.image->At(x, y) == colour ? 1 : 0;
        }
    }
    return all == 0 ? 0 : static_cast<double>(count) / all;
}

// A pixel of the control, in its client coordinates.
inline COLORREF Pixel(const Found& f, int x, int y) {
    return f.image == nullptr ? CLR_INVALID : f.image->At(f.box.left + x, f.box.top + y);
}

inline int Width(const Box& b) {
    return b.right - b.left;
}
inline int Height(const Box& b) {
    return b.bottom - b.top;
}

constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kDarkRed = 0x000080;
constexpr COLORREF kWhite = 0xFFFFFF;

inline void ExpectLamp(const HostRun& run, uint32_t ms, const std::string& shot, int control,
                       COLORREF colour) {
    const Found lamp = Locate(run, shot, control);
    const COLORREF other = colour == kRed ? kDarkRed : kRed;
    EXPECT_GT(Share(lamp, colour), 0.4) << "lamp " << control << " at " << ms << " ms";
    EXPECT_EQ(Share(lamp, other), 0.0) << "lamp " << control << " at " << ms << " ms";
}

// The cross-hair of an axes box: centre and both arm ends red, where the geometry puts them.
inline void ExpectCrossHair(const HostRun& run, const std::string& shot, int control, int high,
                            int low) {
    const Found box = Locate(run, shot, control);
    const velquin::CrossHair c =
        velquin::AxesCrossHair(velquin::PackXY(high, low), Width(box.box), Height(box.box));
    SCOPED_TRACE("control " + std::to_string(control) + " centre (" + std::to_string(c.x) + "," +
                 std::to_string(c.y) + ")");
    EXPECT_EQ(guitest::Hex(Pixel(box, c.x, c.y)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(box, c.x1, c.y)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(box, c.x2 - 1, c.y)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(box, c.x, c.y1)), guitest::Hex(kRed));
    EXPECT_EQ(guitest::Hex(Pixel(box, c.x, c.y2 - 1)), guitest::Hex(kRed));
}

// The middle of the hat arrow's head for an angle, in the PovControl's client coordinates.
inline velquin::Point ArrowHead(const Box& control, uint32_t angle) {
    const Box circle =
        velquin::Shrink({0, 0, Width(control), Height(control)}, velquin::kPovPaintMargin);
    const velquin::Arrow a = velquin::ArrowPoints(velquin::PovFrameOf(circle), angle, 1.0);
    return {(a[0].x + a[1].x + a[6].x) / 3, (a[0].y + a[1].y + a[6].y) / 3};
}

}  // namespace guitest::host
