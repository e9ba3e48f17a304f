// The wheel's HID interface through SetupAPI, the HID class driver and DirectInput 7.
#pragma once

#include "common/services.h"

namespace dravik {

class HidDeviceLink final : public wheel::DeviceLink {
  public:
    // `module` is the instance handle handed to DirectInput.
    explicit HidDeviceLink(HINSTANCE module) : module_(module) {}
    void SetModule(HINSTANCE module) { module_ = module; }

    void FindDevicePath(uint32_t joystickId, char* path, size_t size) override;
    void FindWheelPath(char* path, size_t size) override;
    HANDLE Open(const char* path) override;
    uint8_t ReportId(HANDLE device) override;
    bool SendFeature(HANDLE device, const uint8_t* report, uint32_t length) override;
    void Close(HANDLE device) override;

  private:
    HINSTANCE module_;
};

}  // namespace dravik
