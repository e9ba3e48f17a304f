#include "registry.h"

#include <cstring>
#include <memory>
#include <new>

namespace wheel {

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Reset();
        api_ = other.api_;
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

void RegKey::Reset() {
    if (key_ != nullptr && api_ != nullptr) {
        api_->CloseKey(key_);
    }
    key_ = nullptr;
}

LONG SetRegistryString(RegistryApi& api, HKEY root, const char* subKey, const char* valueName,
                       const char* text, bool create) {
    HKEY raw = nullptr;
    LONG result = api.OpenKey(root, subKey, &raw);
    if (result == ERROR_FILE_NOT_FOUND) {
        if (!create) {
            return result;
        }
        result = api.CreateKey(root, subKey, &raw);
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    RegKey key(api, raw);
    if (text == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(text) + 1);
    return api.SetValue(key.get(), valueName, REG_SZ, reinterpret_cast<const BYTE*>(text), length);
}

LONG ReadRegistryValue(RegistryApi& api, HKEY key, const char* valueName, uint32_t* value) {
    BYTE buffer[4] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    LONG result = api.QueryValue(key, valueName, &type, buffer, &size);
    if (result == ERROR_MORE_DATA) {
        // A longer value reports its full length and leaves the small buffer undefined: read it
        // whole and take its first four bytes.
        std::unique_ptr<BYTE[]> whole(new (std::nothrow) BYTE[size]);
        if (!whole) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        DWORD wholeSize = size;
        result = api.QueryValue(key, valueName, &type, whole.get(), &wholeSize);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        size = wholeSize < sizeof buffer ? wholeSize : static_cast<DWORD>(sizeof buffer);
        std::memcpy(buffer, whole.get(), size);
    } else if (result != ERROR_SUCCESS) {
        return result;
    }
    uint32_t number = 0;
    for (DWORD i = size; i > 0; --i) {
        number = (number << 8) + buffer[i - 1];
    }
    *value = number;
    return ERROR_SUCCESS;
}

}  // namespace wheel
