// The registry as the libraries use it: the six ANSI calls behind an interface, so the same
// code runs against advapi32 on Windows and against an in-memory tree in tests.
#pragma once

#include <cstdint>

#include "platform.h"

namespace wheel {

class RegistryApi {
  public:
    virtual ~RegistryApi() = default;
    // Win32 semantics and error codes: RegOpenKeyA, RegCreateKeyA, RegEnumKeyA,
    // RegQueryValueExA, RegSetValueExA, RegCloseKey.
    virtual LONG OpenKey(HKEY root, const char* subKey, HKEY* result) = 0;
    virtual LONG CreateKey(HKEY root, const char* subKey, HKEY* result) = 0;
    virtual LONG EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) = 0;
    virtual LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                            DWORD* dataSize) = 0;
    virtual LONG SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                          DWORD dataSize) = 0;
    virtual LONG CloseKey(HKEY key) = 0;
};

// Owns an open key of one RegistryApi; closes it once.
class RegKey {
  public:
    RegKey() = default;
    RegKey(RegistryApi& api, HKEY key) : api_(&api), key_(key) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept : api_(other.api_), key_(other.key_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;
    ~RegKey() { Reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    void Reset();
    // Gives the key up without closing it, for routines that hand an open key to their caller.
    HKEY Detach() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }

  private:
    RegistryApi* api_ = nullptr;
    HKEY key_ = nullptr;
};

// Opens root\subKey, creating it when it is missing and `create` is set, and stores `text` as
// REG_SZ with its terminating NUL counted. A null valueName is the key's default value; a null
// text only opens or creates the key. Returns a Win32 error code.
LONG SetRegistryString(RegistryApi& api, HKEY root, const char* subKey, const char* valueName,
                       const char* text, bool create);

// Reads a value of up to four bytes as a little-endian number, whatever its registry type. A
// value longer than four bytes yields its first four bytes; the read never passes the buffer.
// On failure `value` is left as it was and the Win32 error code is returned.
LONG ReadRegistryValue(RegistryApi& api, HKEY key, const char* valueName, uint32_t* value);

}  // namespace wheel
