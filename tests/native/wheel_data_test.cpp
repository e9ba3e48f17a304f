// The wheel's identity, its key names, and the installation data that the driver and the
// control panel read back.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "common/wheel_ids.h"
#include "ffdriver/effect_types.h"
#include "hosted/memory_registry.h"
#include "install/wheel_data.h"

namespace {

TEST(WheelIds, NamesAreFormattedFromTheVendorAndProductIds) {
    EXPECT_EQ(wheel::VidPidName(), "VID_2D71&PID_5A08");
    EXPECT_EQ(wheel::GuidString(wheel::kVelquinClsid), "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}");
    EXPECT_EQ(wheel::GuidString(wheel::kDravikClsid), "{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");
    EXPECT_EQ(wheel::ClsidKey(wheel::kDravikClsid),
              "CLSID\\{41C7A5E3-2D71-5A08-8B6D-20F94E7C13A5}");
    EXPECT_STREQ(wheel::ClsidKeyText(wheel::kVelquinClsid, "\\InProcHandler32").c_str(),
                 "CLSID\\{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}\\InProcHandler32");
    EXPECT_EQ(wheel::OemForceFeedbackKey(),
              "SYSTEM\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\"
              "OEM\\VID_2D71&PID_5A08\\OEMForceFeedback");
    // As REG_BINARY: the first three fields little-endian, then the eight bytes as they are.
    EXPECT_EQ(install::GuidBinaryHex(wheel::kDravikClsid), "E3A5C741712D085A8B6D20F94E7C13A5");
}

TEST(WheelIds, EffectGuidsDifferOnlyInTheTypeDigit) {
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        const std::string text = wheel::GuidString(dravik::EffectTypeGuid(type));
        const char digit = "0123456789AB"[type];
        EXPECT_EQ(text, std::string("{13541C2") + digit + "-8E33-11D0-9AD0-00A0C9A06E35}");
        GUID parsed = {};
        ASSERT_TRUE(wheel::ParseGuid(text, &parsed));
        EXPECT_TRUE(parsed == dravik::EffectTypeGuid(type));
        // The key the driver reads, built without allocating.
        EXPECT_EQ(wheel::EffectTypeKeyText(dravik::EffectTypeGuid(type)).c_str(),
                  wheel::OemEffectsKey() + "\\" + text);
    }
}

TEST(WheelIds, GuidParsingRejectsMalformedText) {
    const char* const bad[] = {
        "",
        "6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F",
        "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86}",
        "{6E3D9B27-2D71-5A08-94C2_5B07E1A3D86F}",
        "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86G}",
        "{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}x",
    };
    for (const char* text : bad) {
        GUID guid = {};
        EXPECT_FALSE(wheel::ParseGuid(text, &guid)) << text;
    }
    GUID guid = {};
    ASSERT_TRUE(wheel::ParseGuid("{6e3d9b27-2d71-5a08-94c2-5b07e1a3d86f}", &guid));
    EXPECT_TRUE(guid == wheel::kVelquinClsid);
}

TEST(WheelData, InstallsTheOemKeyAndTwelveEffectTypesTheDriverReads) {
    hosted::MemoryRegistry registry;
    ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
    EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE, wheel::OemKey(), "OEMName"),
              "USB Vibration Racing Wheel");
    EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE, wheel::OemKey(), "ConfigCLSID"),
              wheel::GuidString(wheel::kVelquinClsid));
    EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE, wheel::OemForceFeedbackKey(), "CLSID"),
              wheel::GuidString(wheel::kDravikClsid));
    EXPECT_EQ(registry.SubKeys(HKEY_LOCAL_MACHINE, wheel::OemEffectsKey()).size(), 12u);

    std::set<uint32_t> ids;
    for (uint32_t type = 0; type < dravik::kEffectTypeCount; ++type) {
        DIEFFECTATTRIBUTES attributes = {};
        ASSERT_TRUE(dravik::ReadEffectAttributes(registry, type, &attributes)) << type;
        EXPECT_EQ(attributes.dwEffectId, type);
        EXPECT_EQ(attributes.dwCoords, 0x30u) << "Cartesian and polar";
        ids.insert(attributes.dwEffectId);
        const std::string key =
            wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(type));
        EXPECT_EQ(registry.GetString(HKEY_LOCAL_MACHINE, key, ""), dravik::EffectTypeName(type));
    }
    EXPECT_EQ(ids.size(), 12u);

    // X and Y carry the motors: DIOBJECTATTRIBUTES with the actuator and position flags and
    // their HID usages, and DIFFOBJECTATTRIBUTES with a force and each motor's steps.
    struct Axis {
        const char* key;
        std::vector<uint8_t> attributes;
        std::vector<uint8_t> ffAttributes;
    };
    const Axis axes[] = {
        {"0", {0x01, 0x01, 0, 0, 0x01, 0, 0x30, 0}, {1, 0, 0, 0, 127, 0, 0, 0}},
        {"1", {0x01, 0x01, 0, 0, 0x01, 0, 0x31, 0}, {1, 0, 0, 0, 1, 0, 0, 0}},
    };
    EXPECT_EQ(registry.SubKeys(HKEY_LOCAL_MACHINE, wheel::OemAxesKey()),
              (std::vector<std::string>{"0", "1"}));
    for (const Axis& axis : axes) {
        const std::string key = wheel::OemAxesKey() + "\\" + axis.key;
        hosted::MemoryRegistry::Value value;
        ASSERT_TRUE(registry.GetValue(HKEY_LOCAL_MACHINE, key, "Attributes", &value)) << key;
        EXPECT_EQ(value.type, REG_BINARY);
        EXPECT_EQ(value.data, axis.attributes) << key;
        ASSERT_TRUE(registry.GetValue(HKEY_LOCAL_MACHINE, key, "FFAttributes", &value)) << key;
        EXPECT_EQ(value.data, axis.ffAttributes) << key;
    }
    EXPECT_EQ(registry.OpenHandles(), 0u) << "every key opened is closed";
}

