#include "win_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/registry_win32.h"
#include "install/wheel_data.h"

namespace wintest {

std::string DllPathFromEnv(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return {};
    }
    std::string path = value;
    if (path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

namespace {

int WaitForExit(const PROCESS_INFORMATION& process, DWORD timeoutMs) {
    WaitForSingleObject(process.hProcess, timeoutMs);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int Run(const std::string& commandLine, DWORD timeoutMs) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    return WaitForExit(process, timeoutMs);
}

int RunWithOutput(const std::wstring& commandLine, HANDLE output, DWORD timeoutMs) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    return WaitForExit(process, timeoutMs);
}

std::string ReadString(HKEY root, const std::string& key, const char* valueName) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return {};
    }
    char buffer[2048] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(handle, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::string(buffer) : std::string();
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

void DeleteTree(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
        return;
    }
    char name[512];
    while (RegEnumKeyA(handle, 0, name, sizeof name) == ERROR_SUCCESS) {
        DeleteTree(handle, name);
    }
    RegCloseKey(handle);
    RegDeleteKeyA(root, key.c_str());
}

void InstallWheelData() {
    wheel::Win32Registry registry;
    ASSERT_EQ(install::WriteWheelData(registry), ERROR_SUCCESS);
}

namespace {
std::string AppDefaultsKey(const std::string& exeName) {
    return "Software\\Wine\\AppDefaults\\" + exeName;
}
}  // namespace

bool SetAppVersion(const std::string& exeName, const char* version) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, AppDefaultsKey(exeName).c_str(), &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result =
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(std::strlen(version) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void ClearAppVersion(const std::string& exeName) {
    DeleteTree(HKEY_CURRENT_USER, AppDefaultsKey(exeName));
}

std::vector<std::string> DumpTree(HKEY root, const std::string& key) {
    std::vector<std::string> lines;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return lines;
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(handle, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        std::string line = key + "|" + name + "|" + std::to_string(type) + "|";
        for (DWORD b = 0; b < dataSize; ++b) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", data[b]);
            line += hex;
        }
        lines.push_back(line);
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        if (RegEnumKeyA(handle, i, name, sizeof name) != ERROR_SUCCESS) {
            break;
        }
        const auto below = DumpTree(root, key + "\\" + name);
        lines.insert(lines.end(), below.begin(), below.end());
    }
    RegCloseKey(handle);
    return lines;
}

}  // namespace wintest
