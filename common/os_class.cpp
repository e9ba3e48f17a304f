#include "os_class.h"

namespace wheel {

OsClass ClassifyOsVersion(bool versionKnown, DWORD platformId, DWORD major, DWORD minor) {
    if (!versionKnown) {
        return OsUnknown;
    }
    switch (platformId) {
        case VER_PLATFORM_WIN32s:
            return OsWin32s;
        case VER_PLATFORM_WIN32_WINDOWS:
            if (major != 4) {
                return OsUnknown;
            }
            if (minor == 0) {
                return OsWin95;
            }
            return minor == 90 ? OsWinMe : OsWin98;
        case VER_PLATFORM_WIN32_NT:
            if (major == 3 || major == 4) {
                return OsWinNT4;
            }
            if (major == 5) {
                return minor == 0 ? OsWin2000 : minor == 1 ? OsWinXP : OsUnknown;
            }
            return major >= 6 ? OsWinNT6 : OsUnknown;
        default:
            return OsUnknown;
    }
}

HKEY AmplifyRoot(OsClass os) {
    return os == OsWinNT6 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace wheel
