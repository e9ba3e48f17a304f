// The registry interface forwarded to advapi32.
#pragma once

#include "registry.h"

namespace wheel {

class Win32Registry final : public RegistryApi {
  public:
    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override;
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override;
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override;
    LONG CloseKey(HKEY key) override;
};

}  // namespace wheel
