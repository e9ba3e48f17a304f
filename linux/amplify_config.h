// The rumble intensity on Linux: the owner's config file stands in for the registry value
// `Amplify` that the Windows Effect page writes, and the driver reads it at every effect start
// through a registry stand-in that also holds the wheel's effect types from the shared table.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "common/registry.h"
#include "hosted/memory_registry.h"

namespace rumble {

inline constexpr uint32_t kDefaultAmplify = 1000;
// The Effect page's slider: 0 % to 150 %.
inline constexpr uint32_t kMaxAmplify = 1500;

struct AmplifySetting {
    uint32_t value = kDefaultAmplify;
    // Empty when the file set it; otherwise why the default is used.
    std::string problem;
};

// The file's text: lines "amplify = N" (N whole, 0 to 1500), blank lines and "#" comments.
// Anything else, a repeated or missing setting, gives the default and says why.
AmplifySetting ParseAmplifyConfig(const std::string& text);

// Reads and parses the file; one that cannot be read gives the default and says why.
AmplifySetting ReadAmplifyConfig(const std::string& path);

// The registry the driver sees: the wheel's registry data, and `Amplify` under the OEM key (in
// either hive) answered from the config file. The file is read at Load and again at a read of
// `Amplify` after it changed (its status differs), so an effect start costs a stat, not a parse;
// a problem with it is passed to `report` once per reading.
class ConfigRegistry final : public wheel::RegistryApi {
  public:
    ConfigRegistry(std::string configPath, std::function<void(const std::string&)> report);

    // Writes the shared table; a Win32 error code.
    LONG Load();

    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override;
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override;
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override;
    LONG CloseKey(HKEY key) override;

  private:
    // The setting, read again if the file changed since.
    const AmplifySetting& Current();

    std::string path_;
    std::function<void(const std::string&)> report_;
    bool read_ = false;
    // What identifies the file's version: existence, device, inode, size, change times.
    std::string stamp_;
    AmplifySetting setting_;
    hosted::MemoryRegistry memory_;
    // Handles open on the OEM key, whose Amplify comes from the file.
    std::set<HKEY> oemKeys_;
};

}  // namespace rumble
