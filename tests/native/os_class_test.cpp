// The Windows version class and the registry root it picks for Amplify.
#include <gtest/gtest.h>

#include "common/os_class.h"

namespace {

using wheel::OsClass;

TEST(ClassifyOsVersion, EveryVersionRow) {
    struct Row {
        const char* what;
        bool known;
        DWORD platform;
        DWORD major;
        DWORD minor;
        OsClass expected;
    };
    const DWORD k32s = VER_PLATFORM_WIN32s;
    const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
    const DWORD kNt = VER_PLATFORM_WIN32_NT;
    const Row rows[] = {
        {"Win32s, any version", true, k32s, 3, 10, wheel::OsWin32s},
        {"Win32s, odd version", true, k32s, 0, 0, wheel::OsWin32s},
        {"Windows 95", true, k9x, 4, 0, wheel::OsWin95},
        {"Windows 98", true, k9x, 4, 10, wheel::OsWin98},
        {"other 4.x", true, k9x, 4, 3, wheel::OsWin98},
        {"Windows Me", true, k9x, 4, 90, wheel::OsWinMe},
        {"9x major 5", true, k9x, 5, 0, wheel::OsUnknown},
        {"9x major 3", true, k9x, 3, 95, wheel::OsUnknown},
        {"NT 3.51", true, kNt, 3, 51, wheel::OsWinNT4},
        {"NT 4.0", true, kNt, 4, 0, wheel::OsWinNT4},
        {"Windows 2000", true, kNt, 5, 0, wheel::OsWin2000},
        {"Windows XP", true, kNt, 5, 1, wheel::OsWinXP},
        {"Server 2003 / XP x64", true, kNt, 5, 2, wheel::OsUnknown},
        {"Vista", true, kNt, 6, 0, wheel::OsWinNT6},
        {"Windows 7", true, kNt, 6, 1, wheel::OsWinNT6},
        {"Windows 8.1", true, kNt, 6, 3, wheel::OsWinNT6},
        // Windows answers 10.0 to a manifested caller and 6.2 to another; both must choose
        // the same root for Amplify.
        {"Windows 10", true, kNt, 10, 0, wheel::OsWinNT6},
        {"NT major 2", true, kNt, 2, 0, wheel::OsUnknown},
        {"unknown platform", true, 3, 6, 1, wheel::OsUnknown},
        {"GetVersionExA failed", false, kNt, 6, 1, wheel::OsUnknown},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(wheel::ClassifyOsVersion(row.known, row.platform, row.major, row.minor),
                  row.expected)
            << row.what;
    }
}

TEST(AmplifyRoot, UserHiveOnNt6MachineHiveOtherwise) {
    const OsClass all[] = {wheel::OsUnknown, wheel::OsWin32s, wheel::OsWin95,
                           wheel::OsWin98,   wheel::OsWinMe,  wheel::OsWinNT4,
                           wheel::OsWin2000, wheel::OsWinXP,  wheel::OsWinNT6};
    for (OsClass os : all) {
        const HKEY expected = os == wheel::OsWinNT6 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        EXPECT_EQ(wheel::AmplifyRoot(os), expected) << "class " << static_cast<uint32_t>(os);
    }
}

}  // namespace
