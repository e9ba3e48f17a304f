// The virtual wheel on the hosted platform, for the property sheet's device and page tests: an
// in-memory registry holding the wheel's installation data, a clock and a driver timer the test
// moves, and device services whose DirectInput is the virtual wheel's and whose status line is
// a list of the texts written.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/os_class.h"
#include "common/wheel_ids.h"
#include "hosted/hosted_services.h"
#include "hosted/memory_registry.h"
#include "hosted/virtual_dinput.h"
#include "install/wheel_data.h"
#include "propsheet/device.h"
#include "propsheet/sheet.h"

namespace sheettest {

struct StatusWrite {
    HWND page;
    int control;
    std::string text;
};

// What the device services saw. The services are plain function pointers, as in the DLL, so
// they reach the test through this one object.
struct ServiceRecord {
    hosted::VirtualDirectInput* wheel = nullptr;
    HRESULT createResult = S_OK;
    int directInputsMade = 0;
    int locks = 0;
    int unlocks = 0;
    std::vector<StatusWrite> statusWrites;
};
inline ServiceRecord serviceRecord;

inline HRESULT CreateVirtualDirectInput(HINSTANCE, DWORD version, IDirectInputA** out) {
    *out = nullptr;
    if (version != velquin::kDirectInputVersion) {
        return DIERR_OLDDIRECTINPUTVERSION;
    }
    if (FAILED(serviceRecord.createResult)) {
        return serviceRecord.createResult;
    }
    *out = serviceRecord.wheel->NewDirectInput();
    ++serviceRecord.directInputsMade;
    return DI_OK;
}

inline velquin::DeviceServices TestDeviceServices() {
    velquin::DeviceServices services;
    services.createDirectInput = CreateVirtualDirectInput;
    services.lock = [] { ++serviceRecord.locks; };
    services.unlock = [] { ++serviceRecord.unlocks; };
    services.setStatusText = [](HWND page, int control, const char* text) {
        serviceRecord.statusWrites.push_back({page, control, text});
    };
    return services;
}

// Fake window handles: never dereferenced, only compared.
inline HWND FakeWindow(uintptr_t value) {
    return reinterpret_cast<HWND>(value);
}

inline const std::string kAmplifyKey = wheel::OemKey();

class WheelRig {
  public:
    explicit WheelRig(std::vector<hosted::WheelFrame> frames = {},
                      wheel::OsClass os = wheel::OsWinNT6,
                      JOYRANGE storedRange = hosted::UniformRange(0, 128, 255))
        : os_(os) {
        EXPECT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
        hosted::VirtualWheelSetup setup;
        setup.joystickId = kJoystickId;
        setup.storedRange = storedRange;
        setup.timeline = hosted::WheelTimeline(std::move(frames));
        setup.registry = &registry;
        setup.clock = &clock;
        setup.timer = &timer;
        setup.osClass = [this] { return os_; };
        setup.sleep = [](uint32_t) {};
        setup.log = [this](const std::string& line) { log.push_back(line); };
        wheel = hosted::VirtualDirectInput::Create(std::move(setup));
        serviceRecord = ServiceRecord{};
        serviceRecord.wheel = wheel.get();
    }
    ~WheelRig() {
        if (sheet != nullptr) {
            sheet->Release();
        }
        serviceRecord = ServiceRecord{};
    }
    WheelRig(const WheelRig&) = delete;
    WheelRig& operator=(const WheelRig&) = delete;

    // A sheet object for the joystick, with nothing set.
    velquin::PropSheet* NewSheet() {
        sheet = velquin::PropSheet::Create(velquin::SheetServices{});
        sheet->SetID(static_cast<USHORT>(kJoystickId));
        return sheet;
    }
    IDirectInputDevice2A* SheetDevice() const {
        IDirectInputDevice2A* device = nullptr;
        sheet->GetDevice(&device);
        return device;
    }
    IDirectInputJoyConfig* SheetJoyConfig() const {
        IDirectInputJoyConfig* joyConfig = nullptr;
        sheet->GetJoyConfig(&joyConfig);
        return joyConfig;
    }
    // How many log lines are exactly `line`.
    int Logged(const std::string& line) const {
        int count = 0;
        for (const std::string& entry : log) {
            count += entry == line ? 1 : 0;
        }
        return count;
    }
    // Motor reports so far, as "b0 b1 b2 b3".
    std::vector<std::string> Reports() const {
        std::vector<std::string> out;
        for (const std::string& line : log) {
            if (line.rfind("report ", 0) == 0) {
                out.push_back(line.substr(7));
            }
        }
        return out;
    }

    static constexpr uint32_t kJoystickId = 2;
    hosted::MemoryRegistry registry;
    hosted::ManualClock clock{5000};
    hosted::ManualTimer timer;
    std::vector<std::string> log;
    std::shared_ptr<hosted::VirtualDirectInput> wheel;
    velquin::PropSheet* sheet = nullptr;

  private:
    wheel::OsClass os_;
};

inline hosted::WheelFrame At(uint32_t ms) {
    hosted::WheelFrame frame;
    frame.atMs = ms;
    return frame;
}

}  // namespace sheettest
