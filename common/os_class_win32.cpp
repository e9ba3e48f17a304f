#include "os_class.h"

namespace wheel {

OsClass GetOsClass() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return ClassifyOsVersion(ok != FALSE, info.dwPlatformId, info.dwMajorVersion,
                             info.dwMinorVersion);
}

}  // namespace wheel
