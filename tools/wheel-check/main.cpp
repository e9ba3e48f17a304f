// wheel-check: tells a wheel owner whether games will make the wheel rumble, and why not.
//
//   wheel-check [--id N] [--no-rumble] [--json] [--help]
//
// Exit code 0 when every check is ok, 1 when one found a problem or was inconclusive, 2 for bad
// arguments.
#include <iostream>
#include <string>
#include <vector>

#include "common/platform.h"
#include "wheel_check.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // The output is UTF-8 (paths may hold any letter): a console shows it as such while the
    // check runs, and gets its own code page back afterwards.
    const bool console = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    const UINT codePage = console ? GetConsoleOutputCP() : 0;
    if (codePage != 0) {
        SetConsoleOutputCP(CP_UTF8);
    }
    const int code = wheelcheck::RunWheelCheck(args, std::cout, std::cerr);
    std::cout.flush();
    if (codePage != 0) {
        SetConsoleOutputCP(codePage);
    }
    return code;
}