TEST(WheelData, AttributesReadIntoTheEntryAndNoFurther) {
    hosted::MemoryRegistry registry;
    ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
    const std::string key =
        wheel::OemEffectsKey() + "\\" + wheel::GuidString(dravik::EffectTypeGuid(3));
    // A longer value fills the entry; what lies beyond stays untouched.
    uint8_t longer[28];
    for (int i = 0; i < 28; ++i) {
        longer[i] = static_cast<uint8_t>(i + 1);
    }
    registry.PutValue(HKEY_LOCAL_MACHINE, key, "Attributes", REG_BINARY, longer, sizeof longer);
    struct {
        DIEFFECTATTRIBUTES entry;
        uint8_t guard[8];
    } box;
    std::memset(&box, 0xEE, sizeof box);
    ASSERT_TRUE(dravik::ReadEffectAttributes(registry, 3, &box.entry));
    EXPECT_EQ(box.entry.dwEffectId, 0x04030201u);
    for (uint8_t byte : box.guard) {
        EXPECT_EQ(byte, 0xEE);
    }
    registry.DeleteValue(HKEY_LOCAL_MACHINE, key, "Attributes");
    EXPECT_FALSE(dravik::ReadEffectAttributes(registry, 3, &box.entry));
    EXPECT_FALSE(dravik::ReadEffectAttributes(registry, 12, &box.entry));
    EXPECT_FALSE(dravik::ReadEffectAttributes(registry, 0, nullptr));
}

TEST(WheelData, RegFileCarriesEveryValueOfTheTable) {
    const std::string reg = install::WheelDataRegFile();
    EXPECT_EQ(reg.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_NE(reg.find("\"OEMName\"=\"USB Vibration Racing Wheel\""), std::string::npos);
    EXPECT_NE(reg.find("\"ConfigCLSID\"=\"{6E3D9B27-2D71-5A08-94C2-5B07E1A3D86F}\""),
              std::string::npos);
    // Constant force: id 0, constant class with attack and fade.
    EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\" + wheel::OemEffectsKey() +
                       "\\{13541C20-8E33-11D0-9AD0-00A0C9A06E35}]"),
              std::string::npos);
    size_t attributes = 0;
    for (size_t at = reg.find("\"Attributes\"=hex:"); at != std::string::npos;
         at = reg.find("\"Attributes\"=hex:", at + 1)) {
        ++attributes;
    }
    EXPECT_EQ(attributes, 15u) << "the two axes', the device's and the twelve effects'";
}

TEST(WheelData, EveryFormEscapesWhatItsStringsNeed) {
    struct Case {
        const char* text;
        const char* reg;
        const char* nsis;
    };
    const Case cases[] = {
        {"USB Wheel", R"("USB Wheel")", R"("USB Wheel")"},
        {R"(say "hi")", R"("say \"hi\"")", R"("say $\"hi$\"")"},
        {R"(C:\dir\)", R"("C:\\dir\\")", R"("C:\dir\")"},
        {"$INSTDIR costs $5", R"("$INSTDIR costs $5")", R"("$$INSTDIR costs $$5")"},
        {R"($\"$)", R"("$\\\"$")", R"("$$\$\"$$")"},
        {"two\r\nlines\t", "\"two\r\nlines\t\"", R"("two$\r$\nlines$\t")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(install::RegQuote(c.text), c.reg) << c.text;
        EXPECT_EQ(install::NsisQuote(c.text), c.nsis) << c.text;
    }

    // Every string of every form goes through them: key, value name and data alike.
    const std::string data = R"(C:\x\"$y)";
    const std::vector<install::RegEntry> entries = {
        {HKEY_LOCAL_MACHINE, R"(Key\$Sub)", R"(Na"me)", REG_SZ,
         std::vector<uint8_t>(data.c_str(), data.c_str() + data.size() + 1)},
    };
    EXPECT_NE(install::WheelDataRegFile(entries).find(R"("Na\"me"="C:\\x\\\"$y")"),
              std::string::npos)
        << install::WheelDataRegFile(entries);
    EXPECT_NE(install::WheelDataNsisInstall(entries).find(
                  R"(WriteRegStr HKLM "Key\$$Sub" "Na$\"me" "C:\x\$\"$$y")"),
              std::string::npos)
        << install::WheelDataNsisInstall(entries);
    EXPECT_NE(install::WheelDataNsisUninstall(entries).find(
                  R"(DeleteRegValue HKLM "Key\$$Sub" "Na$\"me")"),
              std::string::npos)
        << install::WheelDataNsisUninstall(entries);
}

}  // namespace
