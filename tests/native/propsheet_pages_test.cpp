// The Test and Effect pages' decisions: which indicators a reading redraws, the rumble effect
// for an X/Y position, and Amplify's hive and the slider position shown for it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/wheel_ids.h"
#include "hosted/memory_registry.h"
#include "propsheet/pages.h"

namespace velquin {
namespace {

DIJOYSTATE Zero() {
    DIJOYSTATE state;
    std::memset(&state, 0, sizeof state);
    return state;
}

std::string Describe(const TestTickPlan& plan) {
    std::string text;
    for (int i = 0; i < kShownButtons; ++i) {
        if (plan.lamp[i]) {
            text += "lamp" + std::to_string(i + 1) + " ";
        }
    }
    text += plan.axesXY ? "xy " : "";
    text += plan.axesZRz ? "zrz " : "";
    text += plan.pov ? "pov " : "";
    return text;
}

TEST(PropsheetTestTick, OnlyTheChangedIndicatorsAreRedrawn) {
    struct Row {
        const char* what;
        void (*change)(DIJOYSTATE&);
        const char* redrawn;
    };
    const Row rows[] = {
        {"nothing", [](DIJOYSTATE&) {}, ""},
        {"button 1 pressed", [](DIJOYSTATE& s) { s.rgbButtons[0] = 0x80; }, "lamp1 "},
        {"button 12 pressed", [](DIJOYSTATE& s) { s.rgbButtons[11] = 0x80; }, "lamp12 "},
        {"button 13 is never shown", [](DIJOYSTATE& s) { s.rgbButtons[12] = 0x80; }, ""},
        {"button 32 is never shown", [](DIJOYSTATE& s) { s.rgbButtons[31] = 0x80; }, ""},
        {"X", [](DIJOYSTATE& s) { s.lX = 1; }, "xy "},
        {"Y", [](DIJOYSTATE& s) { s.lY = 65535; }, "xy "},
        {"Z alone redraws box 1014 alone", [](DIJOYSTATE& s) { s.lZ = 40000; }, "zrz "},
        {"Rz", [](DIJOYSTATE& s) { s.lRz = 2; }, "zrz "},
        {"Rx, Ry and the sliders are not shown",
         [](DIJOYSTATE& s) {
             s.lRx = 5;
             s.lRy = 6;
             s.rglSlider[0] = 7;
         },
         ""},
        {"hat", [](DIJOYSTATE& s) { s.rgdwPOV[0] = 9000; }, "pov "},
        {"the other hats are not shown", [](DIJOYSTATE& s) { s.rgdwPOV[1] = 9000; }, ""},
        {"several at once",
         [](DIJOYSTATE& s) {
             s.rgbButtons[2] = 1;
             s.lX = 3;
             s.rgdwPOV[0] = 0xFFFFFFFF;
         },
         "lamp3 xy pov "},
    };
    for (const Row& row : rows) {
        DIJOYSTATE reading = Zero();
        row.change(reading);
        const TestTickPlan plan = PlanTestTick(Zero(), reading);
        EXPECT_EQ(Describe(plan), row.redrawn) << row.what;
        EXPECT_EQ(plan.Any(), std::string(row.redrawn) != "") << row.what;
    }
}

// The remembered state starts at zero: a hat held straight up on the first tick is not drawn,
// a centred one is (and draws no arrow).
TEST(PropsheetTestTick, FirstTickComparesWithZero) {
    DIJOYSTATE up = Zero();
    up.rgdwPOV[0] = 0;
    EXPECT_FALSE(PlanTestTick(Zero(), up).pov);
    DIJOYSTATE centred = Zero();
    centred.rgdwPOV[0] = 0xFFFFFFFF;
    EXPECT_TRUE(PlanTestTick(Zero(), centred).pov);
}

TEST(PropsheetTestTick, ReleasedButtonIsRedrawnDarkRed) {
    DIJOYSTATE pressed = Zero();
    pressed.rgbButtons[0] = 0x80;
    const TestTickPlan plan = PlanTestTick(pressed, Zero());
    EXPECT_EQ(Describe(plan), "lamp1 ");
    EXPECT_EQ(LampColour(0), 0x000080u);
    for (BYTE pressedByte : {BYTE{1}, BYTE{0x7F}, BYTE{0x80}, BYTE{0xFF}}) {
        EXPECT_EQ(LampColour(pressedByte), 0x0000FFu) << int{pressedByte};
    }
}

TEST(PropsheetRumble, AxesBecomeDirectionAndMagnitude) {
    struct Row {
        LONG lX, lY;
        LONG x, y;
        LONG dx, dy;
        LONG magnitude;
    };
    const Row rows[] = {
        {32768, 32768, 0, 0, 0, 0, 0},
        {0, 65535, -10000, 9999, 10000, 9999, 14141},
        {65535, 0, 9999, -10000, 9999, 10000, 14141},
        {0, 32768, -10000, 0, 10000, 0, 10000},
        {16384, 32768, -5000, 0, 5000, 0, 5000},
        {49152, 32768, 5000, 0, 5000, 0, 5000},
        {32768 + 3277, 32768 - 3277, 1000, -1000, 1000, 1000, 1414},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.lX) + "," + std::to_string(row.lY));
        const RumbleVector v = RumbleFromAxes(row.lX, row.lY);
        EXPECT_EQ(v.x, row.x);
        EXPECT_EQ(v.y, row.y);
        EXPECT_EQ(v.direction[0], row.dx);
        EXPECT_EQ(v.direction[1], row.dy);
        EXPECT_EQ(v.magnitude, row.magnitude);
    }
}

