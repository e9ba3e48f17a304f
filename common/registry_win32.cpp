#include "registry_win32.h"

namespace wheel {

LONG Win32Registry::OpenKey(HKEY root, const char* subKey, HKEY* result) {
    return RegOpenKeyA(root, subKey, result);
}

LONG Win32Registry::CreateKey(HKEY root, const char* subKey, HKEY* result) {
    return RegCreateKeyA(root, subKey, result);
}

LONG Win32Registry::EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) {
    return RegEnumKeyA(key, index, name, nameSize);
}

LONG Win32Registry::QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                               DWORD* dataSize) {
    return RegQueryValueExA(key, valueName, nullptr, type, data, dataSize);
}

LONG Win32Registry::SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                             DWORD dataSize) {
    return RegSetValueExA(key, valueName, 0, type, data, dataSize);
}

LONG Win32Registry::CloseKey(HKEY key) {
    return RegCloseKey(key);
}

LONG Win32RegistryView::OpenKey(HKEY root, const char* subKey, HKEY* result) {
    return RegOpenKeyExA(root, subKey, 0, KEY_READ | view_, result);
}

LONG Win32RegistryView::CreateKey(HKEY, const char*, HKEY* result) {
    if (result != nullptr) {
        *result = nullptr;
    }
    return ERROR_ACCESS_DENIED;
}

LONG Win32RegistryView::EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) {
    return RegEnumKeyA(key, index, name, nameSize);
}

LONG Win32RegistryView::QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                   DWORD* dataSize) {
    return RegQueryValueExA(key, valueName, nullptr, type, data, dataSize);
}

LONG Win32RegistryView::SetValue(HKEY, const char*, DWORD, const BYTE*, DWORD) {
    return ERROR_ACCESS_DENIED;
}

LONG Win32RegistryView::CloseKey(HKEY key) {
    return RegCloseKey(key);
}

}  // namespace wheel
