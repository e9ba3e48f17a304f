// The effect methods of the real dravik.dll, created through COM as DirectInput does, and the
// Amplify hive chosen by the Windows version Wine reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "win_test_util.h"

namespace {

class DravikEffects : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string path = wintest::DllPathFromEnv("WHEEL_DRAVIK_DLL");
        ASSERT_FALSE(path.empty());
        wintest::InstallWheelData();
        // Registered from the build folder for this test's own COM lookups.
        module_ = LoadLibraryA(path.c_str());
        ASSERT_NE(module_, nullptr);
        using Fn = HRESULT(STDAPICALLTYPE*)();
        auto registerServer = reinterpret_cast<Fn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_EQ(registerServer(), S_OK);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(
            CoCreateInstance(wheel::kDravikClsid, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDirectInputEffectDriver, reinterpret_cast<void**>(&driver_)),
            S_OK);
        effect_.dwSize = sizeof effect_;
        effect_.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTIDS;
        effect_.dwDuration = 1000000;
        effect_.dwGain = 10000;
        effect_.cAxes = 2;
        effect_.rgdwAxes = axes_;
        effect_.rglDirection = direction_;
        effect_.cbTypeSpecificParams = sizeof constant_;
        effect_.lpvTypeSpecificParams = &constant_;
    }
    void TearDown() override {
        if (driver_ != nullptr) {
            EXPECT_EQ(driver_->Release(), 0u);
        }
        CoUninitialize();
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    DWORD Status(DWORD handle) {
        DWORD status = 0xDEAD;
        EXPECT_EQ(driver_->GetEffectStatus(0, handle, &status), S_OK);
        return status;
    }

    HMODULE module_ = nullptr;
    IDirectInputEffectDriver* driver_ = nullptr;
    DWORD axes_[2] = {0x002, 0x102};
    LONG direction_[2] = {1, 0};
    DICONSTANTFORCE constant_ = {10000};
    DIEFFECT effect_ = {};
};

TEST_F(DravikEffects, DownloadUpdateStartStatusStopDestroy) {
    DWORD handle = 0;
    ASSERT_EQ(driver_->DownloadEffect(0, 0, &handle, &effect_, 0), S_OK);
    EXPECT_EQ(handle, 1u);
    EXPECT_EQ(Status(handle), 0u) << "downloaded, not started";

    ASSERT_EQ(driver_->StartEffect(0, handle, 0, 1), S_OK);
    EXPECT_EQ(Status(handle), DIEGES_PLAYING);

    // An update keeps the handle and the play state.
    effect_.dwGain = 5000;
    DWORD same = handle;
    EXPECT_EQ(driver_->DownloadEffect(0, 0, &same, &effect_, DIEP_GAIN), S_OK);
    EXPECT_EQ(same, handle);
    EXPECT_EQ(Status(handle), DIEGES_PLAYING);

    EXPECT_EQ(driver_->StopEffect(0, handle), S_OK);
    EXPECT_EQ(Status(handle), 0u);

    // DIEP_START downloads and starts in one call; the next free handle follows.
    DWORD second = 0;
    EXPECT_EQ(driver_->DownloadEffect(0, 3, &second, &effect_, DIEP_START), S_OK);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(Status(second), DIEGES_PLAYING);

    EXPECT_EQ(driver_->DestroyEffect(0, handle), S_OK);
    DWORD reused = 0;
    EXPECT_EQ(driver_->DownloadEffect(0, 0, &reused, &effect_, 0), S_OK);
    EXPECT_EQ(reused, 1u) << "a destroyed handle is the first free one again";
    EXPECT_EQ(driver_->SendForceFeedbackCommand(0, DISFFC_RESET), S_OK);
    EXPECT_EQ(Status(second), 0u);
}

