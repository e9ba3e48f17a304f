// hold-file PATH SECONDS: holds PATH as the programs an owner runs do, for the installer checks:
// a DLL loaded as a game loads the driver, or a folder made the current folder as the "Check
// the wheel" console window does; or, given mutex:NAME, the named mutex that a running installer
// holds. Prints "held" once it holds it, then waits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Hold(const char* path) {
    const char* mutexPrefix = "mutex:";
    if (std::strncmp(path, mutexPrefix, std::strlen(mutexPrefix)) == 0) {
        const char* name = path + std::strlen(mutexPrefix);
        // Held only when this is its first holder, as an installer that runs first is.
        if (!CreateMutexA(nullptr, FALSE, name) || GetLastError() == ERROR_ALREADY_EXISTS) {
            std::fprintf(stderr, "hold-file: cannot hold the mutex %s (%lu)\n", name,
                         GetLastError());
            return false;
        }
        return true;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "hold-file: %s does not exist\n", path);
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!SetCurrentDirectoryA(path)) {
            std::fprintf(stderr, "hold-file: cannot enter %s (%lu)\n", path, GetLastError());
            return false;
        }
    } else if (!LoadLibraryA(path)) {
        std::fprintf(stderr, "hold-file: cannot load %s (%lu)\n", path, GetLastError());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold-file PATH SECONDS\n");
        return 2;
    }
    if (!Hold(argv[1])) {
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    return 0;
}
