// The Windows version class both libraries use to choose registry roots and layouts.
#pragma once

#include <cstdint>

#include "platform.h"

namespace wheel {

enum OsClass : uint32_t {
    OsUnknown = 0,
    OsWin32s = 1,
    OsWin95 = 2,
    OsWin98 = 3,
    OsWinMe = 4,
    OsWinNT4 = 5,
    OsWin2000 = 6,
    OsWinXP = 7,
    OsWinNT6 = 8,
};

// The classification itself, for what GetVersionExA reported. Every NT version from 6.0 on is
// OsWinNT6: Windows answers by the caller's manifest, so the control panel may see 10.0 where an
// unmanifested game sees 6.2, and both must pick the same hive for Amplify.
OsClass ClassifyOsVersion(bool versionKnown, DWORD platformId, DWORD major, DWORD minor);

// The root that holds Amplify: the user's hive on NT 6 and later, the machine's otherwise.
HKEY AmplifyRoot(OsClass os);

#if defined(_WIN32)
// GetVersionExA of the running process, classified.
OsClass GetOsClass();
#endif

}  // namespace wheel