TEST(PropsheetRumble, CreatedEffectIsAnEndlessSilentConstantForceOnXAndY) {
    RumbleParams p;
    MakeRumbleEffect(&p);
    const DIEFFECT& e = p.effect;
    EXPECT_EQ(e.dwSize, sizeof(DIEFFECT));
    EXPECT_EQ(e.dwFlags, 0x12u);
    EXPECT_EQ(e.dwDuration, 0xFFFFFFFFu);
    EXPECT_EQ(e.dwSamplePeriod, 0u);
    EXPECT_EQ(e.dwGain, 10000u);
    EXPECT_EQ(e.dwTriggerButton, 0xFFFFFFFFu);
    EXPECT_EQ(e.dwTriggerRepeatInterval, 0u);
    ASSERT_EQ(e.cAxes, 2u);
    EXPECT_EQ(e.rgdwAxes[0], 0u);
    EXPECT_EQ(e.rgdwAxes[1], 4u);
    EXPECT_EQ(e.rglDirection[0], 0);
    EXPECT_EQ(e.rglDirection[1], 0);
    EXPECT_EQ(e.lpEnvelope, nullptr);
    ASSERT_EQ(e.cbTypeSpecificParams, 4u);
    EXPECT_EQ(static_cast<const DICONSTANTFORCE*>(e.lpvTypeSpecificParams)->lMagnitude, 0);
    EXPECT_EQ(e.dwStartDelay, 0u);
}

TEST(PropsheetRumble, UpdateCarriesDirectionAndMagnitude) {
    EXPECT_EQ(kRumbleUpdateFlags, 0x20000140u);
    RumbleParams p;
    MakeRumbleUpdate(RumbleFromAxes(0, 65535), &p);
    const DIEFFECT& e = p.effect;
    EXPECT_EQ(e.dwSize, sizeof(DIEFFECT));
    EXPECT_EQ(e.dwFlags, 0x12u);
    ASSERT_EQ(e.cAxes, 2u);
    EXPECT_EQ(e.rglDirection[0], 10000);
    EXPECT_EQ(e.rglDirection[1], 9999);
    EXPECT_EQ(e.lpEnvelope, nullptr);
    ASSERT_EQ(e.cbTypeSpecificParams, 4u);
    EXPECT_EQ(static_cast<const DICONSTANTFORCE*>(e.lpvTypeSpecificParams)->lMagnitude, 14141);
}

// Amplify

const std::string kOemKey = wheel::OemKey();

