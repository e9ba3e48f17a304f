// wheel-check: tells a wheel owner whether games will make the wheel rumble, and why not.
//
//   wheel-check [--id N] [--no-rumble] [--json] [--help]
//
// Exit code 0 when every check is ok, 1 when one found a problem, 2 for bad arguments.
#include <iostream>
#include <string>
#include <vector>

#include "wheel_check.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return wheelcheck::RunWheelCheck(args, std::cout, std::cerr);
}
