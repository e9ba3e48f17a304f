// Stores the known calibration of joystick 0 the way the Calibration page does, through the
// running Windows version's class and the real registry, and exits with that class, so a test
// can run it under each Windows version Wine can pretend to be and see where the values landed.
#include "tests/windows/probe/calibration_probe.h"
#include "common/os_class.h"
#include "propsheet/calibration.h"

int main() {
    const DIJOYCONFIG config = calibration_probe::Config();
    velquin::WriteCalibration(config, velquin::kCalibrateAxes, calibration_probe::kWheelInstance,
                              0);
    return static_cast<int>(wheel::GetOsClass());
}
