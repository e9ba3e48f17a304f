#include "amplify_config.h"

#include <sys/stat.h>

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/wheel_ids.h"
#include "install/wheel_data.h"

namespace rumble {

namespace {

std::string Trim(const std::string& s) {
    const size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return "";
    }
    const size_t end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

AmplifySetting Default(const std::string& why) {
    AmplifySetting setting;
    setting.problem = why + "; using amplify = 1000 (unchanged)";
    return setting;
}

}  // namespace

AmplifySetting ParseAmplifyConfig(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    bool found = false;
    uint32_t value = kDefaultAmplify;
    while (std::getline(lines, line)) {
        ++number;
        const std::string where = "line " + std::to_string(number);
        const size_t hash = line.find('#');
        const std::string content = Trim(hash == std::string::npos ? line : line.substr(0, hash));
        if (content.empty()) {
            continue;
        }
        const size_t eq = content.find('=');
        if (eq == std::string::npos) {
            return Default(where + " is not \"amplify = N\"");
        }
        const std::string key = Trim(content.substr(0, eq));
        const std::string number_text = Trim(content.substr(eq + 1));
        if (strcasecmp(key.c_str(), "amplify") != 0) {
            return Default(where + ": unknown setting \"" + key + "\"");
        }
        if (found) {
            return Default(where + ": amplify is set twice");
        }
        if (number_text.empty() || number_text.size() > 5 ||
            number_text.find_first_not_of("0123456789") != std::string::npos) {
            return Default(where + ": \"" + number_text +
                           "\" is not a whole number from 0 to 1500");
        }
        const unsigned long v = std::stoul(number_text);
        if (v > kMaxAmplify) {
            return Default(where + ": " + number_text + " is above 1500 (150 %)");
        }
        value = static_cast<uint32_t>(v);
        found = true;
    }
    if (!found) {
        return Default("no \"amplify = N\" line");
    }
    AmplifySetting setting;
    setting.value = value;
    return setting;
}

AmplifySetting ReadAmplifyConfig(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        const int error = errno;
        return Default("cannot read " + path + " (" + std::strerror(error) + ")");
    }
    std::ostringstream text;
    text << file.rdbuf();
    AmplifySetting setting = ParseAmplifyConfig(text.str());
    if (!setting.problem.empty()) {
        setting.problem = path + ": " + setting.problem;
    }
    return setting;
}

ConfigRegistry::ConfigRegistry(std::string configPath,
                               std::function<void(const std::string&)> report)
    : path_(std::move(configPath)), report_(std::move(report)) {}

const AmplifySetting& ConfigRegistry::Current() {
    struct stat info = {};
    std::string stamp = "none";
    if (stat(path_.c_str(), &info) == 0) {
        stamp = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
                std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_ctim.tv_sec) +
                "." + std::to_string(info.st_ctim.tv_nsec);
    }
    if (!read_ || stamp != stamp_) {
        read_ = true;
        stamp_ = stamp;
        setting_ = ReadAmplifyConfig(path_);
        if (!setting_.problem.empty() && report_) {
            report_(setting_.problem);
        }
    }
    return setting_;
}

LONG ConfigRegistry::Load() {
    const LONG status = install::WriteWheelData(memory_);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Read now, so a problem with the file is told at start.
    Current();
    // The Effect page creates the user's OEM key when it stores Amplify; here it always exists,
    // so the driver's read reaches the file.
    HKEY key = nullptr;
    const LONG created = memory_.CreateKey(HKEY_CURRENT_USER, wheel::OemKeyText().c_str(), &key);
    if (created == ERROR_SUCCESS) {
        memory_.CloseKey(key);
    }
    return created;
}

LONG ConfigRegistry::OpenKey(HKEY root, const char* subKey, HKEY* result) {
    const LONG status = memory_.OpenKey(root, subKey, result);
    const bool hive = root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
    if (status == ERROR_SUCCESS && hive && subKey != nullptr &&
        strcasecmp(subKey, wheel::OemKeyText().c_str()) == 0) {
        oemKeys_.insert(*result);
    }
    return status;
}

LONG ConfigRegistry::CreateKey(HKEY root, const char* subKey, HKEY* result) {
    return memory_.CreateKey(root, subKey, result);
}

LONG ConfigRegistry::EnumKey(HKEY key, DWORD index, char* name, DWORD nameSize) {
    return memory_.EnumKey(key, index, name, nameSize);
}

LONG ConfigRegistry::QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                DWORD* dataSize) {
    if (oemKeys_.count(key) == 0 || valueName == nullptr || strcasecmp(valueName, "Amplify") != 0) {
        return memory_.QueryValue(key, valueName, type, data, dataSize);
    }
    const AmplifySetting setting = Current();
    // A REG_DWORD, with RegQueryValueEx's rules for the size.
    if (type != nullptr) {
        *type = REG_DWORD;
    }
    if (dataSize == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    const DWORD available = *dataSize;
    *dataSize = 4;
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (available < 4) {
        return ERROR_MORE_DATA;
    }
    for (int i = 0; i < 4; ++i) {
        data[i] = static_cast<BYTE>(setting.value >> (8 * i));
    }
    return ERROR_SUCCESS;
}

LONG ConfigRegistry::SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                              DWORD dataSize) {
    return memory_.SetValue(key, valueName, type, data, dataSize);
}

LONG ConfigRegistry::CloseKey(HKEY key) {
    oemKeys_.erase(key);
    return memory_.CloseKey(key);
}

}  // namespace rumble
