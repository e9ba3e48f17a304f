// wheel-data: prints the wheel's registry data as a .reg file or as installer script lines,
// the COM classes as installer macros ("nsis-classes"), or on Windows writes it into the registry
// ("wheel-data write"). "wheel-data virtual-wheel-guid" prints the virtual wheel's instance GUID as
// REG_BINARY hex, the "GUID" value by which the Calibration page finds the wheel's DirectInput key.
#include <cstdio>
#include <cstring>

#include "hosted/virtual_dinput.h"
#include "install/wheel_data.h"
#if defined(WHEEL_DATA_CAN_WRITE)
#include "common/registry_win32.h"
#endif

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "reg") == 0) {
        std::fputs(install::WheelDataRegFile().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "nsis-install") == 0) {
        std::fputs(install::WheelDataNsisInstall().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "nsis-uninstall") == 0) {
        std::fputs(install::WheelDataNsisUninstall().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "nsis-uninstall-check") == 0) {
        std::fputs(install::WheelDataNsisUninstallCheck().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "nsis-classes") == 0) {
        std::fputs(install::ClassRegistrationNsis().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "nsis-defines") == 0) {
        std::fputs(install::WheelDataNsisDefines().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "virtual-wheel-guid") == 0) {
        std::printf("%s\n", install::GuidBinaryHex(hosted::kVirtualWheelInstance).c_str());
        return 0;
    }
#if defined(WHEEL_DATA_CAN_WRITE)
    if (argc == 2 && std::strcmp(argv[1], "write") == 0) {
        wheel::Win32Registry registry;
        const LONG result = install::WriteWheelData(registry);
        if (result != ERROR_SUCCESS) {
            std::fprintf(stderr, "wheel-data: writing the registry failed with error %ld\n",
                         static_cast<long>(result));
            return 1;
        }
        return 0;
    }
#endif
    std::fprintf(stderr,
                 "usage: wheel-data reg | nsis-install | nsis-uninstall | nsis-uninstall-check | "
                 "nsis-classes | nsis-defines | virtual-wheel-guid | write\n");
    return 2;
}
