// hold-file PATH SECONDS: holds PATH as the programs an owner runs do, for the installer checks:
// a DLL loaded as a game loads the driver, or a folder made the current folder as the "Check
// the wheel" console window does. Prints "held" once it holds it, then waits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold-file PATH SECONDS\n");
        return 2;
    }
    const DWORD attributes = GetFileAttributesA(argv[1]);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "hold-file: %s does not exist\n", argv[1]);
        return 1;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!SetCurrentDirectoryA(argv[1])) {
            std::fprintf(stderr, "hold-file: cannot enter %s (%lu)\n", argv[1], GetLastError());
            return 1;
        }
    } else if (!LoadLibraryA(argv[1])) {
        std::fprintf(stderr, "hold-file: cannot load %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    return 0;
}
