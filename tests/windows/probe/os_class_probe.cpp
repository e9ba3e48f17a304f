// Exits with GetOsClass() of its own process, so a test can run it under every Windows version
// Wine can pretend to be.
#include "common/os_class.h"

int main() {
    return static_cast<int>(wheel::GetOsClass());
}
