#include "wheel_script.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>

namespace cplhost {

namespace {

using Json = nlohmann::json;

class Parser {
  public:
    explicit Parser(std::string* error) : error_(error) {}

    bool Frames(const Json& root, std::vector<hosted::WheelFrame>* frames, JOYRANGE* stored) {
        if (!root.is_object()) {
            return Fail("the script", "must be an object");
        }
        for (const auto& item : root.items()) {
            if (item.key() != "frames" && item.key() != "calibration") {
                return Fail(item.key(), "unknown field");
            }
        }
        if (const auto calibration = root.find("calibration"); calibration != root.end()) {
            JOYRANGE range = {};
            if (!Calibration(*calibration, &range)) {
                return false;
            }
            if (stored != nullptr) {
                *stored = range;
            }
        }
        const auto list = root.find("frames");
        if (list == root.end() || !list->is_array()) {
            return Fail("frames", "must be an array");
        }
        frames->clear();
        uint32_t last = 0;
        for (size_t i = 0; i < list->size(); ++i) {
            hosted::WheelFrame frame;
            if (!Frame((*list)[i], "frames[" + std::to_string(i) + "]", &frame)) {
                return false;
            }
            if (frame.atMs < last) {
                return Fail("frames[" + std::to_string(i) + "].at_ms",
                            "goes back in time (" + std::to_string(last) + " before it)");
            }
            last = frame.atMs;
            frames->push_back(frame);
        }
        return true;
    }

  private:
    // {"min": [x, y, z, r], "center": [...], "max": [...]}, each 0..255.
    bool Calibration(const Json& object, JOYRANGE* range) {
        if (!object.is_object()) {
            return Fail("calibration", "must be an object");
        }
        for (const auto& item : object.items()) {
            if (item.key() != "min" && item.key() != "center" && item.key() != "max") {
                return Fail("calibration." + item.key(), "unknown field");
            }
        }
        for (auto [name, pos] :
             {std::pair{"min", &range->jpMin}, std::pair{"center", &range->jpCenter},
              std::pair{"max", &range->jpMax}}) {
            const std::string where = std::string("calibration.") + name;
            const auto list = object.find(name);
            if (list == object.end()) {
                return Fail(where, "is required");
            }
            if (!list->is_array() || list->size() != 4) {
                return Fail(where, "must be four numbers: X, Y, Z, R");
            }
            DWORD* members[] = {&pos->dwX, &pos->dwY, &pos->dwZ, &pos->dwR};
            for (size_t i = 0; i < 4; ++i) {
                int64_t number = 0;
                if (!Integer((*list)[i], where, 0, 255, &number)) {
                    return false;
                }
                *members[i] = static_cast<DWORD>(number);
            }
        }
        return true;
    }

    bool Frame(const Json& object, const std::string& where, hosted::WheelFrame* frame) {
        if (!object.is_object()) {
            return Fail(where, "must be an object");
        }
        static const std::initializer_list<const char*> kFields = {"at_ms",
                                                                   "x",
                                                                   "y",
                                                                   "z",
                                                                   "rz",
                                                                   "pov",
                                                                   "buttons",
                                                                   "connected",
                                                                   "create_effect_fails",
                                                                   "get_config_fails",
                                                                   "acquire_already"};
        for (const auto& item : object.items()) {
            bool known = false;
            for (const char* field : kFields) {
                known = known || item.key() == field;
            }
            if (!known) {
                return Fail(where + "." + item.key(), "unknown field");
            }
        }
        const auto at = object.find("at_ms");
        if (at == object.end()) {
            return Fail(where + ".at_ms", "is required");
        }
        int64_t number = 0;
        if (!Integer(*at, where + ".at_ms", 0, UINT32_MAX, &number)) {
            return false;
        }
        frame->atMs = static_cast<uint32_t>(number);
        for (auto [name, axis] : {std::pair{"x", &frame->x}, std::pair{"y", &frame->y},
                                  std::pair{"z", &frame->z}, std::pair{"rz", &frame->rz}}) {
            const auto value = object.find(name);
            if (value == object.end()) {
                continue;
            }
            if (!Integer(*value, where + "." + name, 0, 65535, &number)) {
                return false;
            }
            *axis = static_cast<int32_t>(number);
        }
        if (const auto pov = object.find("pov"); pov != object.end()) {
            if (!Integer(*pov, where + ".pov", -1, 35999, &number)) {
                return false;
            }
            frame->pov = number < 0 ? hosted::kPovCentred : static_cast<uint32_t>(number);
        }
        if (const auto buttons = object.find("buttons"); buttons != object.end()) {
            if (!buttons->is_array()) {
                return Fail(where + ".buttons", "must be an array of button numbers");
            }
            std::vector<int> pressed;
            for (const Json& button : *buttons) {
                if (!Integer(button, where + ".buttons", 1, hosted::kWheelButtons, &number)) {
                    return false;
                }
                pressed.push_back(static_cast<int>(number));
            }
            uint32_t mask = 0;
            hosted::ButtonMask(pressed, &mask);
            frame->buttons = mask;
        }
        for (auto [name, flag] : {std::pair{"connected", &frame->connected},
                                  std::pair{"create_effect_fails", &frame->createEffectFails},
                                  std::pair{"get_config_fails", &frame->getConfigFails},
                                  std::pair{"acquire_already", &frame->acquireAlready}}) {
            const auto value = object.find(name);
            if (value == object.end()) {
                continue;
            }
            // get_config_fails may also count: the next N reads fail.
            if (flag == &frame->getConfigFails && value->is_number()) {
                if (!Integer(*value, where + "." + name, 0, UINT32_MAX, &number)) {
                    return false;
                }
                frame->getConfigFailures = static_cast<uint32_t>(number);
                continue;
            }
            if (!value->is_boolean()) {
                return Fail(where + "." + name, flag == &frame->getConfigFails
                                                    ? "must be true, false or a count of reads"
                                                    : "must be true or false");
            }
            *flag = value->get<bool>();
        }
        return true;
    }

    bool Integer(const Json& value, const std::string& where, int64_t lo, int64_t hi,
                 int64_t* out) {
        if (!value.is_number_integer()) {
            return Fail(where, "must be a whole number");
        }
        const int64_t number =
            value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                ? INT64_MAX
                : value.get<int64_t>();
        if (number < lo || number > hi) {
            return Fail(where, "must be in " + std::to_string(lo) + ".." + std::to_string(hi));
        }
        *out = number;
        return true;
    }

    bool Fail(const std::string& where, const std::string& what) {
        *error_ = where + ": " + what;
        return false;
    }

    std::string* error_;
};

}  // namespace

bool ParseWheelScript(const std::string& text, std::vector<hosted::WheelFrame>* frames,
                      std::string* error, JOYRANGE* storedRange) {
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        *error = "not JSON";
        return false;
    }
    return Parser(error).Frames(root, frames, storedRange);
}

}  // namespace cplhost