TEST_F(DravikEffects, ErrorRows) {
    DWORD handle = 0;
    DWORD status = 0;
    DWORD tooHigh = 33;
    DIEFFECT noDirection = effect_;
    noDirection.rglDirection = nullptr;
    DIEFFECT strayBytes = effect_;
    strayBytes.cbTypeSpecificParams = 0;
    struct Row {
        const char* what;
        HRESULT result;
    };
    const Row rows[] = {
        {"device 16", driver_->DownloadEffect(16, 0, &handle, &effect_, 0)},
        {"type 12", driver_->DownloadEffect(0, 12, &handle, &effect_, 0)},
        {"no handle pointer", driver_->DownloadEffect(0, 0, nullptr, &effect_, 0)},
        {"no effect", driver_->DownloadEffect(0, 0, &handle, nullptr, 0)},
        {"handle 33", driver_->DownloadEffect(0, 0, &tooHigh, &effect_, 0)},
        {"axes without direction", driver_->DownloadEffect(0, 0, &handle, &noDirection, 0)},
        {"bytes without size", driver_->DownloadEffect(0, 0, &handle, &strayBytes, 0)},
        {"destroy 0", driver_->DestroyEffect(0, 0)},
        {"destroy 33", driver_->DestroyEffect(0, 33)},
        {"start 0", driver_->StartEffect(0, 0, 0, 1)},
        {"stop 33", driver_->StopEffect(0, 33)},
        {"status 0", driver_->GetEffectStatus(0, 0, &status)},
        {"status without pointer", driver_->GetEffectStatus(0, 1, nullptr)},
        {"gain 10001", driver_->SetGain(0, 10001)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.result, E_INVALIDARG) << row.what;
    }
    EXPECT_EQ(handle, 0u) << "nothing was stored";
    EXPECT_EQ(driver_->DownloadEffect(0, 0, &handle, &effect_, DIEP_NODOWNLOAD), S_OK);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(driver_->SendForceFeedbackCommand(0, DISFFC_RESET | DISFFC_STOPALL), E_NOTIMPL);
}

TEST_F(DravikEffects, ThirtyThreeEffectsDoNotFit) {
    for (DWORD expected = 1; expected <= 32; ++expected) {
        DWORD handle = 0;
        ASSERT_EQ(driver_->DownloadEffect(0, 0, &handle, &effect_, 0), S_OK);
        EXPECT_EQ(handle, expected);
    }
    DWORD handle = 0;
    EXPECT_EQ(driver_->DownloadEffect(0, 0, &handle, &effect_, 0), E_FAIL);
    EXPECT_EQ(handle, 0u);
    // Another device has slots of its own.
    EXPECT_EQ(driver_->DownloadEffect(1, 0, &handle, &effect_, 0), S_OK);
    EXPECT_EQ(handle, 1u);
}

void SetAmplify(HKEY root, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Amplify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
}

// The motor byte the probe ran into; a probe that failed (it exits above 255 then, naming the
// step) fails the test here instead of passing for a byte.
int ProbeByte(const std::string& probe) {
    const int code = wintest::Run("\"" + probe + "\"");
    static const char* const kSteps[] = {
        "writing the wheel data", "creating the driver",    "InitDriver",
        "binding the device",     "downloading the effect", "getting a report"};
    if (code < 0 || code > 254) {
        const int step = code - 256;
        ADD_FAILURE() << "the probe failed: "
                      << (step >= 0 && step < 6 ? kSteps[step]
                                                : "exit code " + std::to_string(code));
    }
    return code;
}

TEST(AmplifyUnderWine, ReadFromTheHiveOfTheRunningWindows) {
    const std::string probe = wintest::DllPathFromEnv("WHEEL_AMPLIFY_PROBE");
    ASSERT_FALSE(probe.empty());
    // Different strengths in the two hives: 500 -> level 63, 800 -> level 101.
    SetAmplify(HKEY_CURRENT_USER, 500);
    SetAmplify(HKEY_LOCAL_MACHINE, 800);
    struct Row {
        const char* version;
        int motorByte;
    };
    std::vector<Row> rows = {
        {"win7", 126}, {"win10", 126}, {"vista", 126}, {"winxp", 202}, {"win2k", 202}};
    if (sizeof(void*) == 4) {
        rows.push_back({"win98", 202});
    }
    for (const Row& row : rows) {
        ASSERT_TRUE(wintest::SetAppVersion("amplify_probe.exe", row.version));
        EXPECT_EQ(ProbeByte(probe), row.motorByte) << row.version;
    }
    // Without a value in the hive the driver uses, levels stay as they are.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "Amplify");
    RegCloseKey(key);
    ASSERT_TRUE(wintest::SetAppVersion("amplify_probe.exe", "win7"));
    EXPECT_EQ(ProbeByte(probe), 254);
    wintest::ClearAppVersion("amplify_probe.exe");
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, wheel::OemKey().c_str(), &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "Amplify");
    RegCloseKey(key);
}

}  // namespace
