// The intensity file: what an owner may write in it, and that the driver reads it at every
// effect start through the registry stand-in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/os_class.h"
#include "common/wheel_ids.h"
#include "linux/amplify_config.h"

namespace {

TEST(AmplifyConfig, ParsesWhatAnOwnerWrites) {
    const struct {
        const char* text;
        uint32_t value;
        bool ok;
    } cases[] = {
        {"amplify = 600\n", 600, true},
        {"# comment\n\n  Amplify=0   # silent\n", 0, true},
        {"amplify = 1500", 1500, true},
        {"amplify\t=\t1000\r\n", 1000, true},
        {"amplify = 1501\n", 1000, false},
        {"amplify = -5\n", 1000, false},
        {"amplify = 12abc\n", 1000, false},
        {"amplify = 99999999999999999999\n", 1000, false},
        {"amplify =\n", 1000, false},
        {"amplify 600\n", 1000, false},
        {"gain = 600\n", 1000, false},
        {"amplify = 600\namplify = 700\n", 1000, false},
        {"", 1000, false},
        {"# only a comment\n", 1000, false},
    };
    for (const auto& c : cases) {
        const rumble::AmplifySetting setting = rumble::ParseAmplifyConfig(c.text);
        EXPECT_EQ(setting.value, c.value) << c.text;
        EXPECT_EQ(setting.problem.empty(), c.ok) << c.text << " -> " << setting.problem;
    }
}

class TempFile {
  public:
    TempFile() {
        char name[] = "/tmp/rumble-config-XXXXXX";
        const int fd = mkstemp(name);
        close(fd);
        path_ = name;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    void Write(const std::string& text) { std::ofstream(path_) << text; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

uint32_t ReadAmplify(rumble::ConfigRegistry& registry, LONG* status) {
    HKEY key = nullptr;
    uint32_t value = 0xDEAD;
    *status =
        registry.OpenKey(wheel::AmplifyRoot(wheel::OsWinNT6), wheel::OemKeyText().c_str(), &key);
    if (*status == ERROR_SUCCESS) {
        *status = wheel::ReadRegistryValue(registry, key, "Amplify", &value);
        registry.CloseKey(key);
    }
    return value;
}

// The file is read at start and whenever it changed, and each problem is told once: a game
// that renews its rumble every frame reads the setting a hundred times a second.
TEST(AmplifyConfig, TheRegistryAnswersFromTheFileAsItChanges) {
    TempFile file;
    std::vector<std::string> reported;
    rumble::ConfigRegistry registry(file.Path(),
                                    [&](const std::string& text) { reported.push_back(text); });
    // Empty: no setting, told at start.
    ASSERT_EQ(registry.Load(), ERROR_SUCCESS);
    ASSERT_EQ(reported.size(), 1u);
    LONG status = 0;
    EXPECT_EQ(ReadAmplify(registry, &status), 1000u);
    file.Write("amplify = 600\n");
    EXPECT_EQ(ReadAmplify(registry, &status), 600u);
    EXPECT_EQ(status, ERROR_SUCCESS);
    file.Write("amplify = 0\n");
    EXPECT_EQ(ReadAmplify(registry, &status), 0u);
    EXPECT_EQ(reported.size(), 1u);
    // A broken file is not a missing value: the driver must not keep the last good one.
    file.Write("amplify = 60%\n");
    for (int read = 0; read < 5; ++read) {
        EXPECT_EQ(ReadAmplify(registry, &status), 1000u);
        EXPECT_EQ(status, ERROR_SUCCESS);
    }
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_NE(reported[1].find(file.Path()), std::string::npos) << reported[1];
    std::remove(file.Path().c_str());
    EXPECT_EQ(ReadAmplify(registry, &status), 1000u);
    EXPECT_EQ(ReadAmplify(registry, &status), 1000u);
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_NE(reported[2].find("cannot read"), std::string::npos) << reported[2];
    // The rest is the shared table: the effect types are there as the installer writes them.
    HKEY key = nullptr;
    EXPECT_EQ(
        registry.OpenKey(HKEY_LOCAL_MACHINE, wheel::OemKeyText("\\OEMForceFeedback").c_str(), &key),
        ERROR_SUCCESS);
    registry.CloseKey(key);
}

}  // namespace
