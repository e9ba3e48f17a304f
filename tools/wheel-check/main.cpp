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
#include "console_output.h"
#include "wheel_check.h"

namespace {

// The arguments in UTF-8, like the rest of the text (an error echoes an argument): the narrow
// argv holds them in the ANSI code page, which cannot hold every letter.
std::string Utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(Utf8(argv[i]));
    }
    // The output is UTF-8: a console is written in UTF-16 and keeps its code page; pipes and
    // files get the bytes.
    wheelcheck::ConsoleStream out(std::cout, GetStdHandle(STD_OUTPUT_HANDLE));
    wheelcheck::ConsoleStream err(std::cerr, GetStdHandle(STD_ERROR_HANDLE));
    return wheelcheck::RunWheelCheck(args, std::cout, std::cerr);
}
