// hid-wheel-check: the wheel check with the joystick configuration that Wine's DirectInput 7
// lacks, for the main job's prefix with the virtual HID wheel. It gives that piece to its own
// module (the check's device search) and to the installed driver, which it loads before the check
// runs so that COM reuses it, then runs the check with the arguments it was given. Test
// equipment: the shipped wheel-check.exe has none of this.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "joy_config_shim.h"
#include "wheel_check.h"

int main(int argc, char** argv) {
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, sizeof folder);
    const std::string driver = std::string(folder) + "\\dravik.dll";
    HMODULE module = LoadLibraryA(driver.c_str());
    if (module == nullptr || !hidwheel::SupplyJoyConfig(module) ||
        !hidwheel::SupplyJoyConfig(GetModuleHandleA(nullptr))) {
        std::fprintf(stderr, "hid-wheel-check: %s could not be given the joystick configuration\n",
                     driver.c_str());
        return wheelcheck::kExitProblem;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    return wheelcheck::RunWheelCheck(args, std::cout, std::cerr);
}
