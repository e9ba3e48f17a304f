// GetOsClass on the real GetVersionExA path, with Wine pretending to be each Windows version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/os_class.h"
#include "win_test_util.h"

namespace {

const char kAppKey[] = "Software\\Wine\\AppDefaults\\os_class_probe.exe";

TEST(OsClassUnderWine, EveryWindowsVersionIsClassified) {
    const std::string probe = wintest::DllPathFromEnv("WHEEL_OS_CLASS_PROBE");
    ASSERT_FALSE(probe.empty()) << "WHEEL_OS_CLASS_PROBE is not set";
    struct Row {
        const char* version;
        wheel::OsClass expected;
    };
    // win10 answers 6.2 to a program without a manifest; every NT 6 and later is one class.
    const Row rows[] = {
        {"win95", wheel::OsWin95},     {"win98", wheel::OsWin98},   {"winme", wheel::OsWinMe},
        {"nt40", wheel::OsWinNT4},     {"win2k", wheel::OsWin2000}, {"winxp", wheel::OsWinXP},
        {"win2003", wheel::OsUnknown}, {"vista", wheel::OsWinNT6},  {"win7", wheel::OsWinNT6},
        {"win10", wheel::OsWinNT6},
    };
    for (const Row& row : rows) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kAppKey, &key), ERROR_SUCCESS);
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(row.version),
                       static_cast<DWORD>(std::strlen(row.version) + 1));
        RegCloseKey(key);
        EXPECT_EQ(wintest::Run("\"" + probe + "\""), static_cast<int>(row.expected)) << row.version;
    }
    wintest::DeleteTree(HKEY_CURRENT_USER, kAppKey);
}

}  // namespace
