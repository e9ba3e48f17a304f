// GetOsClass on the real GetVersionExA path, with Wine pretending to be each Windows version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/os_class.h"
#include "win_test_util.h"

namespace {

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
        ASSERT_TRUE(wintest::SetAppVersion("os_class_probe.exe", row.version));
        EXPECT_EQ(wintest::Run("\"" + probe + "\""), static_cast<int>(row.expected)) << row.version;
    }
    wintest::ClearAppVersion("os_class_probe.exe");
}

}  // namespace
