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

// One registry view (KEY_WOW64_64KEY or KEY_WOW64_32KEY), read-only: keys open with KEY_READ and
// every write is refused, so a program that only looks can never change what it looks at.
class Win32RegistryView final : public RegistryApi {
  public:
    explicit Win32RegistryView(REGSAM view) : view_(view) {}
    LONG OpenKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG CreateKey(HKEY root, const char* subKey, HKEY* result) override;
    LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) override;
    LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                    DWORD* dataSize) override;
    LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                  DWORD dataSize) override;
    LONG CloseKey(HKEY key) override;

  private:
    REGSAM view_;
};

}  // namespace wheel