TEST(PropsheetAmplify, WrittenAsDwordUnderTheHiveOfTheWindowsVersion) {
    struct Row {
        wheel::OsClass os;
        HKEY hive;
        HKEY other;
    };
    const Row rows[] = {
        {wheel::OsWinNT6, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
        {wheel::OsWinXP, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {wheel::OsWin2000, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {wheel::OsWin98, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {wheel::OsUnknown, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.os));
        hosted::MemoryRegistry registry;
        registry.PutValue(HKEY_CURRENT_USER, kOemKey, "Other", REG_SZ, "x", 2);
        registry.PutValue(HKEY_LOCAL_MACHINE, kOemKey, "Other", REG_SZ, "x", 2);
        LONG written = -1;
        EXPECT_EQ(WriteAmplify(registry, row.os, 1500, &written), ERROR_SUCCESS);
        EXPECT_EQ(written, ERROR_SUCCESS);
        hosted::MemoryRegistry::Value value;
        ASSERT_TRUE(registry.GetValue(row.hive, kOemKey, "Amplify", &value));
        EXPECT_EQ(value.type, REG_DWORD);
        EXPECT_EQ(value.data, (std::vector<BYTE>{0xDC, 0x05, 0, 0}));
        EXPECT_FALSE(registry.GetValue(row.other, kOemKey, "Amplify", &value));

        uint32_t read = 0;
        EXPECT_EQ(ReadAmplify(registry, row.os, &read), ERROR_SUCCESS);
        EXPECT_EQ(read, 1500u);
        EXPECT_EQ(registry.OpenHandles(), 0u);
    }
}

TEST(PropsheetAmplify, MissingMachineKeyIsNeitherCreatedNorWritten) {
    hosted::MemoryRegistry registry;
    EXPECT_NE(WriteAmplify(registry, wheel::OsWinXP, 700), ERROR_SUCCESS);
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kOemKey));
    uint32_t value = 1234;
    EXPECT_NE(ReadAmplify(registry, wheel::OsWinXP, &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1234u);
    EXPECT_NE(ReadAmplify(registry, wheel::OsWinNT6, &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1234u);
}

// Nothing installs the per-user key; the first Apply of each user makes it.
TEST(PropsheetAmplify, MissingUserKeyIsCreatedSoTheSettingIsKept) {
    hosted::MemoryRegistry registry;
    EXPECT_EQ(WriteAmplify(registry, wheel::OsWinNT6, 700), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(ReadAmplify(registry, wheel::OsWinNT6, &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 700u);
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kOemKey));
    hosted::MemoryRegistry locked;
    locked.SetReadOnly(HKEY_CURRENT_USER, true);
    EXPECT_EQ(WriteAmplify(locked, wheel::OsWinNT6, 700), ERROR_ACCESS_DENIED);
    EXPECT_EQ(locked.OpenHandles(), 0u);
}

// What the slider shows: the stored value within its range, unchanged strength when nothing
// can be read.
TEST(PropsheetAmplify, SliderPositionForWhatIsStored) {
    struct Row {
        const char* what;
        bool keyExists;
        std::vector<BYTE> data;
        DWORD type;
        int position;
    };
    const Row rows[] = {
        {"no key", false, {}, REG_NONE, 1000},
        {"no value", true, {}, REG_NONE, 1000},
        {"1500", true, {0xDC, 0x05, 0, 0}, REG_DWORD, 1500},
        {"0", true, {0, 0, 0, 0}, REG_DWORD, 0},
        {"above the range", true, {0xD0, 0x07, 0, 0}, REG_DWORD, 1500},
        {"binary, read as the driver reads it", true, {0x20, 0x03}, REG_BINARY, 800},
        {"longer than four bytes", true, {0x58, 0x02, 0, 0, 9, 9}, REG_BINARY, 600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        hosted::MemoryRegistry registry;
        if (row.keyExists) {
            registry.PutValue(HKEY_CURRENT_USER, kOemKey, "Other", REG_SZ, "x", 2);
        }
        if (row.type != REG_NONE) {
            registry.PutValue(HKEY_CURRENT_USER, kOemKey, "Amplify", row.type, row.data.data(),
                              row.data.size());
        }
        uint32_t value = 0;
        const LONG read = ReadAmplify(registry, wheel::OsWinNT6, &value);
        EXPECT_EQ(IntensityFor(read, value), row.position);
    }
}

}  // namespace
}  // namespace velquin
